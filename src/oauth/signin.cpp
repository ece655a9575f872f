// The sign-in job and its window. The window only carries out what the flow decides; the
// boxes come after it has ended, so that no box runs a message loop inside a handler.
#include "signin.h"

#include <cstring>

#include "../base/error_box.h"
#include "../base/host_settings.h"
#include "../base/paths.h"
#include "../base/text.h"
#include "../platform/plat_crypto.h"
#include "../platform/plat_net.h"
#include "../platform/plat_shell.h"
#include "../platform/plat_time.h"
#include "../platform/plat_tls.h"
#include "../platform/plat_ui.h"
#include "../platform/plat_window.h"
#include "access_token.h"
#include "oauth_encoding.h"
#include "oauth_texts.h"
#include "provider.h"
#include "signin_flow.h"
#include "token_record.h"
#include "token_store.h"

static const unsigned short kWinsockVersion = 0x0101;
static const long kConnectionEvents = PLAT_FD_READ | PLAT_FD_CLOSE;

struct SignInJob {
    PlatWindow owner;  // the window the sign-in's window and boxes belong to, 0 for none
    OAuthSettings settings;
    char user[kSettingSize];
    PkcePair pkce;
    char state[kPkceTextSize];
    char redirectUri[kRedirectUriSize];
    char url[kAuthorizeUrlSize];
    PlatSocket listener;
    int listenerError;
    intptr_t browserResult;
    bool windowStarted;
    SignInFlow flow;
    SignInActions actions;
    SignInActions dropped;  // for a connection whose events cannot be had
    char received[4096];
    char body[kFormBodySize];
    TokenResponse response;
    TokenRequestFailure failure;
    TokenRecord record;
    char signedInAs[kSignedInAsSize];  // the account the id_token names; "" when none
};

// ---- the window ---------------------------------------------------------------------------

static void SendAll(PlatSocket socket, const char *data, size_t length)
{
    // The page is small and the connection new: the socket takes it at once. Whatever it
    // does not take is lost with the connection, which changes nothing for the sign-in.
    while (length > 0) {
        int sent = PlatSend(socket, data, (int)length);
        if (sent <= 0)
            return;
        data += sent;
        length -= (size_t)sent;
    }
}

static void CarryOut(SignInJob *job, PlatWindow window, const SignInActions *a)
{
    if (a->watch != PLAT_INVALID_SOCKET &&
        PlatAsyncSelect(a->watch, window, kWmConnectionEvent, kConnectionEvents) != 0) {
        SignInConnectionEnded(&job->flow, a->watch, &job->dropped);
        CarryOut(job, window, &job->dropped);
    }
    if (a->replyTo != PLAT_INVALID_SOCKET) {
        SendAll(a->replyTo, a->reply, a->replyLength);
        PlatShutdown(a->replyTo, 1);
        PlatCloseSocket(a->replyTo);
    }
    for (int i = 0; i < a->closeCount; i++)
        PlatCloseSocket(a->close[i]);
    if (a->end) {
        PlatKillTimer(window, kSignInTimer);
        PlatEndDialog(window, job->flow.outcome);
    }
}

static void HandleInitDialog(SignInJob *job, PlatWindow window)
{
    job->windowStarted = true;
    PlatSetDlgItemText(window, kSignInStatus, kTextWaitingForBrowser);
    PlatSetTimer(window, kSignInTimer, kSignInMilliseconds);
    if (PlatAsyncSelect(job->listener, window, kWmListenerEvent, PLAT_FD_ACCEPT) != 0) {
        job->listenerError = PlatWsaGetLastError();
        SignInListenerFailed(&job->flow, &job->actions);
        CarryOut(job, window, &job->actions);
        return;
    }
    job->browserResult =
        PlatShellExecute(window, "open", job->url, nullptr, nullptr, PLAT_SW_SHOWNORMAL);
    if (job->browserResult <= 32) {
        SignInBrowserFailed(&job->flow, &job->actions);
        CarryOut(job, window, &job->actions);
    }
}

static void HandleConnectionEvent(SignInJob *job, PlatWindow window, PlatSocket socket,
                                  unsigned event)
{
    // A read event reads once (the system reports the rest again); a close event reads
    // what is left before the connection is forgotten.
    for (int reads = 0; reads < 4; reads++) {
        int n = PlatRecv(socket, job->received, (int)sizeof job->received);
        if (n > 0) {
            SignInReceived(&job->flow, socket, job->received, (size_t)n, &job->actions);
            CarryOut(job, window, &job->actions);
            if (job->actions.replyTo == socket || job->flow.outcome != kSignInWaiting)
                return;  // answered and closed
            if (!(event & PLAT_FD_CLOSE))
                return;
            continue;
        }
        if (n < 0 && PlatWsaGetLastError() == PLAT_WSAEWOULDBLOCK && !(event & PLAT_FD_CLOSE))
            return;
        break;
    }
    SignInConnectionEnded(&job->flow, socket, &job->actions);
    CarryOut(job, window, &job->actions);
}

static intptr_t SignInWindowProc(void *context, PlatWindow window, unsigned message,
                                 uintptr_t first, intptr_t second)
{
    SignInJob *job = (SignInJob *)context;
    unsigned event = (unsigned)((uintptr_t)second & 0xFFFF);
    switch (message) {
    case PLAT_WM_INITDIALOG:
        HandleInitDialog(job, window);
        return 1;
    case kWmListenerEvent:
        if ((PlatSocket)first == job->listener && (event & PLAT_FD_ACCEPT)) {
            PlatSocket connection = PlatAccept(job->listener);
            if (connection != PLAT_INVALID_SOCKET) {
                SignInAccepted(&job->flow, connection, &job->actions);
                CarryOut(job, window, &job->actions);
            }
        }
        return 1;
    case kWmConnectionEvent:
        if ((event & (PLAT_FD_READ | PLAT_FD_CLOSE)) && SignInServes(&job->flow, (PlatSocket)first))
            HandleConnectionEvent(job, window, (PlatSocket)first, event);
        return 1;
    case PLAT_WM_TIMER:
        if (first == kSignInTimer) {
            SignInTimedOut(&job->flow, &job->actions);
            CarryOut(job, window, &job->actions);
        }
        return 1;
    case PLAT_WM_COMMAND:
        if ((first & 0xFFFF) != (uintptr_t)kSignInCancel)
            return 0;
        SignInCancelled(&job->flow, &job->actions);
        CarryOut(job, window, &job->actions);
        return 1;
    default:
        return 0;
    }
}

// ---- the job ----------------------------------------------------------------------------------

static int Refuse(PlatWindow owner, const char *text)
{
    ShowErrorBox(owner, text);
    return 1;
}

static int RefuseNotStarted(PlatWindow owner, const char *step, int error)
{
    char text[400];
    FormatText(text, sizeof text, kTextSignInNotStarted, step, error);
    return Refuse(owner, text);
}

// The box for a flow that ended without a code.
static int RefuseOutcome(const SignInJob *job)
{
    char text[2000];
    switch (job->flow.outcome) {
    case kSignInCancelled:
        return Refuse(job->owner, kTextSignInCancelled);
    case kSignInTimedOut:
        return Refuse(job->owner, kTextSignInTimedOut);
    case kSignInBrowserFailed:
        FormatText(text, sizeof text, kTextBrowserFailed, (int)job->browserResult);
        return Refuse(job->owner, text);
    case kSignInNoListener:
        return RefuseNotStarted(job->owner, kStepListener, job->listenerError);
    case kSignInDenied: {
        char reason[sizeof job->flow.redirect.errorDescription + 200];
        const RedirectRequest *r = &job->flow.redirect;
        if (r->errorDescription[0])
            FormatText(reason, sizeof reason, kReasonProviderSaid, r->errorDescription,
                       r->error);
        else
            FormatText(reason, sizeof reason, kReasonProviderCode, r->error);
        FormatText(text, sizeof text, kTextSignInDenied, reason);
        return Refuse(job->owner, text);
    }
    case kSignInWrongState:
        return Refuse(job->owner, kTextSignInWrongState);
    case kSignInNoCode:
        return Refuse(job->owner, kTextSignInNoCode);
    case kSignInMalformed:
        return Refuse(job->owner, kTextSignInMalformed);
    case kSignInTooLong:
        return Refuse(job->owner, kTextSignInTooLong);
    default:
        return RefuseNotStarted(job->owner, kStepWindow, 0);
    }
}

// The code for tokens, and the tokens into the store.
static int FinishSignIn(SignInJob *job)
{
    char text[2000];
    char reason[1400];
    if (!MakeCodeExchangeBody(&job->settings, job->flow.redirect.code, job->redirectUri,
                              job->pkce.verifier, job->body, sizeof job->body))
        return Refuse(job->owner, kTextSignInTooLong);
    TokenRequestResult result = PostTokenRequest(job->settings.tokenUrl, job->body,
                                                 &job->response, &job->failure);
    WipeBytes(job->body, sizeof job->body);
    if (result != kTokenRequestOk) {
        FormatTokenRequestReason(result, &job->failure, job->settings.tokenUrl, reason,
                                 sizeof reason);
        FormatText(text, sizeof text,
                   result == kTokenRequestRefused ? kTextExchangeRefused
                                                  : kTextExchangeUnreachable,
                   reason);
        return Refuse(job->owner, text);
    }
    memset(&job->record, 0, sizeof job->record);
    bool taken = TakeTokenResponse(&job->record, &job->settings, job->user, &job->response,
                                   PlatUnixTime());
    CopyText(job->signedInAs, sizeof job->signedInAs, job->response.signedInAs);
    WipeBytes(&job->response, sizeof job->response);
    if (!taken)
        return Refuse(job->owner, kTextNoRefreshToken);
    // Under the store's lock: a batch renewing the old sign-in at this moment saves first
    // and is then replaced, never the other way round.
    PlatMutex lock = LockSignInStore();
    TokenStoreResult saved = SaveTokenRecord(&job->record);
    UnlockSignInStore(lock);
    WipeBytes(&job->record, sizeof job->record);
    if (saved != kStoreOk) {
        char path[kPathSize];
        if (!MakeTokenStorePath(path, sizeof path))
            CopyText(path, sizeof path, "the application data folder");
        FormatText(text, sizeof text, kTextSignInNotSaved, path);
        return Refuse(job->owner, text);
    }
    return 0;
}

int SignInMailAccountAs(const OAuthSettings *settings, const char *user, PlatWindow owner,
                        SignInResult *outcome)
{
    static SignInJob job;
    memset(&job, 0, sizeof job);
    memset(outcome, 0, sizeof *outcome);
    job.listener = PLAT_INVALID_SOCKET;
    job.owner = owner;
    job.settings = *settings;
    CopyText(job.user, sizeof job.user, user);

    unsigned char random[2 * kPkceRandomBytes];
    if (!PlatRandomBytes(random, sizeof random))
        return RefuseNotStarted(owner, kStepRandom, 0);
    // The code is redeemed over https once the browser comes back: the check of the
    // provider's certificate readied meanwhile.
    PlatTlsWarmUp();
    MakePkcePair(random, &job.pkce);
    Base64Encode(random + kPkceRandomBytes, kPkceRandomBytes, true, job.state,
                 sizeof job.state);
    WipeBytes(random, sizeof random);

    unsigned short granted = 0;
    int error = PlatWsaStartup(kWinsockVersion, &granted);
    if (error != 0 || granted != kWinsockVersion) {
        if (error == 0)
            PlatWsaCleanup();
        return RefuseNotStarted(owner, kStepWinsock, error);
    }
    unsigned short port = 0;
    job.listener = PlatListenLoopback(&port);
    if (job.listener == PLAT_INVALID_SOCKET) {
        error = PlatWsaGetLastError();
        PlatWsaCleanup();
        return RefuseNotStarted(owner, kStepListener, error);
    }
    MakeRedirectUri(port, job.redirectUri, sizeof job.redirectUri);
    if (!MakeAuthorizeUrl(&job.settings, job.redirectUri, job.state, job.pkce.challenge,
                          job.user, job.url, sizeof job.url)) {
        PlatCloseSocket(job.listener);
        PlatWsaCleanup();
        return RefuseNotStarted(owner, kStepAddress, 0);
    }

    StartSignInFlow(&job.flow, job.state);
    PlatDialogBox(kSignInTemplate, owner, SignInWindowProc, &job);
    // A window that could not be made leaves its connections to be closed here.
    for (SignInConnection &c : job.flow.connections)
        if (c.socket != PLAT_INVALID_SOCKET)
            PlatCloseSocket(c.socket);
    PlatCloseSocket(job.listener);
    PlatWsaCleanup();

    if (job.flow.outcome != kSignInGotCode)
        return RefuseOutcome(&job);
    int exitCode = FinishSignIn(&job);
    WipeBytes(&job.flow.redirect, sizeof job.flow.redirect);
    WipeBytes(&job.pkce, sizeof job.pkce);
    outcome->signedIn = exitCode == 0;
    CopyText(outcome->user, sizeof outcome->user, job.user);
    CopyText(outcome->signedInAs, sizeof outcome->signedInAs, job.signedInAs);
    return exitCode;
}

int SignInMailAccount(SignInResult *outcome)
{
    memset(outcome, 0, sizeof *outcome);
    static OAuthSettings settings;
    char text[2000];
    OAuthSettingsResult read = ReadOAuthSettings(&settings);
    if (read != kOAuthSettingsOk) {
        FormatOAuthSettingsFailure(read, &settings, text, sizeof text);
        return Refuse(0, text);
    }
    char user[kSettingSize];
    if (ReadHostSetting(kKeySmtpUser, user, sizeof user) == 0)
        return Refuse(0, kTextNoUser);
    return SignInMailAccountAs(&settings, user, 0, outcome);
}

int RunEmailSignOut(void)
{
    char text[600];
    // Under the store's lock, or a renewal ending at this moment would store the sign-in again.
    PlatMutex lock = LockSignInStore();
    TokenStoreResult deleted = DeleteTokenRecord();
    UnlockSignInStore(lock);
    switch (deleted) {
    case kStoreOk:
        CopyText(text, sizeof text, kTextSignedOut);
        break;
    case kStoreAbsent:
        CopyText(text, sizeof text, kTextNothingToSignOut);
        break;
    default: {
        char path[kPathSize];
        MakeTokenStorePath(path, sizeof path);
        FormatText(text, sizeof text, kTextSignOutFailed, path);
        break;
    }
    }
    PlatMessageBox(0, text, kSignOutCaption, PLAT_MB_OK | PLAT_MB_ICONINFORMATION);
    return 0;
}
