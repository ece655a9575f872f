// The SMTP conversation: received bytes become reply lines, each complete reply that carries
// its step's one expected code moves it one step and answers with the next command; a
// negative reply, or a reply that answers something else, ends it with its verdict. What goes
// out is held here until the window has handed it to the connection, a piece at a time for
// the message.
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

// One row per step, in the order of SmtpStep.
static const SmtpStepRow kStepTable[kSmtpStepCount] = {
    // command, expected, goOn, name, refusal, refusalAdvised, timeout
    {nullptr, nullptr, nullptr, "?", kTextRefusedQuit, nullptr, kReplyMilliseconds},
    {nullptr, "220", nullptr, "CONNECTING", kTextRefusedGreeting, nullptr, kReplyMilliseconds},
    {kCommandHelo, "250", nullptr, "HELO", kTextRefusedHelo, nullptr, kReplyMilliseconds},
    {kCommandEhlo, "250", nullptr, "EHLO", kTextEhloError, nullptr, kReplyMilliseconds},
    {kCommandStartTls, "220", nullptr, "STARTTLS", kTextStartTlsError, nullptr,
     kReplyMilliseconds},
    {nullptr, nullptr, nullptr, "TLS", kTextStartTlsError, nullptr, kReplyMilliseconds},
    {kCommandAuthPlain, "235", nullptr, "AUTH", kTextAuthError, nullptr, kReplyMilliseconds},
    {kCommandAuthLogin, "334", nullptr, "AUTH", kTextAuthError, nullptr, kReplyMilliseconds},
    {nullptr, "334", nullptr, "AUTH", kTextAuthError, nullptr, kReplyMilliseconds},
    {nullptr, "235", nullptr, "AUTH", kTextAuthError, nullptr, kReplyMilliseconds},
    {kCommandAuthXoauth2, "235", "334", "AUTH", kTextXoauth2Error, kTextAuthError,
     kReplyMilliseconds},
    {nullptr, "235", nullptr, "AUTH", kTextXoauth2Error, kTextAuthError, kReplyMilliseconds},
    {kCommandRset, "250", nullptr, "MAIL FROM", kTextRefusedRset, nullptr, kReplyMilliseconds},
    {kCommandMailFrom, "250", nullptr, "RCPT TO", kTextRefusedMailFrom, nullptr,
     kReplyMilliseconds},
    {kCommandRcptTo, "250", nullptr, "RCPT TO", kTextRefusedMailFrom, nullptr,
     kReplyMilliseconds},
    {kCommandRcptTo, "250", nullptr, "DATA", kTextRefusedLastRcptTo, nullptr,
     kReplyMilliseconds},
    {kCommandData, "354", nullptr, "SEND MSG", kTextRefusedData, nullptr, kReplyMilliseconds},
    {nullptr, "250", nullptr, "QUIT", kTextRefusedMessage, nullptr, kMessageReplyMilliseconds},
    {kCommandQuit, "221", nullptr, "SENT", kTextRefusedQuit, nullptr, kReplyMilliseconds},
};

const SmtpStepRow *StepRow(int step)
{
    return &kStepTable[step > kSmtpNone && step < kSmtpStepCount ? step : kSmtpNone];
}

bool IsStepReplyCode(const char *line)
{
    if (strlen(line) < 3)
        return false;
    for (const SmtpStepRow &row : kStepTable)
        if ((row.expected && strncmp(line, row.expected, 3) == 0) ||
            (row.goOn && strncmp(line, row.goOn, 3) == 0))
            return true;
    return false;
}

static void AddAction(SmtpActions *actions, SmtpActionKind kind, int code = 0,
                      const char *text = nullptr, size_t length = 0)
{
    if (actions->count >= kActionsMax) {
        actions->overflow = true;  // the window makes this a failure of the message
        return;
    }
    actions->items[actions->count++] = {kind, code, text, length};
}

static void WipeLoginLines(SmtpConversation *c) { WipeBytes(c->out, kLoginLineMax); }

// For the mail log: what went out, its line end left off, as the log may show it.
static void LogSent(SmtpActions *actions, const char *text, size_t length)
{
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r'))
        length--;
    CopyTextN(actions->sent, sizeof actions->sent, text, length);
    AddAction(actions, kActionLogSent, 0, actions->sent);
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
    c->step = kSmtpNone;
    c->offersAuthPlain = c->offersAuthLogin = c->offersSize = c->offers8BitMime = false;
    c->tlsRequested = c->secure = c->waitingForUser = c->checkOnly = false;
    c->login = kLoginNone;
    c->sizeLimit = 0;
    c->recipientIndex = 0;
    c->quotedPrintable = false;
    memset(&c->verdict, 0, sizeof c->verdict);
    c->verdict.recipient = -1;
    c->messageBytes = 0;
    c->messagePieces = 0;
    c->pending[0] = '\0';
    c->pendingLength = c->openLineLength = 0;
    c->overrun = false;
    c->earlyEnd = 0;
    c->commandsQueued = 0;
    c->replyLines[0] = '\0';
    c->replyLinesLength = 0;
    c->replyCode[0] = '\0';
    DropOutput(c);
}

void EndConversation(SmtpConversation *c)
{
    DropOutput(c);
    WipeLoginLines(c);
}

void ConnectIssued(SmtpConversation *c)
{
    c->state = kStateConnecting;
    c->step = kSmtpGreeting;
}

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
        c->verdict.step = c->step;
    }
}

bool HasUnsentOutput(const SmtpConversation *c)
{
    return c->outSent < c->outLength || c->segmentIndex < c->segmentCount || c->mark;
}

bool AwaitingMessageReply(const SmtpConversation *c)
{
    return c->step == kSmtpMessage && c->verdict.kind == kVerdictNone && c->messagePieces > 0 &&
           !HasUnsentOutput(c);
}

unsigned ReplyTimeout(const SmtpConversation *c)
{
    return c->verdict.kind == kVerdictNone ? StepRow(c->step)->timeout : kReplyMilliseconds;
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

// Ends the conversation with its verdict: a refusal or a protocol error, in the step
// awaited, with the line that came (none for a fault of ours). The window says so and waits
// for the user, or closes.
static void EndWithVerdict(SmtpConversation *c, SmtpVerdictKind kind, SmtpFault fault,
                           const char *line, size_t length, SmtpActions *actions)
{
    WipeLoginLines(c);
    DropOutput(c);
    SmtpVerdict *v = &c->verdict;
    v->kind = kind;
    v->state = c->state;
    v->step = c->step;
    v->fault = fault;
    v->recipient = -1;
    if (kind == kVerdictRefused && (c->step == kSmtpRcptTo || c->step == kSmtpLastRcptTo))
        v->recipient = c->recipientIndex - 1;
    CopyTextN(v->reply, sizeof v->reply, line, length);
    CopyText(v->lines, sizeof v->lines, c->replyLines);
    c->replyLines[0] = '\0';
    c->replyLinesLength = 0;
    AddAction(actions, kActionVerdict);
    AddAction(actions, kActionStatus, kSmtpStatusDisconnecting);
    c->step = kSmtpNone;
    c->state = kStateQuit;
    c->waitingForUser = true;
}

static void FailProtocol(SmtpConversation *c, SmtpFault fault, const char *line, size_t length,
                         SmtpActions *actions)
{
    EndWithVerdict(c, kVerdictProtocolError, fault, line, length, actions);
}

void SetProtocolFault(SmtpConversation *c, SmtpFault fault)
{
    if (c->verdict.kind != kVerdictNone)
        return;
    SmtpActions ignored = {};
    EndWithVerdict(c, kVerdictProtocolError, fault, "", 0, &ignored);
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
        FailProtocol(c, kFaultCommandTooLong, "", 0, actions);
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

// The step begins: its command goes out (with value for its "%s"), and its reply is awaited.
static void SendStep(SmtpConversation *c, SmtpStep step, const char *value, SmtpActions *actions)
{
    c->step = step;
    char command[kBoxTextSize];
    if (!FormatText(command, sizeof command, StepRow(step)->command, value)) {
        FailProtocol(c, kFaultCommandTooLong, "", 0, actions);
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
    SendStep(c, kSmtpEhlo, c->message->greetingName, actions);
}

// True when the extension line (after its code) names keyword, in either case (RFC 5321
// section 2.4), followed by a blank, "=", a line end or nothing.
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
    return p[n] == '\0' || p[n] == ' ' || p[n] == '\r' || p[n] == '=';
}

// One line of the reply to EHLO: notes SIZE and 8BITMIME, and the login methods an "AUTH"
// line offers (also in the older "AUTH=" form).
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
    if (!NamesExtension(p, "AUTH") || p[4] == '\0' || p[4] == '\r')
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
    c->step = kSmtpMailFrom;
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
        FailProtocol(c, kFaultCommandTooLong, "", 0, actions);
        return;
    }
    if (QueueBytes(c, command, "", "", actions))
        LogSent(actions, command, strlen(command));
    // For the log: what the message got before it goes out, and how its body goes.
    AddAction(actions, kActionLogNote, kSmtpNoteMessageHead);
}

// The transaction begins as after HELO: RSET, awaited in state 4.
static void BeginTransaction(SmtpConversation *c, SmtpActions *actions)
{
    // A settings check ends where the transaction would begin: what it tried has held.
    if (c->checkOnly) {
        c->verdict.kind = kVerdictChecked;
        c->verdict.state = kStateMailFrom;
        c->state = kStateSent;
        AddAction(actions, kActionStatus, kSmtpStatusCheckQuit);
        SendStep(c, kSmtpQuit, "", actions);
        return;
    }
    c->state = kStateMailFrom;
    SendStep(c, kSmtpRset, "", actions);
}

// The login begins with its first step; a check shows it.
static void StartLogin(SmtpConversation *c, SmtpStep step, SmtpLogin login,
                       SmtpActions *actions)
{
    c->step = step;
    c->login = login;
    if (c->checkOnly)
        AddAction(actions, kActionStatus, kSmtpStatusCheckLogin);
}

// After the last line of an accepted EHLO: TLS first, then the login, then the transaction.
static void StepAfterEhlo(SmtpConversation *c, SmtpActions *actions)
{
    const MailSettings *s = c->settings;
    if (s->security == kSecurityStartTls && !c->secure) {
        if (c->checkOnly)
            AddAction(actions, kActionStatus, kSmtpStatusCheckTls);
        SendStep(c, kSmtpStartTls, "", actions);
        return;
    }
    // The password or the token only ever goes inside TLS.
    if (s->user[0] != '\0' && c->secure) {
        if (s->auth == kAuthXoauth2) {
            char response[kXoauth2ResponseSize];
            if (MakeXoauth2Response(s->user, s->accessToken, response, sizeof response) == 0)
                CopyText(response, sizeof response, "=");  // cannot happen with the sizes used
            StartLogin(c, kSmtpAuthXoauth2, kLoginXoauth2, actions);
            if (QueueBytes(c, kCommandAuthXoauth2, response, "\r\n", actions))
                LogSent(actions, kLogAuthXoauth2Hidden, strlen(kLogAuthXoauth2Hidden));
            WipeBytes(response, sizeof response);
            return;
        }
        if (c->offersAuthLogin && !c->offersAuthPlain) {
            StartLogin(c, kSmtpAuthLogin, kLoginLogin, actions);
            SendStep(c, kSmtpAuthLogin, "", actions);
            return;
        }
        char response[kLoginLineMax];
        if (MakePlainResponse(s, response, sizeof response) == 0)
            CopyText(response, sizeof response, "=");  // cannot happen with the sizes used
        StartLogin(c, kSmtpAuthPlain, kLoginPlain, actions);
        if (QueueBytes(c, kCommandAuthPlain, response, "\r\n", actions))
            LogSent(actions, kLogAuthPlainHidden, strlen(kLogAuthPlainHidden));
        WipeBytes(response, sizeof response);
        return;
    }
    BeginTransaction(c, actions);
}

// Sends one value of the login in base64 (AUTH LOGIN's user name and password) or, for
// XOAUTH2's challenge, an empty line: each answers a 334, and the log never shows such a line.
static void SendLoginValue(SmtpConversation *c, SmtpStep step, const char *value,
                           SmtpActions *actions)
{
    c->step = step;
    char encoded[kLoginLineMax];
    if (Base64Encode((const unsigned char *)value, strlen(value), false, encoded, sizeof encoded) == 0)
        encoded[0] = '\0';
    if (QueueBytes(c, "", encoded, "\r\n", actions))
        LogSent(actions, kLogHidden, strlen(kLogHidden));
    WipeBytes(encoded, sizeof encoded);
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
    if (c->step == kSmtpHandshake)
        SendEhlo(c, actions);
}

// The step on the expected reply to the step awaited.
static void TakeStep(SmtpConversation *c, SmtpActions *actions)
{
    const QueuedMessage *m = c->message;
    switch (c->step) {
    case kSmtpGreeting:
        AddAction(actions, kActionStatus, kSmtpStatusGreeted);
        c->state = kStateHelo;
        if (UsesExtendedHello(c->settings))
            SendEhlo(c, actions);
        else
            SendStep(c, kSmtpHelo, m->greetingName, actions);
        break;
    case kSmtpEhlo:
        StepAfterEhlo(c, actions);
        break;
    case kSmtpStartTls:
        // Whatever came in clear after the server's go-ahead is not trusted: dropped.
        c->pending[0] = '\0';
        c->pendingLength = c->openLineLength = 0;
        c->earlyEnd = 0;
        c->step = kSmtpHandshake;
        c->tlsRequested = true;
        AddAction(actions, kActionStartTls);
        break;
    case kSmtpAuthLogin:
        SendLoginValue(c, kSmtpAuthLoginUser, c->settings->user, actions);
        break;
    case kSmtpAuthLoginUser:
        SendLoginValue(c, kSmtpAuthLoginPassword, c->settings->password, actions);
        break;
    case kSmtpAuthPlain:
    case kSmtpAuthLoginPassword:
    case kSmtpAuthXoauth2:
    case kSmtpAuthXoauth2Error:
        WipeLoginLines(c);  // logged in
        BeginTransaction(c, actions);
        break;
    case kSmtpHelo:
        BeginTransaction(c, actions);
        break;
    case kSmtpRset:
        c->state = kStateRcptTo;
        c->recipientIndex = 0;
        SendMailFrom(c, actions);
        break;
    case kSmtpMailFrom:
    case kSmtpRcptTo: {
        // One RCPT TO after another, each after the reply to the one before.
        bool last = c->recipientIndex + 1 >= m->recipientCount;
        if (last)
            c->state = kStateData;
        SendStep(c, last ? kSmtpLastRcptTo : kSmtpRcptTo, m->recipients[c->recipientIndex++],
                 actions);
        break;
    }
    case kSmtpLastRcptTo:
        c->state = kStateSendMsg;
        SendStep(c, kSmtpData, "", actions);
        break;
    case kSmtpData:
        c->state = kStateQuit;
        c->step = kSmtpMessage;
        SendMessageText(c);
        c->earlyEnd = c->pendingLength;
        c->commandsQueued++;
        break;
    case kSmtpMessage:
        // The server has the message: from here on nothing makes it go out again.
        c->verdict.kind = kVerdictAccepted;
        c->verdict.state = kStateQuit;
        c->verdict.step = kSmtpMessage;
        c->state = kStateSent;
        SendStep(c, kSmtpQuit, "", actions);
        break;
    default:  // the handshake, QUIT (answered before any step), nothing awaited
        break;
    }
}

// Delivered (or the check is through): the window closes itself once it has shown so.
static void Finish(SmtpConversation *c, SmtpActions *actions)
{
    AddAction(actions, kActionStatus,
              c->checkOnly ? kSmtpStatusCheckDone : kSmtpStatusSent);
    c->state = kStateDone;
    c->step = kSmtpNone;
    AddAction(actions, kActionStopTimer);
    AddAction(actions, kActionClose);
}

// The last line of a reply to the step awaited: the step goes on, or the conversation ends
// with a refusal or a protocol error.
static void HandleLastLine(SmtpConversation *c, const char *text, size_t length, bool early,
                           SmtpActions *actions)
{
    const SmtpStepRow *row = StepRow(c->step);
    bool expected = row->expected && strncmp(text, row->expected, 3) == 0;
    bool goOn = row->goOn && strncmp(text, row->goOn, 3) == 0;
    // A negative reply is the server's answer whenever it came; a positive one that came
    // before the server could have had our last command answers nothing: a second greeting,
    // a proxy's banner, a reply sliding onto the wrong command. Nothing is awaited while the
    // handshake runs.
    if (!row->expected || (early && IsStepReplyCode(text))) {
        FailProtocol(c, kFaultEarly, text, length, actions);
        return;
    }
    if (goOn) {
        // A refused token comes back at once (535), or as a 334 challenge that carries the
        // reason and is answered with an empty line; the refusal follows.
        SendLoginValue(c, kSmtpAuthXoauth2Error, "", actions);
        return;
    }
    if (!expected) {
        // The positive reply of another step answers something else: the server is a step
        // ahead or behind, or something in between speaks for it.
        if (IsStepReplyCode(text))
            FailProtocol(c, kFaultUnexpected, text, length, actions);
        else
            EndWithVerdict(c, kVerdictRefused, kFaultNone, text, length, actions);
        return;
    }
    c->replyLines[0] = '\0';
    c->replyLinesLength = 0;
    TakeStep(c, actions);
    c->lastStepState = c->state;
    c->waitingForUser = false;
}

void HandleReplyLine(SmtpConversation *c, const char *line, size_t length, bool early,
                     SmtpActions *actions)
{
    // The log shows the whole line (a bare CR inside it too), without its line end; the
    // verdict keeps it as it came, CR and all, as the boxes have always shown it.
    size_t shown = length > 0 && line[length - 1] == '\r' ? length - 1 : length;
    CopyTextN(actions->received, sizeof actions->received, line, shown);
    size_t logged = shown < sizeof actions->received ? shown : sizeof actions->received - 1;
    AddAction(actions, kActionLogReceived, 0, actions->received, logged);
    // Over, or nothing awaited: what comes now is logged and changes nothing.
    if (c->step == kSmtpNone || c->state == kStateIdle || c->state == kStateDone ||
        (c->verdict.kind != kVerdictNone && !ConversationSucceeded(c)))
        return;
    char text[kPendingReplySize];
    CopyTextN(text, sizeof text, line, length);
    bool first = c->replyLinesLength == 0;
    // The lines of this reply, for the verdict.
    if (c->replyLinesLength + shown + 2 <= sizeof c->replyLines) {
        memcpy(c->replyLines + c->replyLinesLength, line, shown);
        c->replyLinesLength += shown;
        c->replyLines[c->replyLinesLength++] = '\n';
        c->replyLines[c->replyLinesLength] = '\0';
    }
    bool last = !(strlen(text) >= 4 && text[3] == '-');
    if (c->state == kStateSent) {
        // The reply to QUIT after the message was accepted (or the check came through):
        // whatever it says, done.
        if (!last)
            return;
        if (!IsStepReplyCode(text))
            AddAction(actions, kActionLogNote, kSmtpNoteQuitRefused);
        c->replyLinesLength = 0;
        Finish(c, actions);
        return;
    }
    // Every line of one reply carries its code.
    if (first)
        CopyTextN(c->replyCode, sizeof c->replyCode, text, 3);
    else if (strncmp(text, c->replyCode, 3) != 0) {
        FailProtocol(c, kFaultMixedCodes, text, length, actions);
        return;
    }
    // Every line of the reply to EHLO may name an extension.
    if (c->step == kSmtpEhlo && strncmp(text, "250", 3) == 0)
        NoteExtension(c, text);
    // Only the last line of a multi-line reply counts; "250-..." lines are passed over.
    if (!last)
        return;
    c->replyLinesLength = 0;  // the next line starts the next reply
    HandleLastLine(c, text, length, early, actions);
}

bool TakeNextReply(SmtpConversation *c, SmtpActions *actions)
{
    const char *lineFeed = (const char *)memchr(c->pending, '\n', c->pendingLength);
    if (!lineFeed)
        return false;
    size_t lineLength = (size_t)(lineFeed - c->pending);
    bool early = c->earlyEnd > 0;
    size_t taken = lineLength + 1;
    if (lineLength > kReplyLineMax)
        lineLength = kReplyLineMax;  // never so: AddReplyBytes keeps every line within it
    c->earlyEnd = c->earlyEnd > taken ? c->earlyEnd - taken : 0;
    char line[kReplyLineMax + 1];
    CopyTextN(line, sizeof line, c->pending, lineLength);
    c->pendingLength -= taken;
    memmove(c->pending, lineFeed + 1, c->pendingLength);
    c->pending[c->pendingLength] = '\0';
    HandleReplyLine(c, line, lineLength, early, actions);
    return true;
}

// A line overflowed: nothing of it counts, and nothing after it either. Before the verdict
// that is a failure of the message; once the message was accepted (or the check came
// through) the conversation simply ends; after a refusal it changes nothing.
static void ReplyOverrun(SmtpConversation *c, SmtpActions *actions)
{
    c->overrun = true;
    c->pending[0] = '\0';
    c->pendingLength = c->openLineLength = 0;
    c->earlyEnd = 0;
    if (c->state == kStateIdle || c->state == kStateDone)
        return;
    if (c->verdict.kind == kVerdictNone) {
        WipeLoginLines(c);
        DropOutput(c);
        SetVerdict(c, kVerdictOverrun);
        c->step = kSmtpNone;
        AddAction(actions, kActionVerdict);
    } else if (ConversationSucceeded(c)) {
        Finish(c, actions);
    }
}

void AddReplyBytes(SmtpConversation *c, const char *bytes, size_t count, bool early,
                   SmtpActions *actions)
{
    if (c->overrun)
        return;
    // The line still open after these bytes, each line within its limit.
    size_t open = c->openLineLength;
    for (size_t i = 0; i < count; i++) {
        open = bytes[i] == '\n' ? 0 : open + 1;
        if (open > kReplyLineMax) {
            ReplyOverrun(c, actions);
            return;
        }
    }
    if (c->pendingLength + count > sizeof c->pending - 1) {
        ReplyOverrun(c, actions);
        return;
    }
    memcpy(c->pending + c->pendingLength, bytes, count);
    c->pendingLength += count;
    c->pending[c->pendingLength] = '\0';
    c->openLineLength = open;
    if (early)
        c->earlyEnd = c->pendingLength;
}
