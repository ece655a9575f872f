// walkprobe.exe: the program's lookup of every address and its walk over them, on real sockets
// under Wine, for the end-to-end tests of names with several addresses.
//
//   walkprobe.exe NAME            the lookup only: one JSON line
//                                 {"error":N,"total":N,"addresses":[{"family":4|6,"text":"..."}]}
//   walkprobe.exe NAME PORT       then the walk: one JSON line per action the walk handed back
//                                 {"ms":N,"action":"connect|close|arm|stop|won|lookup failed|
//                                  all failed","attempt":N,"address":"...","error":N}, each
//                                 connect's own result as {"ms":N,"connect":N,"result":N}
// ms counts from the lookup's start. Exit code 0 when an attempt won, 1 when the walk failed,
// 2 when the lookup could not start, 126 on bad usage. A walk still going after 60 s fails.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "../../src/mail/smtp/address_walk.h"
#include "tool_json.h"

static const unsigned kWmSocketEvent = WM_USER + 2;
static const UINT_PTR kGiveUpTimer = 1;

struct Probe {
    HWND window;
    uintptr_t lookup;
    unsigned short port;
    DWORD startTick;
    AddressWalk walk;
    SOCKET sockets[PLAT_ADDRESS_MAX];
    int exitCode;  // -1 while the walk goes on
};
static Probe gProbe;

static void Print(const std::string &line)
{
    fputs(line.c_str(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

static std::string Ms() { return "{\"ms\":" + std::to_string(GetTickCount() - gProbe.startTick); }

static void Feed(const WalkActions *actions);

// A connect's result at once: connected, going on (its event reports it), or failed.
static void Connect(int attempt)
{
    const PlatAddress *address = WalkAddress(&gProbe.walk, attempt);
    WalkActions next = {};
    PlatSocket s = PlatCreateSocketFor(address->family);
    int result = 0;
    if (s == PLAT_INVALID_SOCKET) {
        result = PlatWsaGetLastError();
    } else {
        gProbe.sockets[attempt] = (SOCKET)s;
        if (PlatAsyncSelect(s, (PlatWindow)gProbe.window, kWmSocketEvent, FD_CONNECT) != 0)
            result = PlatWsaGetLastError();
        else if (PlatConnectAddress(s, address, gProbe.port) != 0)
            result = PlatWsaGetLastError();
    }
    Print(Ms() + ",\"connect\":" + std::to_string(attempt) + ",\"result\":" +
          std::to_string(result) + "}");
    if (result == 0)
        WalkConnected(&gProbe.walk, attempt, &next);
    else if (result != PLAT_WSAEWOULDBLOCK)
        WalkConnectFailed(&gProbe.walk, attempt, result, &next);
    Feed(&next);
}

static void Feed(const WalkActions *actions)
{
    static const char *names[] = {"connect", "close", "arm", "stop", "won", "lookup failed",
                                  "all failed"};
    for (int i = 0; i < actions->count; i++) {
        const WalkAction &a = actions->items[i];
        std::string line = Ms() + ",\"action\":";
        ToolJsonQuote(line, names[a.kind]);
        line += ",\"attempt\":" + std::to_string(a.attempt) + ",\"address\":";
        ToolJsonQuote(line, WalkAddressText(&gProbe.walk, a.attempt));
        Print(line + ",\"error\":" + std::to_string(a.error) + "}");
        switch (a.kind) {
        case kWalkConnect:
            Connect(a.attempt);  // always the list's last action
            break;
        case kWalkClose:
            closesocket(gProbe.sockets[a.attempt]);
            gProbe.sockets[a.attempt] = INVALID_SOCKET;
            break;
        case kWalkArmTimer:
            SetTimer(gProbe.window, kWalkStaggerTimer, kWalkStaggerMilliseconds, nullptr);
            break;
        case kWalkStopTimer:
            KillTimer(gProbe.window, kWalkStaggerTimer);
            break;
        case kWalkWon:
            gProbe.exitCode = 0;
            break;
        case kWalkLookupFailed:
        case kWalkAllFailed:
            gProbe.exitCode = 1;
            break;
        }
    }
}

static LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM first, LPARAM second)
{
    WalkActions actions = {};
    if (message == kWmAddressesFound && first == gProbe.lookup) {
        PlatAddressList list;
        if (!PlatResolveTake(gProbe.lookup, &list))
            return 0;
        gProbe.lookup = 0;
        int error = (int)second;
        if (gProbe.port == 0) {
            std::string line = "{\"error\":" + std::to_string(error) +
                               ",\"total\":" + std::to_string(list.total) + ",\"addresses\":[";
            for (int i = 0; i < list.count; i++) {
                line += i ? ",{\"family\":" : "{\"family\":";
                line += list.addresses[i].family == PLAT_AF_INET6 ? "6" : "4";
                line += ",\"text\":";
                ToolJsonQuote(line, list.addresses[i].text);
                line += "}";
            }
            Print(line + "]}");
            gProbe.exitCode = error == 0 ? 0 : 1;
            return 0;
        }
        WalkLookupDone(&gProbe.walk, error, &list, &actions);
    } else if (message == kWmSocketEvent && WSAGETSELECTEVENT(second) == FD_CONNECT) {
        for (int i = 0; i < PLAT_ADDRESS_MAX; i++) {
            if (gProbe.sockets[i] != (SOCKET)first)
                continue;
            int error = WSAGETSELECTERROR(second);
            Print(Ms() + ",\"event\":" + std::to_string(i) + ",\"error\":" +
                  std::to_string(error) + "}");
            if (error == 0)
                WalkConnected(&gProbe.walk, i, &actions);
            else
                WalkConnectFailed(&gProbe.walk, i, error, &actions);
            break;
        }
    } else if (message == WM_TIMER && first == kWalkStaggerTimer) {
        WalkTimerFired(&gProbe.walk, &actions);
    } else if (message == WM_TIMER && first == kGiveUpTimer) {
        WalkAbandon(&gProbe.walk, &actions);
        Feed(&actions);
        gProbe.exitCode = 1;
        return 0;
    } else {
        return DefWindowProcA(window, message, first, second);
    }
    Feed(&actions);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: walkprobe NAME [PORT]\n");
        return 126;
    }
    unsigned short granted = 0;
    if (PlatWsaStartup(0x0202, &granted) != 0)
        return 2;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ProbeProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "TillwickWalkProbe";
    RegisterClassA(&wc);
    gProbe.window = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr);
    gProbe.port = argc == 3 ? (unsigned short)atoi(argv[2]) : 0;
    gProbe.exitCode = -1;
    for (SOCKET &s : gProbe.sockets)
        s = INVALID_SOCKET;
    StartAddressWalk(&gProbe.walk);
    SetTimer(gProbe.window, kGiveUpTimer, 60000, nullptr);
    gProbe.startTick = GetTickCount();
    gProbe.lookup = PlatResolveStart((PlatWindow)gProbe.window, kWmAddressesFound, argv[1]);
    if (!gProbe.lookup) {
        fprintf(stderr, "the lookup could not start: %d\n", PlatWsaGetLastError());
        return 2;
    }
    MSG msg;
    while (gProbe.exitCode < 0 && GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    PlatWsaCleanup();
    return gProbe.exitCode;
}
