// What the two conversation fuzzers share: the conversation driven directly, as the sending
// window drives it but without window, socket or fake platform. The input is a little
// program: each control byte picks an action (the server says the next bytes, or one of a
// few well-known lines; the socket takes some of what waits; the connection breaks; the
// channel comes up), and the driver answers replies only while all output has been taken,
// as the window does. It records what went out and checks what holds whatever the server
// says: the state stays in range, a verdict once reached is never undone, nothing goes out
// after a refusal, a protocol error or an overrun, and the message counts as accepted only
// when all of it had gone out before the reply that accepted it came.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mail/jobs/mail_log.h"
#include "mail/smtp/smtp.h"

struct ConversationRun {
    SmtpConversation *c;
    MailLog *log;           // may be off
    std::string sent;       // everything taken from the conversation, in order
    std::string clearSent;  // what was taken before TLS was asked for
    bool tlsAsked = false, secure = false;
    bool messageOut = false;       // the end-of-data mark has been taken
    bool lateBytes = false;        // bytes came after the message was out
    bool handshakeOutput = false;  // the conversation had output while the handshake ran
};

inline void Check(bool holds)
{
    if (!holds)
        abort();
}

inline void CarryOutActions(ConversationRun *run, const SmtpActions *a)
{
    for (int i = 0; i < a->count; i++) {
        const SmtpAction &action = a->items[i];
        switch (action.kind) {
        case kActionStartTls:
            run->tlsAsked = true;
            break;
        case kActionLogSent:
            MailLogText(run->log, '>', action.text);
            break;
        case kActionLogReceived:
            MailLogLine(run->log, '<', action.text, action.length);
            break;
        case kActionLogNote:  // a code the window words: no text of the conversation's
            Check(action.text == nullptr);
            break;
        default:
            break;
        }
    }
    Check(!a->overflow);
}

// Takes up to limit bytes of what waits (SIZE_MAX: all of it). True when nothing is left.
inline bool TakeOutput(ConversationRun *run, size_t limit)
{
    SmtpConversation *c = run->c;
    for (;;) {
        const char *data;
        size_t length;
        // Nothing of the conversation goes out while the handshake runs.
        if (run->tlsAsked && !run->secure) {
            if (HasUnsentOutput(c))
                run->handshakeOutput = true;
            return true;
        }
        if (!PendingOutput(c, &data, &length))
            return true;
        size_t n = length < limit ? length : limit;
        run->sent.append(data, n);
        if (!run->tlsAsked)
            run->clearSent.append(data, n);
        OutputTaken(c, n);
        limit -= n;
        if (!HasUnsentOutput(c) && c->state >= kStateQuit && c->messagePieces > 0)
            run->messageOut = true;
        if (limit == 0)
            return !HasUnsentOutput(c);
    }
}

// Answers replies while all output is out, as the window's pump does.
inline void Pump(ConversationRun *run)
{
    SmtpConversation *c = run->c;
    for (int guard = 0; guard < 4096; guard++) {
        if (!TakeOutput(run, (size_t)-1))
            return;
        SmtpVerdictKind before = c->verdict.kind;
        SmtpActions actions = {};
        if (!TakeNextReply(c, &actions))
            return;
        CarryOutActions(run, &actions);
        // Final: a refusal or a protocol error stays; acceptance stays.
        Check(before == kVerdictNone || c->verdict.kind == before);
        if (c->verdict.kind == kVerdictAccepted && before != kVerdictAccepted)
            Check(run->messageOut && run->lateBytes);
        Check(c->state >= kStateIdle && c->state <= kStateDone);
    }
}

inline void Feed(ConversationRun *run, const char *bytes, size_t count)
{
    SmtpConversation *c = run->c;
    // While the handshake runs, what comes is the channel's, never the conversation's.
    if (run->tlsAsked && !run->secure)
        return;
    bool early = HasUnsentOutput(c);
    if (run->messageOut && !early)
        run->lateBytes = true;
    SmtpActions actions = {};
    AddReplyBytes(c, bytes, count, early, &actions);
    CarryOutActions(run, &actions);
    Pump(run);
}

inline void Drive(ConversationRun *run, const uint8_t *data, size_t size,
                  const char *const *lines, size_t lineCount);

// A conversation started afresh over message and settings, connected, and driven by data.
inline void RunConversation(ConversationRun *run, SmtpConversation *c,
                            const MailSettings *settings, const QueuedMessage *message,
                            MailLog *log, const uint8_t *data, size_t size,
                            const char *const *lines, size_t lineCount)
{
    StartConversation(c, settings, message);
    ConnectIssued(c);
    run->c = c;
    run->log = log;
    Drive(run, data, size, lines, lineCount);
}

// Runs the program in data against a conversation already started and connected.
inline void Drive(ConversationRun *run, const uint8_t *data, size_t size,
                  const char *const *lines, size_t lineCount)
{
    SmtpConversation *c = run->c;
    SmtpActions actions = {};
    ConnectionMade(c, &actions);
    CarryOutActions(run, &actions);
    size_t i = 0;
    while (i < size) {
        uint8_t control = data[i++];
        unsigned argument = control >> 3;
        SmtpVerdictKind before = c->verdict.kind;
        size_t sentBefore = run->sent.size();
        switch (control & 7) {
        case 0:
        case 1: {  // the server sends the next 1 to 32 bytes
            size_t n = argument + 1;
            if (n > size - i)
                n = size - i;
            Feed(run, (const char *)data + i, n);
            i += n;
            break;
        }
        case 2:
        case 3: {
            const char *line = lines[argument % lineCount];
            Feed(run, line, strlen(line));
            break;
        }
        case 4:  // the socket takes a few bytes only, then is full
            TakeOutput(run, argument * 7 + 1);
            break;
        case 5:  // room again
            Pump(run);
            break;
        case 6:
            if (run->tlsAsked && !run->secure) {
                run->secure = true;
                SmtpActions ready = {};
                SecureChannelReady(c, &ready);
                CarryOutActions(run, &ready);
                Pump(run);
            }
            break;
        case 7:  // the connection breaks: what waits is lost, the window ends the message
            DropOutput(c);
            if (argument & 1) {
                SetVerdict(c, kVerdictFailed);
                return;
            }
            break;
        }
        Check(before == kVerdictNone || c->verdict.kind == before);
        // After a refusal, a protocol error or an overrun nothing more goes out.
        if (before == kVerdictRefused || before == kVerdictProtocolError ||
            before == kVerdictOverrun)
            Check(run->sent.size() == sentBefore);
    }
}
