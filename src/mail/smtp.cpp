// The SMTP conversation: received bytes become reply lines, each complete reply moves the
// state one step and answers with the next command. What goes out is held here until the
// window has handed it to the connection, a piece at a time for the message.
#include "smtp.h"

#include <cstring>

#include "../base/text.h"
#include "mail_texts.h"

// The login lines pass through the start of the output: nothing of them stays behind.
static const size_t kLoginLineMax = 8 * 1024;

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
    c->offersAuthPlain = c->offersAuthLogin = false;
    c->tlsRequested = c->secure = c->copySent = false;
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

static void SendCommand(SmtpConversation *c, const char *format, const char *value)
{
    char command[kBoxTextSize];
    FormatText(command, sizeof command, format, value);
    QueueBytes(c, command, "", "");
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

static void SendEhlo(SmtpConversation *c)
{
    c->offersAuthPlain = c->offersAuthLogin = false;
    SendCommand(c, kCommandEhlo, c->message->greetingName);
    c->prelude = kPreludeEhlo;
}

// One line of the reply to EHLO: notes the login methods an "AUTH" line offers (also in the
// older "AUTH=" form).
static void NoteExtension(SmtpConversation *c, const char *line)
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
                c->offersAuthPlain = true;
            else if (strcmp(word, "login") == 0)
                c->offersAuthLogin = true;
        }
        p += n;
        if (*p == '\r')
            break;
    }
}

// The transaction begins as after HELO: RSET, awaited in state 4.
static void BeginTransaction(SmtpConversation *c)
{
    c->prelude = kPreludeNone;
    SendCommand(c, kCommandRset, "");
    c->state = kStateMailFrom;
}

// After the last line of an accepted EHLO: TLS first, then the login, then the transaction.
static void StepAfterEhlo(SmtpConversation *c)
{
    const MailSettings *s = c->settings;
    if (s->security == kSecurityStartTls && !c->secure) {
        SendCommand(c, kCommandStartTls, "");
        c->prelude = kPreludeStartTls;
        return;
    }
    // The password only ever goes inside TLS.
    if (s->user[0] != '\0' && c->secure) {
        if (c->offersAuthLogin && !c->offersAuthPlain) {
            SendCommand(c, kCommandAuthLogin, "");
            c->prelude = kPreludeAuthLoginUser;
            return;
        }
        char response[kLoginLineMax];
        if (MakePlainResponse(s, response, sizeof response) == 0)
            CopyText(response, sizeof response, "=");  // cannot happen with the sizes used
        QueueBytes(c, kCommandAuthPlain, response, "\r\n");
        WipeBytes(response, sizeof response);
        c->prelude = kPreludeAuthPlain;
        return;
    }
    BeginTransaction(c);
}

// Sends one value of the AUTH LOGIN exchange in base64.
static void SendLoginValue(SmtpConversation *c, const char *value)
{
    char encoded[kLoginLineMax];
    if (EncodeBase64((const unsigned char *)value, strlen(value), encoded, sizeof encoded) == 0)
        encoded[0] = '\0';
    QueueBytes(c, "", encoded, "\r\n");
    WipeBytes(encoded, sizeof encoded);
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
    default:
        return;  // nothing is awaited while the handshake runs
    }
    if (strncmp(line, expected, 3) != 0) {
        RefusePrelude(c, refusal, line, actions);
        return;
    }
    switch (c->prelude) {
    case kPreludeEhlo:
        StepAfterEhlo(c);
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
        SendLoginValue(c, c->settings->user);
        c->prelude = kPreludeAuthLoginPassword;
        break;
    case kPreludeAuthLoginPassword:
        SendLoginValue(c, c->settings->password);
        c->prelude = kPreludeAuthLoginDone;
        break;
    default:  // logged in
        WipeLoginLines(c);
        BeginTransaction(c);
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

void SecureChannelReady(SmtpConversation *c, SmtpActions *)
{
    c->secure = true;
    // After STARTTLS the server forgets what it said before: it is asked again. With TLS from
    // the first byte the greeting is still to come.
    if (c->state == kStateHelo && c->prelude == kPreludeHandshake)
        SendEhlo(c);
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
            SendEhlo(c);
        else
            SendCommand(c, kCommandHelo, m->greetingName);
        c->state = kStateHelo;
        break;
    case kStateHelo:
        SendCommand(c, kCommandRset, "");
        c->state = kStateMailFrom;
        break;
    case kStateMailFrom:
        SendCommand(c, kCommandMailFrom, m->sender);
        c->state = kStateRcptTo;
        break;
    case kStateRcptTo:
        // The recipient, then the copy recipient after its own reply.
        if (m->copyRecipient[0] != '\0' && !c->copySent) {
            SendCommand(c, kCommandRcptTo, m->recipient);
            c->copySent = true;
        } else {
            SendCommand(c, kCommandRcptTo, m->copyRecipient[0] != '\0' ? m->copyRecipient
                                                                        : m->recipient);
            c->state = kStateData;
        }
        break;
    case kStateData:
        SendCommand(c, kCommandData, "");
        c->state = kStateSendMsg;
        break;
    case kStateSendMsg:
        SendMessageText(c);
        c->state = kStateQuit;
        break;
    case kStateQuit:
        SendCommand(c, kCommandQuit, "");
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
        return;
    }
    // Before the connect and after delivery there is no step to report a failure of.
    if (c->state < kStateConnecting || c->state > kStateSent)
        return;
    AddBox(actions, kStateErrorTexts[c->state - 1], line);
    AddAction(actions, kActionStatus, kStatusDisconnecting);
    c->state = kStateQuit;
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
