// The header block read once, address items, the decisions for what a message gets, and the
// head it goes out with.
#include <gtest/gtest.h>

#include <string>

#include "fake/fake.h"
#include "mail/message/header_block.h"
#include "mail/message/message_file.h"
#include "mail/message/message_head.h"

namespace {

// A code page as the system gives it (through the fake's GetACP and lead bytes).
const CodePage *Page(unsigned number)
{
    static CodePage page;
    gFake.ansiCodePage = number;
    ReadSystemCodePage(&page);
    return &page;
}

TEST(HeaderBlock, FieldsWithTheirFoldsUpToTheFirstEmptyLine)
{
    struct Row {
        std::string text;
        bool firstLineAlone;
        const char *fields;  // each field's name and bytes, "|" between fields
    } rows[] = {
        {"To: a\r\n b\r\nSubject: x\r\n\r\nBody: no", false, "To=To: a\r\n b\r\n|Subject=Subject: x\r\n"},
        {"A: 1\n\tB: 2\rC: 3", false, "A=A: 1\n\tB: 2\r|C=C: 3"},
        {"Invoice 7\r\n cont\r\nTo: a\r\n", true, "=Invoice 7\r\n|= cont\r\n|To=To: a\r\n"},
        {"Invoice 7\r\n cont\r\nTo: a\r\n", false, "=Invoice 7\r\n cont\r\n|To=To: a\r\n"},
        {" lead\r\nX y: z\r\nK:\r\n\n", false, "= lead\r\n|=X y: z\r\n|K=K:\r\n"},
        {"Bcc \t: a\r\n :b\r\n", false, "Bcc=Bcc \t: a\r\n :b\r\n"},  // the obsolete blank
        {"\r\nTo: a", false, ""},
    };
    for (const Row &row : rows) {
        size_t end = FindHeaderEnd(row.text.data(), row.text.size());
        static HeaderBlock block;
        ASSERT_TRUE(ReadHeaderBlock(row.text.data(), end, row.firstLineAlone, &block));
        std::string got;
        for (int i = 0; i < block.count; i++) {
            const HeaderField &f = block.fields[i];
            got += (i ? "|" : "") + row.text.substr(f.start, f.nameLength) + "=" +
                   row.text.substr(f.start, f.end - f.start);
        }
        EXPECT_EQ(got, row.fields) << row.text;
    }
}

TEST(AddressList, ItemsKeepTheirNamesAndAddressesApart)
{
    struct Row {
        const char *value;
        const char *items;  // M(name|address) G(name) E, "!" for invalid
        unsigned codePage = 1252;
    } rows[] = {
        {" \"M\xFCller, Hans\" <h@x.y>; bob@x.y", "M(\"M\xFCller, Hans\"|h@x.y)M(|bob@x.y)"},
        {" Ann (boss) <a@x.y>,\r\n\tb@x.y", "M(Ann (boss)|a@x.y)M(|b@x.y)"},
        {" Team: a@x.y, <b@x.y>; c@x.y", "G(Team)M(|a@x.y)M(|b@x.y)EM(|c@x.y)"},
        {" undisclosed-recipients:;", "G(undisclosed-recipients)E"},
        {" <a@x.y> tail", "!"},
        {" a@x.y>", "!"},
        {" <a@<x.y>", "!"},
        {" \"unclosed <a@x.y>", "!"},
        {" , ;", ""},
        // The walk goes on after an item that cannot be used.
        {" <a@<x.y>, \"b\" <b@x.y>", "!M(\"b\"|b@x.y)"},
        // A trail byte 0x5C is no escape, in a quoted string or a comment.
        {" \"\x95\x5c\" <b@x.y>, (\x95\x5c) c@x.y", "M(\"\x95\x5c\"|b@x.y)M(|(\x95\x5c) c@x.y)", 932},
        {" \"\x95\x5c\" <b@x.y>", "!", 1252},
    };
    for (const Row &row : rows) {
        AddressCursor cursor;
        StartAddressList(&cursor, row.value, strlen(row.value), Page(row.codePage));
        std::string got;
        AddressItem item;
        for (AddressItemKind kind; (kind = NextAddress(&cursor, &item)) != kAddressListEnd;) {
            if (kind == kAddressInvalid) {
                got += "!";
                continue;
            }
            std::string name(item.name ? item.name : "", item.nameLength);
            if (kind == kAddressMailbox)
                got += "M(" + name + "|" + std::string(item.address, item.addressLength) + ")";
            else
                got += kind == kAddressGroupStart ? "G(" + name + ")" : "E";
        }
        EXPECT_EQ(got, row.items) << row.value;
    }
}

TEST(TransmitPlan, WhatAMessageGetsByItsFactsAndTheServer)
{
    struct Row {
        bool date, id, mime, high;  // the facts
        bool ehlo, eightBitMime;    // the server
        bool addDate, addId, label;
        BodyCoding coding;
        bool declare;
    } rows[] = {
        {true, true, false, false, true, true, false, false, false, kBodyAsWritten, false},
        {false, false, false, false, false, false, true, true, false, kBodyAsWritten, false},
        {true, true, false, true, true, true, false, false, true, kBodyAsWritten, true},
        {true, true, false, true, true, false, false, false, true, kBodyQuotedPrintable, false},
        {true, true, false, true, false, false, false, false, true, kBodyAsWritten, false},
        // Its own MIME fields: never relabelled or re-encoded.
        {true, false, true, true, true, false, false, true, false, kBodyAsWritten, false},
        {true, true, true, true, true, true, false, false, false, kBodyAsWritten, true},
    };
    for (const Row &row : rows) {
        MessageFacts facts = {row.date, row.id, row.mime, row.high};
        TransmitPlan plan = PlanTransmission(&facts, row.ehlo, row.eightBitMime);
        int line = (int)(&row - rows);
        EXPECT_EQ(plan.addDate, row.addDate) << line;
        EXPECT_EQ(plan.addMessageId, row.addId) << line;
        EXPECT_EQ(plan.label, row.label) << line;
        EXPECT_EQ(plan.coding, row.coding) << line;
        EXPECT_EQ(plan.declare8BitMime, row.declare) << line;
    }
}

// The head of a header block for a plan, with the fake platform's facts; counted first,
// as the buffer is sized.
std::string Head(const std::string &header, bool description, bool addDate, bool addId,
                 bool label, size_t *codingOffset = nullptr, std::string *added = nullptr,
                 unsigned codePage = 1252)
{
    static HeaderBlock block;
    ReadHeaderBlock(header.data(), header.size(), description, &block);
    HeadSource source = {};
    source.text = header.data();
    source.block = &block;
    source.firstField = description ? 1 : 0;
    source.codePage = Page(codePage);
    source.time = {2026, 12, 8, 14, 5, 9, 2, 60};
    for (int i = 0; i < 16; i++)
        source.random[i] = (unsigned char)(i * 17);
    source.domain = "acme.test";
    TransmitPlan plan = {addDate, addId, label, kBodyAsWritten, false};
    size_t offset = 0;
    char log[120];
    size_t needed = ComposeMessageHead(&source, &plan, nullptr, 0, &offset, log, sizeof log);
    std::string out(needed + 1, '\0');
    size_t n = ComposeMessageHead(&source, &plan, &out[0], out.size(), &offset, log, sizeof log);
    if (n == (size_t)-1 || n != needed)
        return "<counted " + std::to_string(needed) + ", made " + std::to_string(n) + ">";
    std::string written =
        block.count > source.firstField ? header.substr(block.fields[source.firstField].start) : "";
    if (IsHeadAsWritten(&source, &plan) != (out.substr(0, n) == written))
        return "<as written?>";
    if (codingOffset)
        *codingOffset = offset;
    if (added)
        *added = log;
    return out.substr(0, n);
}

TEST(MessageHead, AdditionsComeAtTheEndAndBccNeverGoesOut)
{
    std::string added;
    EXPECT_EQ(Head("Note\r\nTo: a@x.y\r\nBcc: arch@x.y,\r\n b@x.y\r\nSubject: x", true, true, true,
                   false, nullptr, &added),
              "To: a@x.y\r\nSubject: x\r\nDate: Tue, 08 Dec 2026 14:05:09 +0100\r\n"
              "Message-ID: <00112233445566778899aabbccddeeff@acme.test>\r\n");
    EXPECT_EQ(added, "added Date, Message-ID");
    // Nothing to add: every byte as written, bare line ends too; no Bcc in any spelling, no
    // Resent-Bcc.
    EXPECT_EQ(Head("To: a@x.y\nBCC: b@x.y\r\nX: 1\nbcc :c@x.y\r\nResent-bcc: d@x.y\r\n", false,
                   false, false, false),
              "To: a@x.y\nX: 1\n");
}

TEST(MessageHead, LabelledTextGoesAsEncodedWordsAndAddressesStayAsTheyAre)
{
    size_t offset = 0;
    std::string added;
    std::string head = Head("From: \"M\xFCller, Hans\" <h@x.y>\r\nTo: bob@x.y; Ann <a@x.y>\r\n"
                            "Subject: Rechnung f\xFCr\r\n M\xFCller\r\n",
                            false, false, false, true, &offset, &added);
    EXPECT_EQ(head,
              "From: =?windows-1252?Q?M=FCller=2C_Hans?= <h@x.y>\r\n"
              "To: bob@x.y, Ann <a@x.y>\r\n"
              "Subject: =?windows-1252?Q?Rechnung_f=FCr_M=FCller?=\r\n"
              "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=windows-1252\r\n"
              "Content-Transfer-Encoding: 8bit\r\n");
    EXPECT_EQ(head.substr(offset, 4), "8bit");
    EXPECT_EQ(added, "labelled windows-1252");
    for (unsigned char c : head)
        EXPECT_LT(c, 0x80);
}

TEST(MessageHead, AddressFieldsGoOutAsRfc5322Lists)
{
    // Addresses of 17 characters: three with their blank and comma take a line to 60, a
    // fourth to exactly 78 when it is the last, to 79 with the comma after it.
    std::string list[5];
    for (int i = 0; i < 5; i++)
        list[i] = "a" + std::to_string(100 + i) + "@example.test";
    const std::string four = list[0] + "; " + list[1] + "; " + list[2] + "; " + list[3];
    struct Row {
        const char *name;
        std::string field;
        bool label;
        std::string head;
        unsigned codePage = 1252;
    } rows[] = {
        {"\";\" between items becomes \",\", the group's own stays",
         "Cc: a@x.y;b@x.y; g: c@x.y;, d@x.y\r\n", false, "Cc: a@x.y, b@x.y, g: c@x.y;, d@x.y\r\n"},
        {"a group's \";\" alone is no reason to write it anew", "Cc: g: c@x.y; d@x.y\r\n", false,
         "Cc: g: c@x.y; d@x.y\r\n"},
        {"the last item fills the line to 78", "To: " + four + "\r\n", false,
         "To: " + list[0] + ", " + list[1] + ", " + list[2] + ", " + list[3] + "\r\n"},
        {"an item that would take its comma to 79 goes to the next line",
         "To: " + four + "; " + list[4] + "\r\n", false,
         "To: " + list[0] + ", " + list[1] + ", " + list[2] + ",\r\n " + list[3] + ", " + list[4] + "\r\n"},
        {"a group's first member folded like any other",
         "To: Accounts payable and receivable for the northern region: " + list[0] + ", " + list[1] +
             ";\r\n",
         false,
         "To: Accounts payable and receivable for the northern region:\r\n " + list[0] + ", " + list[1] +
             ";\r\n"},
        {"a fold in a quoted 8-bit name is a blank", "To: \"M\xFCller,\r\n Hans\" <h@x.y>\r\n", true,
         "To: =?windows-1252?Q?M=FCller=2C_Hans?= <h@x.y>\r\n"},
        {"a comment is encoded inside its parentheses, after the address too",
         "Reply-To: M\xFCller (B\xFCro) <m@x.y> (Z\xFCrich)\r\n", true,
         "Reply-To: =?windows-1252?Q?M=FCller?= (=?windows-1252?Q?B=FCro?=) <m@x.y>\r\n"
         " (=?windows-1252?Q?Z=FCrich?=)\r\n"},
        {"a later bad item leaves the first as a list", "Reply-To: J\xF6rg <j@x.y>, <b<x>\r\n", true,
         "Reply-To: =?windows-1252?Q?J=F6rg?= <j@x.y>, <b<x>\r\n"},
        {"a cp932 name whose trail byte is a backslash keeps it",
         "To: \"\x95\x5c\" <bob@example.org>\r\n", true, "To: =?shift_jis?B?lVw=?= <bob@example.org>\r\n",
         932},
    };
    for (const Row &row : rows) {
        std::string head = Head(row.field + "Subject: x\r\n", false, false, false, row.label, nullptr,
                                nullptr, row.codePage);
        std::string fields = head.substr(0, head.find("Subject: x\r\n"));
        EXPECT_EQ(fields, row.head) << row.name;
        for (size_t start = 0, end; (end = head.find("\r\n", start)) != std::string::npos; start = end + 2)
            EXPECT_LE(end - start, 78u) << row.name << ": " << head.substr(start, end - start);
    }
}

}  // namespace

namespace {

TEST(MessageScan, SizeWithCrLfLineEndsAndEightBitBytesInOnePass)
{
    struct Row {
        std::string text;
        size_t size;
        bool high;
    } rows[] = {
        {"", 0, false},
        {"abcdefgh\r\nabcdefg", 17, false},
        {"abcdefg\r\nx", 10, false},   // CR LF across two words
        {"1234567\n\r", 11, false},    // LF, then a bare CR at the end
        {"a\rb\nc\r\n", 9, false},
        {std::string(15, 'x') + "\xFC", 16, true},
        {std::string(16, 'x') + "\x80", 17, true},
    };
    for (const Row &row : rows) {
        bool high = false;
        EXPECT_EQ(NormalizedLength(row.text.data(), row.text.size(), &high), row.size) << row.text;
        EXPECT_EQ(high, row.high) << row.text;
    }
}

}  // namespace
