// TLS for the conversation. The platform's provider turns bytes into handshake messages and
// records and back; everything about holding them is done here: what arrives is gathered until
// a whole message is in, what a step leaves over is kept for the next one (the server's first
// reply often comes with the last handshake bytes), and what goes out waits in order until
// the window has handed it to the socket.
#include "tls_channel.h"

#include <cstring>

#include "../../platform/plat_tls.h"

void TlsReset(TlsChannel *ch)
{
    PlatTlsClose(ch->tls);
    ch->tls = 0;
    ch->mode = kTlsPlain;
    ch->verified = false;
    ch->inLength = ch->inUsed = 0;
    ch->outLength = ch->outSent = 0;
    ch->header = ch->maxPayload = ch->trailer = 0;
}

bool TlsPendingOutput(const TlsChannel *ch, const char **data, size_t *length)
{
    if (ch->outSent >= ch->outLength)
        return false;
    *data = ch->out + ch->outSent;
    *length = ch->outLength - ch->outSent;
    return true;
}

void TlsOutputTaken(TlsChannel *ch, size_t count)
{
    size_t left = ch->outLength - ch->outSent;
    ch->outSent += count < left ? count : left;
    if (ch->outSent >= ch->outLength)
        ch->outLength = ch->outSent = 0;
}

void TlsDropOutput(TlsChannel *ch) { ch->outLength = ch->outSent = 0; }

// Queues bytes for the socket behind what is already waiting. False when they do not fit.
static bool QueueOutput(TlsChannel *ch, const char *bytes, size_t count)
{
    if (ch->outSent > 0) {
        memmove(ch->out, ch->out + ch->outSent, ch->outLength - ch->outSent);
        ch->outLength -= ch->outSent;
        ch->outSent = 0;
    }
    if (count > sizeof ch->out - ch->outLength)
        return false;
    memcpy(ch->out + ch->outLength, bytes, count);
    ch->outLength += count;
    return true;
}

static bool Fail(TlsFailure *failure, TlsFailureKind kind, unsigned long code)
{
    failure->kind = kind;
    failure->code = code;
    return false;
}

bool TlsStart(TlsChannel *ch, const char *serverName, TlsFailure *failure)
{
    TlsReset(ch);
    unsigned long error = 0;
    ch->tls = PlatTlsOpen(&error);
    if (!ch->tls)
        return Fail(failure, kTlsProviderFailure, error);
    ch->mode = kTlsHandshaking;
    char token[16 * 1024];
    size_t consumed = 0, tokenLength = 0;
    int status = PlatTlsHandshake(ch->tls, serverName, nullptr, 0, &consumed, token,
                                  sizeof token, &tokenLength, &error);
    if (status != PLAT_TLS_CONTINUE || !QueueOutput(ch, token, tokenLength)) {
        TlsReset(ch);
        return Fail(failure, kTlsProviderFailure,
                    status == PLAT_TLS_CONTINUE ? kTlsBufferTooSmall : error);
    }
    return true;
}

char *TlsInputSpace(TlsChannel *ch, size_t *room)
{
    *room = sizeof ch->in - ch->inLength;
    return ch->in + ch->inLength;
}

void TlsInputAdded(TlsChannel *ch, size_t count)
{
    size_t room = sizeof ch->in - ch->inLength;
    ch->inLength += count < room ? count : room;
}

// Drops the first count received bytes: they have been used.
static void UseInput(TlsChannel *ch, size_t count)
{
    if (count > ch->inLength)
        count = ch->inLength;
    memmove(ch->in, ch->in + count, ch->inLength - count);
    ch->inLength -= count;
}

// What one step of the handshake or one record gave.
enum StepResult { kStepAgain, kStepWait, kStepState };

// One handshake step on what has come in. kStepState with *state set when there is something
// to report.
static StepResult StepHandshake(TlsChannel *ch, const char *serverName, TlsState *state,
                                TlsFailure *failure)
{
    char token[16 * 1024];
    size_t consumed = 0, tokenLength = 0;
    unsigned long error = 0;
    int status = PlatTlsHandshake(ch->tls, serverName, ch->in, ch->inLength, &consumed, token,
                                  sizeof token, &tokenLength, &error);
    *state = kTlsFailed;
    if (status == PLAT_TLS_INCOMPLETE) {
        if (ch->inLength < sizeof ch->in)
            return kStepWait;
        Fail(failure, kTlsProviderFailure, kTlsBufferTooSmall);
        return kStepState;
    }
    if (status != PLAT_TLS_OK && status != PLAT_TLS_CONTINUE) {
        Fail(failure, kTlsProviderFailure, error);
        return kStepState;
    }
    if (!QueueOutput(ch, token, tokenLength)) {
        Fail(failure, kTlsProviderFailure, kTlsBufferTooSmall);
        return kStepState;
    }
    UseInput(ch, consumed);
    if (status == PLAT_TLS_CONTINUE)
        return consumed > 0 && ch->inLength > 0 ? kStepAgain : kStepWait;

    // Done: the server must prove it is the server that was asked for before a byte of the
    // conversation goes out.
    if (!ch->verified) {
        unsigned long verdict = PlatTlsVerifyServer(ch->tls, serverName);
        if (verdict != PLAT_CERT_OK) {
            Fail(failure, kTlsCertificateRefused, verdict);
            return kStepState;
        }
    }
    if (!PlatTlsSizes(ch->tls, &ch->header, &ch->maxPayload, &ch->trailer) ||
        ch->maxPayload == 0 || ch->header + ch->trailer >= sizeof ch->out / 2) {
        Fail(failure, kTlsProviderFailure, kTlsBufferTooSmall);
        return kStepState;
    }
    if (ch->maxPayload > sizeof ch->out / 2)
        ch->maxPayload = sizeof ch->out / 2;
    bool first = !ch->verified;
    ch->verified = true;
    ch->mode = kTlsSecure;
    if (!first)
        return kStepAgain;
    *state = kTlsSecured;
    return kStepState;
}

// One record on what has come in.
static StepResult StepRecord(TlsChannel *ch, const char **text, size_t *length,
                             TlsState *state, TlsFailure *failure)
{
    if (ch->inLength == 0)
        return kStepWait;
    size_t consumed = 0, offset = 0, plainLength = 0;
    unsigned long error = 0;
    int status = PlatTlsDecrypt(ch->tls, ch->in, ch->inLength, &consumed, &offset,
                                &plainLength, &error);
    *state = kTlsFailed;
    switch (status) {
    case PLAT_TLS_INCOMPLETE:
        if (ch->inLength < sizeof ch->in)
            return kStepWait;
        Fail(failure, kTlsProviderFailure, kTlsBufferTooSmall);
        return kStepState;
    case PLAT_TLS_CLOSED:
        *state = kTlsClosed;
        return kStepState;
    case PLAT_TLS_RENEGOTIATE:
        UseInput(ch, consumed);
        ch->mode = kTlsHandshaking;
        return kStepAgain;
    case PLAT_TLS_OK:
        break;
    default:
        Fail(failure, kTlsProviderFailure, error);
        return kStepState;
    }
    if (offset > ch->inLength || plainLength > ch->inLength - offset || consumed == 0) {
        Fail(failure, kTlsProviderFailure, kTlsBufferTooSmall);
        return kStepState;
    }
    if (plainLength == 0) {
        UseInput(ch, consumed);
        return kStepAgain;
    }
    // The text stays where it was decrypted until the next call.
    ch->inUsed = consumed;
    *text = ch->in + offset;
    *length = plainLength;
    *state = kTlsText;
    return kStepState;
}

TlsState TlsNextState(TlsChannel *ch, const char *serverName, const char **text,
                      size_t *length, TlsFailure *failure)
{
    UseInput(ch, ch->inUsed);
    ch->inUsed = 0;
    for (;;) {
        TlsState state = kTlsWantInput;
        StepResult step;
        if (ch->mode == kTlsHandshaking)
            step = StepHandshake(ch, serverName, &state, failure);
        else if (ch->mode == kTlsSecure)
            step = StepRecord(ch, text, length, &state, failure);
        else
            return kTlsWantInput;
        if (step == kStepWait)
            return kTlsWantInput;
        if (step == kStepState)
            return state;
    }
}

size_t TlsEncrypt(TlsChannel *ch, const char *data, size_t length)
{
    if (ch->mode != kTlsSecure || ch->outSent < ch->outLength)
        return 0;  // nothing of the conversation goes out before the handshake, nor overtakes
    ch->outLength = ch->outSent = 0;
    // As many whole records as the output holds: they go to the socket as one send.
    size_t taken = 0;
    while (taken < length) {
        size_t left = length - taken;
        size_t piece = left < ch->maxPayload ? left : ch->maxPayload;
        size_t room = sizeof ch->out - ch->outLength;
        if (ch->header + piece + ch->trailer > room)
            break;
        unsigned long error = 0;
        size_t record = PlatTlsEncrypt(ch->tls, data + taken, piece, ch->out + ch->outLength,
                                       room, &error);
        if (record == 0)
            return taken > 0 ? taken : (size_t)-1;
        ch->outLength += record;
        taken += piece;
    }
    return taken;
}
