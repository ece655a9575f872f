// Walking a server's addresses: which one to connect to next, when to try another beside one
// that has not answered, and which connection wins. It owns no socket and no timer: the window
// feeds it what happened and carries out the actions it hands back, in order.
#pragma once
#include <cstdint>

#include "../../platform/plat_net.h"

// An address that has not answered in this time gets the next one tried beside it.
const unsigned kWalkStaggerMilliseconds = 2000;

// The window's timer and message for the walk, apart from those it already has (its silence
// timer 1000, the socket events PLAT_WM_USER + 2): the stagger timer, and the lookup's answer.
const uintptr_t kWalkStaggerTimer = 1001;
const unsigned kWmAddressesFound = PLAT_WM_USER + 3;  // 1027

enum WalkActionKind {
    kWalkConnect,       // attempt: make a socket for that address's family, select the socket
                        // events, connect; feed back how it went (at once or by its event)
    kWalkClose,         // attempt: close that attempt's socket
    kWalkArmTimer,      // (re)start the stagger timer: kWalkStaggerMilliseconds from now
    kWalkStopTimer,     // stop the stagger timer
    kWalkWon,           // attempt: connected; its socket is the connection from now on
    kWalkLookupFailed,  // error: the lookup's (the name gave no address)
    kWalkAllFailed,     // error: the last failed attempt's (every address has failed)
};

struct WalkAction {
    WalkActionKind kind;
    int attempt;  // kWalkConnect, kWalkClose, kWalkWon: the attempt, which is the address's
                  // index in the list (each address is tried once)
    int error;    // kWalkLookupFailed, kWalkAllFailed
};

// What one event hands back. A list holds at most one kWalkConnect, and it comes last: a
// connect that succeeds or fails at once may be fed back as soon as it returns.
const int kWalkActionsMax = PLAT_ADDRESS_MAX + 3;
struct WalkActions {
    int count;
    WalkAction items[kWalkActionsMax];
};

enum WalkPhase {
    kWalkResolving,   // waiting for the lookup
    kWalkConnecting,  // attempts under way
    kWalkConnected,   // one attempt won
    kWalkFailed,      // the lookup or every attempt failed
};

enum WalkAttemptState : unsigned char {
    kAttemptNotStarted = 0,
    kAttemptPending,  // connect issued, no answer yet
    kAttemptFailed,   // refused, unreachable, or its socket could not be made
    kAttemptClosed,   // closed unanswered because another won (or the walk was abandoned)
    kAttemptWon,
};

struct AddressWalk {
    WalkPhase phase;
    PlatAddressList addresses;
    WalkAttemptState attempts[PLAT_ADDRESS_MAX];
    int started;    // attempts started: addresses 0 .. started-1
    int winner;     // the attempt that won, -1 before
    int lastError;  // the error of the attempt that failed last
    bool timerArmed;
};

// A new walk, waiting for the lookup.
void StartAddressWalk(AddressWalk *walk);

// The lookup's answer: its error (0: found) and the addresses. No address counts as the
// lookup's failure (WSAHOST_NOT_FOUND). The first address is tried.
void WalkLookupDone(AddressWalk *walk, int error, const PlatAddressList *addresses,
                    WalkActions *actions);

// Attempt connected (its connect returned 0, or its connect event came without an error):
// it wins, every other attempt is closed.
void WalkConnected(AddressWalk *walk, int attempt, WalkActions *actions);

// Attempt failed with error (refused, unreachable, timed out by the system, or its socket
// could not be made). When it was the newest attempt, the next address is tried at once; once
// no attempt is left and no address untried, the walk has failed.
void WalkConnectFailed(AddressWalk *walk, int attempt, int error, WalkActions *actions);

// The stagger timer fired: the newest attempt has not answered, so the next address is tried
// beside it (the attempts under way go on).
void WalkTimerFired(AddressWalk *walk, WalkActions *actions);

// The window ends before any attempt won: every attempt under way is closed, the timer
// stopped. The walk then counts as failed, its actions hand back no verdict.
void WalkAbandon(AddressWalk *walk, WalkActions *actions);

// The address of attempt as text ("2001:db8::1", "192.0.2.1") for the status line and the
// log; "" for an attempt that does not exist. WalkAddress: the address to connect to, or
// nullptr.
const char *WalkAddressText(const AddressWalk *walk, int attempt);
const PlatAddress *WalkAddress(const AddressWalk *walk, int attempt);
