// The SMTP conversation: received bytes become reply lines, each complete reply moves the
// state one step and answers with the next command; a negative reply, or a reply nobody
// asked for, ends it with its verdict. What goes out is held here until the window has
// handed it to the connection, a piece at a time for the message.
#include "smtp.h"

#include <cstring>

#include "../../base/encoding.h"
#include "../../base/text.h"
#include "../../oauth/access_token.h"
#include "../../oauth/oauth_encoding.h"
#include "smtp_texts.h"

// The login lines pass through the start of the output: nothing of them stays behind. The
// longest is AUTH XOAUTH2 with the largest token.
static const size_t kLoginLineMax = sizeof kCommandAuthXoauth2 + kXoauth2ResponseSize + 2;

static void AddAction(SmtpActions *actions, SmtpActionKind kind, const char *text = nullptr,
                      size_t length = 0)
{
    if (actions->count >= kActionsMax) {
        actions->overflow = true;  // the window makes this a failure of the message
        return;
    }
    actions->items[actions->count++] = {kind, text, length};
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

static void LogNote(SmtpActions *actions, const char *text)
{
    CopyText(actions->note, sizeof actions->note, text);
    AddAction(actions, kActionLogNote, actions->note);
}

void DropOutput(SmtpConversation *c)
{
    c->outLength = c->outSent = 0;
    c->segmentCount = c->segmentIndex = 0;
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
    c->offersAuthPlain = c->offersAuthLogin = c->offersSize = c->offers8BitMime = false;
    c->tlsRequested = c->secure = c->waitingForUser = c->checkOnly = false;
    c->loginMethod = "";
    c->sizeLimit = 0;
    c->recipientIndex = 0;
    c->quotedPrintable = false;
    memset(&c->verdict, 0, sizeof c->verdict);
    c->verdict.recipient = -1;
    c->messageBytes = 0;
    c->messagePieces = 0;
    c->pending[0] = '\0';
    c->pendingLength = 0;
    c->earlyEnd = 0;
    c->commandsQueued = 0;
    c->replyLines[0] = '\0';
    c->replyLinesLength = 0;
    DropOutput(c);
}

void EndConversation(SmtpConversation *c)
{
    DropOutput(c);
    WipeLoginLines(c);
}

void ConnectIssued(SmtpConversation *c) { c->state = kStateConnecting; }

bool MessageAccepted(const SmtpConversation *c) { return c->verdict.kind == kVerdictAccepted; }

bool ConversationSucceeded(const SmtpConversation *c)
{
    return c->verdict.kind == kVerdictAccepted || c->verdict.kind == kVerdictChecked;
}

void SetVerdict(SmtpConversation *c, SmtpVerdictKind kind)
{
    if (c->verdict.kind == kVerdictNone) {
        c->verdict.kind = kind;
        c->verdict.state = c->state;
    }
}

bool HasUnsentOutput(const SmtpConversation *c)
{
    return c->outSent < c->outLength || c->segmentIndex < c->segmentCount || c->mark;
}

bool AwaitingMessageReply(const SmtpConversation *c)
{
    return c->state == kStateQuit && !c->waitingForUser && c->messagePieces > 0 &&
           !HasUnsentOutput(c);
}

// Fills the output with the next piece of the message. False when nothing is left to send.
// The mark goes out in the same piece as the end of the message: sent on its own, the small
// last segment would wait for the server's delayed acknowledgement of the one before.
static bool RefillOutput(SmtpConversation *c)
{
    c->outLength = c->outSent = 0;
    size_t room = sizeof c->out - kEndOfDataMarkLength;
    while (c->segmentIndex < c->segmentCount) {
        const MessageSegment *s = &c->segments[c->segmentIndex];
        size_t before = c->outLength;
        if (s->quotedPrintable) {
            if (room - c->outLength < kQuotedPrintableUnitMax)
                break;
            c->outLength += EncodeQuotedPrintable(s->data, s->length, &c->segmentPosition,
                                                  &c->qp, c->out + c->outLength,
                                                  room - c->outLength);
        } else {
            if (room - c->outLength < 4)
                break;
            c->outLength += EncodeTransparent(s->data, s->length, &c->segmentPosition,
                                              &c->atLineStart, c->out + c->outLength,
                                              room - c->outLength);
        }
        if (c->segmentPosition >= s->length) {
            c->segmentIndex++;
            c->segmentPosition = 0;
        } else if (c->outLength == before) {
            break;  // the piece is full
        }
    }
    if (c->segmentIndex >= c->segmentCount && c->mark) {
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

// Ends the conversation with a protocol error: something nobody asked for came, or a step
// could not be carried out. The line says what.
static void FailProtocol(SmtpConversation *c, const char *line, size_t length,
                         SmtpActions *actions, bool internal = false)
{
    WipeLoginLines(c);
    DropOutput(c);
    c->verdict.kind = kVerdictProtocolError;
    c->verdict.state = c->state;
    c->verdict.prelude = c->prelude;
    c->verdict.internal = internal;
    CopyTextN(c->verdict.reply, sizeof c->verdict.reply, line, length);
    CopyText(c->verdict.lines, sizeof c->verdict.lines, c->replyLines);
    AddAction(actions, kActionVerdict);
    AddAction(actions, kActionStatus, kStatusDisconnecting);
    c->prelude = kPreludeNone;
    c->state = kStateQuit;
    c->waitingForUser = true;
}

// Puts bytes out as they stand: a command, or a line that carries a secret. Whatever the
// server sent before it could have had them is early. False (a protocol error) when they
// do not fit, which the sizes used never allow.
static bool QueueBytes(SmtpConversation *c, const char *prefix, const char *value,
                       const char *suffix, SmtpActions *actions)
{
    size_t prefixLength = strlen(prefix), valueLength = strlen(value);
    size_t suffixLength = strlen(suffix);
    if (prefixLength + valueLength + suffixLength > kLoginLineMax) {
        static const char kTooLong[] = "(a command too long to send)";
        FailProtocol(c, kTooLong, sizeof kTooLong - 1, actions, true);
        return false;
    }
    memcpy(c->out, prefix, prefixLength);
    memcpy(c->out + prefixLength, value, valueLength);
    memcpy(c->out + prefixLength + valueLength, suffix, suffixLength);
    c->outLength = prefixLength + valueLength + suffixLength;
    c->outSent = 0;
    c->earlyEnd = c->pendingLength;
    c->commandsQueued++;
    return true;
}

static void SendCommand(SmtpConversation *c, const char *format, const char *value,
                        SmtpActions *actions)
{
    char command[kBoxTextSize];
    if (!FormatText(command, sizeof command, format, value)) {
        static const char kTooLong[] = "(a command too long to send)";
        FailProtocol(c, kTooLong, sizeof kTooLong - 1, actions, true);
        return;
    }
    if (QueueBytes(c, command, "", "", actions))
        LogSent(actions, command, strlen(command));
}

static void AddSegment(SmtpConversation *c, const char *data, size_t length, bool qp)
{
    if (length > 0 && c->segmentCount < kMessageSegmentsMax)
        c->segments[c->segmentCount++] = {data, length, qp};
}

// The message after DATA: the head, then the rest of the file (its empty line and the
// body), then the mark. With quoted-printable the head's "8bit" says so instead.
static void SendMessageText(SmtpConversation *c)
{
    const QueuedMessage *m = c->message;
    c->outLength = c->outSent = 0;
    c->segmentCount = c->segmentIndex = 0;
    c->segmentPosition = 0;
    c->atLineStart = 1;
    c->qp = {0};
    if (!m->text || !m->head)
        return;
    bool recoded = c->quotedPrintable && m->codingOffset > 0;
    if (recoded) {
        size_t after = m->codingOffset + strlen(kCoding8Bit);
        AddSegment(c, m->head, m->codingOffset, false);
        AddSegment(c, kCodingQuotedPrintable, strlen(kCodingQuotedPrintable), false);
        AddSegment(c, m->head + after, m->headLength - after, false);
    } else {
        AddSegment(c, m->head, m->headLength, false);
    }
    size_t restStart = m->header.end;
    size_t restEnd = m->textLength;
    AddSegment(c, m->text + restStart, restEnd - restStart, recoded);
    c->mark = kEndOfDataMark;
}

static void SendEhlo(SmtpConversation *c, SmtpActions *actions)
{
    c->offersAuthPlain = c->offersAuthLogin = c->offersSize = c->offers8BitMime = false;
    c->sizeLimit = 0;
    c->prelude = kPreludeEhlo;
    SendCommand(c, kCommandEhlo, c->message->greetingName, actions);
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

// One line of the reply to EHLO: notes SIZE and 8BITMIME, and the login methods an "AUTH" line offers
// (also in the older "AUTH=" form).
static void NoteExtension(SmtpConversation *c, const char *line)
{
    if (strlen(line) < 4)
        return;
    const char *p = line + 4;
    if (NamesExtension(p, "SIZE")) {
        c->offersSize = true;
        c->sizeLimit = 0;
        for (const char *d = p + 5; *d >= '0' && *d <= '9' && c->sizeLimit < 1000000000000ull; d++)
            c->sizeLimit = c->sizeLimit * 10 + (unsigned long long)(*d - '0');
    }
    if (NamesExtension(p, "8BITMIME"))
        c->offers8BitMime = true;
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

// MAIL FROM with its parameters, assembled: the message's size when the server takes SIZE,
// BODY=8BITMIME when 8-bit text goes out as it stands. Both only after EHLO. The body's
// encoding is decided here, from what the server offered.
static void SendMailFrom(SmtpConversation *c, SmtpActions *actions)
{
    const QueuedMessage *m = c->message;
    bool extended = UsesExtendedHello(c->settings);
    TransmitPlan plan = PlanTransmission(&m->facts, extended, c->offers8BitMime);
    c->quotedPrintable = plan.coding == kBodyQuotedPrintable;
    char command[kBoxTextSize];
    bool fits = FormatText(command, sizeof command, kCommandMailFrom, m->sender);
    if (extended && c->offersSize) {
        char size[40];
        FormatText(size, sizeof size, " SIZE=%llu",
                   (unsigned long long)DeclaredMessageSize(m, c->quotedPrintable));
        fits = fits && AppendText(command, sizeof command, size);
    }
    if (plan.declare8BitMime)
        fits = fits && AppendText(command, sizeof command, " BODY=8BITMIME");
    fits = fits && AppendText(command, sizeof command, "\r\n");
    if (!fits) {
        static const char kTooLong[] = "(a command too long to send)";
        FailProtocol(c, kTooLong, sizeof kTooLong - 1, actions, true);
        return;
    }
    if (QueueBytes(c, command, "", "", actions))
        LogSent(actions, command, strlen(command));
    // For the log: what the message got before it goes out.
    char note[sizeof m->added + 40];
    if (m->codingOffset > 0)
        FormatText(note, sizeof note, "%s, %s", m->added,
                   c->quotedPrintable ? kCodingQuotedPrintable : kCoding8Bit);
    else
        CopyText(note, sizeof note, m->added[0] ? m->added : "nothing added");
    LogNote(actions, note);
}

// The transaction begins as after HELO: RSET, awaited in state 4.
static void BeginTransaction(SmtpConversation *c, SmtpActions *actions)
{
    c->prelude = kPreludeNone;
    // A settings check ends where the transaction would begin: what it tried has held.
    if (c->checkOnly) {
        c->verdict.kind = kVerdictChecked;
        c->verdict.state = kStateMailFrom;
        c->state = kStateSent;
        AddAction(actions, kActionStatus, kStatusCheckQuit);
        SendCommand(c, kCommandQuit, "", actions);
        return;
    }
    c->state = kStateMailFrom;
    SendCommand(c, kCommandRset, "", actions);
}

// The login begins with its first step; a check shows it.
static void StartLogin(SmtpConversation *c, PreludeStep step, const char *method,
                       SmtpActions *actions)
{
    c->prelude = step;
    c->loginMethod = method;
    if (c->checkOnly)
        AddAction(actions, kActionStatus, kStatusCheckLogin);
}

// After the last line of an accepted EHLO: TLS first, then the login, then the transaction.
static void StepAfterEhlo(SmtpConversation *c, SmtpActions *actions)
{
    const MailSettings *s = c->settings;
    if (s->security == kSecurityStartTls && !c->secure) {
        c->prelude = kPreludeStartTls;
        if (c->checkOnly)
            AddAction(actions, kActionStatus, kStatusCheckTls);
        SendCommand(c, kCommandStartTls, "", actions);
        return;
    }
    // The password or the token only ever goes inside TLS.
    if (s->user[0] != '\0' && c->secure) {
        if (s->auth == kAuthXoauth2) {
            char response[kXoauth2ResponseSize];
            if (MakeXoauth2Response(s->user, s->accessToken, response, sizeof response) == 0)
                CopyText(response, sizeof response, "=");  // cannot happen with the sizes used
            StartLogin(c, kPreludeAuthXoauth2, "XOAUTH2", actions);
            if (QueueBytes(c, kCommandAuthXoauth2, response, "\r\n", actions))
                LogSent(actions, kLogAuthXoauth2Hidden, strlen(kLogAuthXoauth2Hidden));
            WipeBytes(response, sizeof response);
            return;
        }
        if (c->offersAuthLogin && !c->offersAuthPlain) {
            StartLogin(c, kPreludeAuthLoginUser, "LOGIN", actions);
            SendCommand(c, kCommandAuthLogin, "", actions);
            return;
        }
        char response[kLoginLineMax];
        if (MakePlainResponse(s, response, sizeof response) == 0)
            CopyText(response, sizeof response, "=");  // cannot happen with the sizes used
        StartLogin(c, kPreludeAuthPlain, "PLAIN", actions);
        if (QueueBytes(c, kCommandAuthPlain, response, "\r\n", actions))
            LogSent(actions, kLogAuthPlainHidden, strlen(kLogAuthPlainHidden));
        WipeBytes(response, sizeof response);
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
    if (QueueBytes(c, "", encoded, "\r\n", actions))
        LogSent(actions, kLogHidden, strlen(kLogHidden));
    WipeBytes(encoded, sizeof encoded);
}

// A negative reply: the conversation is over, with the step it came in and the reply (and
// the recipient a RCPT TO named). The window says so and waits for the user.
static void Refuse(SmtpConversation *c, const char *line, size_t length, SmtpActions *actions)
{
    WipeLoginLines(c);
    SmtpVerdict *v = &c->verdict;
    v->kind = kVerdictRefused;
    v->state = c->state;
    v->prelude = c->state == kStateHelo ? c->prelude : kPreludeNone;
    v->recipient = -1;
    if (c->state == kStateRcptTo && c->recipientIndex > 0)
        v->recipient = c->recipientIndex - 1;
    else if (c->state == kStateData)
        v->recipient = c->message->recipientCount - 1;
    CopyTextN(v->reply, sizeof v->reply, line, length);
    CopyText(v->lines, sizeof v->lines, c->replyLines);
    AddAction(actions, kActionVerdict);
    AddAction(actions, kActionStatus, kStatusDisconnecting);
    c->prelude = kPreludeNone;
    c->state = kStateQuit;
    c->waitingForUser = true;
}

// The reply code a step before the transaction waits for.
static const char *ExpectedPreludeReply(PreludeStep step)
{
    switch (step) {
    case kPreludeEhlo:
        return "250";
    case kPreludeStartTls:
        return "220";
    case kPreludeAuthLoginUser:
    case kPreludeAuthLoginPassword:
        return "334";
    case kPreludeAuthPlain:
    case kPreludeAuthLoginDone:
    case kPreludeAuthXoauth2:
    case kPreludeAuthXoauth2Error:
        return "235";
    default:
        return nullptr;  // nothing is awaited while the handshake runs
    }
}

// The last line of a reply in a step before the transaction.
static void HandlePreludeLine(SmtpConversation *c, const char *line, size_t length,
                              bool early, SmtpActions *actions)
{
    const char *expected = ExpectedPreludeReply(c->prelude);
    if (!expected) {
        FailProtocol(c, line, length, actions);  // a reply in the middle of the handshake
        return;
    }
    // A refused token comes back at once (535), or as a 334 challenge that carries the
    // reason and is answered with an empty line; the refusal follows.
    if (c->prelude == kPreludeAuthXoauth2 && strncmp(line, "334", 3) == 0) {
        if (early) {
            FailProtocol(c, line, length, actions);
            return;
        }
        c->prelude = kPreludeAuthXoauth2Error;
        if (QueueBytes(c, "", "", "\r\n", actions))
            LogSent(actions, kLogHidden, strlen(kLogHidden));
        return;
    }
    if (strncmp(line, expected, 3) != 0) {
        Refuse(c, line, length, actions);
        return;
    }
    if (early) {
        FailProtocol(c, line, length, actions);
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
        c->earlyEnd = 0;
        c->prelude = kPreludeHandshake;
        c->tlsRequested = true;
        AddAction(actions, kActionStartTls);
        break;
    case kPreludeAuthLoginUser:
        c->prelude = kPreludeAuthLoginPassword;
        SendLoginValue(c, c->settings->user, actions);
        break;
    case kPreludeAuthLoginPassword:
        c->prelude = kPreludeAuthLoginDone;
        SendLoginValue(c, c->settings->password, actions);
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
        c->state = kStateHelo;
        if (UsesExtendedHello(c->settings))
            SendEhlo(c, actions);
        else
            SendCommand(c, kCommandHelo, m->greetingName, actions);
        break;
    case kStateHelo:
        BeginTransaction(c, actions);
        break;
    case kStateMailFrom:
        c->state = kStateRcptTo;
        c->recipientIndex = 0;
        SendMailFrom(c, actions);
        break;
    case kStateRcptTo:
        // One RCPT TO after another, each after the reply to the one before.
        if (c->recipientIndex + 1 >= m->recipientCount)
            c->state = kStateData;
        SendCommand(c, kCommandRcptTo, m->recipients[c->recipientIndex++], actions);
        break;
    case kStateData:
        c->state = kStateSendMsg;
        SendCommand(c, kCommandData, "", actions);
        break;
    case kStateSendMsg:
        c->state = kStateQuit;
        SendMessageText(c);
        c->earlyEnd = c->pendingLength;
        c->commandsQueued++;
        break;
    case kStateQuit:
        // The server has the message: from here on nothing makes it go out again.
        c->verdict.kind = kVerdictAccepted;
        c->verdict.state = kStateQuit;
        c->state = kStateSent;
        SendCommand(c, kCommandQuit, "", actions);
        break;
    default:  // 0, 3, 9 and 10: nothing to do
        break;
    }
}

// Delivered: the window closes itself once it has shown so.
static void Finish(SmtpConversation *c, SmtpActions *actions)
{
    AddAction(actions, kActionStatus, c->checkOnly ? kStatusCheckDone : kStatusSent);
    c->state = kStateDone;
    AddAction(actions, kActionStopTimer);
    AddAction(actions, kActionClose);
}

void HandleReplyLine(SmtpConversation *c, const char *line, size_t length, bool early,
                     SmtpActions *actions)
{
    // The log shows the whole line (a bare CR inside it too), without its line end; the
    // verdict keeps it as it came, CR and all, as the boxes have always shown it.
    size_t shown = length > 0 && line[length - 1] == '\r' ? length - 1 : length;
    CopyTextN(actions->received, sizeof actions->received, line, shown);
    size_t logged = shown < sizeof actions->received ? shown : sizeof actions->received - 1;
    AddAction(actions, kActionLogReceived, actions->received, logged);
    // Over: what comes now is logged and changes nothing.
    if (c->state == kStateIdle || c->state == kStateDone ||
        (c->verdict.kind != kVerdictNone && c->verdict.kind != kVerdictAccepted))
        return;
    // The lines of this reply, for the verdict.
    if (c->replyLinesLength + shown + 2 <= sizeof c->replyLines) {
        memcpy(c->replyLines + c->replyLinesLength, line, shown);
        c->replyLinesLength += shown;
        c->replyLines[c->replyLinesLength++] = '\n';
        c->replyLines[c->replyLinesLength] = '\0';
    }
    char text[kPendingReplySize];
    CopyTextN(text, sizeof text, line, length);
    bool prelude = c->state == kStateHelo && c->prelude != kPreludeNone;
    // Every line of the reply to EHLO may name an extension.
    if (prelude && c->prelude == kPreludeEhlo && strncmp(text, "250", 3) == 0)
        NoteExtension(c, text);
    // Only the last line of a multi-line reply counts; "250-..." lines are passed over.
    if (strlen(text) >= 4 && text[3] == '-')
        return;
    c->replyLinesLength = 0;  // the next line starts the next reply
    if (c->state == kStateSent) {
        // The reply to QUIT after the message was accepted (or the check came through):
        // whatever it says, done.
        if (!IsPositiveLine(text))
            LogNote(actions, c->checkOnly ? "QUIT refused at the end of the check"
                                          : "QUIT refused after the message was accepted: delivered all the same");
        Finish(c, actions);
        return;
    }
    if (prelude) {
        HandlePreludeLine(c, text, length, early, actions);
        c->replyLines[0] = '\0';
        return;
    }
    if (!IsPositiveLine(text)) {
        Refuse(c, text, length, actions);
        c->replyLines[0] = '\0';
        return;
    }
    // A positive line that came before the server could have had our last command answers
    // nothing: a second greeting, a proxy's banner, a reply sliding onto the wrong command.
    if (early) {
        FailProtocol(c, text, length, actions);
        return;
    }
    c->replyLines[0] = '\0';
    TakeStep(c, actions);
    c->lastStepState = c->state;
    c->waitingForUser = false;
}

bool TakeNextReply(SmtpConversation *c, SmtpActions *actions)
{
    const char *lineFeed = (const char *)memchr(c->pending, '\n', c->pendingLength);
    if (!lineFeed)
        return false;
    size_t lineLength = (size_t)(lineFeed - c->pending);
    bool early = c->earlyEnd > 0;
    size_t taken = lineLength + 1;
    c->earlyEnd = c->earlyEnd > taken ? c->earlyEnd - taken : 0;
    char line[kPendingReplySize];
    memcpy(line, c->pending, lineLength);
    line[lineLength] = '\0';
    c->pendingLength -= taken;
    memmove(c->pending, lineFeed + 1, c->pendingLength);
    c->pending[c->pendingLength] = '\0';
    HandleReplyLine(c, line, lineLength, early, actions);
    return true;
}

void AddReplyBytes(SmtpConversation *c, const char *bytes, size_t count, bool early,
                   SmtpActions *actions)
{
    if (c->pendingLength + count > kPendingReplySize - 1) {
        AddAction(actions, kActionOverrun);
        c->pending[0] = '\0';
        c->pendingLength = 0;
        c->earlyEnd = 0;
        return;
    }
    memcpy(c->pending + c->pendingLength, bytes, count);
    c->pendingLength += count;
    c->pending[c->pendingLength] = '\0';
    if (early)
        c->earlyEnd = c->pendingLength;
}
