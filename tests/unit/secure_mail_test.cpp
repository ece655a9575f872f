// Secure submission against the recording fake: the settings and the stored password, the
// encodings of the login, EHLO with its offered login methods, STARTTLS and TLS from the first
// byte through the transport (handshake, left-over bytes, records split and carried over
// write events), AUTH PLAIN and LOGIN, every refusal and certificate verdict, and the batch
// mutex.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fake/fake_oauth.h"
#include "fake/fake_shelllink.h"
#include "fake/fake_time.h"
#include "fake/fake_tls.h"
#include "base/encoding.h"
#include "mail/jobs/mail_check.h"
#include "mail/jobs/mail_log.h"
#include "mail/settings/mail_settings.h"
#include "mail/jobs/mail_texts.h"
#include "mail/jobs/send_queue.h"
#include "oauth/token_store.h"
#include "mail_support.h"

using namespace mailtest;

namespace {

const std::string kPath = kQueueDir + "S1.txt";
const std::string kServer = "mail.example.com";
const std::string kEhlo = "EHLO accounts.acme.test\r\n";
// The transaction after a login; SIZE is declared when the server offers it (the SecureServer
// below does, with its default EHLO reply).
std::string Transaction(const std::string &content)
{
    return "RSET\r\nMAIL FROM:<accounts@acme.test> SIZE=" + std::to_string(content.size() + 2) +
           "\r\nRCPT TO:<bob@example.org>\r\nDATA\r\n";
}
const std::string kTransaction =
    "RSET\r\nMAIL FROM:<accounts@acme.test>\r\nRCPT TO:<bob@example.org>\r\nDATA\r\n";

// ---- settings and the stored password ------------------------------------------------

TEST(SecureSettings, SecurityUserAndPasswordDecideWhetherTheRunMayStart)
{
    struct Row {
        const char *name;
        const char *security;  // nullptr: key absent
        const char *user;
        bool credential;
        std::string blob;
        int result;
        int security_out;
        std::string box;
        bool credentialRead;
        const char *auth = nullptr;  // "SMTPAuth"; nullptr: absent
    } rows[] = {
        {"absent keys keep plain SMTP", nullptr, nullptr, false, "", 1, kSecurityNone, "", false},
        {"empty is plain", "", "", false, "", 1, kSecurityNone, "", false},
        {"none in any case", "NoNe", nullptr, false, "", 1, kSecurityNone, "", false},
        {"starttls", "STARTTLS", nullptr, false, "", 1, kSecurityStartTls, "", false},
        {"tls", "tls", nullptr, false, "", 1, kSecurityTls, "", false},
        {"unknown word refused", "ssl", nullptr, false, "", 0, kSecurityNone,
         "SMTPSecurity \"ssl\" is not understood.\n\nPlease set SMTPSecurity in Email Setup to "
         "none, starttls or tls.",
         false},
        {"a login without TLS is refused before the store is read", nullptr, "alice", true,
         FakeUtf16("secret"), 0, kSecurityNone, kTextLoginWithoutTls, false},
        {"no stored credential", "starttls", "alice", false, "", 0, kSecurityNone,
         "No password was found for the SMTP login alice.\n\nPlease add it to the Windows "
         "Credential Manager as a generic credential named \"Tillwick Orvenda SMTP\".",
         true},
        {"an empty password counts as none", "tls", "alice", true, "", 0, kSecurityNone,
         "No password was found for the SMTP login alice.\n\nPlease add it to the Windows "
         "Credential Manager as a generic credential named \"Tillwick Orvenda SMTP\".",
         true},
        // The sign-in's token instead of the password: the same rules, no credential read.
        {"xoauth2 over TLS reads no password", "tls", "alice", true, FakeUtf16("x"), 1,
         kSecurityTls, "", false, "XOAUTH2"},
        {"xoauth2 without TLS", nullptr, "alice", false, "", 0, kSecurityNone,
         kTextSignInWithoutTls, false, "xoauth2"},
        {"xoauth2 without a user", "tls", nullptr, false, "", 0, kSecurityNone,
         kTextSignInWithoutUser, false, "xoauth2"},
        {"SMTPAuth password is the default", "tls", "alice", true, FakeUtf16("x"), 1,
         kSecurityTls, "", true, "Password"},
        {"unknown SMTPAuth", "tls", "alice", true, FakeUtf16("x"), 0, kSecurityNone,
         "SMTPAuth \"ntlm\" is not understood.\n\nPlease set SMTPAuth in Email Setup to "
         "password or xoauth2.",
         false, "ntlm"},
        {"a stored password", "tls", "alice", true, FakeUtf16("s\xC3\xA9same"), 1, kSecurityTls,
         "", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FakeReset();
        ConfigureMail();
        if (row.security)
            FakeSetSetting("Email Setup", "SMTPSecurity", row.security);
        if (row.user)
            FakeSetSetting("Email Setup", "SMTPUser", row.user);
        gFakeTls.credentialExists = row.credential;
        gFakeTls.credentialBlob = row.blob;
        if (row.auth) {
            FakeSetSetting("Email Setup", "SMTPAuth", row.auth);
            FakeSetSetting("Email Setup", "OAuthProvider", "google");
            FakeSetSetting("Email Setup", "OAuthClientId", "client-1");
        }
        SettingsResult result = ReadSmtpSettings(&Rig().settings);
        EXPECT_EQ(result == kSettingsReady ? 1 : 0, row.result);
        if (result == kSettingsReady) {
            EXPECT_EQ(Rig().settings.security, row.security_out);
        }
        char text[1000];
        MakeSettingsFailureText(result, &Rig().settings, text, sizeof text);
        EXPECT_EQ(text, row.box);
        EXPECT_EQ(gFakeTls.credentialTarget, row.credentialRead ? "Tillwick Orvenda SMTP" : "");
        // A refused run keeps nothing of the login.
        if (row.result == 0) {
            EXPECT_EQ(std::string(Rig().settings.password), "");
        }
    }
    EXPECT_EQ(std::string(Rig().settings.password), "s\xC3\xA9same");
}

// ---- encodings -------------------------------------------------------------------------

TEST(LoginEncodings, Base64AsTheStandardGivesIt)
{
    struct Row {
        std::string in, out;
    } rows[] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
                {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
                {"foobar", "Zm9vYmFy"}, {std::string("\xFF\xFE\x00", 3), "//4A"}};
    for (const Row &row : rows) {
        char out[64];
        EXPECT_EQ(Base64Encode((const unsigned char *)row.in.data(), row.in.size(), false, out, sizeof out),
                  row.out.size());
        EXPECT_EQ(std::string(out), row.out);
    }
    char small[8];
    EXPECT_EQ(Base64Encode((const unsigned char *)"foobar", 6, false, small, sizeof small), 0u);
    EXPECT_EQ(Base64Encode((const unsigned char *)"foobar", 6, false, small, 9 - 1 + 0), 0u);
}

TEST(LoginEncodings, Utf16LeBecomesUtf8)
{
    struct Row {
        const char *name;
        std::string in, out;
    } rows[] = {
        {"ascii", FakeUtf16("pass word"), "pass word"},
        {"two and three bytes", FakeUtf16("\xC3\xA4\xE2\x82\xAC"), "\xC3\xA4\xE2\x82\xAC"},
        {"a surrogate pair", FakeUtf16("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80"},
        {"an odd last byte is ignored", FakeUtf16("ab") + "c", "ab"},
        {"a lone high surrogate at the end", std::string("a\0\x3D\xD8", 4), "a\xEF\xBF\xBD"},
        {"a high surrogate before a letter", std::string("\x3D\xD8x\0", 4), "\xEF\xBF\xBDx"},
        {"a lone low surrogate", std::string("\x00\xDC", 2), "\xEF\xBF\xBD"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        char out[64];
        size_t n = Utf16LeToUtf8((const unsigned char *)row.in.data(), row.in.size(), out, sizeof out);
        EXPECT_EQ(n, row.out.size());
        EXPECT_EQ(std::string(out, n), row.out);
    }
    // Not a byte past the end: "ab€" needs 5 bytes and its terminator.
    std::string in = FakeUtf16("ab\xE2\x82\xAC");
    char out[5];
    EXPECT_EQ(Utf16LeToUtf8((const unsigned char *)in.data(), in.size(), out, sizeof out), (size_t)-1);
    char fits[6];
    EXPECT_EQ(Utf16LeToUtf8((const unsigned char *)in.data(), in.size(), fits, sizeof fits), 5u);
}

TEST(LoginEncodings, PlainResponseIsNulUserNulPasswordAndTheLargestPasswordFits)
{
    MailSettings &settings = Rig().settings;
    CopyText(settings.user, sizeof settings.user, "user");
    CopyText(settings.password, sizeof settings.password, "pass");
    char out[64];
    MakePlainResponse(&settings, out, sizeof out);
    EXPECT_EQ(std::string(out), "AHVzZXIAcGFzcw==");

    // The longest user and the longest password the store can give still make one line.
    std::string user(255, 'u');
    CopyText(Rig().settings.user, sizeof Rig().settings.user, user.c_str());
    std::string blob;
    for (size_t i = 0; i < kCredentialBlobMax / 2; i++)
        blob += "\xAC\x20";  // U+20AC, three bytes in UTF-8
    ASSERT_EQ(Utf16LeToUtf8((const unsigned char *)blob.data(), blob.size(), Rig().settings.password,
                            sizeof Rig().settings.password),
              kPasswordSize - 1);
    char line[8 * 1024];
    EXPECT_EQ(MakePlainResponse(&settings, line, sizeof line), (1 + 255 + 1 + kPasswordSize - 1 + 2) / 3 * 4);
    ForgetMailSettings(&Rig().settings);
    EXPECT_EQ(std::string(Rig().settings.password), "");
    EXPECT_EQ(std::string(Rig().settings.user), "");
}

// ---- the conversation over TLS ----------------------------------------------------------

// A server that speaks EHLO, STARTTLS and AUTH (PLAIN, and LOGIN's two prompts), then takes
// the message like Accept. The first command that starts with a key of `refuse` gets its reply.
struct SecureServer {
    std::vector<std::string> ehlo = {"250-mx.example.org", "250-STARTTLS", "250-SIZE 1000000",
                                     "250 AUTH PLAIN LOGIN"};
    std::vector<std::pair<std::string, std::string>> refuse;
    std::vector<std::string> commands;  // as the server saw them, one per batch of bytes
    int loginPrompts = 0;

    std::string Respond(const std::string &received)
    {
        commands.push_back(received);
        for (auto &r : refuse)
            if (!r.first.empty() && received.compare(0, r.first.size(), r.first) == 0) {
                std::string reply = r.second;
                r.first.clear();
                return reply;
            }
        if (received.compare(0, 4, "EHLO") == 0) {
            std::string reply;
            for (auto &line : ehlo)
                reply += line + "\r\n";
            return reply;
        }
        if (received == "STARTTLS\r\n")
            return "220 2.0.0 Ready to start TLS\r\n";
        if (received.compare(0, 11, "AUTH PLAIN ") == 0 ||
            received.compare(0, 13, "AUTH XOAUTH2 ") == 0)
            return "235 2.7.0 Authentication successful\r\n";
        if (received == "AUTH LOGIN\r\n") {
            loginPrompts = 1;
            return "334 VXNlcm5hbWU6\r\n";
        }
        if (loginPrompts == 1) {
            loginPrompts = 2;
            return "334 UGFzc3dvcmQ6\r\n";
        }
        if (loginPrompts == 2) {
            loginPrompts = 3;
            return "235 2.7.0 Authentication successful\r\n";
        }
        return Accept(received);
    }
};

// Plays the server over the fake TLS: the greeting in clear (or after the handshake, with TLS
// from the first byte), "<SH>" to each "<CH>", records once TLS is up. When together is set,
// the greeting comes in the same read as the handshake's end.
void ConverseTls(SecureServer &server, bool fromFirstByte, bool together = true)
{
    FakeHostFound("127.0.0.1");
    size_t seen = gFakeNet.sent.size();
    FakeSocketEvent(PLAT_FD_CONNECT);
    const std::string greeting = "220 mx.example.org ESMTP\r\n";
    bool secure = false;
    if (!fromFirstByte)
        FakeServerSays(greeting);
    for (int guard = 0; guard < 64 && gFakeDialog.window != 0 && !gFakeDialog.ended; guard++) {
        std::string fresh = gFakeNet.sent.substr(seen);
        seen = gFakeNet.sent.size();
        if (fresh.empty())
            return;
        if (fresh.compare(0, 4, "<CH>") == 0 || fresh.compare(0, 4, "<CK>") == 0) {
            secure = true;
            if (fromFirstByte && together && gFakeTls.handshakeRounds == 1) {
                FakeServerSays("<SH>" + FakeTlsRecord(greeting));
            } else {
                FakeServerSays("<SH>");
                if (fromFirstByte && gFakeNet.sent.size() > seen &&
                    gFakeNet.sent.substr(seen) == "<CF>") {
                    seen = gFakeNet.sent.size();
                    FakeServerSays(FakeTlsRecord(greeting));
                }
            }
            continue;
        }
        std::string text = secure ? FakeTlsOpen(fresh) : fresh;
        if (text.empty())
            continue;
        std::string reply = server.Respond(text);
        if (reply.empty())
            return;
        FakeServerSays(secure ? FakeTlsRecord(reply) : reply);
    }
}

class SecureConversation : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeReset();
        ReleaseMessage();
        ConfigureMail(kServer.c_str(), "587");
    }
    void TearDown() override
    {
        ReleaseMessage();
        ForgetMailSettings(&Rig().settings);
    }
    void Configure(const char *security, const char *user = nullptr)
    {
        FakeSetSetting("Email Setup", "SMTPSecurity", security);
        if (user) {
            FakeSetSetting("Email Setup", "SMTPUser", user);
            gFakeTls.credentialExists = true;
            gFakeTls.credentialBlob = FakeUtf16("p\xC3\xA4ss");
        }
    }
    void Run(const std::function<void()> &script, const std::string &content = MessageText())
    {
        ASSERT_EQ(PrepareMessage(kPath, content), 1);
        ASSERT_EQ(ReadSettings(), 1);
        ShowWindow(script);
    }
    // The bytes sent before the first handshake message, and the text of the records after.
    static std::string Clear()
    {
        size_t at = gFakeNet.sent.find("<CH>");
        return gFakeNet.sent.substr(0, at);
    }
    static std::string Inside()
    {
        size_t at = gFakeNet.sent.find("<CH>");
        return at == std::string::npos ? "" : FakeTlsOpen(gFakeNet.sent.substr(at));
    }
    static std::string BoxText()
    {
        return gFake.messageBoxes.empty() ? "" : gFake.messageBoxes.back().text;
    }
};

std::string Message() { return MessageText() + "\r\n.\r\n"; }

TEST_F(SecureConversation, StartTlsThenPlainLoginThenTheTransactionInsideTls)
{
    Configure("starttls", "alice");
    SecureServer server;
    Run([&] { ConverseTls(server, false); });
    EXPECT_EQ(Clear(), kEhlo + "STARTTLS\r\n");
    // "\0alice\0päss" in base64; the server is asked again after the handshake.
    EXPECT_EQ(Inside(), kEhlo + "AUTH PLAIN AGFsaWNlAHDDpHNz\r\n" + Transaction(MessageText()) + Message() +
                            "QUIT\r\n");
    EXPECT_EQ(gFakeTls.verifiedName, kServer);
    EXPECT_EQ(gFakeTls.handshakeNames.front(), kServer);
    EXPECT_TRUE(gFake.messageBoxes.empty());
    EXPECT_EQ(gFakeDialog.statusTexts.back(), "Email Sent");
    EXPECT_FALSE(FakeFileExists(kPath));
    EXPECT_FALSE(BatchStopped());
    EXPECT_EQ(gFakeTls.closes, 1);  // the session is released with the window
}

TEST_F(SecureConversation, TlsFromTheFirstByteWithGreetingInTheHandshakesLastRead)
{
    for (bool together : {true, false}) {
        SCOPED_TRACE(together ? "greeting with the handshake's end" : "greeting alone");
        SetUp();
        Configure("tls");
        SecureServer server;
        Run([&] { ConverseTls(server, true, together); });
        EXPECT_EQ(Clear(), "");
        EXPECT_EQ(Inside(), kEhlo + Transaction(MessageText()) + Message() + "QUIT\r\n");
        EXPECT_EQ(gFakeDialog.statusTexts.back(), "Email Sent");
        EXPECT_FALSE(FakeFileExists(kPath));
        ForgetMailSettings(&Rig().settings);
        ReleaseMessage();
    }
}

TEST_F(SecureConversation, EightBitTextGoesLabelledInTheWayTheServerTakesIt)
{
    // A Windows-1252 file without Date, Message-ID or MIME fields.
    const std::string file = "Subject: Rechnung f\xFCr M\xFCller\r\nTo: <bob@example.org>\r\n"
                             "From: <accounts@acme.test>\r\n\r\nGr\xFC\xDF" "e,\r\n.a line = " +
                             std::string(80, 'x') + "\r\n";
    struct Row {
        bool offers8BitMime;
        const char *mailFromTail;  // after the SIZE
        const char *coding;
    } rows[] = {
        {true, " BODY=8BITMIME\r\n", "8bit"},
        {false, "\r\n", "quoted-printable"},
    };
    for (const Row &row : rows) {
        SetUp();
        Configure("tls");
        SecureServer server;
        if (row.offers8BitMime)
            server.ehlo.insert(server.ehlo.begin() + 1, "250-8BITMIME");
        Run([&] { ConverseTls(server, true); }, file);
        std::string inside = Inside();
        size_t data = inside.find("DATA\r\n") + 6, end = inside.find("\r\n.\r\nQUIT\r\n");
        ASSERT_NE(end, std::string::npos) << row.coding;
        std::string message = inside.substr(data, end + 2 - data);
        // SIZE counts what goes out, less the end-of-data line and the stuffed dots.
        size_t stuffed = 0;
        for (size_t at = message.find("\r\n.."); at != std::string::npos; at = message.find("\r\n..", at + 1))
            stuffed++;
        std::string mailFrom = "MAIL FROM:<accounts@acme.test> SIZE=" +
                               std::to_string(message.size() - stuffed) + row.mailFromTail;
        EXPECT_NE(inside.find(mailFrom), std::string::npos) << inside;
        EXPECT_NE(message.find("\r\nDate: Tue, 08 Dec 2026 14:05:09 +0100\r\nMessage-ID: <"),
                  std::string::npos);
        EXPECT_NE(message.find("Subject: =?windows-1252?Q?Rechnung_f=FCr_M=FCller?=\r\n"),
                  std::string::npos);
        EXPECT_NE(message.find(std::string("charset=windows-1252\r\nContent-Transfer-Encoding: ") +
                               row.coding + "\r\n\r\n"),
                  std::string::npos);
        bool raw8bit = false;
        for (unsigned char c : message)
            raw8bit = raw8bit || c >= 0x80;
        EXPECT_EQ(raw8bit, row.offers8BitMime);
        if (!row.offers8BitMime) {
            EXPECT_NE(message.find("\r\n\r\nGr=FC=DFe,\r\n=2Ea line =3D xxx"), std::string::npos)
                << message;
        }
        EXPECT_FALSE(FakeFileExists(kPath));
    }
}

TEST_F(SecureConversation, TheLoginMethodFollowsWhatEhloOffers)
{
    struct Row {
        const char *name;
        std::vector<std::string> ehlo;
        std::string login;  // what follows the second EHLO, up to RSET
    } rows[] = {
        {"PLAIN and LOGIN", {"250-mx", "250-AUTH LOGIN PLAIN", "250 8BITMIME"},
         "AUTH PLAIN AGFsaWNlAHDDpHNz\r\n"},
        {"only LOGIN, older form, lower case", {"250-mx", "250-auth=login", "250 OK"},
         "AUTH LOGIN\r\nYWxpY2U=\r\ncMOkc3M=\r\n"},
        {"only LOGIN on the last line", {"250-mx", "250 AUTH LOGIN CRAM-MD5"},
         "AUTH LOGIN\r\nYWxpY2U=\r\ncMOkc3M=\r\n"},
        {"the keyword in mixed case", {"250-mx", "250 Auth LOGIN"},
         "AUTH LOGIN\r\nYWxpY2U=\r\ncMOkc3M=\r\n"},
        {"nothing offered: PLAIN, the server decides", {"250 mx"},
         "AUTH PLAIN AGFsaWNlAHDDpHNz\r\n"},
        {"LOGIN as part of another word does not count", {"250-mx", "250 AUTH XLOGIN"},
         "AUTH PLAIN AGFsaWNlAHDDpHNz\r\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        Configure("tls", "alice");
        SecureServer server;
        server.ehlo = row.ehlo;
        Run([&] { ConverseTls(server, true); });
        EXPECT_EQ(Inside(), kEhlo + row.login + kTransaction + Message() + "QUIT\r\n");
        EXPECT_FALSE(FakeFileExists(kPath));
        ForgetMailSettings(&Rig().settings);
        ReleaseMessage();
    }
}

TEST_F(SecureConversation, RefusalsOfTheNewStepsEndLikeAnyNegativeReply)
{
    struct Row {
        const char *name;
        const char *security;
        std::string command, reply, box, inside;
    } rows[] = {
        {"EHLO refused", "starttls", "EHLO", "502 5.5.2 Error: command not recognized\r\n",
         "State=EHLO. Error: 502 5.5.2 Error: command not recognized\r\n", ""},
        {"STARTTLS refused", "starttls", "STARTTLS", "454 4.7.0 TLS not available\r\n",
         "State=STARTTLS. Error: 454 4.7.0 TLS not available\r\n\nThe server cannot take the message just now: it stays queued; send again later.\n", ""},
        {"wrong password", "starttls", "AUTH", "535 5.7.8 Authentication credentials invalid\r\n",
         "State=AUTH. Error: 535 5.7.8 Authentication credentials invalid\r\n\nThe server did "
         "not accept the user name or password: check SMTPUser and the password stored as "
         "\"Tillwick Orvenda SMTP\" in the Windows Credential Manager (an account with two-step "
         "verification needs an app password there).\n",
         kEhlo + "AUTH PLAIN AGFsaWNlAHDDpHNz\r\n"},
        {"EHLO inside TLS refused", "tls", "EHLO", "500 no\r\n", "State=EHLO. Error: 500 no\r\n",
         kEhlo},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        Configure(row.security, "alice");
        SecureServer server;
        server.refuse = {{row.command, row.reply}};
        Run([&] { ConverseTls(server, std::string(row.security) == "tls"); });
        ASSERT_EQ(gFake.messageBoxes.size(), 1u);
        EXPECT_EQ(BoxText(), row.box);
        EXPECT_EQ(gFake.messageBoxes[0].owner, (PlatWindow)(0x5E00 + gFakeDialog.shown));
        EXPECT_EQ(gFake.messageBoxes[0].caption, "Error");
        // Status "Disconnecting", state 8, nothing more sent; the user's Cancel (the end of the
        // script) keeps the file and stops the batch.
        EXPECT_EQ(gFakeDialog.statusTexts.back(), "Disconnecting");
        EXPECT_EQ(State(), kStateQuit);
        EXPECT_EQ(Inside(), row.inside);
        EXPECT_TRUE(FakeFileExists(kPath));
        EXPECT_TRUE(BatchStopped());
        ForgetMailSettings(&Rig().settings);
        ReleaseMessage();
    }
}

TEST_F(SecureConversation, CertificateVerdictsNameTheFaultAndNothingOfTheConversationGoesOut)
{
    const std::string folder = " has been queued in " + kQueueFolderText + "\n";
    struct Row {
        unsigned long verdict;
        std::string box;
    } rows[] = {
        {0x800B0109, "State=TLS. Error: the certificate of mail.example.com is not trusted.\n\n"
                     "The email" + folder},
        {0x800B010A, "State=TLS. Error: the certificate of mail.example.com is not trusted.\n\n"
                     "The email" + folder},
        {0x800B010F, "State=TLS. Error: the certificate is not for mail.example.com (name "
                     "mismatch).\n\nThe email" + folder},
        {0x800B0101, "State=TLS. Error: the certificate of mail.example.com has expired.\n\n"
                     "The email" + folder},
        {0x800B010C, "State=TLS. Error: the certificate of mail.example.com has been revoked.\n\n"
                     "The email" + folder},
        {0x80092012, "State=TLS. Error: the certificate of mail.example.com could not be "
                     "verified (0x80092012).\n\nThe email" + folder},
    };
    for (bool fromFirstByte : {false, true})
        for (const Row &row : rows) {
            SCOPED_TRACE(row.box + (fromFirstByte ? " (tls)" : " (starttls)"));
            SetUp();
            Configure(fromFirstByte ? "tls" : "starttls", "alice");
            gFakeTls.verdict = row.verdict;
            SecureServer server;
            Run([&] { ConverseTls(server, fromFirstByte); });
            ASSERT_EQ(gFake.messageBoxes.size(), 1u);
            EXPECT_EQ(BoxText(), row.box);
            // The window closed itself: file kept, batch stopped, nothing but the handshake
            // after it began, and the connection closed.
            EXPECT_TRUE(SelfClosed());
            EXPECT_TRUE(BatchStopped());
            EXPECT_TRUE(FakeFileExists(kPath));
            EXPECT_EQ(gFakeNet.sent.substr(gFakeNet.sent.find("<CH>")), "<CH><CF>");
            EXPECT_EQ(gFakeNet.closeSteps.back(), "close");
            ForgetMailSettings(&Rig().settings);
            ReleaseMessage();
        }
}

TEST_F(SecureConversation, HandshakeFailuresAndAServerClosingTheSession)
{
    struct Row {
        const char *name;
        std::function<void()> script;
        std::string box;
    } rows[] = {
        {"the provider cannot start",
         [] {
             gFakeTls.openFails = true;
             FakeHostFound("127.0.0.1");
             FakeSocketEvent(PLAT_FD_CONNECT);
         },
         "State=TLS. Error: the secure connection to mail.example.com failed (0x8009030E).\n\nThe "
         "email has been queued in " + kQueueFolderText + "\n"},
        {"a plain server on the TLS port",
         [] {
             FakeHostFound("127.0.0.1");
             FakeSocketEvent(PLAT_FD_CONNECT);
             FakeServerSays("220 mx.example.org ESMTP\r\n");
         },
         "State=TLS. Error: the secure connection to mail.example.com failed (0x80090326).\n\nThe "
         "email has been queued in " + kQueueFolderText + "\n"},
        {"close notify",
         [] {
             FakeHostFound("127.0.0.1");
             FakeSocketEvent(PLAT_FD_CONNECT);
             FakeServerSays("<SH>C");
         },
         "Connection closed unexpectedly\n"},
        {"the connection ends in the handshake",
         [] {
             FakeHostFound("127.0.0.1");
             FakeSocketEvent(PLAT_FD_CONNECT);
             FakeServerSays("<S");
             gFakeNet.peerClosed = true;
             FakeSocketEvent(PLAT_FD_READ);
         },
         "Connection closed unexpectedly\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        Configure("tls");
        Run(row.script);
        ASSERT_EQ(gFake.messageBoxes.size(), 1u);
        EXPECT_EQ(BoxText(), row.box);
        EXPECT_TRUE(SelfClosed());
        EXPECT_TRUE(BatchStopped());
        EXPECT_TRUE(FakeFileExists(kPath));
        EXPECT_EQ(Inside(), "");
        ForgetMailSettings(&Rig().settings);
        ReleaseMessage();
    }
}

TEST_F(SecureConversation, WhatCameInClearAfterTheGoAheadIsDropped)
{
    Configure("starttls", "alice");
    Run([&] {
        FakeHostFound("127.0.0.1");
        FakeSocketEvent(PLAT_FD_CONNECT);
        FakeServerSays("220 mx ESMTP\r\n");
        FakeServerSays("250-mx\r\n250 AUTH PLAIN\r\n");
        // Forged bytes ride behind the go-ahead, a whole line and the start of another: none
        // of it may become part of a reply inside TLS.
        FakeServerSays("220 go ahead\r\n250 AUTH LOGIN\r\n235 ");
        EXPECT_EQ(gFakeNet.sent.substr(gFakeNet.sent.find("STARTTLS")), "STARTTLS\r\n<CH>");
        FakeServerSays("<SH>");
        EXPECT_EQ(Inside(), kEhlo);  // and nothing else yet
        FakeServerSays(FakeTlsRecord("250-mx\r\n250 AUTH PLAIN\r\n"));
        EXPECT_EQ(Inside(), kEhlo + "AUTH PLAIN AGFsaWNlAHDDpHNz\r\n");
        FakeUserCancel();
    });
    EXPECT_TRUE(gFake.messageBoxes.empty());
    EXPECT_TRUE(FakeFileExists(kPath));
}

TEST_F(SecureConversation, RecordsAreSplitAndCarriedOverWriteEventsInOrder)
{
    Configure("starttls");
    gFakeTls.maxPayload = 100;
    std::string body;
    for (int i = 0; i < 60; i++)
        body += "Line " + std::to_string(i) + " of a message that needs several records.\r\n";
    const std::string content = MessageText("<bob@example.org>", "Acme Ltd <accounts@acme.test>",
                                            "", "", body);
    SecureServer server;
    Run(
        [&] {
            FakeHostFound("127.0.0.1");
            FakeSocketEvent(PLAT_FD_CONNECT);
            FakeServerSays("220 mx ESMTP\r\n");
            FakeServerSays(server.Respond("EHLO"));
            FakeServerSays("220 ready\r\n");
            FakeServerSays("<SH>");
            // From here the socket takes 37 bytes, then nothing until a write event.
            size_t seen = gFakeNet.sent.find("<CF>") + 4;
            size_t answered = 0;
            for (int guard = 0; guard < 500 && !gFakeDialog.ended; guard++) {
                gFakeNet.sendLimits = {37, 0};
                FakeSocketEvent(PLAT_FD_WRITE);
                const char *data;
                size_t length;
                if (PendingOutput(&TheConversation(), &data, &length) ||
                    TlsPendingOutput(&Rig().window.channel, &data, &length))
                    continue;
                std::string text = FakeTlsOpen(gFakeNet.sent.substr(seen));
                if (text.size() == answered)
                    break;
                std::string fresh = text.substr(answered);
                answered = text.size();
                FakeServerSays(FakeTlsRecord(server.Respond(fresh)));
            }
        },
        content);
    EXPECT_EQ(gFakeDialog.statusTexts.back(), "Email Sent");
    std::string sent = gFakeNet.sent.substr(gFakeNet.sent.find("<CF>") + 4);
    EXPECT_EQ(FakeTlsOpen(sent), kEhlo + Transaction(content) + content + "\r\n.\r\n" + "QUIT\r\n");
    // No record over the largest payload, and the message took many of them.
    int records = 0;
    for (size_t i = 0; i < sent.size(); records++) {
        size_t n = strtoul(sent.substr(i + 1, 4).c_str(), nullptr, 16);
        ASSERT_EQ(sent[i], 'R');
        ASSERT_LE(n, 100u);
        i += n + 6;
    }
    EXPECT_GT(records, (int)(body.size() / 100));
}

TEST_F(SecureConversation, ARecordSplitOverReadsAndAnotherHandshakeStepInTheMiddle)
{
    Configure("tls");
    SecureServer server;
    Run([&] {
        FakeHostFound("127.0.0.1");
        FakeSocketEvent(PLAT_FD_CONNECT);
        std::string greeting = FakeTlsRecord("220 mx ESMTP\r\n");
        FakeServerSays("<SH>" + greeting.substr(0, 3));
        EXPECT_EQ(Inside(), "");
        FakeServerSays(greeting.substr(3));
        EXPECT_EQ(Inside(), kEhlo);
        // The server asks for another handshake step before it answers; the certificate is
        // not judged again.
        size_t before = gFakeNet.sent.size();
        FakeServerSays("N<SH>" + FakeTlsRecord("250 mx\r\n"));
        EXPECT_EQ(gFakeNet.sent.substr(before, 4), "<CF>");
        EXPECT_EQ(Inside(), kEhlo + "RSET\r\n");
        FakeUserCancel();
    });
    EXPECT_EQ(gFakeTls.verifies, 1);
}

TEST_F(SecureConversation, AStalledHandshakeTimesOutAsTheStepAfterTheGreeting)
{
    struct Row {
        const char *name;
        const char *security;
        std::function<void()> script;
        int state;
    } rows[] = {
        {"TLS from the first byte, no answer to the client's hello", "tls",
         [] {
             FakeHostFound("127.0.0.1");
             FakeSocketEvent(PLAT_FD_CONNECT);
         },
         2},
        {"STARTTLS, no answer to the client's hello", "starttls",
         [] {
             FakeHostFound("127.0.0.1");
             FakeServerSays("220 mx ESMTP\r\n");
             FakeServerSays("250 mx\r\n");
             FakeServerSays("220 go ahead\r\n");
         },
         2},
        {"TLS from the first byte, handshake done, no greeting", "tls",
         [] {
             FakeHostFound("127.0.0.1");
             FakeSocketEvent(PLAT_FD_CONNECT);
             FakeServerSays("<SH>");
         },
         1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        Configure(row.security);
        Run([&] {
            row.script();
            FakeTimerFires();
        });
        ASSERT_EQ(gFake.messageBoxes.size(), 1u);
        EXPECT_EQ(BoxText().compare(0, 23, "Request timed out (" + std::to_string(row.state) + ") ."), 0)
            << BoxText();
        EXPECT_TRUE(FakeFileExists(kPath));
        EXPECT_TRUE(BatchStopped());
        ReleaseMessage();
    }
}

TEST_F(SecureConversation, ThePlainConversationAsksForNothingNew)
{
    Run([] { Converse(); });
    EXPECT_EQ(gFakeNet.sent.compare(0, 5, "HELO "), 0);
    EXPECT_EQ(gFakeTls.opens, 0);
    EXPECT_EQ(gFakeTls.credentialTarget, "");
    EXPECT_FALSE(FakeFileExists(kPath));
}

// ---- the mail sign-in: AUTH XOAUTH2 ---------------------------------------------------------

// A sign-in of alice, stored as "/emailsignin" leaves it, its access token ending at expiresAt.
void StoreSignIn(long long expiresAt)
{
    gFakeShellLink.folders[0x1A] = "C:\\Users\\alice\\AppData\\Roaming";
    static TokenRecord record;
    record = TokenRecord();
    CopyText(record.provider, sizeof record.provider, "microsoft");
    CopyText(record.clientId, sizeof record.clientId, "client-1");
    CopyText(record.tokenUrl, sizeof record.tokenUrl,
             "https://login.microsoftonline.com/organizations/oauth2/v2.0/token");
    CopyText(record.user, sizeof record.user, "alice");
    record.expiresAt = expiresAt;
    CopyText(record.accessToken, sizeof record.accessToken, "old-access");
    CopyText(record.refreshToken, sizeof record.refreshToken, "refresh-1");
    ASSERT_EQ(SaveTokenRecord(&record), kStoreOk);
}

TEST_F(SecureConversation, TheSignInsTokenGoesAsXoauth2AndARefusedOneIsRenewedOnce)
{
    const std::string renewed = "{\"token_type\":\"Bearer\",\"access_token\":\"new-access\","
                                "\"refresh_token\":\"refresh-2\",\"expires_in\":3600}";
    // base64 of "user=alice\x01auth=Bearer new-access\x01\x01"
    const std::string login = "AUTH XOAUTH2 dXNlcj1hbGljZQFhdXRoPUJlYXJlciBuZXctYWNjZXNzAQE=\r\n";
    const std::pair<std::string, std::string> refusedAtOnce = {
        "AUTH XOAUTH2", "535 5.7.3 Authentication unsuccessful\r\n"};
    const std::vector<std::pair<std::string, std::string>> googleRefusal = {
        {"AUTH XOAUTH2", "334 eyJzdGF0dXMiOiI0MDEifQ==\r\n"},
        {"\r\n", "535-5.7.8 Username and Password not accepted.\r\n535 5.7.8 Learn more\r\n"}};
    std::vector<std::pair<std::string, std::string>> googleTwice = googleRefusal;
    googleTwice.insert(googleTwice.end(), googleRefusal.begin(), googleRefusal.end());
    const char *invalidGrant = "{\"error\":\"invalid_grant\",\"error_description\":\"expired\"}";
    struct Row {
        const char *name;
        std::vector<std::pair<std::string, std::string>> server;  // replies to the login
        std::vector<std::string> tokenAnswers;  // the token endpoint's, one per renewal
        int exitCode;
        std::string box;  // "" for none
        bool delivered;
    } rows[] = {
        {"taken", {}, {renewed}, 0, "", true},
        {"refused at once, as Microsoft does, then taken with a renewed token",
         {refusedAtOnce}, {renewed, renewed}, 0, "", true},
        {"a challenge first, as Google does, and refused again after the renewal", googleTwice,
         {renewed, renewed}, 0,
         "State=AUTH. Error: 535 5.7.8 Learn more\r\n\nThe server did not accept the sign-in: "
         "run \"Tillwick.exe /emailsignin\" again and sign in as the SMTPUser mailbox.\n",
         false},
        {"refused, and the renewal refused too", {refusedAtOnce}, {renewed, invalidGrant}, 0,
         "State=AUTH. Error: 535 5.7.3 Authentication unsuccessful\r\n\nThe server did not "
         "accept the sign-in: run \"Tillwick.exe /emailsignin\" again and sign in as the "
         "SMTPUser mailbox.\n",
         false},
        // SMTP AUTH off says nothing of the token: no renewal, the advice says where.
        {"5.7.139", {{"AUTH XOAUTH2", "535 5.7.139 Authentication unsuccessful, SmtpClientAuthentication is disabled for the Tenant.\r\n"}},
         {renewed}, 0, "", false},
        {"the renewal refused: nothing connected", {}, {invalidGrant}, 1,
         "The sign-in of alice has expired or was revoked: expired (invalid_grant)\n\nPlease run "
         "\"Tillwick.exe /emailsignin\" again. No e-mail was sent.",
         false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        Configure("starttls", "alice");
        FakeSetSetting("Email Setup", "SMTPAuth", "XOAuth2");
        FakeSetSetting("Email Setup", "OAuthProvider", "microsoft");
        FakeSetSetting("Email Setup", "OAuthClientId", "client-1");
        StoreSignIn(gFakeTime.unixTime + 120);  // two minutes left: renewed first
        for (const std::string &answer : row.tokenAnswers)
            gFakeOAuth.replies.push_back({true, answer == invalidGrant ? 400 : 200, answer, 0});
        QueueFile("S1.txt", MessageText());
        QueueFile("S2.txt", MessageText());
        SecureServer server;
        server.refuse = row.server;
        for (int i = 0; i < 3; i++)
            gFakeDialog.scripts.push_back([&] { ConverseTls(server, false); });
        EXPECT_EQ(SendQueuedEmail(""), row.exitCode);
        EXPECT_EQ(gFakeOAuth.posts.size(), row.tokenAnswers.size());
        std::string box = gFake.messageBoxes.empty() ? "" : gFake.messageBoxes[0].text;
        if (std::string(row.name) == "5.7.139")
            EXPECT_NE(box.find("SMTP AUTH is turned off"), std::string::npos) << box;
        else
            EXPECT_EQ(box, row.box);
        EXPECT_EQ(FakeFileExists(kQueueDir + "S1.txt"), !row.delivered);
        EXPECT_EQ(FakeFileExists(kQueueDir + "S2.txt"), !row.delivered);
        if (row.exitCode == 0) {
            EXPECT_NE(Inside().find(login), std::string::npos);
            EXPECT_EQ(Clear().find("XOAUTH2"), std::string::npos);
        } else {
            EXPECT_EQ(gFakeNet.socket, PLAT_INVALID_SOCKET);
        }
    }
}

// ---- the mail log ----------------------------------------------------------------------------

TEST(MailLogText, WhatIsNotPrintableIsEscapedSoNoReplyCanForgeALine)
{
    struct Row {
        std::string in, out;
        size_t room;
    } rows[] = {
        {"250 ok", "250 ok", 64},
        {"a\\b", "a\\\\b", 64},
        {"x\r\n2026-01-01 forged", "x\\x0D\\x0A2026-01-01 forged", 64},
        {"\xC3\xA9\x7F\x01", "\\xC3\\xA9\\x7F\\x01", 64},
        {"ab\x01", "ab", 6},  // an escape that does not fit is left out whole
    };
    for (const Row &row : rows) {
        char out[64];
        EXPECT_EQ(EscapeLogText(row.in.data(), row.in.size(), out, row.room), row.out.size());
        EXPECT_EQ(out, row.out);
    }
}

TEST_F(SecureConversation, ALoggedBatchShowsTheExchangeAndTheOutcomeButNoSecret)
{
    // A relative path, from the program directory; AUTH LOGIN (its lines answer 334s), and a
    // server that echoes the password back in a reply, and then a byte whose escape ends in
    // the "A" that makes the rest of what it says the base64 of the whole login.
    FakeSetSetting("Email Setup", "MailLog", "logs\\mail.log");
    Configure("starttls", "alice");
    gFakeTls.credentialBlob = FakeUtf16("Secret");
    QueueFile("S1.txt", MessageText());
    QueueFile("S2.txt", "no envelope at all\r\n");
    SecureServer server;
    server.ehlo = {"250-mx", "250-STARTTLS", "250 AUTH LOGIN"};
    server.refuse = {{"MAIL", "250 ok Secret \xBAGFsaWNlAFNlY3JldA\r\n"}};
    gFakeDialog.scripts.push_back([&] { ConverseTls(server, false); });
    EXPECT_EQ(SendQueuedEmail(""), 0);
    const std::string log = gFake.files[kProgramDir + "\\logs\\mail.log"];
    for (const char *part :
         {"2026-12-07 09:30:00 message S1.txt: server mail.example.com port 587 security starttls",
          "> EHLO accounts.acme.test", "< 250 AUTH LOGIN", "> STARTTLS",
          "* TLS 1.2, TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384; certificate subject "
          "\"CN=mail.example.com\", issuer \"CN=Fake Test CA\", expires 2027-06-30 12:00:00 UTC; "
          "verdict: trusted",
          "> AUTH LOGIN", "< 334 VXNlcm5hbWU6", "> <hidden>", "< 250 ok <hidden> \\xB<hidden>",
          "* nothing added", "> (the message: 190 bytes in 1 piece)", "= delivered, file deleted",
          "message S2.txt: invalid (", "), file deleted",
          "batch ended: 1 delivered, 0 kept, 1 invalid"})
        EXPECT_NE(log.find(part), std::string::npos) << part << "\n" << log;
    for (const char *secret : {"Secret", "U2VjcmV0", "AGFsaWNlAFNlY3JldA", "YWxpY2U", "invoice below"})
        EXPECT_EQ(log.find(secret), std::string::npos) << secret;
}

TEST(MailLog, OffUnlessAskedForOneOldGenerationAndNeverInTheWay)
{
    struct Row {
        const char *name;
        const char *setting;    // nullptr: the key is absent
        std::string before;     // the log's bytes before the batch ("" for none)
        bool locked;            // the log cannot be written
        bool logWritten;
        bool rotated;
    } rows[] = {
        {"absent", nullptr, "", false, false, false},
        {"empty", "", "", false, false, false},
        {"small: appended", "C:\\Logs\\tw.log", "earlier\r\n", false, true, false},
        {"past 1 MB: a new generation", "C:\\Logs\\tw.log", std::string(1024 * 1024 + 1, 'x'),
         false, true, true},
        {"cannot be written", "C:\\Logs\\tw.log", "", true, false, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        FakeReset();
        ReleaseMessage();
        ConfigureMail();
        if (row.setting)
            FakeSetSetting("Email Setup", "MailLog", row.setting);
        const std::string path = "C:\\Logs\\tw.log";
        if (!row.before.empty())
            gFake.files[path] = row.before;
        gFake.files[path + ".old"] = "older";
        gFake.lockedFiles[path] = row.locked;
        QueueFile("S1.txt", MessageText());
        gFakeDialog.scripts.push_back([] { Converse(); });
        EXPECT_EQ(SendQueuedEmail(""), 0);
        EXPECT_FALSE(FakeFileExists(kQueueDir + "S1.txt"));  // the sending is the same
        bool appended = false;
        for (auto &call : gFake.calls)
            appended = appended || call.compare(0, 10, "AppendFile") == 0;
        EXPECT_EQ(appended, row.setting && row.setting[0] != '\0');
        const std::string log = FakeFileExists(path) ? gFake.files[path] : "";
        EXPECT_EQ(log.find("= delivered") != std::string::npos, row.logWritten);
        EXPECT_EQ(gFake.files[path + ".old"] == row.before, row.rotated);
    }
}

// ---- one batch at a time -------------------------------------------------------------------

TEST(BatchMutex, TheQueueIsSearchedOnlyOnceTheBatchIsOursAndReleasedAfter)
{
    for (bool made : {true, false}) {
        SCOPED_TRACE(made ? "mutex made" : "mutex could not be made");
        FakeReset();
        ReleaseMessage();
        ConfigureMail();
        gFakeTls.mutexHandle = made ? 0x3300 : 0;
        QueueFile("S1.txt", MessageText());
        gFakeDialog.scripts.push_back([] { Converse(); });
        EXPECT_EQ(SendQueuedEmail(""), 0);
        EXPECT_FALSE(FakeFileExists(kQueueDir + "S1.txt"));
        std::vector<std::string> order;
        for (auto &call : gFake.calls)
            if (call == "WaitMutex" || call == "ReleaseMutex" || call == "CloseMutex" ||
                call.compare(0, 9, "FindFirst") == 0 || call == "WSACleanup")
                order.push_back(call.substr(0, 9));
        if (made)
            EXPECT_EQ(order, (std::vector<std::string>{"WaitMutex", "FindFirst", "ReleaseMu",
                                                       "CloseMute", "WSACleanu"}));
        else
            EXPECT_EQ(order, (std::vector<std::string>{"FindFirst", "WSACleanu"}));
        char name[100];
        MakeBatchMutexName(kQueueDir.c_str(), name, sizeof name);
        EXPECT_EQ(gFakeTls.mutexCalls.empty() ? "" : gFakeTls.mutexCalls[0],
                  "createGlobal(" + std::string(name) + ")");
        ReleaseMessage();
    }
}

TEST(BatchMutex, RunsThatCouldTakeOneFileShareTheMutexOthersDoNot)
{
    auto mutexOf = [](const std::string &argument, const char *cwd = "C:\\") {
        FakeReset();
        gFake.currentDirectory = cwd;
        ReleaseMessage();
        ConfigureMail();
        SendQueuedEmail(argument.c_str());
        return gFakeTls.mutexCalls.empty() ? std::string() : gFakeTls.mutexCalls[0];
    };
    const std::string queue = mutexOf("");
    EXPECT_EQ(queue.compare(0, 43, "createGlobal(Tillwick Orvenda e-mail batch "), 0) << queue;
    EXPECT_EQ(queue.size(), 43u + 16 + 1);
    EXPECT_EQ(queue.find('\\'), std::string::npos);
    // One file of the queue, or a pattern over it, in any case and with either slash.
    EXPECT_EQ(mutexOf(kQueueDir + "S1.txt"), queue);
    EXPECT_EQ(mutexOf(FakeLower(kQueueDir) + "*.txt"), queue);
    EXPECT_EQ(mutexOf("C:/Program Files/Tillwick Orvenda/Email/I7.txt"), queue);
    EXPECT_EQ(mutexOf("C:\\Program Files\\Tillwick Orvenda\\.\\Email\\*.txt"), queue);
    EXPECT_EQ(mutexOf("Email\\S1.txt", "C:\\Program Files\\Tillwick Orvenda"), queue);
    // Other folders have their own.
    EXPECT_NE(mutexOf("C:\\MailOne\\*.txt"), queue);
    EXPECT_NE(mutexOf("C:\\MailOne\\*.txt"), mutexOf("C:\\MailTwo\\*.txt"));
    EXPECT_EQ(mutexOf("C:\\MailOne\\S1.txt"), mutexOf("c:\\mailone\\*.txt"));
}

TEST(BatchMutex, ThePasswordIsWipedWhenTheBatchEnds)
{
    FakeReset();
    ConfigureMail();
    FakeSetSetting("Email Setup", "SMTPSecurity", "tls");
    FakeSetSetting("Email Setup", "SMTPUser", "alice");
    gFakeTls.credentialExists = true;
    gFakeTls.credentialBlob = FakeUtf16("secret");
    QueueFile("S1.txt", MessageText());
    const MailSettings *settings = nullptr;
    gFakeDialog.scripts.push_back([&] {
        settings = ((SendingWindow *)gFakeDialog.context)->settings;
        EXPECT_STREQ(settings->password, "secret");
    });
    EXPECT_EQ(SendQueuedEmail(""), 0);
    ASSERT_NE(settings, nullptr);
    for (size_t i = 0; i < sizeof settings->password; i++)
        ASSERT_EQ(settings->password[i], '\0');
}

}  // namespace

namespace {

TEST_F(SecureConversation, TheSettingsCheckGoesUpToTheLoginAndSaysWhatItFound)
{
    struct Row {
        const char *name;
        const char *security;
        const char *user;
        std::vector<std::pair<std::string, std::string>> refuse;
        int exitCode;
        const char *box;  // the start of the one box
        const char *clear, *inside;  // what went out in clear and inside TLS
        const char *greeting = "220 mx.example.org ESMTP\r\n";
    } rows[] = {
        {"plain", nullptr, nullptr, {}, 0,
         "Connected to mail.example.com (127.0.0.1) port 587; no TLS (SMTPSecurity is none); no login "
         "(SMTPUser is not set).",
         "HELO localhost\r\nQUIT\r\n", ""},
        {"STARTTLS and a login", "starttls", "alice", {}, 0,
         "Connected to mail.example.com (127.0.0.1) port 587; TLS 1.2, certificate for mail.example.com "
         "trusted; logged in as alice with PLAIN; the server takes messages up to 977 KB.",
         "EHLO alice\r\nSTARTTLS\r\n", "EHLO alice\r\nAUTH PLAIN AGFsaWNlAHDDpHNz\r\nQUIT\r\n"},
        {"the login refused", "starttls", "alice",
         {{"AUTH", "535 5.7.139 Authentication unsuccessful, SmtpClientAuthentication is disabled for the Tenant.\r\n"}},
         1,
         "The check of the mail settings failed.\n\nState=AUTH. Error: 535 5.7.139 "
         "Authentication unsuccessful, SmtpClientAuthentication is disabled for the Tenant.\r\n\n"
         "SMTP AUTH is turned off",
         "EHLO alice\r\nSTARTTLS\r\n", "EHLO alice\r\nAUTH PLAIN AGFsaWNlAHDDpHNz\r\n"},
        {"a second greeting", nullptr, nullptr, {}, 1,
         "The check of the mail settings failed.\n\nState=HELO. Error: 220 mx ready\r\n\nThe "
         "server sent a reply before it was asked (a second greeting, or something in between "
         "that speaks for it).\n",
         "HELO localhost\r\n", "", "220 proxy ready\r\n220 mx ready\r\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        if (row.security)
            Configure(row.security, row.user);
        SecureServer server;
        if (!row.security)
            server.ehlo = {"250 mx.example.org"};
        server.refuse = row.refuse;
        gFakeDialog.scripts.push_back([&] {
            if (row.security) {
                ConverseTls(server, false);
            } else {
                Converse(Accept, row.greeting);
            }
        });
        EXPECT_EQ(RunEmailCheck(), row.exitCode);
        ASSERT_EQ(gFake.messageBoxes.size(), 1u);
        EXPECT_EQ(gFake.messageBoxes[0].text.rfind(row.box, 0), 0u) << gFake.messageBoxes[0].text;
        // A check queues nothing: no box of it speaks of a queued e-mail.
        EXPECT_EQ(gFake.messageBoxes[0].text.find("queued"), std::string::npos);
        EXPECT_EQ(gFake.messageBoxes[0].caption, "Email Setup Check");
        EXPECT_EQ(Clear(), row.clear);
        EXPECT_EQ(Inside(), row.inside);
        // No pause before the box: it follows the server's last word at once.
        EXPECT_TRUE(gFake.sleeps.empty());
    }
}

}  // namespace
