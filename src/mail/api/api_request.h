// One queued message posted to a mail API (Microsoft Graph's sendMail, the Gmail API's
// messages.send): what is posted, its body produced piece by piece as it is written, and the
// answer turned into a verdict. It owns no I/O: the sending window starts the platform's
// HTTPS request with what DescribeApiPost gives, hands on its reports, and carries out the
// actions handed back.
#pragma once
#include <cstddef>

#include "../../platform/plat_http.h"
#include "../message/message_file.h"
#include "../settings/mail_settings.h"

// Graph takes no request larger than this: a message whose base64 is longer is not posted.
const unsigned long long kGraphRequestMax = 4ull * 1024 * 1024;

// How a request ended, as a fact. Final once reached, except that an acceptance still wins
// over the window's own time-out or Cancel: the provider has the message then.
enum ApiVerdictKind {
    kApiVerdictNone = 0,     // still going
    kApiVerdictAccepted,     // Graph 202; Gmail 200 with a message id: the provider has it
    kApiVerdictRenewToken,   // 401 to the first post: renew the token (forced), post again
    kApiVerdictSignInAgain,  // 401 to the post after the renewal: the sign-in is refused
    kApiVerdictForbidden,    // 403: the provider's code and message, and advice
    kApiVerdictThrottled,    // 429, 503 (or Gmail's rate limits): retryAfter says when
    kApiVerdictTooLarge,     // 413, or not posted at all (posted false): size and limit
    kApiVerdictRefused,      // any other error status (400, 404, 500 ...): code and message
    kApiVerdictUnconfirmed,  // a 2xx that is no acceptance: the message may have gone
    kApiVerdictClosed,       // the connection failed after the request went out, before an
                             // answer: mayHaveGone when the whole body was out
    kApiVerdictFailed,       // no connection (name, connect, TLS, certificate): nothing went
    kApiVerdictTimedOut,     // the window's 60 seconds of silence, or no answer in time
    kApiVerdictCancelled,    // the user's Cancel
    kApiVerdictReached,      // a check: the host answered over TLS (nothing was posted)
};

// What the box adds to a refusal the providers give a known meaning.
enum ApiAdvice {
    kApiAdviceNone = 0,
    kApiAdviceMailSendConsent,  // Graph ErrorAccessDenied: Mail.Send not granted or consented
    kApiAdviceGmailScope,       // Gmail insufficientPermissions: sign in again with gmail.send
    kApiAdviceSendAs,           // Graph ErrorSendAsDenied: the From is not the mailbox's
};

struct ApiVerdict {
    ApiVerdictKind kind;
    int status;                  // the answer's HTTP status; 0 when none came
    unsigned long systemError;   // none came: the platform's error number (plat_http.h)
    bool posted;                 // the request was started (false: refused before it)
    bool mayHaveGone;            // no answer, but every byte of the body was out
    long long retryAfter;        // throttled: seconds to wait; -1 when the answer said none
    unsigned long long size;     // too large: the bytes posted or refused
    unsigned long long limit;    // and the limit they passed; 0 when the provider named none
    ApiAdvice advice;
    char code[128];              // the provider's error code ("ErrorAccessDenied", "403")
    char statusName[64];         // Gmail's error status ("PERMISSION_DENIED"); "" otherwise
    char reason[64];             // Gmail's first error reason ("insufficientPermissions")
    char message[512];           // the provider's message, as it sent it (UTF-8)
};

// The status lines the request asks for; the window words them with the host.
enum ApiStatus {
    kApiStatusConnecting,  // the request has been started
    kApiStatusSending,     // the connection is up and the body on its way
    kApiStatusAwaiting,    // the whole body is out: the answer is awaited
    kApiStatusSent,        // accepted
};

// What the sending window is to do, in the order given.
enum ApiActionKind {
    kApiActionStatus,          // set the status line (status, with the request's host)
    kApiActionRestartSilence,  // bytes moved: the 60 seconds of silence count from now
    kApiActionAwaitAnswer,     // the body is out: no silence timer; the answer may take 10
                               // minutes (the platform's own wait)
    kApiActionVerdict,         // the request has its verdict: say so, or close when accepted
    kApiActionLogSent,         // for the mail log: the request, as the log may show it
    kApiActionLogReceived,     // for the mail log: the answer's status and error
    kApiActionLogNote,         // for the mail log: what happened without an answer
};

struct ApiAction {
    ApiActionKind kind;
    ApiStatus status;  // kApiActionStatus
    const char *text;  // the log actions: their line, in the actions' own storage
};

const int kApiActionsMax = 8;
const size_t kApiLogTextSize = 900;

struct ApiActions {
    ApiAction items[kApiActionsMax];
    int count;
    bool overflow;                   // more actions than items: a fault the window must show
    char sent[kApiLogTextSize];      // the text of kApiActionLogSent
    char received[kApiLogTextSize];  // the text of kApiActionLogReceived
    char note[kApiLogTextSize];      // the text of kApiActionLogNote
};

// One part of what is posted: the head, the rest of the file, the line end that closes it.
struct ApiBodySegment {
    const char *data;
    size_t length;
};
const int kApiSegmentsMax = 3;

// Room for the request's headers: the bearer token and the content type.
const size_t kApiHeadersSize = kTokenSize + 128;
// The composed message is read into this much at a time before it becomes base64.
const size_t kApiStageSize = 3 * 65536;

struct ApiRequest {
    MailWay way;
    bool check;                 // a settings check: a GET of the host, nothing posted
    bool tokenRenewed;          // the token was renewed after a 401: another one is final
    const char *url;            // the endpoint (the settings' MailAPIURL, borrowed), or
                                // checkUrl
    char checkUrl[kOAuthUrlSize];  // a check: the endpoint's origin
    char host[256];             // its host, for the status lines
    char headers[kApiHeadersSize];  // holds the token: wiped by EndApiRequest
    ApiBodySegment segments[kApiSegmentsMax];
    int segmentCount;
    unsigned long long messageLength;  // the composed message, every line end CR LF
    unsigned long long bodyLength;     // what is posted: the message, or its base64
    unsigned long long bytesSent;      // what the platform reported sent
    bool sending;                      // the platform reported the connection up
    bool answerAwaited;
    ApiVerdict verdict;
    // The producer's own: touched by the platform's worker alone while the post runs.
    int segmentIndex;
    size_t position;
    bool pendingLineFeed;  // a line end's CR went out, its LF did not fit
    unsigned long long produced;
    unsigned char stage[kApiStageSize];
};

// Starts the request that posts message (composed with its Bcc fields kept, FinishMessageFile
// done) to the settings' API with their access token; tokenRenewed says the token was
// renewed after a 401 to this message. The body is the message composed as for a server
// that offers 8BITMIME, every line end CR LF and a last line end added when the file has
// none; for Graph it is posted in base64 (unbroken), for Gmail as it is. Asks for the
// connecting status and logs the request. False when nothing is to be posted: the verdict
// says why (kApiVerdictTooLarge: Graph's limit) and its action has been given.
bool StartApiRequest(ApiRequest *request, const MailSettings *settings,
                     const QueuedMessage *message, bool tokenRenewed, ApiActions *actions);

// Starts a settings check instead: a GET of the endpoint's host root without a token, which
// proves the host is reached over TLS with its certificate checked; any answer gives
// kApiVerdictReached.
void StartApiCheck(ApiRequest *request, const MailSettings *settings, ApiActions *actions);

// What the platform is to send, into post: method, URL, headers, body length and the
// producer (ProduceApiBody on request). window and the two messages are the caller's.
void DescribeApiPost(ApiRequest *request, PlatHttpsRequest *post);

// The producer of the body (a PlatBodyProducer): the next piece into dest, at most destSize
// bytes (destSize of 5 or more), its length returned; 0 once all bodyLength bytes are given.
// Runs on the platform's worker; nothing else touches the request meanwhile.
size_t ProduceApiBody(void *request, char *dest, size_t destSize);

// The platform's progress report: sent bytes of the body are out. The first asks for the
// sending status; each that moves restarts the silence; the last awaits the answer.
void TakeApiProgress(ApiRequest *request, unsigned long long sent, ApiActions *actions);

// The platform's completion (the worker has ended): its answer, or why none came, at now
// (Unix seconds, for a Retry-After date). Gives the verdict, logs the answer.
void TakeApiAnswer(ApiRequest *request, const PlatHttpsAnswer *answer, long long now,
                   ApiActions *actions);

// The window's own ends: kApiVerdictTimedOut or kApiVerdictCancelled, unless the request has
// a verdict already. The window then cancels the platform's request and waits for its
// completion, which may still bring an acceptance.
void SetApiVerdict(ApiRequest *request, ApiVerdictKind kind);

// True once the provider has the message: the file must not go out again.
bool ApiMessageAccepted(const ApiRequest *request);

// Wipes the token from the request's headers.
void EndApiRequest(ApiRequest *request);

// The host of an https:// address (without its port), for the status lines and the boxes.
void ApiUrlHost(const char *url, char *dest, size_t destSize);

// The seconds a Retry-After value asks to wait at now: a number of seconds, or an HTTP date
// (IMF-fixdate, the obsolete RFC 850 and asctime forms); 0 for a date past; -1 for a value
// that is neither.
long long ParseRetryAfter(const char *value, long long now);
