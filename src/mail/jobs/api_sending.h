// The sending window's second way out: the message posted to a mail API (Microsoft Graph, the
// Gmail API) by the platform's HTTPS request on its worker thread, which reports to the window.
// The request decides; the window carries out what it hands back, through these hooks.
#pragma once
#include <cstddef>

#include "../../platform/plat_http.h"
#include "../../platform/plat_types.h"
#include "../api/api_request.h"

struct SendingWindow;

// The worker's reports: progress (first = the body's bytes out so far) and its end.
const unsigned kWmApiProgress = PLAT_WM_USER + 16;  // 1040
const unsigned kWmApiDone = PLAT_WM_USER + 17;      // 1041

// Room for the answer's body: the providers' errors take a few hundred bytes; a longer body
// is cut, and then read as no error body at all.
const size_t kApiAnswerBodySize = 16 * 1024;

struct ApiSending {
    bool tokenRenewed;     // set by the batch: the token was renewed after a 401 this batch,
                           // so another 401 is final
    bool running;          // the platform's request runs: its done message is still to come
    bool cancelledByUser;  // the user's Cancel came (the verdict may still be an acceptance)
    PlatHttps https;
    PlatHttpsAnswer answer;
    char answerBody[kApiAnswerBodySize];
    ApiRequest request;    // large (its stage): the whole struct lives in the window's owner
};

// True when the window posts to a mail API rather than talking SMTP.
bool UsesMailApi(const SendingWindow *window);

// Back to nothing started (tokenRenewed false).
void ResetApiSending(ApiSending *api);

// The window's first step once it is made and the message finished: the request (or, for a
// check, the GET of the API's host) started with the 60 seconds of silence counting. A message
// refused before posting (too large for Graph) or a request that cannot start is told and the
// window closes.
void StartApiSending(SendingWindow *window);

// The hooks of the window procedure: the worker's two messages, the silence timer, Cancel
// (the user's, or the window's own close once the request is over).
void TakeApiProgressMessage(SendingWindow *window, unsigned long long sent);
void TakeApiDoneMessage(SendingWindow *window);
void HandleApiTimer(SendingWindow *window);
void HandleApiCancel(SendingWindow *window);

// Once the window has gone: no request left running, the token wiped from the request.
void EndApiSending(SendingWindow *window);
