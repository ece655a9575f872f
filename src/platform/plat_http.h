// Seam: HTTPS requests through the system's HTTP client (WinHTTP): one that blocks, for the
// token endpoint of the mail sign-in, and one that runs on a worker thread and reports to a
// window, for posting a message to a mail API. Both check the server's certificate against
// the system's trusted roots and the host name, follow no redirect, share one session for
// the run (a connection the server keeps open serves the next request), and go through the
// user's proxy settings (the automatic proxy where the system has it, Windows 8.1 and later;
// before that the user's Internet settings: automatic detection or a configuration script
// through WinHttpGetProxyForUrl, else the named proxy and its bypass list).
#pragma once
#include <cstddef>

#include "plat_types.h"

// The error number given when the answer's body is larger than the caller's buffer
// (ERROR_INSUFFICIENT_BUFFER); the others are WinHTTP's own (12001 and up).
const unsigned long PLAT_HTTP_BODY_TOO_LARGE = 122;
// WinHTTP's numbers that the texts tell apart.
const unsigned long PLAT_HTTP_TIMEOUT = 12002;
const unsigned long PLAT_HTTP_CANCELLED = 12017;
const unsigned long PLAT_HTTP_NAME_NOT_RESOLVED = 12007;
const unsigned long PLAT_HTTP_CANNOT_CONNECT = 12029;
const unsigned long PLAT_HTTP_CONNECTION_ERROR = 12030;
const unsigned long PLAT_HTTP_SECURE_CHANNEL_ERROR = 12157;
const unsigned long PLAT_HTTP_SECURE_FAILURE = 12175;

// POSTs body (bodyLength bytes) to url, which must be an https:// address, with
// "Content-Type: application/x-www-form-urlencoded" and "Accept: application/json". Name
// resolution, connect, send and receive each give up after 30 seconds.
// Returns 1 when an answer came: its status in *status and its body in response
// (responseSize bytes, owned by the caller; *responseLength bytes used, not terminated).
// Returns 0 otherwise, with the reason in *error: WinHTTP's error number, or
// PLAT_HTTP_BODY_TOO_LARGE.
int PlatHttpsPost(const char *url, const char *body, size_t bodyLength, char *response,
                  size_t responseSize, size_t *responseLength, int *status,
                  unsigned long *error);

// A request running on its worker; 0 for none.
typedef uintptr_t PlatHttps;

// Writes the next piece of a request's body into dest (destSize bytes of room) and returns
// its length; 0 once the whole body has been given. Called on the worker thread only.
typedef size_t (*PlatBodyProducer)(void *context, char *dest, size_t destSize);

// A request as the caller describes it.
struct PlatHttpsRequest {
    const char *method;              // "POST" or "GET"
    const char *url;                 // an https:// address (UTF-8)
    const char *headers;             // further request headers, each "Name: value\r\n"; may be ""
    unsigned long long bodyLength;   // what the producer gives in all (the Content-Length);
                                     // 0 for no body. At most 4 GB - 1.
    PlatBodyProducer produce;        // null when bodyLength is 0
    void *producerContext;
    PlatWindow window;               // where the reports below are posted
    unsigned progressMessage;        // posted with first = the body's bytes handed to the
                                     // connection so far: once with 0 when the request's
                                     // head has gone out on the secure connection, then after
                                     // every piece of the body
    unsigned doneMessage;            // posted once, when the worker has ended (first 0)
};

const size_t kPlatRetryAfterSize = 64;

// What came back, filled by the worker; the caller reads it once the done message has come
// and PlatEndHttpsRequest has returned.
struct PlatHttpsAnswer {
    int status;                    // the HTTP status; 0 when no answer came (error says why)
    unsigned long error;           // no answer: WinHTTP's error number, PLAT_HTTP_CANCELLED
                                   // after PlatCancelHttpsRequest
    bool connected;                // the request's head went out on a secure connection
                                   // (with the certificate checked): its body may have too
    unsigned long long bytesSent;  // the body's bytes handed to the connection
    char retryAfter[kPlatRetryAfterSize];  // the answer's Retry-After as sent; "" for none
    char *body;                    // the caller's room for the answer's body (bodySize bytes)
    size_t bodySize;
    size_t bodyLength;             // bytes of it used, not terminated
    bool bodyCut;                  // the body was longer than bodySize: the rest was dropped
};

// Starts request on a worker thread of its own: resolve, connect and send each give up after
// 60 seconds, the answer is awaited up to 10 minutes once the body is out. The body is
// pulled from the producer a piece at a time (up to 256 KB each) and written as it comes;
// the caller must not touch what the producer works on until the done message has come. The
// request's strings are copied here; the producer's context must last until then.
// answer (its body, bodySize set by the caller) is cleared here and filled by the worker.
// Returns 0 when no worker could be started (answer->error says why; no message comes).
PlatHttps PlatStartHttpsRequest(const PlatHttpsRequest *request, PlatHttpsAnswer *answer);

// Cancels a running request from the window's thread: unless the worker has given its answer
// already, the answer says PLAT_HTTP_CANCELLED (with connected and bytesSent as far as they
// got) and the done message is posted at once; from then on the worker touches nothing of
// the caller's (it calls the producer no more, and leaves the answer and the window alone)
// and ends by itself. Waits at most for a piece the producer is making. Harmless after the
// done message.
void PlatCancelHttpsRequest(PlatHttps https);

// After the done message: waits for the worker (which has ended, unless Cancel came first:
// then it is left to end and free itself) and frees the request; harmless on 0. The answer
// is complete from here on.
void PlatEndHttpsRequest(PlatHttps https);
