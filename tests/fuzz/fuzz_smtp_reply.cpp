// Fuzz target: a server that says anything, in any pieces, while the socket takes what it
// sends in any pieces and the timer, write and close events come at any moment. The bytes
// are a little program: each control byte picks an action, and read actions take the next
// bytes as what the server sends. AddressSanitizer proves the pending reply text, the line
// handling and the send continuation stay in their buffers; the checks prove the state and
// the order of what was sent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/text.h"
#include "fake/fake.h"
#include "fake/fake_net.h"
#include "mail/message_file.h"
#include "mail/sending_window.h"
#include "mail/smtp.h"
#include "platform/plat_net.h"
#include "unit/mail_support.h"

// Set when the socket was made to fail a send: what was cut off then is lost by design.
static bool gSendBroken;

static void Drive(const uint8_t *data, size_t size)
{
    FakeHostFound("127.0.0.1");
    size_t i = 0;
    while (i < size && gFakeDialog.window != 0 && !gFakeDialog.ended) {
        uint8_t control = data[i++];
        unsigned argument = control >> 3;
        switch (control & 7) {
        case 0:
        case 1:
        case 2: {
            // The server sends the next 1 to 32 bytes; one read event takes up to 255.
            size_t n = argument + 1;
            if (n > size - i)
                n = size - i;
            gFakeNet.inbound.append((const char *)data + i, n);
            i += n;
            FakeSocketEvent(PLAT_FD_READ);
            break;
        }
        case 3:
            gFakeNet.sendLimits.push_back((int)argument * 7 - 1);  // -1: broken, 0: full
            gSendBroken = gSendBroken || argument == 0;
            break;
        case 4:
            FakeSocketEvent(PLAT_FD_WRITE);
            break;
        case 5:
            FakeSocketEvent(argument & 1 ? PLAT_FD_CLOSE : PLAT_FD_CONNECT, argument >> 1);
            break;
        case 6:
            if (argument == 0)
                FakeTimerFires();
            else if (argument == 1)
                gFakeNet.peerClosed = true;
            else if (argument == 2)
                gFakeNet.receiveError = 10054;
            break;
        case 7:
            gFakeNet.inbound += argument & 1 ? "250 ok\r\n" : "354 go\r\n";
            FakeSocketEvent(PLAT_FD_READ);
            break;
        }
        if (mailtest::State() < 0 || mailtest::State() > kStateDone)
            abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FakeReset();
    mailtest::ReleaseMessage();
    FakeSetSetting("Run-Time Options", "HelpFile", "C:\\Program Files\\Tillwick Orvenda\\Tillwick.hlp");
    FakeSetSetting("Email Setup", "SMTPServer", "mail.example.com");
    FakeSetSetting("Email Setup", "SMTPPort", "2525");
    const char *path = "C:\\Program Files\\Tillwick Orvenda\\Email\\S1.txt";
    gFake.files[path] = "Note\r\nTo: <bob@example.org>\r\nFrom: <a@acme.test>\r\nCc: <c@x.y>\r\n"
                        "Subject: x\r\n\r\n.line\nbare\r.\r\nend";
    if (ParseMessageFile(&mailtest::Rig().message, path) != kParseReady ||
        !mailtest::ReadSettings())
        abort();
    // A box shown inside the window may see more events arrive, as its own loop would.
    size_t boxes = 0;
    gFake.onMessageBox = [&](const FakeMessageBox &) {
        if (++boxes == 2 && size > 0)
            FakeSocketEvent(PLAT_FD_READ);
    };
    gSendBroken = false;
    mailtest::ShowWindow([&] { Drive(data, size); });

    // Whatever happened, what went out is the conversation in its order, each piece whole
    // before the next (only the last may be unfinished), cut short at most by a QUIT after a
    // negative reply.
    if (!gSendBroken) {
        std::string message;
        size_t position = 0, length = mailtest::Rig().message.textLength - kEndOfDataMarkLength;
        int atLineStart = 1;
        char piece[64];
        while (position < length)
            message.append(piece, EncodeTransparent(mailtest::Rig().message.text, length, &position, &atLineStart,
                                                    piece, sizeof piece));
        message += kEndOfDataMark;
        const std::string pieces[] = {"HELO a.acme.test\r\n", "RSET\r\n",
                                      "MAIL FROM:<a@acme.test>\r\n", "RCPT TO:<bob@example.org>\r\n",
                                      "RCPT TO:<c@x.y>\r\n", "DATA\r\n", message, "QUIT\r\n"};
        const size_t count = sizeof pieces / sizeof pieces[0];
        const std::string &sent = gFakeNet.sent;
        size_t at = 0, next = 0;
        while (at < sent.size()) {
            size_t rest = sent.size() - at;
            if (next < count && sent.compare(at, pieces[next].size(), pieces[next]) == 0) {
                at += pieces[next++].size();
            } else if (next < count && rest < pieces[next].size() &&
                       pieces[next].compare(0, rest, sent, at, rest) == 0) {
                break;  // the piece still on its way
            } else if (sent.compare(at, 6, "QUIT\r\n") == 0) {
                at += 6;
                next = count;
            } else if (rest < 6 && std::string("QUIT\r\n").compare(0, rest, sent, at, rest) == 0) {
                break;
            } else {
                abort();
            }
        }
    }
    // The file is gone only when the server had the message.
    if (!FakeFileExists(path) && mailtest::LastStep() < kStateSent && mailtest::State() < kStateSent)
        abort();
    mailtest::ReleaseMessage();
    return 0;
}
