// Queued message files: loading, the envelope addresses, the greeting name, the description
// line, the document label and the transparency encoding.
#include <gtest/gtest.h>

#include <string>

#include "mail_support.h"

using namespace mailtest;

namespace {

class MessageFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeReset();
        ReleaseMessage();
    }
    void TearDown() override { ReleaseMessage(); }
};

TEST_F(MessageFile, LoadMapsTheClaimedFileOrReportsWhyNot)
{
    struct Row {
        const char *name;
        bool exists;
        bool locked;
        std::string content;
        int result;
        std::string text;  // the message text when loaded
    } rows[] = {
        {"missing", false, false, "", 10, ""},
        {"held open for writing", true, true, "To: x", 10, ""},
        {"empty", true, false, "", 20, ""},
        {"plain", true, false, "abc\r\n", 1, "abc\r\n"},
        {"a zero byte would cut it short", true, false, std::string("To: a@b.c\r\n\0rest", 16), 10, ""},
        {"a zero byte as the last byte", true, false, std::string("abc\0", 4), 10, ""},
        {"a body without one", true, false, "To: a@b.c\r\n\r\n" + std::string(31, 'x'), 1,
         "To: a@b.c\r\n\r\n" + std::string(31, 'x')},
    };
    for (const Row &row : rows) {
        FakeReset();
        const char *path = "C:\\Q\\S1.txt";
        if (row.exists)
            gFake.files[path] = row.content;
        if (row.locked)
            gFake.lockedFiles[path] = true;
        EXPECT_EQ(LoadMessageFile(&Rig().message, path), row.result) << row.name;
        if (row.result == 1) {
            ASSERT_NE(Rig().message.text, nullptr) << row.name;
            EXPECT_EQ(std::string(Rig().message.text, Rig().message.textLength), row.text) << row.name;
        } else {
            EXPECT_EQ(Rig().message.text, nullptr) << row.name;
        }
    }
}

// The envelope of a file whose header block is "Subject: x", then headers, then the body.
struct Envelope {
    int result;
    std::string sender, recipients;  // recipients joined by ","
};
Envelope ParseEnvelope(const std::string &headers, const std::string &body = "Hi\r\n",
                       unsigned codePage = 1252)
{
    FakeReset();
    gFake.ansiCodePage = codePage;
    gFake.files["C:\\Q\\a.txt"] = "Subject: x\r\n" + headers + "\r\n" + body;
    Envelope e;
    e.result = ParseMessageFile(&Rig().message, "C:\\Q\\a.txt");
    e.sender = Rig().message.sender;
    for (int i = 0; i < Rig().message.recipientCount; i++)
        e.recipients += (i ? "," : "") + std::string(Rig().message.recipients[i]);
    return e;
}

TEST_F(MessageFile, RecipientsComeFromTheHeaderBlocksToCcAndBccLists)
{
    const std::string from = "From: <a@acme.test>\r\n";
    std::string long255(251, 'r');
    long255 += "@x.y";  // 255 characters
    std::string thousand, tooMany;
    for (int i = 0; i < 1000; i++)
        thousand += (i ? ", r" : "r") + std::to_string(i) + "@x.y";
    tooMany = thousand + ", extra@x.y";
    struct Row {
        std::string headers;
        int result;
        const char *recipients;
        unsigned codePage = 1252;
    } rows[] = {
        {"To: <bob@example.org>\r\n", 1, "bob@example.org"},
        {"To: bob@example.org\r\n", 1, "bob@example.org"},
        {"To: \"Smith, Bob\" <bob+inv@example.org>\r\n", 1, "bob+inv@example.org"},
        {"To: bob@example.org; carol@example.net\r\n", 1, "bob@example.org,carol@example.net"},
        {"To: bob@example.org; Carol <carol@example.net>, <dan@example.com>\r\n", 1,
         "bob@example.org,carol@example.net,dan@example.com"},
        // Folded lines belong to their field; To, Cc, Bcc in that order, each address once.
        {"Bcc: archive@acme.test\r\nCc: Carol <carol@example.net>,\r\n\tbob@EXAMPLE.org\r\n"
         "To: bob@example.org\r\n", 1, "bob@example.org,carol@example.net,archive@acme.test"},
        {"To: Bob@example.org, bob@example.org\r\n", 1, "Bob@example.org,bob@example.org"},
        {"To: undisclosed-recipients:;\r\nBcc: <x@y.z>\r\n", 1, "x@y.z"},
        {"To: team: <a@x.y>, b@x.y;, c@x.y\r\n", 1, "a@x.y,b@x.y,c@x.y"},
        {"To: undisclosed-recipients:;\r\n", 30, ""},
        {"Cc: <carol@example.org>\r\n", 30, ""},  // no To at all
        {"to: bob@example.org\r\nTO: bob@example.org\r\nTo : bob@example.org\r\n", 30, ""},
        // Bcc in every spelling, a list on its next line too.
        {"To: t@x.y\r\nbcc: a@x.y\r\nBCC: b@x.y\r\nBcc:c@x.y\r\nBcc : d@x.y\r\nBcc:\r\n e@x.y\r\n", 1,
         "t@x.y,a@x.y,b@x.y,c@x.y,d@x.y,e@x.y"},
        // A trail byte 0x5C in a quoted name is no escape.
        {"To: \"\x95\x5c\" <bob@example.org>, \"\x8c\x5c\x8e\xa6\" <carol@example.org>\r\n", 1,
         "bob@example.org,carol@example.org", 932},
        {"Reply-To: <reply@acme.test>\r\nIn-Reply-To: <m1@acme.test>\r\n", 30, ""},
        // Only an address: no bracket, no control byte, nothing after the closing bracket.
        {"To: bob@example.org> NOTIFY=NEVER\r\n", 30, ""},
        {"To: Bob <bob@example.org> ORCPT=x\r\n", 30, ""},
        {"To: <bob@exa<mple.org>\r\n", 30, ""},
        {"To: <bob@exa\tmple.org>\r\n", 30, ""},
        {"To: \"open <bob@example.org>\r\n", 30, ""},
        {"To: a@b, <abc>\r\n", 30, ""},
        {"To: <abcd>\r\n", 1, "abcd"},
        {"To: <" + long255 + ">\r\n", 1, long255.c_str()},
        {"To: <" + long255 + "z>\r\n", 30, ""},
        {"To: " + thousand + "\r\n", 1, nullptr},
        {"To: " + thousand + "\r\nCc: " + thousand + ", r7@X.Y\r\n", 1, nullptr},
        {"To: " + tooMany + "\r\n", 30, ""},
    };
    for (const Row &row : rows) {
        Envelope e = ParseEnvelope(row.headers + from, "Hi\r\n", row.codePage);
        EXPECT_EQ(e.result, row.result) << row.headers.substr(0, 80);
        if (row.recipients)
            EXPECT_EQ(e.recipients, row.recipients) << row.headers.substr(0, 80);
        else
            EXPECT_EQ(Rig().message.recipientCount, 1000);
    }
    // A key that stands only in the body is no header.
    EXPECT_EQ(ParseEnvelope(from, "To: bob@example.org\r\n").result, 30);
    EXPECT_EQ(ParseEnvelope("To: <bob@example.org>\r\n" + from, "Cc: eve@example.net\r\n").recipients,
              "bob@example.org");
}

TEST_F(MessageFile, SenderComesFromTheFirstFromField)
{
    const std::string to = "To: <bob@example.org>\r\n";
    struct Row {
        std::string headers;
        int result;
        const char *sender;
    } rows[] = {
        {"From: Acme Ltd <accounts@acme.test>\r\n", 1, "accounts@acme.test"},
        {"From:   accounts@acme.test \t\r\n", 1, "accounts@acme.test"},
        {"From: \"Acme <Ltd>\" <accounts@acme.test>\r\n", 1, "accounts@acme.test"},
        {"From: a@b.example> RET=FULL NOTIFY=NEVER\r\n", 40, ""},
        {"From: \r\n", 40, ""},
        {"From: <abc>\r\n", 40, ""},
        {"from: <x@y.z>\r\nX-Original-From: <x@y.z>\r\n", 40, ""},
        {"From: Acme <accounts@acme.test\r\n", 40, ""},
    };
    for (const Row &row : rows) {
        Envelope e = ParseEnvelope(to + row.headers);
        EXPECT_EQ(e.result, row.result) << row.headers;
        EXPECT_EQ(e.sender, row.sender) << row.headers;
    }
}

TEST_F(MessageFile, GreetingNameTurnsTheFirstAtIntoAFullStopAndDropsBlanks)
{
    struct Row {
        const char *sender;
        const char *greeting;
    } rows[] = {
        {"accounts@acme.test", "accounts.acme.test"},
        {"first.last@acme.co.uk", "first.last.acme.co.uk"},
        // Blanks go; what a host name cannot hold becomes "-", the second at sign too.
        {"a b@c@d", "ab.c-d"},
        {"sales+invoices@example.com", "sales-invoices.example.com"},
        {"first_last@acme-shop.test", "first-last.acme-shop.test"},
        {"o'brien@x.y", "o-brien.x.y"},
        {"noat", "noat"},
    };
    for (const Row &row : rows) {
        CopyText(Rig().message.sender, sizeof Rig().message.sender, row.sender);
        MakeGreetingName(&Rig().message);
        EXPECT_STREQ(Rig().message.greetingName, row.greeting) << row.sender;
    }
}

TEST_F(MessageFile, DescriptionLineGivesTheStatusAndIsNotSent)
{
    std::string longLine(300, 'd');
    struct Row {
        const char *name;
        std::string file;
        std::string status;
        std::string text;  // what is sent of the file's header block
    } rows[] = {
        {"description", "Invoice 1042 for Acme Ltd\r\nTo: <b@x.y>\r\nSubject: Inv\r\n\r\nHi",
         "Sending: Invoice 1042 for Acme Ltd", "To: <b@x.y>\r\nSubject: Inv\r\n"},
        {"starts with Subject", "Subject: Inv\r\nTo: <b@x.y>\r\n", "Sending Email",
         "Subject: Inv\r\nTo: <b@x.y>\r\n"},
        {"no Subject at all", "Line one\r\nTo: <b@x.y>\r\n", "Sending Email",
         "Line one\r\nTo: <b@x.y>\r\n"},
        // "Subject:" counts only in the header block.
        {"Subject: only in the body", "Line one\r\n\r\nSubject: x", "Sending Email", "Line one\r\n"},
        {"the To header as first line", "To: <b@x.y>\r\nSubject: Inv\r\n", "Sending: To: <b@x.y>",
         "Subject: Inv\r\n"},
        {"line feed at the very start", "\nSubject: Inv\r\n", "Sending Email", ""},
        {"300 characters", longLine + "\r\nSubject: x\r\n", "Sending: " + longLine.substr(0, 246),
         "Subject: x\r\n"},
        // A bare line feed or a bare CR ends the line too, as it ends every line of the block.
        {"bare line feed", "Statement 77\nSubject: x\r\n", "Sending: Statement 77", "Subject: x\r\n"},
        {"bare CR", "Statement 77\rTo: <b@x.y>\r\nSubject: x\r\n", "Sending: Statement 77",
         "To: <b@x.y>\r\nSubject: x\r\n"},
    };
    for (const Row &row : rows) {
        FakeReset();
        gFake.files["C:\\Q\\a.txt"] = row.file;
        ASSERT_EQ(LoadMessageFile(&Rig().message, "C:\\Q\\a.txt"), 1) << row.name;
        ASSERT_EQ(ReadMessageHeader(&Rig().message), 1) << row.name;
        ExtractDescription(&Rig().message);
        EXPECT_EQ(Rig().message.statusText, row.status) << row.name;
        const QueuedMessage &m = Rig().message;
        EXPECT_EQ(std::string(m.text + m.headerStart, m.header.end - m.headerStart), row.text)
            << row.name;
    }
}

TEST_F(MessageFile, ParseRunsInOrderAndKeepsTheDescriptionForTheLabel)
{
    struct Row {
        const char *name;
        std::string file;
        int result;
        const char *status;
    } rows[] = {
        {"valid", MessageText(), 1, "Sending Email"},
        {"no To and no From: the first failure counts", "Subject: x\r\n\r\nbody", 30, "Sending Email"},
        {"no From, with a description", "Invoice 7\r\nTo: <b@x.y>\r\nSubject: x\r\n", 40, "Sending: Invoice 7"},
        {"Reply-To only", "Reply-To: <r@x.y>\r\nFrom: <a@b.c>\r\nSubject: x\r\n", 30, "Sending: Reply-To: <r@x.y>"},
        {"empty", "", 20, ""},
        // Found by the body's scan, it counts as one in the header block: no text, no status.
        {"a zero byte deep in the body", "Invoice 7\r\nTo: <b@x.y>\r\nFrom: <a@b.c>\r\nSubject: x\r\n\r\n" +
             std::string(21, 'x') + std::string(1, '\0') + "yyyyyyyyy", 10, ""},
        {"... and in a file without To: the zero byte counts first",
         "Invoice 7\r\nFrom: <a@b.c>\r\nSubject: x\r\n\r\nA" + std::string(1, '\0'), 10, ""},
    };
    for (const Row &row : rows) {
        FakeReset();
        gFake.files["C:\\Q\\a.txt"] = row.file;
        EXPECT_EQ(ParseMessageFile(&Rig().message, "C:\\Q\\a.txt"), row.result) << row.name;
        EXPECT_STREQ(Rig().message.statusText, row.status) << row.name;
    }
    // A file without a copy recipient after one with: the old one is gone.
    gFake.files["C:\\Q\\c.txt"] = MessageText("<b@x.y>", "<a@b.c>", "<c@d.e>");
    ASSERT_EQ(ParseMessageFile(&Rig().message, "C:\\Q\\c.txt"), 1);
    EXPECT_EQ(Rig().message.recipientCount, 2);
    gFake.files["C:\\Q\\d.txt"] = MessageText();
    ASSERT_EQ(ParseMessageFile(&Rig().message, "C:\\Q\\d.txt"), 1);
    EXPECT_EQ(Rig().message.recipientCount, 1);
    EXPECT_STREQ(Rig().message.greetingName, "accounts.acme.test");
}

TEST_F(MessageFile, HeadOfAParsedFile)
{
    const std::string to = "To: <b@x.y>\r\nFrom: <a@acme.test>\r\n";
    const std::string longDomain = std::string(120, 'd') + "." + std::string(120, 'e');
    struct Row {
        const char *name;
        unsigned codePage;
        std::string file;
        std::string head;  // what the head holds
    } rows[] = {
        {"UTF-8 on a UTF-8 system", 65001, to + "Subject: Gr\xC3\xBC\xC3\x9F" "e\r\n\r\n\xE2\x82\xAC 5",
         "Subject: =?utf-8?B?R3LDvMOfZQ==?=\r\n"},
        {"... but not UTF-8 in the header block", 65001, to + "Subject: \xFC\r\n\r\nok",
         "Subject: =?unknown-8bit?Q?=FC?=\r\n"},
        {"... nor in the body", 65001, to + "Subject: x\r\n\r\n" + std::string(20, 'x') + "\xC3(",
         "charset=unknown-8bit\r\n"},
        {"a description line ended by a bare CR is not transmitted", 1252,
         "Invoice 7\r" + to + "Subject: f\xFCr\r\n\r\nHi",
         "To: <b@x.y>\r\nFrom: <a@acme.test>\r\nSubject: =?windows-1252?Q?f=FCr?=\r\n"},
        {"a Message-ID with a domain of 241 characters", 1252,
         "To: <b@x.y>\r\nFrom: <a@" + longDomain + ">\r\nSubject: x\r\n\r\nHi", "@" + longDomain + ">\r\n"},
    };
    for (const Row &row : rows) {
        FakeReset();
        gFake.ansiCodePage = row.codePage;
        gFake.files["C:\\Q\\a.txt"] = row.file;
        ASSERT_EQ(ParseMessageFile(&Rig().message, "C:\\Q\\a.txt"), 1) << row.name;
        std::string head(Rig().message.head, Rig().message.headLength);
        EXPECT_NE(head.find(row.head), std::string::npos) << row.name << "\n" << head;
        EXPECT_EQ(head.find("Invoice"), std::string::npos) << row.name;
    }
}

TEST(MessageIdDomain, IsADotAtom)
{
    struct Row {
        const char *sender, *greeting, *domain;
    } rows[] = {
        {"a@acme.test", "a.acme.test", "acme.test"},
        {"a@acme.test.", "a.acme.test.", "acme.test"},
        {"a@acme..test", "a.acme..test", "acme.test"},
        {"a@.acme.test", "a..acme.test", "acme.test"},
        {"a@ac_me.t\xE9st", "a.ac-me.t-st", "ac-me.t-st"},
        {"a@[10.0.0.1]", "a.-10.0.0.1-", "-10.0.0.1-"},
        {"abc@", "abc.", "abc"},  // no domain: the greeting name's
        {"....", "....", "localhost"},
    };
    for (const Row &row : rows) {
        char domain[kFieldSize];
        MakeMessageIdDomain(row.sender, row.greeting, domain, sizeof domain);
        EXPECT_STREQ(domain, row.domain) << row.sender;
    }
}

TEST_F(MessageFile, AHeadForAMailApiKeepsItsBccFields)
{
    // As written (it has its Date and Message-ID), or composed (it gets a Date): the Bcc
    // field goes only where asked for.
    const std::string own = "Subject: x\r\nTo: <b@x.y>\r\nFrom: <a@b.c>\r\nBcc: <c@d.e>\r\nDate: "
                            "Tue, 08 Dec 2026 14:05:09 +0100\r\nMessage-ID: <m1@b.c>\r\n";
    const std::string dated = "Subject: x\r\nTo: <b@x.y>\r\nbcc: <c@d.e>\r\nFrom: <a@b.c>\r\n";
    for (const std::string &head : {own, dated}) {
        for (bool keepBcc : {false, true}) {
            FakeReset();
            gFake.files["C:\\Q\\a.txt"] = head + "\r\nHi\r\n";
            ASSERT_EQ(ParseMessageFile(&Rig().message, "C:\\Q\\a.txt", keepBcc), 1);
            std::string got(Rig().message.head, Rig().message.headLength);
            EXPECT_EQ(ContainsTextNoCase(got.c_str(), "Bcc: <c@d.e>\r\n"), keepBcc) << got;
            EXPECT_EQ(got.compare(0, head.size(), head) == 0, keepBcc) << got;
        }
    }
}

TEST_F(MessageFile, DocumentLabel)
{
    struct Row {
        const char *status;
        const char *file;
        const char *label;
    } rows[] = {
        {"Sending: Invoice 1042 for Acme Ltd", "I1042.txt", "Invoice 1042 for Acme Ltd"},
        {"Sending Email", "I1042.txt", "Invoice number 1042"},
        {"", "i77.txt", "Invoice number 77"},
        {"", "S77.txt", "Statement"},
        {"Sending Email", "statement.txt", "Statement"},
        {"", "I1042", "Invoice number 1042"},
        {"", "I.txt", "Invoice"},
        {"", ".txt", "Statement"},
        {"", "I10.42.txt", "Invoice number 10"},
    };
    for (const Row &row : rows) {
        char label[256];
        MakeDocumentLabel(row.status, row.file, label, sizeof label);
        EXPECT_STREQ(label, row.label) << row.status << " / " << row.file;
    }
}

std::string Encode(const std::string &body, size_t outSize = 1 << 16)
{
    std::string result;
    size_t position = 0;
    int atLineStart = 1;
    std::string out(outSize, '\0');
    while (position < body.size()) {
        size_t n = EncodeTransparent(body.data(), body.size(), &position, &atLineStart, &out[0], outSize);
        if (n == 0)
            break;
        result.append(out, 0, n);
    }
    return result;
}

TEST(Transparency, DoublesLeadingDotsAndEndsEveryLineWithCrLf)
{
    struct Row {
        std::string in, out;
    } rows[] = {
        {"a\r\nb", "a\r\nb"},
        {".x", "..x"},
        {"x.y\r\n.", "x.y\r\n.."},
        {"\r\n..z", "\r\n...z"},
        {"a\r\n.\r\nb", "a\r\n..\r\nb"},
        {"a\r\r\nb", "a\r\n\r\nb"},
        {"a\n\nb", "a\r\n\r\nb"},
        {"a\n\rb", "a\r\n\r\nb"},
        {"end\r", "end\r\n"},
        {"end\n", "end\r\n"},
        {"", ""},
    };
    for (const Row &row : rows)
        EXPECT_EQ(Encode(row.in), row.out) << row.in;
}

TEST(Transparency, EverySmugglingLineEndAroundADotBecomesOneStuffedLine)
{
    // A lone LF or CR (or CR LF) before and after a "." in every combination: each gives a
    // line ".." between two CR LF, so the server never sees an end of data in the body.
    const char *ends[] = {"\n", "\r", "\r\n"};
    for (const char *before : ends)
        for (const char *after : ends) {
            std::string in = std::string("a") + before + "." + after + "b";
            EXPECT_EQ(Encode(in), "a\r\n..\r\nb") << testing::PrintToString(in);
        }
}

TEST(Transparency, SmallOutputPiecesGiveTheSameBytes)
{
    std::string body;
    for (int i = 0; i < 200; i++)
        body += (i % 3 == 0 ? "." : "") + std::string(i % 17, 'x') + (i % 4 == 0 ? "\n" : i % 4 == 1 ? "\r" : "\r\n");
    std::string whole = Encode(body);
    for (size_t outSize : {4, 5, 6, 7, 64, 1000})
        EXPECT_EQ(Encode(body, outSize), whole) << outSize;
}

}  // namespace
