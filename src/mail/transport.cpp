// TLS for the conversation. The platform's provider turns bytes into handshake messages and
// records and back; everything about moving them is done here: what arrives is gathered
// until a whole message is in, what a step leaves over is kept for the next one (the server's
// first reply often comes with the last handshake bytes), and records go out in order, carried
// over as many write events as the socket needs.
#include "transport.h"

#include <cstring>

#include "../app/dispatcher.h"
#include "../base/error_box.h"
#include "../base/paths.h"
#include "../base/text.h"
#include "../platform/plat_net.h"
#include "../platform/plat_tls.h"
#include "mail_texts.h"
#include "sending_window.h"
#include "smtp.h"

enum { kPlain, kHandshaking, kSecure };

static int gMode = kPlain;
static PlatTls gTls;
static bool gVerified;  // the certificate was judged (a later handshake step needs no second look)

// Received bytes not yet used: a record or handshake message is taken only when whole. The
// largest record is 16 KB of text plus its overhead; handshake messages are smaller.
static const size_t kInSize = 64 * 1024;
static char gIn[kInSize];
static size_t gInLength;

// Bytes for the socket: handshake messages, then records. The records of one whole piece of
// the message (1 MB, with each record's overhead) are gathered into one send: under Wine every
// send is a round trip to the server process.
static const size_t kOutSize = 1024 * 1024 + 64 * 1024;
static char gOut[kOutSize];
static size_t gOutLength, gOutSent;

static size_t gHeader, gMaxPayload, gTrailer;

// The provider's status for a buffer too small to hold a message (SEC_E_BUFFER_TOO_SMALL).
static const unsigned long kBufferTooSmall = 0x80090321;

void TransportReset(void)
{
    PlatTlsClose(gTls);
    gTls = 0;
    gMode = kPlain;
    gVerified = false;
    gInLength = 0;
    gOutLength = gOutSent = 0;
    gHeader = gMaxPayload = gTrailer = 0;
}

bool TransportStarted(void) { return gMode != kPlain; }
bool TransportSecure(void) { return gMode == kSecure; }
bool TransportOutputPending(void) { return gOutSent < gOutLength; }
void TransportDropOutput(void) { gOutLength = gOutSent = 0; }

// A TLS failure: the server name, (a status number,) the queue folder.
static void ShowTlsFailure(PlatWindow window, const char *format, bool withNumber,
                           unsigned long number)
{
    char folder[kCommandArgumentSize + 8];
    MakeQueueFolderText(folder, sizeof folder);
    char text[1000];
    if (withNumber)
        FormatText(text, sizeof text, format, gSmtpServer, (unsigned)number, folder);
    else
        FormatText(text, sizeof text, format, gSmtpServer, folder);
    ShowErrorBox(window, text);
}

const char *CertificateFailureText(unsigned long verdict, bool *withNumber)
{
    *withNumber = false;
    switch (verdict) {
    case PLAT_CERT_E_UNTRUSTEDROOT:
    case PLAT_CERT_E_UNTRUSTEDTESTROOT:
    case PLAT_CERT_E_CHAINING:
    case PLAT_TRUST_E_CERT_SIGNATURE:
        return kTextCertUntrusted;
    case PLAT_CERT_E_CN_NO_MATCH:
        return kTextCertNameMismatch;
    case PLAT_CERT_E_EXPIRED:
        return kTextCertExpired;
    case PLAT_CERT_E_REVOKED:
        return kTextCertRevoked;
    default:
        *withNumber = true;
        return kTextCertOther;
    }
}

int TransportFlush(void)
{
    while (gOutSent < gOutLength) {
        int n = PlatSend(gSocket, gOut + gOutSent, (int)(gOutLength - gOutSent));
        if (n < 0) {
            TransportDropOutput();
            return -1;
        }
        if (n == 0)
            return 1;  // would block: the write event brings us back
        gOutSent += (size_t)n;
    }
    gOutLength = gOutSent = 0;
    return 1;
}

// Queues bytes for the socket behind what is already waiting. False when they do not fit.
static bool QueueOutput(const char *bytes, size_t count)
{
    if (gOutSent > 0) {
        memmove(gOut, gOut + gOutSent, gOutLength - gOutSent);
        gOutLength -= gOutSent;
        gOutSent = 0;
    }
    if (count > kOutSize - gOutLength)
        return false;
    memcpy(gOut + gOutLength, bytes, count);
    gOutLength += count;
    return true;
}

int TransportSend(const char *data, int length)
{
    if (gMode == kPlain)
        return PlatSend(gSocket, data, length);
    if (gMode != kSecure)
        return 0;  // nothing of the conversation goes out before the handshake is done
    if (TransportFlush() < 0)
        return -1;
    if (TransportOutputPending())
        return 0;
    // As many whole records as the buffer holds, then one send for all of them.
    size_t taken = 0;
    size_t left = (size_t)length;
    while (left > 0) {
        size_t piece = left < gMaxPayload ? left : gMaxPayload;
        size_t room = kOutSize - gOutLength;
        if (gHeader + piece + gTrailer > room)
            break;
        unsigned long error = 0;
        size_t record = PlatTlsEncrypt(gTls, data + taken, piece, gOut + gOutLength, room, &error);
        if (record == 0)
            return taken > 0 ? (int)taken : -1;
        gOutLength += record;
        taken += piece;
        left -= piece;
    }
    if (TransportFlush() < 0)
        return -1;
    return (int)taken;
}

int TransportStartTls(PlatWindow window)
{
    TransportReset();
    unsigned long error = 0;
    gTls = PlatTlsOpen(&error);
    if (!gTls) {
        ShowTlsFailure(window, kTextTlsFailed, true, error);
        return 0;
    }
    gMode = kHandshaking;
    char token[16 * 1024];
    size_t consumed = 0, tokenLength = 0;
    int status = PlatTlsHandshake(gTls, gSmtpServer, nullptr, 0, &consumed, token, sizeof token,
                                  &tokenLength, &error);
    if (status != PLAT_TLS_CONTINUE || !QueueOutput(token, tokenLength)) {
        ShowTlsFailure(window, kTextTlsFailed, true, status == PLAT_TLS_CONTINUE ? kBufferTooSmall : error);
        TransportReset();
        return 0;
    }
    if (TransportFlush() < 0) {
        ShowErrorBox(window, kTextConnectionClosed);
        return 0;
    }
    return 1;
}

// Drops the first count received bytes: they have been used.
static void UseInput(size_t count)
{
    if (count > gInLength)
        count = gInLength;
    memmove(gIn, gIn + count, gInLength - count);
    gInLength -= count;
}

// One handshake step on what has come in. 1: go on (more may be done), 2: wait for more
// bytes, 0: failed (after its box).
static int StepHandshake(PlatWindow window)
{
    char token[16 * 1024];
    size_t consumed = 0, tokenLength = 0;
    unsigned long error = 0;
    int status = PlatTlsHandshake(gTls, gSmtpServer, gIn, gInLength, &consumed, token,
                                  sizeof token, &tokenLength, &error);
    if (status == PLAT_TLS_INCOMPLETE)
        return 2;
    if (status != PLAT_TLS_OK && status != PLAT_TLS_CONTINUE) {
        ShowTlsFailure(window, kTextTlsFailed, true, error);
        return 0;
    }
    if (!QueueOutput(token, tokenLength)) {
        ShowTlsFailure(window, kTextTlsFailed, true, kBufferTooSmall);
        return 0;
    }
    UseInput(consumed);
    if (TransportFlush() < 0) {
        ShowErrorBox(window, kTextConnectionClosed);
        return 0;
    }
    if (status == PLAT_TLS_CONTINUE)
        return consumed > 0 && gInLength > 0 ? 1 : 2;

    // Done: the server must prove it is the server that was asked for before a byte of the
    // conversation goes out.
    if (!gVerified) {
        unsigned long verdict = PlatTlsVerifyServer(gTls, gSmtpServer);
        if (verdict != PLAT_CERT_OK) {
            bool withNumber;
            const char *format = CertificateFailureText(verdict, &withNumber);
            ShowTlsFailure(window, format, withNumber, verdict);
            return 0;
        }
    }
    if (!PlatTlsSizes(gTls, &gHeader, &gMaxPayload, &gTrailer) || gMaxPayload == 0 ||
        gHeader + gTrailer >= kOutSize / 2) {
        ShowTlsFailure(window, kTextTlsFailed, true, kBufferTooSmall);
        return 0;
    }
    if (gMaxPayload > kOutSize / 2)
        gMaxPayload = kOutSize / 2;
    bool first = !gVerified;
    gVerified = true;
    gMode = kSecure;
    if (first)
        SecureChannelReady(window);
    return 1;
}

// One record on what has come in. 1: go on, 2: wait for more bytes, 0: failed (after its
// box), 3: the conversation has moved on without us (the window closed, or it failed).
static int StepRecord(PlatWindow window)
{
    if (gInLength == 0)
        return 2;
    size_t consumed = 0, offset = 0, length = 0;
    unsigned long error = 0;
    int status = PlatTlsDecrypt(gTls, gIn, gInLength, &consumed, &offset, &length, &error);
    switch (status) {
    case PLAT_TLS_INCOMPLETE:
        if (gInLength >= kInSize) {
            ShowTlsFailure(window, kTextTlsFailed, true, kBufferTooSmall);
            return 0;
        }
        return 2;
    case PLAT_TLS_CLOSED:
        ShowErrorBox(window, kTextConnectionClosed);
        return 0;
    case PLAT_TLS_RENEGOTIATE:
        UseInput(consumed);
        gMode = kHandshaking;
        return 1;
    case PLAT_TLS_OK:
        break;
    default:
        ShowTlsFailure(window, kTextTlsFailed, true, error);
        return 0;
    }
    if (offset > gInLength || length > gInLength - offset || consumed == 0) {
        ShowTlsFailure(window, kTextTlsFailed, true, kBufferTooSmall);
        return 0;
    }
    // The text is handed on in pieces no larger than one plain receive, so that the reply
    // lines see what they would see without TLS. Taken out first: handling a line may close
    // the window, and with it this session.
    static char text[kInSize];
    memcpy(text, gIn + offset, length);
    UseInput(consumed);
    for (size_t done = 0; done < length;) {
        size_t piece = length - done < (size_t)kReceiveMax ? length - done : (size_t)kReceiveMax;
        AddReplyBytes(window, text + done, piece);
        done += piece;
        if (gMode != kSecure || ConversationFailed())
            return 3;
    }
    return 1;
}

int TransportReceive(PlatWindow window)
{
    if (gInLength >= kInSize) {
        ShowTlsFailure(window, kTextTlsFailed, true, kBufferTooSmall);
        return 0;
    }
    int n = ReceiveFromServer(window, gIn + gInLength, (int)(kInSize - gInLength));
    if (n <= 0)
        return n == 0 ? 1 : 0;
    gInLength += (size_t)n;
    for (;;) {
        int step = gMode == kHandshaking ? StepHandshake(window) : StepRecord(window);
        if (step == 0)
            return 0;
        if (step != 1)
            return 1;
    }
}
