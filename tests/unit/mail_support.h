// Helpers shared by the e-mail unit tests: an installation with its settings, queued message
// files, and a scripted server that answers the commands the fake socket has taken.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include <cstdlib>

#include "base/text.h"
#include "fake/fake.h"
#include "fake/fake_net.h"
#include "mail/message/message_file.h"
#include "mail/jobs/sending_window.h"
#include "mail/smtp/smtp.h"
#include "platform/plat_files.h"
#include "platform/plat_net.h"

namespace mailtest {

const std::string kProgramDir = "C:\\Program Files\\Tillwick Orvenda";
const std::string kQueueDir = kProgramDir + "\\Email\\";
const std::string kQueueFolderText = kQueueDir;  // as the time-out and lookup boxes name it

inline void ConfigureMail(const char *server = "mail.example.com", const char *port = "2525")
{
    FakeSetSetting("Run-Time Options", "HelpFile", kProgramDir + "\\Tillwick.hlp");
    if (server)
        FakeSetSetting("Email Setup", "SMTPServer", server);
    if (port)
        FakeSetSetting("Email Setup", "SMTPPort", port);
}

// A queued message file's content with CR LF line ends.
inline std::string MessageText(const std::string &to = "<bob@example.org>",
                               const std::string &from = "Acme Ltd <accounts@acme.test>",
                               const std::string &cc = "", const std::string &description = "",
                               const std::string &body = "Please find your invoice below.\r\n")
{
    // Without a description line "Subject:" comes first, else the first header would be
    // taken for the description line.
    // With its own Date and Message-ID the file goes out exactly as written.
    std::string headers = "To: " + to + "\r\nFrom: " + from +
                          "\r\nDate: Tue, 08 Dec 2026 14:05:09 +0100\r\nMessage-ID: <m1@acme.test>\r\n";
    if (!cc.empty())
        headers += "Cc: " + cc + "\r\n";
    if (!description.empty())
        return description + "\r\n" + headers + "Subject: Invoice 1042\r\n\r\n" + body;
    return "Subject: Invoice 1042\r\n" + headers + "\r\n" + body;
}

inline void QueueFile(const std::string &name, const std::string &content)
{
    gFake.files[kQueueDir + name] = content;
}

// What one sending window works on, as the batch holds it; on the heap (the window's buffers
// are large) and the same for every test.
struct MailRig {
    MailSettings settings;
    QueuedMessage message;
    MailLog log;  // off unless a test opens it
    SendingWindow window;
};

inline MailRig &Rig()
{
    static MailRig *rig = (MailRig *)calloc(1, sizeof(MailRig));
    return *rig;
}
inline SmtpConversation &TheConversation() { return Rig().window.conversation; }
inline int State() { return Rig().window.conversation.state; }
inline int LastStep() { return Rig().window.conversation.lastStepState; }
inline bool BatchStopped() { return OutcomeStopsBatch(&Rig().window.outcome); }
inline bool SelfClosed() { return Rig().window.selfClose; }

// Back to no message and no settings.
inline void ReleaseMessage()
{
    ReleaseMessageText(&Rig().message);
    ForgetMailSettings(&Rig().settings);
    Rig().log.enabled = false;
}

// Loads one queued file as the batch would, ready for the window.
inline int PrepareMessage(const std::string &path, const std::string &content)
{
    gFake.files[path] = content;
    return ParseMessageFile(&Rig().message, path.c_str());
}

// Reads the settings as the batch would: 1 when they can be used.
inline int ReadSettings() { return ReadSmtpSettings(&Rig().settings) == kSettingsReady ? 1 : 0; }

// Shows the window for the prepared message; script is its message loop.
inline void ShowWindow(const std::function<void()> &script)
{
    gFakeDialog.scripts.push_back(script);
    PrepareSendingWindow(&Rig().window, &Rig().settings, &Rig().message, &Rig().log);
    ShowSendingWindow(&Rig().window);
    // As the batch does after the window: the claim goes, and with it a file deleted
    // through it.
    PlatReleaseClaim(Rig().message.claim);
    Rig().message.claim = 0;
}

// A server's answer to the bytes it has just received ("" for none).
using Responder = std::function<std::string(const std::string &received)>;

// Accepts everything: 250, 354 to DATA, 221 to QUIT.
inline std::string Accept(const std::string &received)
{
    if (received.compare(0, 4, "DATA") == 0)
        return "354 End data with <CR><LF>.<CR><LF>\r\n";
    if (received.compare(0, 4, "QUIT") == 0)
        return "221 2.0.0 Bye\r\n";
    return "250 2.0.0 Ok\r\n";
}

// As Accept, but answers the first command that starts with prefix with reply instead.
inline Responder AcceptExcept(const std::string &prefix, const std::string &reply)
{
    auto used = std::make_shared<bool>(false);
    return [prefix, reply, used](const std::string &received) {
        if (!*used && received.compare(0, prefix.size(), prefix) == 0) {
            *used = true;
            return reply;
        }
        return Accept(received);
    };
}

// The lookup answers, the connect completes and the server talks: the greeting, then one
// answer for each batch of bytes the client sends, until the client sends nothing more or
// the window has ended.
inline void Converse(Responder respond = Accept,
                     const std::string &greeting = "220 mx.example.org ESMTP\r\n")
{
    FakeHostFound("127.0.0.1");
    FakeSocketEvent(PLAT_FD_CONNECT);
    size_t seen = gFakeNet.sent.size();
    FakeServerSays(greeting);
    for (int guard = 0; guard < 64 && gFakeDialog.window != 0 && !gFakeDialog.ended; guard++) {
        std::string fresh = gFakeNet.sent.substr(seen);
        if (fresh.empty())
            return;
        seen = gFakeNet.sent.size();
        std::string reply = respond(fresh);
        if (reply.empty())
            return;
        FakeServerSays(reply);
    }
}

// Everything a well-behaved client sends for one message without a copy recipient.
inline std::string ExpectedExchange(const std::string &greetingName, const std::string &sender,
                                    const std::string &recipient, const std::string &message)
{
    return "HELO " + greetingName + "\r\nRSET\r\nMAIL FROM:<" + sender + ">\r\nRCPT TO:<" +
           recipient + ">\r\nDATA\r\n" + message + "\r\n.\r\nQUIT\r\n";
}

}  // namespace mailtest
