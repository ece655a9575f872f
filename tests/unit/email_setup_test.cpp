// The Email Setup window's decisions against the recording fake: an address to the settings
// found (the domain table, then the MX and SRV answers), the current settings read, the field
// checks, what a save writes for each way out with every other key kept, Sign in without a
// registration, and the settings Test checks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake/fake.h"
#include "fake/fake_net.h"
#include "fake/fake_setup.h"
#include "fake/fake_tls.h"
#include "res/resource.h"
#include "setup/email_setup.h"
#include "setup/find_settings.h"
#include "setup/setup_settings.h"

namespace {

const unsigned short MX = PLAT_DNS_TYPE_MX, SRV = PLAT_DNS_TYPE_SRV;

struct Question {
    std::string name;
    unsigned short type;
    int result;
    std::vector<PlatDnsRecord> records;
};

PlatDnsRecord Rec(const char *host, unsigned short priority, unsigned short port = 0,
                  unsigned short weight = 0)
{
    PlatDnsRecord r = {};
    snprintf(r.host, sizeof r.host, "%s", host);
    r.priority = priority;
    r.port = port;
    r.weight = weight;
    return r;
}

// Asks the questions the search hands out, as the window's thread does, through the fake.
FindProgress Find(const std::string &address)
{
    FindProgress p;
    StartFindSettings(&p, address.c_str());
    char name[300];
    unsigned short type;
    PlatDnsRecord records[32];
    while (NextFindQuestion(&p, name, sizeof name, &type)) {
        int count = 0, total = 0;
        long error = 0;
        int result = PlatDnsQuery(name, type, records, 32, &count, &total, &error);
        TakeFindAnswer(&p, result, records, count);
    }
    return p;
}

std::string Line(const FindProgress &p, bool timedOut = false)
{
    char text[600];
    FormatFindLine(&p, timedOut, 4, text, sizeof text);
    return text;
}

}  // namespace

TEST(FindSettings, TheTableThenMxThenSrvGiveTheFirstAnswer)
{
    const std::string kMx = "acme.test/15", kTls = "_submissions._tcp.acme.test/33",
                      kStartTls = "_submission._tcp.acme.test/33";
    struct Row {
        const char *name;
        std::string address;
        std::vector<Question> dns;
        FoundSource source;
        SetupWay way;
        std::string server;
        unsigned short port;
        MailSecurity security;
        std::vector<std::string> asked;
        std::string line;
    } rows[] = {
        {"google by the table", "Ann.Smith@GMail.COM", {}, kFoundDomainTable, kWayGoogle, "", 0,
         kSecurityNone, {}, "Found the settings for gmail.com: a well-known provider."},
        {"googlemail", "a@googlemail.com", {}, kFoundDomainTable, kWayGoogle, "", 0, kSecurityNone, {}, ""},
        {"microsoft, final dot and blanks", "a@ hotmail.co.uk. ", {}, kFoundDomainTable,
         kWayMicrosoft, "", 0, kSecurityNone, {}, ""},
        {"outlook", "a@outlook.com", {}, kFoundDomainTable, kWayMicrosoft, "", 0, kSecurityNone, {}, ""},
        {"live", "a@live.com", {}, kFoundDomainTable, kWayMicrosoft, "", 0, kSecurityNone, {}, ""},
        {"msn", "a@msn.com", {}, kFoundDomainTable, kWayMicrosoft, "", 0, kSecurityNone, {}, ""},
        {"hotmail", "a@hotmail.com", {}, kFoundDomainTable, kWayMicrosoft, "", 0, kSecurityNone, {}, ""},
        {"yahoo", "a@yahoo.com", {}, kFoundDomainTable, kWayServer, "smtp.mail.yahoo.com", 465,
         kSecurityTls, {}, ""},
        {"icloud", "a@icloud.com", {}, kFoundDomainTable, kWayServer, "smtp.mail.me.com", 587,
         kSecurityStartTls, {}, ""},
        {"me", "a@me.com", {}, kFoundDomainTable, kWayServer, "smtp.mail.me.com", 587, kSecurityStartTls, {}, ""},
        {"aol", "a@aol.com", {}, kFoundDomainTable, kWayServer, "smtp.aol.com", 465, kSecurityTls, {}, ""},
        {"a sub-domain is not the table's", "a@mail.yahoo.com", {}, kFoundNothing, kWayServer, "",
         0, kSecurityNone, {"mail.yahoo.com/15", "_submissions._tcp.mail.yahoo.com/33",
                            "_submission._tcp.mail.yahoo.com/33"}, ""},
        {"microsoft 365 by MX: no SRV asked", "a@acme.test",
         {{"acme.test", MX, PLAT_DNS_FOUND, {Rec("acme-test.mail.protection.outlook.com", 0)}}},
         kFoundMx, kWayMicrosoft, "", 0, kSecurityNone, {kMx},
         "Found the settings for acme.test: its MX record acme-test.mail.protection.outlook.com "
         "is Microsoft 365."},
        {"google by MX, any case, final dot", "a@acme.test",
         {{"acme.test", MX, PLAT_DNS_FOUND,
           {Rec("ALT1.ASPMX.L.GOOGLE.COM.", 5), Rec("ASPMX.L.GOOGLE.COM.", 1)}}},
         kFoundMx, kWayGoogle, "", 0, kSecurityNone, {kMx},
         "Found the settings for acme.test: its MX record aspmx.l.google.com is Google."},
        {"googlemail by MX", "a@acme.test",
         {{"acme.test", MX, PLAT_DNS_FOUND, {Rec("aspmx2.googlemail.com", 10)}}}, kFoundMx,
         kWayGoogle, "", 0, kSecurityNone, {kMx}, ""},
        {"a backup MX at Google decides nothing; SSL/TLS by SRV", "a@acme.test",
         {{"acme.test", MX, PLAT_DNS_FOUND, {Rec("aspmx.l.google.com", 20), Rec("mx.acme.test", 10)}},
          {"_submissions._tcp.acme.test", SRV, PLAT_DNS_FOUND, {Rec("Mail.Acme.Test.", 0, 465)}}},
         kFoundSubmissions, kWayServer, "mail.acme.test", 465, kSecurityTls, {kMx, kTls},
         "Found the settings for acme.test: its _submissions._tcp SRV record names mail.acme.test "
         "port 465 (SSL/TLS)."},
        {"look-alikes are nobody's; SRV \".\" is none; lowest priority, then highest weight",
         "a@acme.test",
         {{"acme.test", MX, PLAT_DNS_FOUND,
           {Rec("mx.notgoogle.com", 1), Rec("mail.protection.outlook.com", 1)}},
          {"_submissions._tcp.acme.test", SRV, PLAT_DNS_FOUND, {Rec(".", 0, 0)}},
          {"_submission._tcp.acme.test", SRV, PLAT_DNS_FOUND,
           {Rec("c.acme.test", 20, 587, 100), Rec("a.acme.test", 10, 587, 1),
            Rec("b.acme.test", 10, 2525, 5)}}},
         kFoundSubmission, kWayServer, "b.acme.test", 2525, kSecurityStartTls,
         {kMx, kTls, kStartTls}, ""},
        {"nothing: every question asked, each answer said", "a@acme.test",
         {{"acme.test", MX, PLAT_DNS_FOUND, {Rec("mx.acme.test", 10)}}}, kFoundNothing, kWayServer,
         "", 0, kSecurityNone, {kMx, kTls, kStartTls},
         "No settings found for acme.test: it is not a well-known provider, its MX record "
         "mx.acme.test is neither Microsoft 365 nor Google, and it has no _submissions._tcp or "
         "_submission._tcp SRV records. Please enter your mail server."},
        {"nothing: no MX, lookups that failed", "a@acme.test",
         {{"_submission._tcp.acme.test", SRV, PLAT_DNS_FAILED, {}}}, kFoundNothing, kWayServer, "",
         0, kSecurityNone, {kMx, kTls, kStartTls},
         "No settings found for acme.test: it is not a well-known provider, it has no MX records, "
         "and its SRV records could not be looked up. Please enter your mail server."},
        {"a name DNS cannot be asked", "a@m\xfcller.test", {}, kFoundNothing, kWayServer, "", 0,
         kSecurityNone, {},
         "No settings found: m\xfcller.test is not a domain name that can be looked up. Please "
         "enter your mail server."},
        {"an empty label", "a@acme..test", {}, kFoundNothing, kWayServer, "", 0, kSecurityNone, {}, ""},
    };
    for (const Row &row : rows) {
        FakeReset();
        for (const Question &q : row.dns)
            gFakeSetup.dns[{q.name, q.type}] = {q.result, q.records};
        FindProgress p = Find(row.address);
        EXPECT_EQ(p.source, row.source) << row.name;
        EXPECT_EQ(p.way, row.way) << row.name;
        EXPECT_EQ(p.server, row.server) << row.name;
        if (row.way == kWayServer && row.source != kFoundNothing) {
            EXPECT_EQ(p.port, row.port) << row.name;
            EXPECT_EQ(p.security, row.security) << row.name;
        }
        EXPECT_EQ(gFakeSetup.questions, row.asked) << row.name;
        if (!row.line.empty()) {
            EXPECT_EQ(Line(p), row.line) << row.name;
        }
    }

    // Given up: the line says the lookups did not answer in time.
    FindProgress p;
    StartFindSettings(&p, "a@acme.test");
    EXPECT_EQ(Line(p, true),
              "No settings found for acme.test: it is not a well-known provider, and the DNS "
              "lookups (its MX and its _submissions._tcp and _submission._tcp SRV records) did "
              "not answer within 4 seconds. Please enter your mail server.");
}

TEST(EmailSetup, TheWindowOpensOnTheCurrentSettings)
{
    struct Row {
        const char *name;
        std::vector<std::pair<std::string, std::string>> keys;
        SetupWay way;
        std::string address, server, port;
        MailSecurity security;
        std::string user;
    } rows[] = {
        {"graph", {{"MailAPI", "Graph"}, {"OAuthProvider", "microsoft"}, {"SMTPUser", "a@acme.test"},
                   {"SMTPServer", "smtp.acme.test"}},
         kWayMicrosoft, "a@acme.test", "smtp.acme.test", "", kSecurityNone, ""},
        {"gmail", {{"MailAPI", "gmail"}, {"SMTPUser", "a@acme.test"}}, kWayGoogle, "a@acme.test", "",
         "", kSecurityNone, ""},
        {"smtp with a login", {{"MailAPI", ""}, {"SMTPServer", "smtp.acme.test"}, {"SMTPPort", "587"},
                               {"SMTPSecurity", "STARTTLS"}, {"SMTPUser", "a@acme.test"}},
         kWayServer, "a@acme.test", "smtp.acme.test", "587", kSecurityStartTls, "a@acme.test"},
        {"a user name that is no address; tls", {{"SMTPSecurity", "tls"}, {"SMTPUser", "ann"}},
         kWayServer, "", "", "", kSecurityTls, "ann"},
        {"unknown values", {{"MailAPI", "ews"}, {"SMTPSecurity", "ssl"}}, kWayServer, "", "", "",
         kSecurityNone, ""},
    };
    for (const Row &row : rows) {
        FakeReset();
        for (auto &kv : row.keys)
            FakeSetSetting("Email Setup", kv.first, kv.second);
        SetupValues v;
        ReadSetupValues(&v);
        EXPECT_EQ(v.way, row.way) << row.name;
        EXPECT_EQ(v.address, row.address) << row.name;
        EXPECT_EQ(v.server, row.server) << row.name;
        EXPECT_EQ(v.port, row.port) << row.name;
        EXPECT_EQ(v.security, row.security) << row.name;
        EXPECT_EQ(v.user, row.user) << row.name;
    }
    EXPECT_FALSE(IsPasswordStored());
    gFakeTls.credentialExists = true;
    gFakeTls.credentialBlob = FakeUtf16("x");
    EXPECT_TRUE(IsPasswordStored());
}

TEST(EmailSetup, FieldChecksNameTheFieldThatStopsASave)
{
    struct Row {
        SetupWay way;
        const char *address, *server, *port, *user;
        SetupField field;
        const char *text;
        MailSecurity security = kSecurityTls;
        bool password = true;  // typed or stored
    } rows[] = {
        {kWayMicrosoft, "a@acme.test", "", "", "", kFieldNone, ""},  // the server's fields unread
        {kWayGoogle, "", "", "", "", kFieldAddress,
         "Please enter your e-mail address, such as name@example.com, in E-mail address."},
        {kWayServer, "ann", "s", "25", "", kFieldAddress, nullptr},
        {kWayServer, "@acme.test", "s", "25", "", kFieldAddress, nullptr},
        {kWayServer, "a@", "s", "25", "", kFieldAddress, nullptr},
        {kWayServer, "a@b", "", "25", "", kFieldServer,
         "Please enter the name of your mail server in Server."},
        {kWayServer, "a@b", "s", "", "", kFieldPort, "Please enter a number from 1 to 65535 in Port."},
        {kWayServer, "a@b", "s", "0", "", kFieldPort, nullptr},
        {kWayServer, "a@b", "s", "65536", "", kFieldPort, nullptr},
        {kWayServer, "a@b", "s", "99999999999", "", kFieldPort, nullptr},
        {kWayServer, "a@b", "s", "-1", "", kFieldPort, nullptr},
        {kWayServer, "a@b", "s", "5 87", "", kFieldPort, nullptr},
        {kWayServer, "a@b", "s", "1", "", kFieldNone, nullptr},
        {kWayServer, "a@b", "s", "065535", "u", kFieldNone, nullptr},
        // A login needs TLS and a password; without a login neither.
        {kWayServer, "a@b", "s", "25", "u", kFieldSecurity,
         "A password is never sent unencrypted. Please choose STARTTLS or SSL/TLS in Security, "
         "or leave User name empty for a server that takes mail without a login.",
         kSecurityNone, true},
        {kWayServer, "a@b", "s", "587", "ann", kFieldPassword,
         "Please enter the password for ann in Password.", kSecurityStartTls, false},
        {kWayServer, "a@b", "s", "25", "", kFieldNone, nullptr, kSecurityNone, false},
    };
    for (const Row &row : rows) {
        SetupValues v = {};
        v.way = row.way;
        snprintf(v.address, sizeof v.address, "%s", row.address);
        snprintf(v.server, sizeof v.server, "%s", row.server);
        snprintf(v.port, sizeof v.port, "%s", row.port);
        snprintf(v.user, sizeof v.user, "%s", row.user);
        v.security = row.security;
        v.passwordGiven = row.password;
        EXPECT_EQ(CheckSetupValues(&v), row.field) << row.address << " " << row.port;
        char text[300];
        MakeFieldCheckText(row.field, &v, text, sizeof text);
        if (row.text) {
            EXPECT_STREQ(text, row.text);
        }
    }
    // Longer than the settings file holds: named, never cut.
    SetupValues v = {};
    v.way = kWayServer;
    snprintf(v.address, sizeof v.address, "a@b");
    snprintf(v.port, sizeof v.port, "25");
    snprintf(v.server, sizeof v.server, "%s", std::string(255, 's').c_str());
    EXPECT_EQ(CheckSetupValues(&v), kFieldServer);
    char text[300];
    MakeFieldCheckText(kFieldServer, &v, text, sizeof text);
    EXPECT_STREQ(text, "Server is too long: at most 254 characters.");
    snprintf(v.server, sizeof v.server, "s");
    snprintf(v.user, sizeof v.user, "%s", std::string(255, 'u').c_str());
    EXPECT_EQ(CheckSetupValues(&v), kFieldUser);
}

TEST(EmailSetup, SaveWritesTheKeysOfTheWayAndKeepsEveryOtherKey)
{
    // What the file holds before each save; the keys a save may touch come after the others.
    const std::map<std::string, std::string> kBefore = {
        {"oauthclientid", "00000000-1111"}, {"maillog", "mail.log"}, {"oauthtenant", "acme.test"},
        {"smtpserver", "old.acme.test"}, {"smtpport", "25"}, {"smtpsecurity", "starttls"},
        {"smtpuser", "old@acme.test"}, {"smtpauth", "xoauth2"}, {"mailapi", "graph"},
        {"oauthprovider", "microsoft"},
    };
    const std::vector<unsigned short> kPassword = {'p', 0xE4, 0x20AC, 0xD83D, 0xDE00};
    const std::string kBlob("p\0\xE4\0\xAC\x20\x3D\xD8\x00\xDE", 10);
    struct Row {
        const char *name;
        SetupWay way;
        const char *address, *server, *port;
        MailSecurity security;
        const char *user;
        bool password;
        std::map<std::string, std::string> changed;  // "" value: removed
        std::vector<std::string> written;            // keys written, in order
        std::string credential;                      // the write, "" for none
    } rows[] = {
        {"google", kWayGoogle, "ann@acme.test", "x", "x", kSecurityTls, "x", true,
         {{"mailapi", "gmail"}, {"oauthprovider", "google"}, {"smtpuser", "ann@acme.test"}},
         {"MailAPI", "OAuthProvider", "SMTPUser"}, ""},
        {"microsoft: the keys that hold their values are not written", kWayMicrosoft,
         "old@acme.test", "", "", kSecurityNone, "", false, {}, {}, ""},
        {"another server with a login", kWayServer, "ann@acme.test", "smtp.acme.test", "0465",
         kSecurityTls, "ann", true,
         {{"smtpserver", "smtp.acme.test"}, {"smtpport", "465"}, {"smtpsecurity", "tls"},
          {"smtpuser", "ann"}, {"smtpauth", "-"}, {"mailapi", ""}},
         {"SMTPServer", "SMTPPort", "SMTPSecurity", "SMTPUser", "-SMTPAuth", "MailAPI"},
         "Tillwick Orvenda SMTP|ann|" + kBlob},
        {"no login: no password stored, the user emptied", kWayServer, "ann@acme.test",
         "old.acme.test", "25", kSecurityNone, "", true,
         {{"smtpsecurity", "none"}, {"smtpuser", ""}, {"smtpauth", "-"}, {"mailapi", ""}},
         {"SMTPSecurity", "SMTPUser", "-SMTPAuth", "MailAPI"}, ""},
        {"an empty password keeps the stored one", kWayServer, "ann@acme.test", "old.acme.test",
         "25", kSecurityStartTls, "old@acme.test", false,
         {{"smtpauth", "-"}, {"mailapi", ""}}, {"-SMTPAuth", "MailAPI"}, ""},
    };
    for (const Row &row : rows) {
        FakeReset();
        for (auto &kv : kBefore)
            FakeSetSetting("Email Setup", kv.first, kv.second);
        FakeSetSetting("Microsoft Access", "hWnd", "1234");
        SetupValues v = {};
        v.way = row.way;
        snprintf(v.address, sizeof v.address, "%s", row.address);
        snprintf(v.server, sizeof v.server, "%s", row.server);
        snprintf(v.port, sizeof v.port, "%s", row.port);
        snprintf(v.user, sizeof v.user, "%s", row.user);
        v.security = row.security;
        v.passwordGiven = true;
        ASSERT_EQ(CheckSetupValues(&v), kFieldNone) << row.name;
        EXPECT_EQ(SaveSetupValues(&v, kPassword.data(), row.password ? kPassword.size() : 0),
                  kSaveDone)
            << row.name;

        std::map<std::string, std::string> want = kBefore;
        for (auto &kv : row.changed) {
            if (kv.second == "-")
                want.erase(kv.first);
            else
                want[kv.first] = kv.second;
        }
        EXPECT_EQ(gFake.ini["tillwick.ini"]["email setup"], want) << row.name;
        EXPECT_EQ(FakeGetSetting("Microsoft Access", "hWnd"), "1234") << row.name;
        std::vector<std::string> written;
        for (const std::string &call : gFake.calls) {
            if (call.rfind("WriteProfile(Email Setup,", 0) == 0)
                written.push_back(call.substr(25, call.find(',', 25) - 25));
            else if (call.rfind("DeleteProfileKey(Email Setup,", 0) == 0)
                written.push_back("-" + call.substr(29, call.find(',', 29) - 29));
            else if (call.rfind("WriteProfile(", 0) == 0 || call.rfind("DeleteProfileKey(", 0) == 0)
                ADD_FAILURE() << row.name << ": " << call;
        }
        EXPECT_EQ(written, row.written) << row.name;
        std::vector<std::string> credential;
        if (!row.credential.empty())
            credential.push_back(row.credential);
        EXPECT_EQ(gFakeSetup.credentialWrites, credential) << row.name;
    }

    // The credential store refuses: nothing is written to the file.
    FakeReset();
    gFakeSetup.credentialWriteFails = true;
    SetupValues v = {};
    v.way = kWayServer;
    snprintf(v.address, sizeof v.address, "a@b");
    snprintf(v.server, sizeof v.server, "s");
    snprintf(v.port, sizeof v.port, "25");
    snprintf(v.user, sizeof v.user, "a@b");
    EXPECT_EQ(SaveSetupValues(&v, kPassword.data(), kPassword.size()), kSaveCredentialRefused);
    EXPECT_TRUE(gFake.profileWrites.empty());
}

TEST(EmailSetup, SignInWithoutARegistrationSaysSoAndTheWindowStays)
{
    FakeReset();
    FakeSetSetting("Email Setup", "MailAPI", "graph");
    FakeSetSetting("Email Setup", "SMTPUser", "ann@acme.test");
    gFakeDialog.cancelCommand = 2;
    bool endedBySignIn = true;
    gFakeDialog.scripts.push_back([&] {
        gFakeSetup.texts[IDC_SETUP_ADDRESS] = "ann@acme.test";
        FakeDeliver(PLAT_WM_COMMAND, IDC_SETUP_SIGN_IN, 0);
        endedBySignIn = gFakeDialog.ended;
    });
    EXPECT_EQ(RunEmailSetup(), 1);  // closed by the user's Cancel afterwards
    EXPECT_FALSE(endedBySignIn);
    ASSERT_EQ(gFake.messageBoxes.size(), 1u);
    EXPECT_EQ(gFake.messageBoxes[0].owner, (PlatWindow)0x5E01);
    EXPECT_EQ(gFake.messageBoxes[0].text.rfind("This installation has no sign-in registration", 0),
              0u);
    EXPECT_EQ(gFakeDialog.shown, 1);  // no sign-in window
    EXPECT_TRUE(gFake.profileWrites.empty());
}

// What Test checks: the window's values, not the file's (but for the sign-in's registration).
TEST(EmailSetup, TestChecksTheValuesInTheWindow)
{
    const std::vector<unsigned short> kTyped = {'p', 0xE4, 0x20AC};
    struct Row {
        const char *name;
        SetupWay way;
        const char *user;
        bool typed;
        SettingsResult result;
        MailWay mailWay;
        std::string server, userOut, password, apiUrl, tokenUrl;
        unsigned short port;
        MailAuth auth;
    } rows[] = {
        {"another server, the password typed", kWayServer, "ann", true, kSettingsReady, kWaySmtp,
         "smtp.acme.test", "ann", "p\xC3\xA4\xE2\x82\xAC", "", "", 465, kAuthPassword},
        {"another server, the stored password", kWayServer, "ann", false, kSettingsReady, kWaySmtp,
         "smtp.acme.test", "ann", "stored", "", "", 465, kAuthPassword},
        {"no login", kWayServer, "", true, kSettingsReady, kWaySmtp, "smtp.acme.test", "", "", "",
         "", 465, kAuthPassword},
        {"microsoft: graph with the file's registration", kWayMicrosoft, "", false,
         kSettingsReady, kWayGraph, "", "ann@acme.test", "",
         "https://graph.microsoft.com/v1.0/me/sendMail", "https://idp.acme.test/token", 0,
         kAuthXoauth2},
    };
    for (const Row &row : rows) {
        FakeReset();
        // The file says otherwise: google, another server, another user.
        for (auto &kv : std::vector<std::pair<std::string, std::string>>{
                 {"MailAPI", "gmail"}, {"OAuthProvider", "google"}, {"SMTPServer", "old.test"},
                 {"SMTPUser", "old@acme.test"}, {"OAuthClientId", "00000000-1111"},
                 {"OAuthTokenURL", "https://idp.acme.test/token"}})
            FakeSetSetting("Email Setup", kv.first, kv.second);
        gFakeTls.credentialExists = true;
        gFakeTls.credentialBlob = FakeUtf16("stored");
        SetupValues v = {};
        v.way = row.way;
        snprintf(v.address, sizeof v.address, "ann@acme.test");
        snprintf(v.server, sizeof v.server, "smtp.acme.test");
        snprintf(v.port, sizeof v.port, "0465");
        snprintf(v.user, sizeof v.user, "%s", row.user);
        v.security = kSecurityTls;
        MailSettings s;
        EXPECT_EQ(MakeTestSettings(&v, kTyped.data(), row.typed ? kTyped.size() : 0, &s),
                  row.result)
            << row.name;
        EXPECT_EQ(s.way, row.mailWay) << row.name;
        EXPECT_EQ(s.server, row.server) << row.name;
        EXPECT_EQ(s.user, row.userOut) << row.name;
        EXPECT_EQ(s.password, row.password) << row.name;
        EXPECT_EQ(s.auth, row.auth) << row.name;
        EXPECT_EQ(s.apiUrl, row.apiUrl) << row.name;
        EXPECT_EQ(s.oauth.tokenUrl, row.tokenUrl) << row.name;
        if (row.way == kWayServer) {
            EXPECT_EQ(s.port, row.port) << row.name;
            EXPECT_EQ(s.security, kSecurityTls) << row.name;
        } else {
            EXPECT_EQ(s.oauth.provider, kProviderMicrosoft) << row.name;
            EXPECT_STREQ(s.oauth.clientId, "00000000-1111") << row.name;
        }
        EXPECT_TRUE(gFake.profileWrites.empty()) << row.name;
    }
}
