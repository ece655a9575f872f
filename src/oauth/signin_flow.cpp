// The sign-in window's decisions: which connection is read, which is answered with which
// page, and when the wait is over. Exactly one redirect to our path decides; requests for
// other paths are answered 404 and the wait goes on.
#include "signin_flow.h"

#include <cstring>

#include "../base/text.h"
#include "oauth_texts.h"

static void ClearActions(SignInActions *out)
{
    out->watch = PLAT_INVALID_SOCKET;
    out->replyTo = PLAT_INVALID_SOCKET;
    out->reply[0] = '\0';
    out->replyLength = 0;
    out->closeCount = 0;
    out->end = false;
}

static SignInConnection *FindConnection(SignInFlow *flow, PlatSocket socket)
{
    if (socket == PLAT_INVALID_SOCKET)
        return nullptr;
    for (SignInConnection &c : flow->connections)
        if (c.socket == socket)
            return &c;
    return nullptr;
}

static void Forget(SignInConnection *c)
{
    c->socket = PLAT_INVALID_SOCKET;
    c->length = 0;
}

static void CloseLater(SignInActions *out, SignInConnection *c)
{
    out->close[out->closeCount++] = c->socket;
    Forget(c);
}

// The outcome is decided: every connection still open is closed, the window ends.
static void Finish(SignInFlow *flow, int outcome, SignInActions *out)
{
    flow->outcome = outcome;
    for (SignInConnection &c : flow->connections)
        if (c.socket != PLAT_INVALID_SOCKET)
            CloseLater(out, &c);
    out->end = true;
}

void StartSignInFlow(SignInFlow *flow, const char *state)
{
    CopyText(flow->state, sizeof flow->state, state);
    flow->outcome = kSignInWaiting;
    flow->redirect.code[0] = '\0';
    flow->redirect.error[0] = '\0';
    flow->redirect.errorDescription[0] = '\0';
    flow->accepted = 0;
    for (SignInConnection &c : flow->connections)
        Forget(&c);
}

bool SignInServes(const SignInFlow *flow, PlatSocket socket)
{
    return FindConnection((SignInFlow *)flow, socket) != nullptr;
}

void SignInAccepted(SignInFlow *flow, PlatSocket socket, SignInActions *out)
{
    ClearActions(out);
    if (flow->outcome != kSignInWaiting) {
        out->close[out->closeCount++] = socket;
        return;
    }
    SignInConnection *slot = nullptr;
    for (SignInConnection &c : flow->connections)
        if (c.socket == PLAT_INVALID_SOCKET) {
            slot = &c;
            break;
        }
    if (!slot) {
        slot = &flow->connections[0];
        for (SignInConnection &c : flow->connections)
            if (c.order < slot->order)
                slot = &c;
        CloseLater(out, slot);
    }
    slot->socket = socket;
    slot->order = ++flow->accepted;
    slot->length = 0;
    out->watch = socket;
}

// The failure page's reason for an outcome.
static void PageReason(const SignInFlow *flow, int outcome, char *dest, size_t destSize)
{
    switch (outcome) {
    case kSignInDenied:
        CopyText(dest, destSize, kPageReasonDenied);
        AppendText(dest, destSize,
                   flow->redirect.errorDescription[0] ? flow->redirect.errorDescription
                                                      : flow->redirect.error);
        break;
    case kSignInWrongState:
        CopyText(dest, destSize, kPageReasonWrongState);
        break;
    case kSignInNoCode:
        CopyText(dest, destSize, kPageReasonNoCode);
        break;
    case kSignInMalformed:
        CopyText(dest, destSize, kPageReasonMalformed);
        break;
    default:
        CopyText(dest, destSize, kPageReasonTooLong);
        break;
    }
}

void SignInReceived(SignInFlow *flow, PlatSocket socket, const char *bytes, size_t count,
                    SignInActions *out)
{
    ClearActions(out);
    SignInConnection *c = FindConnection(flow, socket);
    if (!c || flow->outcome != kSignInWaiting)
        return;
    size_t room = sizeof c->bytes - c->length;
    size_t take = count < room ? count : room;
    memcpy(c->bytes + c->length, bytes, take);
    c->length += take;

    RedirectResult result = ReadRedirectRequest(c->bytes, c->length, flow->state,
                                                &flow->redirect);
    if (result == kRedirectNeedMore)
        return;
    RedirectPage page = kRedirectPageFailed;
    int outcome = kSignInWaiting;
    switch (result) {
    case kRedirectOtherPath:
        page = kRedirectPageNotFound;
        break;
    case kRedirectCode:
        page = kRedirectPageSignedIn;
        outcome = kSignInGotCode;
        break;
    case kRedirectProviderError:
        outcome = kSignInDenied;
        break;
    case kRedirectWrongState:
        outcome = kSignInWrongState;
        break;
    case kRedirectNoCode:
        outcome = kSignInNoCode;
        break;
    case kRedirectMalformed:
        outcome = kSignInMalformed;
        break;
    default:
        outcome = kSignInTooLong;
        break;
    }
    char reason[sizeof flow->redirect.errorDescription + 64];
    reason[0] = '\0';
    if (page == kRedirectPageFailed)
        PageReason(flow, outcome, reason, sizeof reason);
    out->replyLength = MakeRedirectReply(page, reason, out->reply, sizeof out->reply);
    out->replyTo = socket;
    Forget(c);
    if (outcome != kSignInWaiting)
        Finish(flow, outcome, out);
}

void SignInConnectionEnded(SignInFlow *flow, PlatSocket socket, SignInActions *out)
{
    ClearActions(out);
    SignInConnection *c = FindConnection(flow, socket);
    if (c)
        CloseLater(out, c);
}

static void EndWith(SignInFlow *flow, int outcome, SignInActions *out)
{
    ClearActions(out);
    if (flow->outcome == kSignInWaiting)
        Finish(flow, outcome, out);
}

void SignInTimedOut(SignInFlow *flow, SignInActions *out) { EndWith(flow, kSignInTimedOut, out); }

void SignInCancelled(SignInFlow *flow, SignInActions *out)
{
    EndWith(flow, kSignInCancelled, out);
}

void SignInBrowserFailed(SignInFlow *flow, SignInActions *out)
{
    EndWith(flow, kSignInBrowserFailed, out);
}

void SignInListenerFailed(SignInFlow *flow, SignInActions *out)
{
    EndWith(flow, kSignInNoListener, out);
}
