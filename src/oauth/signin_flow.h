// The decisions of the sign-in window, without any I/O: the window reports what happened
// (a connection accepted, bytes received, a connection ended, the timer, Cancel) and carries
// out the actions it gets back, in the order SignInActions lists them.
#pragma once
#include <cstddef>

#include "../platform/plat_types.h"
#include "oauth_encoding.h"
#include "redirect.h"

// Connections served at once; a further one pushes out the oldest (browsers open spare
// connections that never send anything).
const int kSignInConnectionsMax = 8;

enum SignInOutcome {
    kSignInWaiting = 0,
    kSignInGotCode,        // flow->redirect.code holds the code: exchange it
    kSignInCancelled,
    kSignInTimedOut,
    kSignInBrowserFailed,  // the browser could not be opened
    kSignInNoListener,     // the listener's events could not be had
    kSignInDenied,         // the provider's error: flow->redirect.error, errorDescription
    kSignInWrongState,
    kSignInNoCode,
    kSignInMalformed,
    kSignInTooLong,
};

struct SignInConnection {
    PlatSocket socket;      // PLAT_INVALID_SOCKET: the slot is free
    unsigned long order;    // when it was accepted, counted
    size_t length;
    char bytes[kRedirectRequestMax];
};

struct SignInFlow {
    char state[kPkceTextSize];
    int outcome;            // kSignIn...
    RedirectRequest redirect;
    SignInConnection connections[kSignInConnectionsMax];
    unsigned long accepted;
};

// What the window does now, in this order.
struct SignInActions {
    PlatSocket watch;       // a new connection: ask for its read and close events
    PlatSocket replyTo;     // send reply (replyLength bytes) on this connection, then close it
    char reply[4096];
    size_t replyLength;
    PlatSocket close[kSignInConnectionsMax + 1];  // close these connections
    int closeCount;
    bool end;               // the outcome is decided: stop the timer, end the window
};

// A new flow that waits for a redirect carrying state.
void StartSignInFlow(SignInFlow *flow, const char *state);

// True while the flow serves this connection: events of any other socket mean nothing.
bool SignInServes(const SignInFlow *flow, PlatSocket socket);

// The listener gave a new connection.
void SignInAccepted(SignInFlow *flow, PlatSocket socket, SignInActions *out);

// Bytes arrived on a connection (count of them; those beyond a request's limit count only
// as "too long").
void SignInReceived(SignInFlow *flow, PlatSocket socket, const char *bytes, size_t count,
                    SignInActions *out);

// The connection was closed by the browser or failed: it is forgotten.
void SignInConnectionEnded(SignInFlow *flow, PlatSocket socket, SignInActions *out);

// The 5 minutes are over; the user pressed Cancel; the browser could not be opened; the
// listener's events could not be asked for. Each ends a flow that is still waiting.
void SignInTimedOut(SignInFlow *flow, SignInActions *out);
void SignInCancelled(SignInFlow *flow, SignInActions *out);
void SignInBrowserFailed(SignInFlow *flow, SignInActions *out);
void SignInListenerFailed(SignInFlow *flow, SignInActions *out);
