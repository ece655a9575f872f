// TLS for the conversation, as a channel that moves no byte itself: the window puts what the
// socket delivered in, asks for the next state (more input needed, text for the conversation,
// secured, closed, failed with a verdict) and takes out the bytes to transmit. It shows no box
// and calls nothing of the mail code; the window turns a failure into the box text.
#pragma once
#include <cstddef>

#include "../../platform/plat_tls.h"

enum TlsMode {
    kTlsPlain = 0,    // not started: the connection is the socket itself
    kTlsHandshaking,  // the handshake runs (also for a later step the server asks for)
    kTlsSecure,       // records both ways
};

// What TlsNextState found.
enum TlsState {
    kTlsWantInput,  // nothing more to do until more bytes arrive
    kTlsSecured,    // the handshake is done and the certificate good (reported once)
    kTlsText,       // decrypted text for the conversation
    kTlsClosed,     // the server ended the session (close notify)
    kTlsFailed,     // see the failure
};

// Why TLS failed: the provider's status, or the certificate's verdict.
enum TlsFailureKind {
    kTlsProviderFailure,     // code: the provider's status (or SEC_E_BUFFER_TOO_SMALL)
    kTlsCertificateRefused,  // code: the verdict of the certificate check
};

// The provider's status for a message too large for the buffers (SEC_E_BUFFER_TOO_SMALL).
const unsigned long kTlsBufferTooSmall = 0x80090321;

struct TlsFailure {
    TlsFailureKind kind;
    unsigned long code;
};

// Received bytes not yet used: a record or handshake message is taken only when whole. The
// largest record is 16 KB of text plus its overhead; handshake messages are smaller.
const size_t kTlsInSize = 64 * 1024;
// Bytes for the socket: handshake messages, then records. The records of one whole piece of
// the message (1 MB, with each record's overhead) are gathered into one send: under Wine every
// send is a round trip to the server process.
const size_t kTlsOutSize = 1024 * 1024 + 64 * 1024;

struct TlsChannel {
    PlatTls tls;
    TlsMode mode;
    bool verified;  // the certificate was judged (a later handshake step needs no second look)
    char in[kTlsInSize];
    size_t inLength;
    size_t inUsed;  // bytes of in that the last kTlsText stands on; dropped at the next call
    char out[kTlsOutSize];
    size_t outLength, outSent;
    size_t header, maxPayload, trailer;
};

// Back to plain: releases the session and forgets every byte held for it.
void TlsReset(TlsChannel *channel);

// Starts the handshake toward serverName: the first handshake message waits in the output.
// False, with the failure, when the provider could not start.
bool TlsStart(TlsChannel *channel, const char *serverName, TlsFailure *failure);

// Where received bytes go: *room bytes free at the returned pointer (0 when the input is full:
// a message larger than any TLS sends, a failure with kTlsBufferTooSmall). TlsInputAdded says
// how many were put.
char *TlsInputSpace(TlsChannel *channel, size_t *room);
void TlsInputAdded(TlsChannel *channel, size_t count);

// The next thing the input holds. For kTlsText, *text and *length give the decrypted text; it
// stays valid until the next call. Handshake messages to send are put in the output.
TlsState TlsNextState(TlsChannel *channel, const char *serverName, const char **text,
                      size_t *length, TlsFailure *failure);

// Encrypts as much of data as the output has room for, in records of the largest payload.
// Returns the bytes taken: 0 while the output still holds bytes for the socket or before the
// handshake is done; (size_t)-1 when the provider failed.
size_t TlsEncrypt(TlsChannel *channel, const char *data, size_t length);

// The bytes waiting for the socket: false when there are none. OutputTaken: the socket took
// count of them.
bool TlsPendingOutput(const TlsChannel *channel, const char **data, size_t *length);
void TlsOutputTaken(TlsChannel *channel, size_t count);
// Forgets what waits for the socket (the connection is gone).
void TlsDropOutput(TlsChannel *channel);
