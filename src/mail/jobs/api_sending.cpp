// The sending window over a mail API: starts the platform's HTTPS request with what the
// request describes, hands the worker's reports and the window's own ends (silence, Cancel)
// to the request, carries out its actions once each step has returned, and turns its verdict
// into the window's outcome: delivered (the file deleted), a token to renew, or kept with
// one box. The window closes itself once the worker's done message has come, never before.
#include "api_sending.h"

#include <cstring>

#include "../../base/error_box.h"
#include "../../base/text.h"
#include "../../platform/plat_time.h"
#include "../../platform/plat_ui.h"
#include "../../platform/plat_window.h"
#include "../api/api_texts.h"
#include "mail_texts.h"
#include "outcome_text.h"
#include "sending_window.h"

static void SetApiStatus(SendingWindow *w, ApiStatus status)
{
    const char *host = w->api.request.host;
    char text[sizeof w->api.request.host + 64];
    switch (status) {
    case kApiStatusConnecting:
        FormatText(text, sizeof text, kApiStatusConnectingText, host);
        break;
    case kApiStatusSending:
        FormatText(text, sizeof text, kApiStatusSendingText, host);
        break;
    case kApiStatusAwaiting:
        FormatText(text, sizeof text, kApiStatusAwaitingText, host);
        break;
    default:
        CopyText(text, sizeof text, kApiStatusSentText);
        break;
    }
    SetStatusLine(w->handle, text);
}

// The verdict as the window's outcome, decided once: what the session found, the fate, and
// the box for a message that stays (none for the user's Cancel). A refused token that the
// batch renews ends the window quietly.
static void SettleApiVerdict(SendingWindow *w)
{
    MailOutcome *o = &w->outcome;
    if (o->fate != kFateUndecided)
        return;
    const ApiVerdict *v = &w->api.request.verdict;
    o->api = *v;
    o->session.reached = v->status != 0;
    o->session.secure = v->status != 0 || w->api.answer.connected;
    if (v->kind == kApiVerdictReached) {
        o->fate = kFateChecked;
        SetStatusLine(w->handle, kStatusCheckDone);
        return;
    }
    if (v->kind == kApiVerdictAccepted && !w->check) {
        o->fate = kFateDelivered;
        return;
    }
    if (v->kind == kApiVerdictRenewToken && w->renewOnRefusedToken) {
        MailLogText(w->log, '*', "the token was refused: it is renewed and the message posted again");
        o->fate = kFateRenewToken;
        return;
    }
    o->fate = kFateKept;
    char text[kBoxTextSize + kFieldSize];
    FormatOutcomeText(o, w->message, w->settings,
                      w->check ? kWithoutQueueSentence : kWithQueueSentence, text, sizeof text);
    if (text[0])
        ShowBox(w, text);
}

// What the request asked for, in order. A list that overflowed can only be a fault: the
// request is ended as failed, and its done message closes the window.
static void CarryOutApi(SendingWindow *w, const ApiActions *actions)
{
    ApiSending *a = &w->api;
    for (int i = 0; i < actions->count; i++) {
        const ApiAction &action = actions->items[i];
        switch (action.kind) {
        case kApiActionStatus:
            SetApiStatus(w, action.status);
            break;
        case kApiActionRestartSilence:
            PlatSetTimer(w->handle, kTimeoutTimer, kTimeoutMilliseconds);
            break;
        case kApiActionAwaitAnswer:
            StopTimeoutTimer(w->handle);
            break;
        case kApiActionVerdict:
            SettleApiVerdict(w);
            break;
        case kApiActionLogSent:
            MailLogText(w->log, '>', action.text);
            break;
        case kApiActionLogReceived:
            MailLogText(w->log, '<', action.text);
            break;
        case kApiActionLogNote:
            MailLogText(w->log, '*', action.text);
            break;
        }
    }
    if (actions->overflow && a->running) {
        MailLogText(w->log, '*', "more actions than the window can carry out");
        SetApiVerdict(&a->request, kApiVerdictFailed);
        PlatCancelHttpsRequest(a->https);
    }
}

// What the message got before it is posted, as over SMTP to a server that offers 8BITMIME.
static void LogComposed(SendingWindow *w)
{
    const QueuedMessage *m = w->message;
    char text[sizeof m->added + 40];
    if (m->codingOffset > 0)
        FormatText(text, sizeof text, "%s, %s", m->added, kCoding8Bit);
    else
        CopyText(text, sizeof text, m->added[0] ? m->added : "nothing added");
    MailLogText(w->log, '*', text);
}

void StartApiSending(SendingWindow *w)
{
    ApiSending *a = &w->api;
    ApiActions actions = {};
    bool posting = true;
    if (w->check) {
        StartApiCheck(&a->request, w->settings, &actions);
    } else {
        LogComposed(w);
        posting = StartApiRequest(&a->request, w->settings, w->message, a->tokenRenewed,
                                  &actions);
    }
    CarryOutApi(w, &actions);
    if (!posting) {
        CloseSendingWindow(w);
        return;
    }
    PlatHttpsRequest post = {};
    DescribeApiPost(&a->request, &post);
    post.window = w->handle;
    post.progressMessage = kWmApiProgress;
    post.doneMessage = kWmApiDone;
    a->answer.body = a->answerBody;
    a->answer.bodySize = sizeof a->answerBody;
    a->https = PlatStartHttpsRequest(&post, &a->answer);
    if (a->https == 0) {
        // Nothing started, and no message comes: the answer says why, as a failed request.
        actions = ApiActions();
        TakeApiAnswer(&a->request, &a->answer, PlatUnixTime(), &actions);
        CarryOutApi(w, &actions);
        EndApiRequest(&a->request);
        CloseSendingWindow(w);
        return;
    }
    a->running = true;
    PlatSetTimer(w->handle, kTimeoutTimer, kTimeoutMilliseconds);
}

static void TakeApiProgressMessage(SendingWindow *w, unsigned long long sent)
{
    ApiSending *a = &w->api;
    if (!a->running)
        return;
    ApiActions actions = {};
    TakeApiProgress(&a->request, sent, &actions);
    CarryOutApi(w, &actions);
}

static void TakeApiDoneMessage(SendingWindow *w)
{
    ApiSending *a = &w->api;
    if (!a->running)
        return;
    a->running = false;
    StopTimeoutTimer(w->handle);
    PlatEndHttpsRequest(a->https);
    a->https = 0;
    ApiActions actions = {};
    TakeApiAnswer(&a->request, &a->answer, PlatUnixTime(), &actions);
    CarryOutApi(w, &actions);
    EndApiRequest(&a->request);
    CloseSendingWindow(w);
}

// The window's own end of a request still running: the worker is told to stop, and its done
// message, which comes at once, closes the window (an acceptance that came meanwhile stands).
static void EndRunningRequest(SendingWindow *w, ApiVerdictKind kind)
{
    ApiSending *a = &w->api;
    StopTimeoutTimer(w->handle);
    SetApiVerdict(&a->request, kind);
    PlatCancelHttpsRequest(a->https);
}

void HandleApiTimer(SendingWindow *w)
{
    StopTimeoutTimer(w->handle);
    if (w->api.running)
        EndRunningRequest(w, kApiVerdictTimedOut);
}

// How the message ended, for the log.
static void LogApiOutcome(SendingWindow *w, bool accepted, bool deleted)
{
    if (!w->log->enabled)
        return;
    char text[kBoxTextSize + 100];
    const char *reason = w->endReason;
    bool byUser = w->api.cancelledByUser;
    if (w->check)
        CopyText(text, sizeof text,
                 w->outcome.fate == kFateChecked ? "checked: the settings work"
                 : reason[0]                     ? reason
                 : byUser                        ? "cancelled by the user"
                                                 : "check failed");
    else if (accepted)
        FormatText(text, sizeof text, "delivered, %s",
                   deleted ? "file deleted" : "the file could not be deleted");
    else if (w->outcome.fate == kFateRenewToken)
        CopyText(text, sizeof text, "kept: the token is renewed");
    else
        FormatText(text, sizeof text, "kept: %s%s%s", reason, reason[0] && byUser ? "; " : "",
                   byUser ? "cancelled by the user" : "");
    MailLogMessageEnds(w->log, accepted, text);
}

void HandleApiCancel(SendingWindow *w)
{
    ApiSending *a = &w->api;
    // The user's Cancel stops the batch whatever became of the message.
    if (!w->selfClose && !a->cancelledByUser) {
        a->cancelledByUser = true;
        RecordMailFailure(&w->outcome, kFailureCancelled);
    }
    if (a->running) {
        EndRunningRequest(w, kApiVerdictCancelled);
        return;
    }
    // A verdict the window gave itself (silence, Cancel) came with no action of its own.
    SettleApiVerdict(w);
    // Accepted: the provider has the message, so it must not go out again.
    bool accepted = ApiMessageAccepted(&a->request) && !w->check;
    bool deleted = accepted && DeleteMessageFile(w->message);
    LogApiOutcome(w, accepted, deleted);
    if (accepted && !deleted) {
        char text[kBoxTextSize];
        FormatText(text, sizeof text, kTextCouldNotDelete, w->message->path);
        ShowErrorBox(w->handle, text);
    }
    // The last status stays a second on screen; a check's box follows at once instead.
    if (!w->check)
        PlatSleep(kClosePauseMilliseconds);
    w->ended = true;
    PlatEndDialog(w->handle, -1);
}

void EndApiSending(SendingWindow *w)
{
    ApiSending *a = &w->api;
    if (a->running) {
        PlatCancelHttpsRequest(a->https);
        PlatEndHttpsRequest(a->https);
        a->running = false;
        a->https = 0;
    }
    EndApiRequest(&a->request);
}

void TakeApiMessage(SendingWindow *w, unsigned message, uintptr_t first)
{
    if (message == kWmApiProgress)
        TakeApiProgressMessage(w, first);
    else if (message == kWmApiDone)
        TakeApiDoneMessage(w);
}

static const SendingWayOut kMailApiWayOut = {StartApiSending, TakeApiMessage, HandleApiTimer,
                                             HandleApiCancel, EndApiSending};

const SendingWayOut *WayOutFor(const MailSettings *settings)
{
    return settings->way != kWaySmtp ? &kMailApiWayOut : nullptr;
}
