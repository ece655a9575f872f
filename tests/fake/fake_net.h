// The recording fake of the sockets seam and of the dialog-window seam: a test scripts what
// the lookup, the socket and the server do, drives the sending window with its messages, and
// reads back what was sent, shown and closed.
#pragma once
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/plat_net.h"
#include "platform/plat_types.h"

struct FakeNetState {
    // --- scripted by the test ---
    int startupError = 0;                 // what WSAStartup returns
    unsigned short grantedVersion = 0x0101;
    bool socketFails = false;
    bool selectFails = false;
    unsigned short servicePort = 25;      // 0: the services database has no "smtp"
    int connectError = 10035;             // 0: connected at once
    // Per send call, the most bytes the socket takes (0: would block, -1: broken); once
    // these run out every send is taken whole.
    std::deque<int> sendLimits;
    std::string inbound;                  // bytes the server has sent, not yet received
    bool peerClosed = false;              // once inbound is empty, a receive gives 0
    int receiveError = 0;                 // nonzero: the next receive fails with it
    // The lookup of every address and the sockets made for one address family.
    uintptr_t resolveHandle = 0x4D00;     // 0: the lookup cannot be started
    bool ipv6Unavailable = false;         // a socket for IPv6 cannot be made (10047)
    std::map<std::string, int> connectErrorFor;  // by the address's text; else connectError

    // --- recorded ---
    int startups = 0, cleanups = 0;
    unsigned short versionAsked = 0;
    PlatWindow lookupWindow = 0;
    PlatSocket socket = PLAT_INVALID_SOCKET;  // the last socket made
    long selectMask = 0;
    unsigned selectMessage = 0;
    std::string connectedTo;              // "address:port"
    std::string resolveName;
    unsigned resolveMessage = 0;
    bool resolveAnswered = false, resolveTaken = false, resolveCancelled = false;
    PlatAddressList resolved = {};        // what the lookup found (FakeAddressesFound)
    int socketsMade = 0;                  // by PlatCreateSocketFor: 0x50, 0x51, ...
    std::string sent;                     // every byte the socket took, in order
    std::vector<std::string> sends;       // the same, one entry per send call that took bytes
    int sendCalls = 0;
    int lastError = 0;
    std::vector<std::string> closeSteps;  // "shutdown(1)", "shutdown(2)", "close"

    // The loopback listener of the sign-in and the connections it accepts, each with its
    // own bytes (a socket of these never touches inbound or sent above).
    bool listenFails = false;             // scripted: the listener cannot be made
    unsigned short listenPort = 50123;    // scripted: the port the system chooses
    PlatSocket listener = PLAT_INVALID_SOCKET;
    std::deque<PlatSocket> waiting;       // connected, not yet accepted
    std::map<PlatSocket, std::string> connectionInbound;  // the browser's bytes not yet read
    std::map<PlatSocket, bool> connectionPeerClosed;
    std::map<PlatSocket, std::string> connectionSent;     // what the program answered
    std::map<PlatSocket, unsigned> selectedMessage;      // per socket, its events' message
    std::vector<PlatSocket> closedSockets;
    int connectionsMade = 0;
};

extern FakeNetState gFakeNet;

struct FakeFont {
    int height;
    int weight;
    std::string face;
};

struct FakeDialogState {
    // --- scripted by the test ---
    // One script per window, run after WM_INITDIALOG as the window's message loop; a window
    // still open when its script returns (or that has none) gets the user's Cancel.
    std::deque<std::function<void()>> scripts;
    bool createFails = false;             // the window cannot be made
    int cancelCommand = 1000;             // the command a user's Cancel sends

    // --- recorded ---
    int shown = 0;
    int templateId = 0;
    PlatWindow owner = 0;
    PlatWindow window = 0;                // the open window, 0 when none
    void *context = nullptr;              // what the open window's procedure is handed
    bool ended = false;
    intptr_t endResult = 0;
    std::vector<std::string> statusTexts;  // every text set on the status line, in order
    std::vector<std::vector<std::string>> statusByWindow;  // the same, per window shown
    int timerStarts = 0, timerKills = 0;
    unsigned timerPeriod = 0;
    bool timerRunning = false;            // the last timer set or killed, whatever its id
    std::map<uintptr_t, unsigned> timers;  // the timers running, by id: their period
    std::vector<FakeFont> fonts;
    std::vector<std::string> fontSets;    // "control:font:redraw"
    int fontsDeleted = 0;
};

extern FakeDialogState gFakeDialog;

// Delivers a message to the open window's procedure, as its message loop would. Returns the
// procedure's result; 0 when no window is open.
intptr_t FakeDeliver(unsigned message, uintptr_t first, intptr_t second);

// The lookup answers with one address (none with an error): FakeAddressesFound below.
void FakeHostFound(const std::string &address, int error = 0);

// A socket event for the last socket made; for a given socket.
void FakeSocketEvent(unsigned event, unsigned error = 0);
void FakeSocketEventOn(PlatSocket socket, unsigned event, unsigned error = 0);

// The lookup of every address answers: the addresses by their text (one with ':' is IPv6),
// then the lookup's message with its handle and the error.
void FakeAddressesFound(const std::vector<std::string> &addresses, int error = 0);

// The server sends bytes, then one read event per receive until they are all taken (or a
// read event is held back, inside a message box).
void FakeServerSays(const std::string &bytes);

// The user clicks Cancel; a timer fires (1000: the sending window's time-out).
void FakeUserCancel(void);
void FakeTimerFires(uintptr_t timerId = 1000);

// A browser connects to the listener: the listener's accept event goes to the window.
// Returns the connection's socket (what the program's accept will give).
PlatSocket FakeBrowserConnects(void);
// The browser sends bytes on a connection: read events until they are all taken (or one
// takes nothing); with close, then the close event.
void FakeBrowserSends(PlatSocket connection, const std::string &bytes, bool close = false);
