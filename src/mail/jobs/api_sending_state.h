// What the sending window keeps for its way out through a mail API (Microsoft Graph, the Gmail
// API) while one request runs: the platform's request, its answer and the request's state. The
// window holds it; api_sending drives it.
#pragma once
#include <cstddef>
#include <cstring>

#include "../../platform/plat_http.h"
#include "../api/api_request.h"

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

// Back to nothing started (tokenRenewed false).
inline void ResetApiSending(ApiSending *a)
{
    a->tokenRenewed = a->running = a->cancelledByUser = false;
    a->https = 0;
    memset(&a->answer, 0, sizeof a->answer);
}
