// The SMTP conversation: received bytes become reply lines, each complete reply moves the
// state one step and answers with the next command. What goes out is held here until the
// window has handed it to the connection, a piece at a time for the message.
#include "smtp.h"

#include <cstring>

#include "../base/encoding.h"
#include "../base/text.h"
#include "../oauth/access_token.h"
#include "../oauth/oauth_encoding.h"
#include "mail_texts.h"

// The login lines pass through the start of the output: nothing of them stays behind. The
// longest is AUTH XOAUTH2 with the largest token.
static const size_t kLoginLineMax = sizeof kCommandAuthXoauth2 + kXoauth2ResponseSize + 2;

static void AddAction(SmtpActions *actions, SmtpActionKind kind, const char *text = nullptr)
{
    if (actions->count < kActionsMax)
        actions->items[actions->count++] = {kind, text};
}

// A box with format filled with value.
static void AddBox(SmtpActions *actions, const char *format, const char *value)
{
    FormatText(actions->boxText, sizeof actions->boxText, format, value);
    AddAction(actions, kActionBox);
}

static void WipeLoginLines(SmtpConversation *c) { WipeBytes(c->out, kLoginLineMax); }

// For the mail log: what went out, its line end left off, as the log may show it.
static void LogSent(SmtpActions *actions, const char *text, size_t length)
{
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r'))
        length--;
    CopyTextN(actions->sent, sizeof actions->sent, text, length);
    AddAction(actions, kActionLogSent, actions->sent);
}

void DropOutput(SmtpConversation *c)
{
    c->outLength = c->outSent = 0;
    c->source = nullptr;
    c->mark = nullptr;
}

void StartConversation(SmtpConversation *c, const MailSettings *settings,
                       const QueuedMessage *message)
{
    c->settings = settings;
    c->message = message;
    c->state = kStateIdle;
    c->lastStepState = -1;
    c->prelude = kPreludeNone;
    c->offersAuthPlain = c->offersAuthLogin = c->offersSize = false;
    c->tlsRequested = c->secure = c->copySent = c->waitingForUser = false;
    c->messageBytes = 0;
    c->messagePieces = 0;
    c->pending[0] = '\0';
    c->pendingLength = 0;
    DropOutput(c);
}

void EndConversation(SmtpConversation *c)
{
    DropOutput(c);
    WipeLoginLines(c);
}

void ConnectIssued(SmtpConversation *c) { c->state = kStateConnecting; }

bool MessageAccepted(const SmtpConversation *c) { return c->state >= kStateSent; }

bool AwaitingMessageReply(const SmtpConversation *c)
{
    return c->state == kStateQuit && !c->waitingForUser && c->messagePieces > 0 &&
           c->outSent >= c->outLength && !c->source && !c->mark;
}

size_t DeclaredMessageSize(const QueuedMessage *m)
{
    if (!m->text || m->textLength < kEndOfDataMarkLength)
        return 0;
    // The body with each line end as CR LF, then the CR LF that ends its last line.
    size_t body = m->textLength - kEndOfDataMarkLength;
    size_t size = 2;
    for (size_t i = 0; i < body; i++) {
        if (m->text[i] == '\r' && i + 1 < body && m->text[i + 1] == '\n')
            i++;
        size += (m->text[i] == '\r' || m->text[i] == '\n') ? 2 : 1;
    }
    return size;
}

// Fills the output with the next piece of the message. False when nothing is left to send.
// The mark goes out in the same piece as the end of the body: sent on its own, the small last
// segment would wait for the server's delayed acknowledgement of the one before.
static bool RefillOutput(SmtpConversation *c)
{
    c->outLength = c->outSent = 0;
    if (c->source) {
        c->outLength = EncodeTransparent(c->source, c->sourceLength, &c->sourcePosition,
                                         &c->atLineStart, c->out,
                                         sizeof c->out - kEndOfDataMarkLength);
        if (c->sourcePosition >= c->sourceLength)
            c->source = nullptr;
    }
    if (!c->source && c->mark) {
        memcpy(c->out + c->outLength, c->mark, kEndOfDataMarkLength);
        c->outLength += kEndOfDataMarkLength;
        c->mark = nullptr;
    }
    if (c->outLength > 0) {
        c->messageBytes += c->outLength;
        c->messagePieces++;
    }
    return c->outLength > 0;
}

bool PendingOutput(SmtpConversation *c, const char **data, size_t *length)
{
    if (c->outSent >= c->outLength && !RefillOutput(c))
        return false;
    *data = c->out + c->outSent;
    *length = c->outLength - c->outSent;
    return true;
}

void OutputTaken(SmtpConversation *c, size_t count)
{
    size_t left = c->outLength - c->outSent;
    c->outSent += count < left ? count : left;
}

// Puts bytes out as they stand: a command, or a line that carries a secret.
static void QueueBytes(SmtpConversation *c, const char *prefix, const char *value,
                       const char *suffix)
{
    size_t prefixLength = strlen(prefix), valueLength = strlen(value);
    size_t suffixLength = strlen(suffix);
    if (prefixLength + valueLength + suffixLength > kLoginLineMax)
        return;
    memcpy(c->out, prefix, prefixLength);
    memcpy(c->out + prefixLength, value, valueLength);
    memcpy(c->out + prefixLength + valueLength, suffix, suffixLength);
    c->outLength = prefixLength + valueLength + suffixLength;
    c->outSent = 0;
}

static void SendCommand(SmtpConversation *c, const char *format, const char *value,
                        SmtpActions *actions)
{
    char command[kBoxTextSize];
    FormatText(command, sizeof command, format, value);
    QueueBytes(c, command, "", "");
    LogSent(actions, command, strlen(command));
}

// The message text after DATA: its body with transparency, then the mark as it stands.
static void SendMessageText(SmtpConversation *c)
{
    const QueuedMessage *m = c->message;
    if (!m->text || m->textLength < kEndOfDataMarkLength)
        return;
    c->sourceLength = m->textLength - kEndOfDataMarkLength;
    c->source = c->sourceLength > 0 ? m->text : nullptr;
    c->sourcePosition = 0;
    c->atLineStart = 1;
    c->mark = m->text + c->sourceLength;
    c->outLength = c->outSent = 0;
}

static void SendEhlo(SmtpConversation *c, SmtpActions *actions)
{
    c->offersAuthPlain = c->offersAuthLogin = c->offersSize = false;
    SendCommand(c, kCommandEhlo, c->message->greetingName, actions);
    c->prelude = kPreludeEhlo;
}

// True when the extension line (after its code) names keyword, in either case, followed by a
// blank, a line end or nothing.
static bool NamesExtension(const char *p, const char *keyword)
{
    size_t n = strlen(keyword);
    for (size_t i = 0; i < n; i++) {
        char ch = p[i];
        if (ch >= 'a' && ch <= 'z')
            ch = (char)(ch - 'a' + 'A');
        if (ch != keyword[i])
            return false;
    }
    return p[n] == '\0' || p[n] == ' ' || p[n] == '\r';
}

// One line of the reply to EHLO: notes SIZE, and the login methods an "AUTH" line offers
// (also in the older "AUTH=" form).
static void NoteExtension(SmtpConversation *c, const char *line)
{
    if (strlen(line) < 4)
        return;
    const char *p = line + 4;
    if (NamesExtension(p, "SIZE"))
        c->offersSize = true;
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
                c->offersAuthPlain = true;
            else if (strcmp(word, "login") == 0)
                c->offersAuthLogin = true;
        }
        p += n;
        if (*p == '\r')
            break;
    }
}

// MAIL FROM, with the message's size when the server takes SIZE (EHLO only).
static void SendMailFrom(SmtpConversation *c, SmtpActions *actions)
{
    if (!c->offersSize) {
        SendCommand(c, kCommandMailFrom, c->message->sender, actions);
        return;
    }
    char command[kBoxTextSize];
    FormatText(command, sizeof command, kCommandMailFromSize, c->message->sender,
               (unsigned long long)DeclaredMessageSize(c->message));
    QueueBytes(c, command, "", "");
    LogSent(actions, command, strlen(command));
}

// The transaction begins as after HELO: RSET, awaited in state 4.
static void BeginTransaction(SmtpConversation *c, SmtpActions *actions)
{
    c->prelude = kPreludeNone;
    SendCommand(c, kCommandRset, "", actions);
    c->state = kStateMailFrom;
}

// After the last line of an accepted EHLO: TLS first, then the login, then the transaction.
static void StepAfterEhlo(SmtpConversation *c, SmtpActions *actions)
{
    const MailSettings *s = c->settings;
    if (s->security == kSecurityStartTls && !c->secure) {
        SendCommand(c, kCommandStartTls, "", actions);
        c->prelude = kPreludeStartTls;
        return;
    }
    // The password or the token only ever goes inside TLS.
    if (s->user[0] != '\0' && c->secure) {
        if (s->auth == kAuthXoauth2) {
            char response[kXoauth2ResponseSize];
            if (MakeXoauth2Response(s->user, s->accessToken, response, sizeof response) == 0)
                CopyText(response, sizeof response, "=");  // cannot happen with the sizes used
            QueueBytes(c, kCommandAuthXoauth2, response, "\r\n");
            WipeBytes(response, sizeof response);
            LogSent(actions, kLogAuthXoauth2Hidden, strlen(kLogAuthXoauth2Hidden));
            c->prelude = kPreludeAuthXoauth2;
            return;
        }
        if (c->offersAuthLogin && !c->offersAuthPlain) {
            SendCommand(c, kCommandAuthLogin, "", actions);
            c->prelude = kPreludeAuthLoginUser;
            return;
        }
        char response[kLoginLineMax];
        if (MakePlainResponse(s, response, sizeof response) == 0)
            CopyText(response, sizeof response, "=");  // cannot happen with the sizes used
        QueueBytes(c, kCommandAuthPlain, response, "\r\n");
        WipeBytes(response, sizeof response);
        LogSent(actions, kLogAuthPlainHidden, strlen(kLogAuthPlainHidden));
        c->prelude = kPreludeAuthPlain;
        return;
    }
    BeginTransaction(c, actions);
}

// Sends one value of the AUTH LOGIN exchange in base64: it answers a 334, and the log never
// shows such a line.
static void SendLoginValue(SmtpConversation *c, const char *value, SmtpActions *actions)
{
    char encoded[kLoginLineMax];
    if (Base64Encode((const unsigned char *)value, strlen(value), false, encoded, sizeof encoded) == 0)
        encoded[0] = '\0';
    QueueBytes(c, "", encoded, "\r\n");
    WipeBytes(encoded, sizeof encoded);
    LogSent(actions, kLogHidden, strlen(kLogHidden));
}

// A negative line, or one of the wrong kind, in a step before the transaction: the same
// ending as a negative reply in any other state.
static void RefusePrelude(SmtpConversation *c, const char *format, const char *line,
                          SmtpActions *actions)
{
    WipeLoginLines(c);
    AddBox(actions, format, line);
    AddAction(actions, kActionStatus, kStatusDisconnecting);
    c->prelude = kPreludeNone;
    c->state = kStateQuit;
    c->waitingForUser = true;
}

// The last line of a reply in a step before the transaction.
static void HandlePreludeLine(SmtpConversation *c, const char *line, SmtpActions *actions)
{
    const char *expected;
    const char *refusal;
    switch (c->prelude) {
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
    case kPreludeAuthXoauth2:
        // A refused token comes back at once (535), or as a 334 challenge that carries the
        // reason and is answered with an empty line; the refusal follows.
        if (strncmp(line, "334", 3) == 0) {
            QueueBytes(c, "", "", "\r\n");
            LogSent(actions, kLogHidden, strlen(kLogHidden));
            c->prelude = kPreludeAuthXoauth2Error;
            return;
        }
        expected = "235";
        refusal = kTextXoauth2Error;
        break;
    case kPreludeAuthXoauth2Error:
        expected = "235";
        refusal = kTextXoauth2Error;
        break;
    default:
        return;  // nothing is awaited while the handshake runs
    }
    if (strncmp(line, expected, 3) != 0) {
        RefusePrelude(c, refusal, line, actions);
        return;
    }
    switch (c->prelude) {
    case kPreludeEhlo:
        StepAfterEhlo(c, actions);
        break;
    case kPreludeStartTls:
        // Whatever came in clear after the server's go-ahead is not trusted: dropped.
        c->pending[0] = '\0';
        c->pendingLength = 0;
        c->prelude = kPreludeHandshake;
        c->tlsRequested = true;
        AddAction(actions, kActionStartTls);
        break;
    case kPreludeAuthLoginUser:
        SendLoginValue(c, c->settings->user, actions);
        c->prelude = kPreludeAuthLoginPassword;
        break;
    case kPreludeAuthLoginPassword:
        SendLoginValue(c, c->settings->password, actions);
        c->prelude = kPreludeAuthLoginDone;
        break;
    default:  // logged in
        WipeLoginLines(c);
        BeginTransaction(c, actions);
        break;
    }
    c->lastStepState = c->state;
}

void ConnectionMade(SmtpConversation *c, SmtpActions *actions)
{
    // TLS from the first byte: the handshake opens the conversation.
    if (c->settings->security == kSecurityTls && !c->tlsRequested &&
        c->state == kStateConnecting) {
        c->tlsRequested = true;
        AddAction(actions, kActionStartTls);
    }
}

void SecureChannelReady(SmtpConversation *c, SmtpActions *actions)
{
    c->secure = true;
    // After STARTTLS the server forgets what it said before: it is asked again. With TLS from
    // the first byte the greeting is still to come.
    if (c->state == kStateHelo && c->prelude == kPreludeHandshake)
        SendEhlo(c, actions);
}

static bool IsPositiveLine(const char *line)
{
    return strncmp(line, "220", 3) == 0 || strncmp(line, "221", 3) == 0 ||
           strncmp(line, "250", 3) == 0 || strncmp(line, "354", 3) == 0;
}

// The step on a positive reply in the current state.
static void TakeStep(SmtpConversation *c, SmtpActions *actions)
{
    const QueuedMessage *m = c->message;
    switch (c->state) {
    case kStateConnecting:
        AddAction(actions, kActionStatus, m->statusText);
        if (UsesExtendedHello(c->settings))
            SendEhlo(c, actions);
        else
            SendCommand(c, kCommandHelo, m->greetingName, actions);
        c->state = kStateHelo;
        break;
    case kStateHelo:
        SendCommand(c, kCommandRset, "", actions);
        c->state = kStateMailFrom;
        break;
    case kStateMailFrom:
        SendMailFrom(c, actions);
        c->state = kStateRcptTo;
        break;
    case kStateRcptTo:
        // The recipient, then the copy recipient after its own reply.
        if (m->copyRecipient[0] != '\0' && !c->copySent) {
            SendCommand(c, kCommandRcptTo, m->recipient, actions);
            c->copySent = true;
        } else {
            SendCommand(c, kCommandRcptTo,
                        m->copyRecipient[0] != '\0' ? m->copyRecipient : m->recipient, actions);
            c->state = kStateData;
        }
        break;
    case kStateData:
        SendCommand(c, kCommandData, "", actions);
        c->state = kStateSendMsg;
        break;
    case kStateSendMsg:
        SendMessageText(c);
        c->state = kStateQuit;
        break;
    case kStateQuit:
        SendCommand(c, kCommandQuit, "", actions);
        c->state = kStateSent;
        break;
    case kStateSent:
        // Delivered before the window is told to close, so that the close deletes the file.
        AddAction(actions, kActionStatus, kStatusSent);
        c->state = kStateDone;
        AddAction(actions, kActionStopTimer);
        AddAction(actions, kActionClose);
        break;
    default:  // 0, 3 and 10: nothing to do
        break;
    }
}

void HandleReplyLine(SmtpConversation *c, const char *line, SmtpActions *actions)
{
    CopyTextN(actions->received, sizeof actions->received, line, strcspn(line, "\r"));
    AddAction(actions, kActionLogReceived, actions->received);
    bool prelude = c->state == kStateHelo && c->prelude != kPreludeNone;
    // Every line of the reply to EHLO may name an extension.
    if (prelude && c->prelude == kPreludeEhlo && strncmp(line, "250", 3) == 0)
        NoteExtension(c, line);
    // Only the last line of a multi-line reply counts; "250-..." lines are passed over.
    if (strlen(line) >= 4 && line[3] == '-')
        return;
    if (prelude) {
        HandlePreludeLine(c, line, actions);
        return;
    }
    if (IsPositiveLine(line)) {
        TakeStep(c, actions);
        c->lastStepState = c->state;
        c->waitingForUser = false;
        return;
    }
    // Before the connect and after delivery there is no step to report a failure of.
    if (c->state < kStateConnecting || c->state > kStateSent)
        return;
    AddBox(actions, kStateErrorTexts[c->state - 1], line);
    AddAction(actions, kActionStatus, kStatusDisconnecting);
    c->state = kStateQuit;
    c->waitingForUser = true;
}

bool TakeNextReply(SmtpConversation *c, SmtpActions *actions)
{
    const char *lineFeed = (const char *)memchr(c->pending, '\n', c->pendingLength);
    if (!lineFeed)
        return false;
    size_t lineLength = (size_t)(lineFeed - c->pending);
    char line[kPendingReplySize];
    memcpy(line, c->pending, lineLength);
    line[lineLength] = '\0';
    c->pendingLength -= lineLength + 1;
    memmove(c->pending, lineFeed + 1, c->pendingLength);
    c->pending[c->pendingLength] = '\0';
    HandleReplyLine(c, line, actions);
    return true;
}

void AddReplyBytes(SmtpConversation *c, const char *bytes, size_t count, SmtpActions *actions)
{
    if (c->pendingLength + count > kPendingReplySize - 1) {
        CopyText(actions->boxText, sizeof actions->boxText, kTextBufferOverrun);
        AddAction(actions, kActionBox);
        c->pending[0] = '\0';
        c->pendingLength = 0;
        return;
    }
    memcpy(c->pending + c->pendingLength, bytes, count);
    c->pendingLength += count;
    c->pending[c->pendingLength] = '\0';
}
