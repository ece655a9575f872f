// The SMTP conversation: received bytes become reply lines, each complete reply moves the
// state one step and answers with the next command. What goes out is carried to its last
// byte in order, over as many socket events as the non-blocking socket needs.
#include "smtp.h"

#include <cstring>

#include "../base/error_box.h"
#include "../base/paths.h"
#include "../base/text.h"
#include "../platform/plat_net.h"
#include "login.h"
#include "message_file.h"
#include "mail_texts.h"
#include "sending_window.h"
#include "transport.h"

int gSmtpState;
int gLastStepState = -1;
int gPreludeStep;
bool gOffersAuthPlain, gOffersAuthLogin;

// A step failed in a way that ends the window; its box has been shown.
static bool gFailed;

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
    TransportDropOutput();
}

// The login lines pass through gOut: nothing of them stays behind.
static const size_t kLoginLineMax = 8 * 1024;
static void WipeLoginLines(void) { WipeBytes(gOut, kLoginLineMax); }

void ResetConversation(void)
{
    gSmtpState = kStateIdle;
    gLastStepState = -1;
    gPendingReply[0] = '\0';
    gPendingLength = 0;
    gPreludeStep = kPreludeNone;
    gOffersAuthPlain = gOffersAuthLogin = false;
    gFailed = false;
    DropOutput();
    TransportReset();
}

bool ConversationFailed(void) { return gFailed; }

bool SendPending(void)
{
    return gOutSent < gOutLength || gOutSource || gOutMark || TransportOutputPending();
}

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
    // What TLS still holds goes first: it is older than anything below.
    if (TransportFlush() < 0) {
        DropOutput();
        return;
    }
    for (;;) {
        if (gOutSent >= gOutLength && !RefillOutput())
            return;
        size_t left = gOutLength - gOutSent;
        int n = TransportSend(gOut + gOutSent, (int)left);
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

// A line that carries a secret: the text, then CR LF, straight into gOut.
static void SendLoginLine(const char *prefix, const char *value)
{
    size_t prefixLength = strlen(prefix);
    size_t valueLength = strlen(value);
    if (prefixLength + valueLength + 2 > kLoginLineMax)
        return;
    memcpy(gOut, prefix, prefixLength);
    memcpy(gOut + prefixLength, value, valueLength);
    memcpy(gOut + prefixLength + valueLength, "\r\n", 2);
    gOutLength = prefixLength + valueLength + 2;
    gOutSent = 0;
    ContinueSending();
}

static void SendEhlo(void)
{
    gOffersAuthPlain = gOffersAuthLogin = false;
    SendCommand(kCommandEhlo, gMessage.greetingName);
    gPreludeStep = kPreludeEhlo;
}

// One line of the reply to EHLO: notes the login methods an "AUTH" line offers (also in the
// older "AUTH=" form).
static void NoteExtension(const char *line)
{
    if (strlen(line) < 4)
        return;
    const char *p = line + 4;
    if (strncmp(p, "AUTH", 4) != 0 && strncmp(p, "auth", 4) != 0)
        return;
    if (p[4] != ' ' && p[4] != '=')
        return;
    p += 5;
    while (*p) {
        while (*p == ' ')
            p++;
        size_t n = strcspn(p, " \r");
        char word[32];
        if (n > 0 && n < sizeof word) {
            CopyTextN(word, sizeof word, p, n);
            LowerAscii(word);
            if (strcmp(word, "plain") == 0)
                gOffersAuthPlain = true;
            else if (strcmp(word, "login") == 0)
                gOffersAuthLogin = true;
        }
        p += n;
        if (*p == '\r')
            break;
    }
}

// The transaction begins as after HELO: RSET, awaited in state 4.
static void BeginTransaction(void)
{
    gPreludeStep = kPreludeNone;
    SendCommand(kCommandRset, "");
    gSmtpState = kStateMailFrom;
}

// After the last line of an accepted EHLO: TLS first, then the login, then the transaction.
static void StepAfterEhlo(void)
{
    if (gSmtpSecurity == kSecurityStartTls && !TransportSecure()) {
        SendCommand(kCommandStartTls, "");
        gPreludeStep = kPreludeStartTls;
        return;
    }
    // The password only ever goes inside TLS.
    if (gSmtpUser[0] != '\0' && TransportSecure()) {
        if (gOffersAuthLogin && !gOffersAuthPlain) {
            SendCommand(kCommandAuthLogin, "");
            gPreludeStep = kPreludeAuthLoginUser;
            return;
        }
        char response[kLoginLineMax];
        if (MakePlainResponse(response, sizeof response) == 0)
            response[0] = '=';  // cannot happen with the sizes used: the server refuses it
        SendLoginLine(kCommandAuthPlain, response);
        WipeBytes(response, sizeof response);
        gPreludeStep = kPreludeAuthPlain;
        return;
    }
    BeginTransaction();
}

// Sends one value of the AUTH LOGIN exchange in base64.
static void SendLoginValue(const char *value)
{
    char encoded[kLoginLineMax];
    if (EncodeBase64((const unsigned char *)value, strlen(value), encoded, sizeof encoded) == 0)
        encoded[0] = '\0';
    SendLoginLine("", encoded);
    WipeBytes(encoded, sizeof encoded);
}

// A negative line, or one of the wrong kind, in a step before the transaction: the same
// ending as a negative reply in any other state.
static void RefusePrelude(PlatWindow window, const char *format, const char *line)
{
    char text[kCommandTextSize];
    FormatText(text, sizeof text, format, line);
    WipeLoginLines();
    ShowErrorBox(window, text);
    SetStatusLine(window, kStatusDisconnecting);
    gPreludeStep = kPreludeNone;
    gSmtpState = kStateQuit;
}

// The last line of a reply in a step before the transaction.
static void HandlePreludeLine(PlatWindow window, const char *line)
{
    const char *expected;
    const char *refusal;
    switch (gPreludeStep) {
    case kPreludeEhlo:
        expected = "250";
        refusal = kTextEhloError;
        break;
    case kPreludeStartTls:
        expected = "220";
        refusal = kTextStartTlsError;
        break;
    case kPreludeAuthLoginUser:
    case kPreludeAuthLoginPassword:
        expected = "334";
        refusal = kTextAuthError;
        break;
    case kPreludeAuthPlain:
    case kPreludeAuthLoginDone:
        expected = "235";
        refusal = kTextAuthError;
        break;
    default:
        return;  // nothing is awaited while the handshake runs
    }
    if (strncmp(line, expected, 3) != 0) {
        RefusePrelude(window, refusal, line);
        return;
    }
    switch (gPreludeStep) {
    case kPreludeEhlo:
        StepAfterEhlo();
        break;
    case kPreludeStartTls:
        // Whatever came in clear after the server's go-ahead is not trusted: dropped.
        gPendingReply[0] = '\0';
        gPendingLength = 0;
        gPreludeStep = kPreludeHandshake;
        if (!TransportStartTls(window))
            gFailed = true;
        break;
    case kPreludeAuthLoginUser:
        SendLoginValue(gSmtpUser);
        gPreludeStep = kPreludeAuthLoginPassword;
        break;
    case kPreludeAuthLoginPassword:
        SendLoginValue(gSmtpPassword);
        gPreludeStep = kPreludeAuthLoginDone;
        break;
    default:  // logged in
        WipeLoginLines();
        BeginTransaction();
        break;
    }
    gLastStepState = gSmtpState;
}

void SecureChannelReady(PlatWindow)
{
    // After STARTTLS the server forgets what it said before: it is asked again. With TLS from
    // the first byte the greeting is still to come.
    if (gSmtpState == kStateHelo && gPreludeStep == kPreludeHandshake)
        SendEhlo();
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
        if (UsesExtendedHello())
            SendEhlo();
        else
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
    bool prelude = gSmtpState == kStateHelo && gPreludeStep != kPreludeNone;
    // Every line of the reply to EHLO may name an extension.
    if (prelude && gPreludeStep == kPreludeEhlo && strncmp(line, "250", 3) == 0)
        NoteExtension(line);
    // Only the last line of a multi-line reply counts; "250-..." lines are passed over.
    if (strlen(line) >= 4 && line[3] == '-')
        return;
    if (prelude) {
        HandlePreludeLine(window, line);
        return;
    }
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
    while (!SendPending() && !gFailed) {
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

int ReceiveFromServer(PlatWindow window, char *buffer, int length)
{
    int n = PlatRecv(gSocket, buffer, length);
    if (n == 0) {
        ShowErrorBox(window, kTextConnectionClosed);
        return -1;
    }
    if (n < 0) {
        // A read event whose data an earlier receive already took: nothing is wrong.
        if (PlatWsaGetLastError() == PLAT_WSAEWOULDBLOCK)
            return 0;
        char text[kCommandTextSize];
        FormatText(text, sizeof text, kTextReceiveError, n);
        ShowErrorBox(window, text);
        return -1;
    }
    return n;
}

int ConnectionMade(PlatWindow window)
{
    // TLS from the first byte: the handshake opens the conversation.
    if (gSmtpSecurity == kSecurityTls && !TransportStarted() && gSmtpState == kStateConnecting)
        return TransportStartTls(window);
    return 1;
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
        return ConnectionMade(window);
    case PLAT_FD_WRITE:
        ContinueSending();
        HandlePendingLines(window);
        return gFailed ? 0 : 1;
    case PLAT_FD_CLOSE:
        // The rest of what we were sending can no longer go; the replies held back for it
        // are handled now. The close itself shows when a read finds nothing.
        if (SendPending()) {
            DropOutput();
            HandlePendingLines(window);
        }
        return gFailed ? 0 : 1;
    default:
        return 1;
    }

    // With TLS from the first byte nothing is read in clear, even should the server speak
    // before the connect was reported.
    if (gSmtpSecurity == kSecurityTls && !ConnectionMade(window))
        return 0;
    if (TransportStarted())
        return TransportReceive(window) && !gFailed ? 1 : 0;

    char buffer[kReceiveMax + 1];
    int n = ReceiveFromServer(window, buffer, kReceiveMax);
    if (n <= 0)
        return n == 0 ? 1 : 0;
    buffer[n] = '\0';
    AddReplyBytes(window, buffer, (size_t)n);
    return gFailed ? 0 : 1;
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

void DiscardPendingOutput(void)
{
    DropOutput();
    WipeLoginLines();
    TransportReset();
}
