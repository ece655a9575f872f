// The connection as the conversation sees it: plain text out and in. Until TLS is started it
// is the socket itself; once started, the handshake runs here, every byte sent is encrypted
// into records and every record received is decrypted before its text reaches the reply
// lines.
#pragma once
#include <cstddef>

#include "../platform/plat_types.h"

// Back to plain: releases a TLS session and forgets every byte held for it.
void TransportReset(void);

// True once TLS has been started (handshake running or done).
bool TransportStarted(void);
// True while the handshake is done and the certificate was found good.
bool TransportSecure(void);

// Starts TLS on the connected socket: sends the first handshake message. 1 to go on; 0 after
// the box that says why it could not start.
int TransportStartTls(PlatWindow window);

// Hands text to the connection: returns how much of it was taken (possibly less than length),
// 0 when nothing could be taken now (the write event brings the caller back), -1 when the
// connection is broken.
int TransportSend(const char *data, int length);

// Sends what TLS still holds for the socket. -1 when the connection is broken, else 1.
int TransportFlush(void);
// True while TLS holds bytes the socket has not taken.
bool TransportOutputPending(void);
// Forgets what TLS holds for the socket (the connection is gone).
void TransportDropOutput(void);

// A read event once TLS has been started: receives, steps the handshake or decrypts, and
// hands the text to AddReplyBytes. 1 to go on; 0 when the connection failed (after its box).
int TransportReceive(PlatWindow window);

// The certificate verdict as the format of its box: the server name, (the number,) the queue
// folder. Exposed for the tests.
const char *CertificateFailureText(unsigned long verdict, bool *withNumber);
