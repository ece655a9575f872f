// Fuzz target: a server that says anything, in any pieces, to the plain conversation, while
// the socket takes what it sends in any pieces and the connection may break at any moment.
// The conversation is driven directly (conversation_driver.h); AddressSanitizer proves the
// pending reply text, the line handling and the send continuation stay in their buffers; the
// checks prove the verdict final and the order of what was sent: every command, the message
// once, nothing else.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "conversation_driver.h"
#include "fake/fake.h"
#include "mail/settings/mail_settings.h"
#include "mail/message/message_file.h"

namespace {

struct Setup {
    MailSettings settings;
    QueuedMessage message;
    SmtpConversation conversation;
    MailLog log;
    std::string expected;  // all the plain conversation may send, in order
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
    FakeSetSetting("Email Setup", "SMTPPort", "2525");
    const char *path = "C:\\Program Files\\Tillwick Orvenda\\Email\\S1.txt";
    gFake.files[path] = "Note\r\nTo: <bob@example.org>, c@x.y\r\nFrom: <a@acme.test>\r\n"
                        "Subject: x\r\n\r\n.line\nbare\r.\r\nend";
    if (ParseMessageFile(&s->message, path) != kParseReady ||
        ReadSmtpSettings(&s->settings) != kSettingsReady)
        abort();
    const QueuedMessage &m = s->message;
    std::string head(m.head, m.headLength), rest(m.text + m.header.end,
                                                 m.textLength - m.header.end);
    std::string message = head + rest, encoded(2 * message.size() + 8, '\0');
    size_t position = 0;
    int atLineStart = 1;
    encoded.resize(EncodeTransparent(message.data(), message.size(), &position, &atLineStart,
                                     &encoded[0], encoded.size()));
    s->expected = "HELO a.acme.test\r\nRSET\r\nMAIL FROM:<a@acme.test>\r\n"
                  "RCPT TO:<bob@example.org>\r\nRCPT TO:<c@x.y>\r\nDATA\r\n" +
                  encoded + kEndOfDataMark + "QUIT\r\n";
    s->log.enabled = false;
    return s;
}

const char *const kLines[] = {"220 mx\r\n", "250 ok\r\n", "354 go\r\n", "221 bye\r\n",
                              "550 no\r\n", "250-more\r\n", "421 closing\r\n", "220-a\r\n"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Setup *s = Prepare();
    ConversationRun run;
    RunConversation(&run, &s->conversation, &s->settings, &s->message, &s->log, data, size,
                    kLines, sizeof kLines / sizeof kLines[0]);
    // What went out is a beginning of the conversation: nothing twice, nothing out of order.
    Check(s->expected.compare(0, run.sent.size(), run.sent) == 0);
    // Accepted only once the whole message was out.
    if (MessageAccepted(&s->conversation))
        Check(run.sent.size() >= s->expected.size() - 6);
    EndConversation(&s->conversation);
    return 0;
}
