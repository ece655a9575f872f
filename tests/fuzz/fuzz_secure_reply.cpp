// Fuzz target: a server that says anything around STARTTLS and the login, in any pieces, to
// the conversation driven directly (conversation_driver.h), with TLS asked for at the first
// byte or after STARTTLS and the channel coming up whenever the input says. AddressSanitizer
// proves the EHLO parsing and the login lines stay in bounds; the checks prove that nothing
// of the login ever goes out before TLS was asked for, that nothing goes out while the
// handshake runs, that the verdict is final, and that the log never shows the password.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "conversation_driver.h"
#include "fake/fake.h"
#include "fake/fake_tls.h"
#include "mail/settings/mail_settings.h"
#include "mail/message/message_file.h"

namespace {

const char kLogPath[] = "C:\\Logs\\mail.log";

struct Setup {
    MailSettings settings;
    QueuedMessage message;
    SmtpConversation conversation;
    MailLog log;
};

Setup *Prepare()
{
    static Setup *s = nullptr;
    if (s)
        return s;
    s = (Setup *)calloc(1, sizeof(Setup));
    FakeReset();
    FakeSetSetting("Run-Time Options", "HelpFile", "C:\\Program Files\\Tillwick Orvenda\\Tillwick.hlp");
    FakeSetSetting("Email Setup", "SMTPServer", "mail.example.com");
    FakeSetSetting("Email Setup", "SMTPPort", "587");
    FakeSetSetting("Email Setup", "SMTPSecurity", "starttls");
    FakeSetSetting("Email Setup", "SMTPUser", "alice");
    FakeSetSetting("Email Setup", "MailLog", kLogPath);
    gFakeTls.credentialExists = true;
    gFakeTls.credentialBlob = FakeUtf16("Secret");
    const char *path = "C:\\Program Files\\Tillwick Orvenda\\Email\\S1.txt";
    gFake.files[path] = "To: <bob@example.org>\r\nFrom: <a@acme.test>\r\nSubject: f\xFCr\r\n\r\nHello\r\n";
    if (ParseMessageFile(&s->message, path) != kParseReady ||
        ReadSmtpSettings(&s->settings) != kSettingsReady)
        abort();
    return s;
}

const char *const kLines[] = {
    "220 mx\r\n",  "250-mx\r\n", "250 AUTH LOGIN\r\n", "250 AUTH PLAIN LOGIN\r\n",
    "334 x\r\n",   "235 ok\r\n", "354 go\r\n",         "221 bye\r\n",
    "535 no\r\n",  "250 ok\r\n", "250-8BITMIME\r\n",   "250-STARTTLS\r\n",
    "250-SIZE 10\r\n", "220 2.0.0 go ahead\r\n", "250 ok Secret\r\n", "250 U2VjcmV0\r\n",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Setup *s = Prepare();
    bool fromFirstByte = size > 0 && (data[0] & 1);
    s->settings.security = fromFirstByte ? kSecurityTls : kSecurityStartTls;
    gFake.files.erase(kLogPath);
    gFake.calls.clear();
    OpenMailLog(&s->log);
    HideLoginInLog(&s->log, &s->settings);
    MailLogMessageStarts(&s->log, &s->settings, "S1.txt");
    ConversationRun run;
    RunConversation(&run, &s->conversation, &s->settings, &s->message, &s->log, data, size,
                    kLines, sizeof kLines / sizeof kLines[0]);

    // "alice" and "Secret" in every form the login sends them, never before TLS.
    for (const char *secret : {"AUTH", "YWxpY2U", "U2VjcmV0", "AGFsaWNlAFNlY3JldA", "Secret"})
        Check(run.clearSent.find(secret) == std::string::npos);
    Check(!fromFirstByte || run.clearSent.empty());
    Check(!run.handshakeOutput);
    MailLogMessageEnds(&s->log, MessageAccepted(&s->conversation), "ended");
    MailLogBatchEnds(&s->log);
    const std::string written = FakeFileExists(kLogPath) ? gFake.files[kLogPath] : "";
    for (const char *secret : {"Secret", "U2VjcmV0", "AGFsaWNlAFNlY3JldA"})
        Check(written.find(secret) == std::string::npos);
    EndConversation(&s->conversation);
    return 0;
}
