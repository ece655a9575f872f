// The SMTP conversation: received bytes become reply lines, each complete reply moves the
// state one step and answers with the next command. What goes out is carried to its last
// byte in order, over as many socket events as the non-blocking socket needs.
#include "smtp.h"

#include <cstring>

#include "../app/text.h"
#include "../platform/plat_net.h"
#include "message_file.h"
#include "mail_texts.h"
#include "sending_window.h"

int gSmtpState;
int gLastStepState = -1;

// Received bytes not yet ended by a line feed.
static char gPendingReply[kPendingReplySize];
static size_t gPendingLength;

// Every command is formatted here before it is handed to the socket.
static const size_t kCommandTextSize = 1000;
static char gCommandText[kCommandTextSize];

// What goes out: gOut holds the bytes being handed to the socket (a command, or the next
// encoded piece of the message); gOutSent of them have been taken. While the message is on
// its way, gOutSource is its body still to be encoded and gOutMark its end-of-data mark.
static const size_t kOutSize = 1024 * 1024;
static char gOut[kOutSize];
static size_t gOutLength, gOutSent;
static const char *gOutSource;
static size_t gOutSourceLength, gOutSourcePosition;
static int gOutAtLineStart;
static const char *gOutMark;

// A socket that keeps delivering while it is being closed is not read for ever.
static const int kCloseDrainMax = 4096;

static void DropOutput(void)
{
    gOutLength = gOutSent = 0;
    gOutSource = nullptr;
    gOutMark = nullptr;
}

void ResetConversation(void)
{
    gSmtpState = kStateIdle;
    gLastStepState = -1;
    gPendingReply[0] = '\0';
    gPendingLength = 0;
    DropOutput();
}

bool SendPending(void) { return gOutSent < gOutLength || gOutSource || gOutMark; }

// Fills gOut with the next piece of the message. False when nothing is left to send. The
// mark goes out in the same piece as the end of the body: sent on its own, the small last
// segment would wait for the server's delayed acknowledgement of the one before.
static bool RefillOutput(void)
{
    gOutLength = gOutSent = 0;
    if (gOutSource) {
        gOutLength = EncodeTransparent(gOutSource, gOutSourceLength, &gOutSourcePosition,
                                       &gOutAtLineStart, gOut, kOutSize - kEndOfDataMarkLength);
        if (gOutSourcePosition >= gOutSourceLength)
            gOutSource = nullptr;
    }
    if (!gOutSource && gOutMark) {
        memcpy(gOut + gOutLength, gOutMark, kEndOfDataMarkLength);
        gOutLength += kEndOfDataMarkLength;
        gOutMark = nullptr;
    }
    return gOutLength > 0;
}

void ContinueSending(void)
{
    for (;;) {
        if (gOutSent >= gOutLength && !RefillOutput())
            return;
        size_t left = gOutLength - gOutSent;
        int n = PlatSend(gSocket, gOut + gOutSent, (int)left);
        if (n > 0) {
            gOutSent += (size_t)n;
            continue;  // a partial send is followed by another try, which re-arms the write event
        }
        if (n < 0)
            DropOutput();  // the connection is broken: its close or the reply tells the rest
        return;            // would block: the write event brings us back
    }
}

static void SendCommand(const char *format, const char *value)
{
    FormatText(gCommandText, sizeof gCommandText, format, value);
    size_t n = strlen(gCommandText);
    memcpy(gOut, gCommandText, n);
    gOutLength = n;
    gOutSent = 0;
    ContinueSending();
}

// The message text after DATA: its body with transparency, then the mark as it stands.
static void SendMessageText(void)
{
    if (!gMessage.text || gMessage.textLength < kEndOfDataMarkLength)
        return;
    gOutSourceLength = gMessage.textLength - kEndOfDataMarkLength;
    gOutSource = gOutSourceLength > 0 ? gMessage.text : nullptr;
    gOutSourcePosition = 0;
    gOutAtLineStart = 1;
    gOutMark = gMessage.text + gOutSourceLength;
    gOutLength = gOutSent = 0;
    ContinueSending();
}

static bool IsPositiveLine(const char *line)
{
    return strncmp(line, "220", 3) == 0 || strncmp(line, "221", 3) == 0 ||
           strncmp(line, "250", 3) == 0 || strncmp(line, "354", 3) == 0;
}

// The step on a positive reply in the current state.
static void TakeStep(PlatWindow window)
{
    switch (gSmtpState) {
    case kStateConnecting:
        SetStatusLine(window, gMessage.statusText);
        SendCommand(kCommandHelo, gMessage.greetingName);
        gSmtpState = kStateHelo;
        break;
    case kStateHelo:
        SendCommand(kCommandRset, "");
        gSmtpState = kStateMailFrom;
        break;
    case kStateMailFrom:
        SendCommand(kCommandMailFrom, gMessage.sender);
        gSmtpState = kStateRcptTo;
        break;
    case kStateRcptTo:
        SendCommand(kCommandRcptTo, gMessage.recipient);
        if (gMessage.copyRecipient[0] != '\0') {
            CopyText(gMessage.recipient, sizeof gMessage.recipient, gMessage.copyRecipient);
            gMessage.copyRecipient[0] = '\0';
        } else {
            gSmtpState = kStateData;
        }
        break;
    case kStateData:
        SendCommand(kCommandData, "");
        gSmtpState = kStateSendMsg;
        break;
    case kStateSendMsg:
        SendMessageText();
        gSmtpState = kStateQuit;
        break;
    case kStateQuit:
        SendCommand(kCommandQuit, "");
        gSmtpState = kStateSent;
        break;
    case kStateSent:
        SetStatusLine(window, kStatusSent);
        // Delivered before the window is told to close, so that the close deletes the file.
        gSmtpState = kStateDone;
        StopTimeoutTimer(window);
        CloseSendingWindow(window);
        break;
    default:  // 0, 3 and 10: nothing to do
        break;
    }
}

void HandleReplyLine(PlatWindow window, const char *line)
{
    // A reply never answers bytes the server has not had yet.
    if (SendPending())
        return;
    // Only the last line of a multi-line reply counts; "250-..." lines are passed over.
    if (strlen(line) >= 4 && line[3] == '-')
        return;
    if (IsPositiveLine(line)) {
        TakeStep(window);
        gLastStepState = gSmtpState;
        return;
    }
    // Before the connect and after delivery there is no step to report a failure of.
    if (gSmtpState < kStateConnecting || gSmtpState > kStateSent)
        return;
    char text[kCommandTextSize];
    FormatText(text, sizeof text, kStateErrorTexts[gSmtpState - 1], line);
    ShowErrorBox(window, text);
    SetStatusLine(window, kStatusDisconnecting);
    gSmtpState = kStateQuit;
}

// Hands every complete line to HandleReplyLine, in order, while nothing of ours is unsent.
static void HandlePendingLines(PlatWindow window)
{
    while (!SendPending()) {
        const char *lineFeed = (const char *)memchr(gPendingReply, '\n', gPendingLength);
        if (!lineFeed)
            return;
        size_t lineLength = (size_t)(lineFeed - gPendingReply);
        char line[kPendingReplySize];
        memcpy(line, gPendingReply, lineLength);
        line[lineLength] = '\0';
        gPendingLength -= lineLength + 1;
        memmove(gPendingReply, lineFeed + 1, gPendingLength);
        gPendingReply[gPendingLength] = '\0';
        HandleReplyLine(window, line);
    }
}

void AddReplyBytes(PlatWindow window, const char *bytes, size_t count)
{
    if (gPendingLength + count > kPendingReplySize - 1) {
        ShowErrorBox(window, kTextBufferOverrun);
        gPendingReply[0] = '\0';
        gPendingLength = 0;
        return;
    }
    memcpy(gPendingReply + gPendingLength, bytes, count);
    gPendingLength += count;
    gPendingReply[gPendingLength] = '\0';
    HandlePendingLines(window);
}

int HandleSocketEvent(PlatWindow window, unsigned long eventWord)
{
    unsigned event = (unsigned)(eventWord & 0xFFFF);
    unsigned error = (unsigned)((eventWord >> 16) & 0xFFFF);
    switch (event) {
    case PLAT_FD_READ:
        break;
    case PLAT_FD_CONNECT:
        // A connect refused or unreachable after it was issued.
        if (error != 0) {
            ShowErrorBox(window, kTextConnectFailed);
            return 0;
        }
        return 1;
    case PLAT_FD_WRITE:
        ContinueSending();
        HandlePendingLines(window);
        return 1;
    case PLAT_FD_CLOSE:
        // The rest of what we were sending can no longer go; the replies held back for it
        // are handled now. The close itself shows when a read finds nothing.
        if (SendPending()) {
            DropOutput();
            HandlePendingLines(window);
        }
        return 1;
    default:
        return 1;
    }

    char buffer[kReceiveMax + 1];
    int n = PlatRecv(gSocket, buffer, kReceiveMax);
    if (n == 0) {
        ShowErrorBox(window, kTextConnectionClosed);
        return 0;
    }
    if (n < 0) {
        // A read event whose data an earlier receive already took: nothing is wrong.
        if (PlatWsaGetLastError() == PLAT_WSAEWOULDBLOCK)
            return 1;
        char text[kCommandTextSize];
        FormatText(text, sizeof text, kTextReceiveError, n);
        ShowErrorBox(window, text);
        return 0;
    }
    buffer[n] = '\0';
    AddReplyBytes(window, buffer, (size_t)n);
    return 1;
}

void CloseConnection(PlatSocket socket)
{
    if (socket == PLAT_INVALID_SOCKET)
        return;
    PlatShutdown(socket, 1);
    char scratch[kReceiveMax + 1];
    for (int i = 0; i < kCloseDrainMax && PlatRecv(socket, scratch, kReceiveMax) > 0; i++) {
    }
    PlatShutdown(socket, 2);
    PlatCloseSocket(socket);
}

void DiscardPendingOutput(void) { DropOutput(); }
