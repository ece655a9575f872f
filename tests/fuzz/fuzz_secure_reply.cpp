// Fuzz target: a server that says anything around STARTTLS and the login, in any pieces,
// handshake messages and records included, while the socket takes what it sends in any pieces.
// The bytes are a little program: each control byte picks an action. AddressSanitizer proves
// the transport's buffers and the EHLO parsing stay in bounds; the checks prove that nothing
// of the login ever goes out in clear, that nothing at all goes out in clear once TLS has
// begun, and that the file goes only when the server had the message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/text.h"
#include "fake/fake.h"
#include "fake/fake_net.h"
#include "fake/fake_tls.h"
#include "mail/mail_log.h"
#include "mail/message_file.h"
#include "mail/sending_window.h"
#include "mail/smtp.h"
#include "platform/plat_net.h"
#include "unit/mail_support.h"

static void Drive(const uint8_t *data, size_t size)
{
    FakeHostFound("127.0.0.1");
    size_t i = 0;
    while (i < size && gFakeDialog.window != 0 && !gFakeDialog.ended) {
        uint8_t control = data[i++];
        unsigned argument = control >> 3;
        size_t n = argument + 1;
        if (n > size - i)
            n = size - i;
        std::string bytes((const char *)data + i, n);
        switch (control & 7) {
        case 0:  // the next bytes as they stand
            i += n;
            gFakeNet.inbound += bytes;
            FakeSocketEvent(PLAT_FD_READ);
            break;
        case 1:  // the next bytes as a record
            i += n;
            gFakeNet.inbound += FakeTlsRecord(bytes);
            FakeSocketEvent(PLAT_FD_READ);
            break;
        case 2: {
            static const char *const kLines[] = {
                "220 mx\r\n",  "250-mx\r\n", "250 AUTH LOGIN\r\n", "250 AUTH PLAIN LOGIN\r\n",
                "334 x\r\n",   "235 ok\r\n", "354 go\r\n",         "221 bye\r\n",
                "535 no\r\n",  "250 ok\r\n"};
            std::string line = kLines[argument % 10];
            gFakeNet.inbound += argument >= 10 ? FakeTlsRecord(line) : line;
            FakeSocketEvent(PLAT_FD_READ);
            break;
        }
        case 3:
            gFakeNet.inbound += argument & 1 ? "<SH>" : argument & 2 ? "N" : "C";
            FakeSocketEvent(PLAT_FD_READ);
            break;
        case 4:
            gFakeNet.sendLimits.push_back((int)argument * 5);  // 0: would block
            break;
        case 5:
            FakeSocketEvent(PLAT_FD_WRITE);
            break;
        case 6:
            FakeSocketEvent(argument & 1 ? PLAT_FD_CLOSE : PLAT_FD_CONNECT, argument >> 3);
            break;
        case 7:
            if (argument == 0)
                FakeTimerFires();
            else if (argument == 1)
                gFakeNet.peerClosed = true;
            else if (argument == 2)
                gFakeTls.verdict = 0x800B0109;
            else if (argument == 3)
                gFakeTls.maxPayload = 7;
            break;
        }
        if (mailtest::State() < 0 || mailtest::State() > kStateDone)
            abort();
    }
}

// True when raw is handshake messages and records only (the last one may be unfinished).
static bool OnlyTls(const std::string &raw)
{
    size_t i = 0;
    while (i < raw.size()) {
        if (raw[i] == '<') {
            i += 4;
        } else if (raw[i] == 'R') {
            if (i + 5 > raw.size())
                return true;
            i += strtoul(raw.substr(i + 1, 4).c_str(), nullptr, 16) + 6;
        } else {
            return false;
        }
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FakeReset();
    mailtest::ReleaseMessage();
    FakeSetSetting("Run-Time Options", "HelpFile", "C:\\Program Files\\Tillwick Orvenda\\Tillwick.hlp");
    FakeSetSetting("Email Setup", "SMTPServer", "mail.example.com");
    FakeSetSetting("Email Setup", "SMTPPort", "587");
    bool fromFirstByte = size > 0 && (data[0] & 1);
    FakeSetSetting("Email Setup", "SMTPSecurity", fromFirstByte ? "tls" : "starttls");
    FakeSetSetting("Email Setup", "SMTPUser", "alice");
    gFakeTls.credentialExists = true;
    gFakeTls.credentialBlob = FakeUtf16("Secret");
    const char *path = "C:\\Program Files\\Tillwick Orvenda\\Email\\S1.txt";
    gFake.files[path] = "To: <bob@example.org>\r\nFrom: <a@acme.test>\r\nSubject: x\r\n\r\nHello\r\n";
    // A log, which must never show the login whatever the server says.
    const char *logPath = "C:\\Logs\\mail.log";
    FakeSetSetting("Email Setup", "MailLog", logPath);
    if (ParseMessageFile(&mailtest::Rig().message, path) != kParseReady ||
        !mailtest::ReadSettings())
        abort();
    MailLog &log = mailtest::Rig().log;
    OpenMailLog(&log);
    HideLoginInLog(&log, &mailtest::Rig().settings);
    MailLogMessageStarts(&log, &mailtest::Rig().settings, "S1.txt");
    mailtest::ShowWindow([&] { Drive(data, size); });

    const std::string &sent = gFakeNet.sent;
    // Where TLS begins: at the first byte, or right after STARTTLS once the server said go
    // ahead. What a close made us drop may be missing, so the handshake's own messages are not
    // looked for: once TLS was asked for, nothing but handshake messages and records goes out.
    size_t tls = std::string::npos;
    if (mailtest::TheConversation().tlsRequested) {
        size_t startTls = sent.find("STARTTLS\r\n");
        tls = fromFirstByte ? 0 : startTls == std::string::npos ? sent.size() : startTls + 10;
    }
    std::string clear = sent.substr(0, tls);
    // "alice" and "Secret" in every form the login sends them.
    for (const char *secret : {"AUTH", "YWxpY2U", "U2VjcmV0", "AGFsaWNlAFNlY3JldA", "Secret"})
        if (clear.find(secret) != std::string::npos)
            abort();
    if ((fromFirstByte && !OnlyTls(sent)) ||
        (tls != std::string::npos && !OnlyTls(sent.substr(tls))))
        abort();
    if (!FakeFileExists(path) && mailtest::LastStep() < kStateSent && mailtest::State() < kStateSent)
        abort();
    MailLogBatchEnds(&log);
    const std::string written = FakeFileExists(logPath) ? gFake.files[logPath] : "";
    for (const char *secret : {"Secret", "U2VjcmV0", "AGFsaWNlAFNlY3JldA"})
        if (written.find(secret) != std::string::npos)
            abort();
    mailtest::ReleaseMessage();
    return 0;
}
