// Walking a server's addresses in the order the system gave them. One attempt is newest at any
// time: it has the stagger timer; when it fails, or stays silent for the stagger, the next
// address starts beside whatever is still under way. The first connection wins.
#include "address_walk.h"

#include <cstring>

static const int kHostNotFound = 11001;  // WSAHOST_NOT_FOUND

static void Add(WalkActions *actions, WalkActionKind kind, int attempt, int error)
{
    // Never more than every attempt closed, the timer and the verdict: kWalkActionsMax.
    if (actions->count < kWalkActionsMax)
        actions->items[actions->count++] = {kind, attempt, error};
}

static void StopTimer(AddressWalk *walk, WalkActions *actions)
{
    if (!walk->timerArmed)
        return;
    walk->timerArmed = false;
    Add(actions, kWalkStopTimer, -1, 0);
}

// The next address: its timer first (armed when another address remains after it, stopped
// otherwise), the connect last, so that its immediate result may be fed back at once.
static void StartNext(AddressWalk *walk, WalkActions *actions)
{
    int attempt = walk->started++;
    walk->attempts[attempt] = kAttemptPending;
    if (walk->started < walk->addresses.count) {
        walk->timerArmed = true;
        Add(actions, kWalkArmTimer, -1, 0);
    } else {
        StopTimer(walk, actions);
    }
    Add(actions, kWalkConnect, attempt, 0);
}

static bool AnyPending(const AddressWalk *walk)
{
    for (int i = 0; i < walk->started; i++) {
        if (walk->attempts[i] == kAttemptPending)
            return true;
    }
    return false;
}

// Closes every attempt under way but keep (-1: all).
static void ClosePending(AddressWalk *walk, int keep, WalkActions *actions)
{
    for (int i = 0; i < walk->started; i++) {
        if (i != keep && walk->attempts[i] == kAttemptPending) {
            walk->attempts[i] = kAttemptClosed;
            Add(actions, kWalkClose, i, 0);
        }
    }
}

static bool IsPending(const AddressWalk *walk, int attempt)
{
    return walk->phase == kWalkConnecting && attempt >= 0 && attempt < walk->started &&
           walk->attempts[attempt] == kAttemptPending;
}

void StartAddressWalk(AddressWalk *walk)
{
    memset(walk, 0, sizeof *walk);
    walk->phase = kWalkResolving;
    walk->winner = -1;
}

void WalkLookupDone(AddressWalk *walk, int error, const PlatAddressList *addresses,
                    WalkActions *actions)
{
    actions->count = 0;
    if (walk->phase != kWalkResolving)
        return;
    int count = addresses ? addresses->count : 0;
    if (count > PLAT_ADDRESS_MAX)
        count = PLAT_ADDRESS_MAX;
    if (error != 0 || count <= 0) {
        walk->phase = kWalkFailed;
        Add(actions, kWalkLookupFailed, -1, error != 0 ? error : kHostNotFound);
        return;
    }
    walk->addresses = *addresses;
    walk->addresses.count = count;
    walk->phase = kWalkConnecting;
    StartNext(walk, actions);
}

void WalkConnected(AddressWalk *walk, int attempt, WalkActions *actions)
{
    actions->count = 0;
    if (!IsPending(walk, attempt))
        return;
    walk->attempts[attempt] = kAttemptWon;
    walk->winner = attempt;
    walk->phase = kWalkConnected;
    ClosePending(walk, attempt, actions);
    StopTimer(walk, actions);
    Add(actions, kWalkWon, attempt, 0);
}

void WalkConnectFailed(AddressWalk *walk, int attempt, int error, WalkActions *actions)
{
    actions->count = 0;
    if (!IsPending(walk, attempt))
        return;
    walk->attempts[attempt] = kAttemptFailed;
    walk->lastError = error;
    Add(actions, kWalkClose, attempt, 0);
    bool newest = attempt == walk->started - 1;
    if (newest && walk->started < walk->addresses.count) {
        StartNext(walk, actions);
        return;
    }
    if (!AnyPending(walk) && walk->started >= walk->addresses.count) {
        walk->phase = kWalkFailed;
        StopTimer(walk, actions);
        Add(actions, kWalkAllFailed, -1, error);
    }
}

void WalkTimerFired(AddressWalk *walk, WalkActions *actions)
{
    actions->count = 0;
    // The window's timer repeats until stopped: one that fires with nothing left is stopped.
    if (walk->phase != kWalkConnecting || walk->started >= walk->addresses.count) {
        walk->timerArmed = false;
        Add(actions, kWalkStopTimer, -1, 0);
        return;
    }
    StartNext(walk, actions);
}

void WalkAbandon(AddressWalk *walk, WalkActions *actions)
{
    actions->count = 0;
    if (walk->phase == kWalkConnected)
        return;
    ClosePending(walk, -1, actions);
    StopTimer(walk, actions);
    walk->phase = kWalkFailed;
}

const PlatAddress *WalkAddress(const AddressWalk *walk, int attempt)
{
    if (attempt < 0 || attempt >= walk->addresses.count)
        return nullptr;
    return &walk->addresses.addresses[attempt];
}

const char *WalkAddressText(const AddressWalk *walk, int attempt)
{
    const PlatAddress *address = WalkAddress(walk, attempt);
    return address ? address->text : "";
}
