// The walk over a server's addresses as a table: the addresses the lookup gave, the events in
// order, and the actions each event handed back.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "mail/smtp/address_walk.h"

namespace {

PlatAddressList Addresses(const std::string &texts)
{
    PlatAddressList list;
    memset(&list, 0, sizeof list);
    std::istringstream in(texts);
    std::string text;
    while (in >> text && list.count < PLAT_ADDRESS_MAX) {
        PlatAddress &a = list.addresses[list.count++];
        a.family = text.find(':') != std::string::npos ? PLAT_AF_INET6 : PLAT_AF_INET;
        snprintf(a.text, sizeof a.text, "%s", text.c_str());
    }
    list.total = list.count;
    return list;
}

std::string Describe(const AddressWalk &walk, const WalkActions &actions)
{
    std::string out;
    for (int i = 0; i < actions.count; i++) {
        const WalkAction &a = actions.items[i];
        if (!out.empty())
            out += ", ";
        switch (a.kind) {
        case kWalkConnect:
            out += "connect " + std::string(WalkAddressText(&walk, a.attempt));
            break;
        case kWalkClose: out += "close " + std::to_string(a.attempt); break;
        case kWalkArmTimer: out += "arm"; break;
        case kWalkStopTimer: out += "stop"; break;
        case kWalkWon: out += "won " + std::to_string(a.attempt); break;
        case kWalkLookupFailed: out += "lookup failed " + std::to_string(a.error); break;
        case kWalkAllFailed: out += "all failed " + std::to_string(a.error); break;
        }
    }
    return out.empty() ? "-" : out;
}

// Events: "found" (the lookup's answer), "lookup N" (it failed with N), "ok I" (attempt I
// connected), "fail I N" (attempt I failed with N), "timer", "abandon". The actions of each
// event are joined with ", ", the events' with " | ".
std::string Walk(const std::string &addresses, const std::vector<std::string> &events)
{
    AddressWalk walk;
    StartAddressWalk(&walk);
    PlatAddressList list = Addresses(addresses);
    std::string trace;
    for (const std::string &event : events) {
        WalkActions actions = {};
        std::istringstream in(event);
        std::string kind;
        int a = 0, b = 0;
        in >> kind >> a >> b;
        if (kind == "found")
            WalkLookupDone(&walk, 0, &list, &actions);
        else if (kind == "lookup")
            WalkLookupDone(&walk, a, &list, &actions);
        else if (kind == "ok")
            WalkConnected(&walk, a, &actions);
        else if (kind == "fail")
            WalkConnectFailed(&walk, a, b, &actions);
        else if (kind == "timer")
            WalkTimerFired(&walk, &actions);
        else if (kind == "abandon")
            WalkAbandon(&walk, &actions);
        else
            ADD_FAILURE() << "unknown event " << event;
        trace += (trace.empty() ? "" : " | ") + Describe(walk, actions);
    }
    return trace;
}

struct WalkCase {
    const char *name;
    const char *addresses;
    std::vector<std::string> events;
    const char *actions;
};

const WalkCase kCases[] = {
    {"one address connects; no stagger for a single address", "192.0.2.1",
     {"found", "ok 0"},
     "connect 192.0.2.1 | won 0"},
    {"refused moves on at once, and the last address needs no timer",
     "192.0.2.1 192.0.2.2", {"found", "fail 0 10061", "ok 1"},
     "arm, connect 192.0.2.1 | close 0, stop, connect 192.0.2.2 | won 1"},
    {"IPv6 first, as the system ordered; unreachable moves on to IPv4 at once",
     "2001:db8::1 192.0.2.1", {"found", "fail 0 10051", "ok 1"},
     "arm, connect 2001:db8::1 | close 0, stop, connect 192.0.2.1 | won 1"},
    {"silent: the next goes beside it after the stagger; the winner closes the rest",
     "192.0.2.1 192.0.2.2 192.0.2.3", {"found", "timer", "ok 1"},
     "arm, connect 192.0.2.1 | arm, connect 192.0.2.2 | close 0, stop, won 1"},
    {"the silent one answers late and still wins over the newer one",
     "192.0.2.1 192.0.2.2 192.0.2.3", {"found", "timer", "ok 0"},
     "arm, connect 192.0.2.1 | arm, connect 192.0.2.2 | close 1, stop, won 0"},
    {"the newest refusing starts the next at once even while an older one is silent",
     "192.0.2.1 192.0.2.2 192.0.2.3", {"found", "timer", "fail 1 10061", "ok 2"},
     "arm, connect 192.0.2.1 | arm, connect 192.0.2.2 | close 1, stop, connect 192.0.2.3 | "
     "close 0, won 2"},
    {"an older attempt failing starts nothing: the newest keeps its time",
     "192.0.2.1 192.0.2.2 192.0.2.3", {"found", "timer", "fail 0 10060", "timer", "ok 2"},
     "arm, connect 192.0.2.1 | arm, connect 192.0.2.2 | close 0 | stop, connect 192.0.2.3 | "
     "close 1, won 2"},
    {"all failed, the last error named", "2001:db8::1 192.0.2.1 192.0.2.2",
     {"found", "fail 0 10051", "fail 1 10061", "fail 2 10060"},
     "arm, connect 2001:db8::1 | close 0, arm, connect 192.0.2.1 | close 1, stop, connect "
     "192.0.2.2 | close 2, all failed 10060"},
    {"all failed once the silent ones fail too, in any order",
     "192.0.2.1 192.0.2.2", {"found", "timer", "fail 1 10061", "fail 0 10060"},
     "arm, connect 192.0.2.1 | stop, connect 192.0.2.2 | close 1 | close 0, all failed 10060"},
    {"a lookup that failed, or found nothing, tries nothing", "",
     {"lookup 11001", "found", "ok 0", "timer"},
     "lookup failed 11001 | - | - | stop"},
    {"an empty answer is the lookup's failure", "", {"found"}, "lookup failed 11001"},
    {"events for attempts never made, failed or closed mean nothing",
     "192.0.2.1 192.0.2.2", {"ok 1", "found", "ok 5", "fail -1 1", "fail 0 10061", "fail 0 1",
                             "ok 0", "ok 1", "fail 1 10061", "ok 1"},
     "- | arm, connect 192.0.2.1 | - | - | close 0, stop, connect 192.0.2.2 | - | - | won 1 | "
     "- | -"},
    {"abandoned while connecting: the attempts under way closed, the timer stopped",
     "192.0.2.1 192.0.2.2 192.0.2.3", {"found", "timer", "abandon", "ok 0", "timer"},
     "arm, connect 192.0.2.1 | arm, connect 192.0.2.2 | close 0, close 1, stop | - | stop"},
    {"abandoning after the win leaves the connection alone", "192.0.2.1",
     {"found", "ok 0", "abandon"}, "connect 192.0.2.1 | won 0 | -"},
};

TEST(AddressWalk, EventsGiveTheseActions)
{
    for (const WalkCase &c : kCases)
        EXPECT_EQ(Walk(c.addresses, c.events), c.actions) << c.name;
}

TEST(AddressWalk, EveryAttemptOfAFullListIsClosedInOneListWhenOneWins)
{
    // The largest list one event hands back: every other attempt closed, the timer, the win.
    std::string addresses;
    for (int i = 0; i < PLAT_ADDRESS_MAX; i++)
        addresses += "192.0.2." + std::to_string(i + 1) + " ";
    AddressWalk walk;
    StartAddressWalk(&walk);
    PlatAddressList list = Addresses(addresses);
    WalkActions actions = {};
    WalkLookupDone(&walk, 0, &list, &actions);
    for (int i = 1; i < PLAT_ADDRESS_MAX; i++)
        WalkTimerFired(&walk, &actions);
    WalkConnected(&walk, 3, &actions);
    ASSERT_EQ(actions.count, PLAT_ADDRESS_MAX);  // 15 closes, the win (the timer already stopped)
    EXPECT_EQ(actions.items[PLAT_ADDRESS_MAX - 1].kind, kWalkWon);
    EXPECT_STREQ(WalkAddressText(&walk, walk.winner), "192.0.2.4");
    EXPECT_STREQ(WalkAddressText(&walk, PLAT_ADDRESS_MAX), "");
}

}  // namespace
