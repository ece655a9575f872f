// The recording fake of the sockets and dialog-window seams.
#include "fake_net.h"

#include <cstdio>
#include <cstring>

#include "fake.h"
#include "platform/plat_net.h"
#include "platform/plat_window.h"

FakeNetState gFakeNet;
FakeDialogState gFakeDialog;

static PlatDialogProc gProc;
static void *gContext;

static void ResetNet()
{
    gFakeNet = FakeNetState();
    gFakeDialog = FakeDialogState();
    gProc = nullptr;
}
static FakeResetHook gNetReset(ResetNet);

// ---- sockets ------------------------------------------------------------------------

int PlatWsaStartup(unsigned short version, unsigned short *granted)
{
    FakeRecord("WSAStartup(" + std::to_string(version) + ")");
    gFakeNet.startups++;
    gFakeNet.versionAsked = version;
    *granted = gFakeNet.startupError == 0 ? gFakeNet.grantedVersion : 0;
    return gFakeNet.startupError;
}

void PlatWsaCleanup(void)
{
    FakeRecord("WSACleanup");
    gFakeNet.cleanups++;
}

uintptr_t PlatResolveStart(PlatWindow window, unsigned message, const char *name)
{
    FakeRecord("ResolveStart(" + std::string(name) + "," + std::to_string(message) + ")");
    gFakeNet.resolveName = name;
    gFakeNet.lookupWindow = window;
    gFakeNet.resolveMessage = message;
    gFakeNet.resolveAnswered = gFakeNet.resolveTaken = false;  // a new lookup
    if (gFakeNet.resolveHandle == 0)
        gFakeNet.lastError = 10055;  // WSAENOBUFS
    return gFakeNet.resolveHandle;
}

int PlatResolveTake(uintptr_t lookup, PlatAddressList *list)
{
    if (lookup != gFakeNet.resolveHandle || !gFakeNet.resolveAnswered || gFakeNet.resolveTaken)
        return 0;
    FakeRecord("ResolveTake");
    gFakeNet.resolveTaken = true;
    *list = gFakeNet.resolved;
    return 1;
}

void PlatResolveCancel(uintptr_t lookup)
{
    if (lookup == 0)
        return;
    FakeRecord("ResolveCancel");
    gFakeNet.resolveCancelled = true;
}

PlatSocket PlatCreateSocketFor(int family)
{
    FakeRecord("socket(" + std::to_string(family) + ")");
    if (gFakeNet.socketFails || (family == PLAT_AF_INET6 && gFakeNet.ipv6Unavailable)) {
        gFakeNet.lastError = 10047;
        return PLAT_INVALID_SOCKET;
    }
    gFakeNet.socket = (PlatSocket)(0x50 + gFakeNet.socketsMade++);
    return gFakeNet.socket;
}

int PlatConnectAddress(PlatSocket socket, const PlatAddress *address, unsigned short port)
{
    gFakeNet.connectedTo = std::string(address->text) + ":" + std::to_string(port);
    FakeRecord("Connect(" + std::to_string(socket) + "," + gFakeNet.connectedTo + ")");
    auto scripted = gFakeNet.connectErrorFor.find(address->text);
    int error = scripted != gFakeNet.connectErrorFor.end() ? scripted->second
                                                           : gFakeNet.connectError;
    if (error == 0)
        return 0;
    gFakeNet.lastError = error;
    return -1;
}

static bool IsConnection(PlatSocket socket)
{
    return gFakeNet.connectionInbound.count(socket) != 0;
}

int PlatAsyncSelect(PlatSocket socket, PlatWindow window, unsigned message, long mask)
{
    FakeRecord("AsyncSelect(" + std::to_string(socket) + "," + std::to_string(window) + "," +
               std::to_string(message) + "," + std::to_string(mask) + ")");
    gFakeNet.selectedMessage[socket] = message;
    if (socket == gFakeNet.listener || IsConnection(socket))
        return gFakeNet.selectFails ? 1 : 0;
    gFakeNet.selectMask = mask;
    gFakeNet.selectMessage = message;
    return gFakeNet.selectFails ? 1 : 0;
}

unsigned short PlatGetServicePort(const char *service, const char *protocol)
{
    FakeRecord("GetServicePort(" + std::string(service) + "," + std::string(protocol) + ")");
    return gFakeNet.servicePort;
}

int PlatSend(PlatSocket socket, const char *data, int length)
{
    if (IsConnection(socket)) {
        gFakeNet.connectionSent[socket].append(data, (size_t)length);
        return length;
    }
    gFakeNet.sendCalls++;
    int take = length;
    if (!gFakeNet.sendLimits.empty()) {
        int limit = gFakeNet.sendLimits.front();
        gFakeNet.sendLimits.pop_front();
        if (limit < 0) {
            gFakeNet.lastError = 10054;
            return -1;
        }
        if (limit < take)
            take = limit;
    }
    gFakeNet.sent.append(data, (size_t)take);
    if (take > 0)
        gFakeNet.sends.emplace_back(data, (size_t)take);
    return take;
}

int PlatRecv(PlatSocket socket, char *buffer, int length)
{
    if (IsConnection(socket)) {
        std::string &in = gFakeNet.connectionInbound[socket];
        if (!in.empty()) {
            size_t n = std::min(in.size(), (size_t)length);
            memcpy(buffer, in.data(), n);
            in.erase(0, n);
            return (int)n;
        }
        if (gFakeNet.connectionPeerClosed[socket])
            return 0;
        gFakeNet.lastError = PLAT_WSAEWOULDBLOCK;
        return -1;
    }
    if (gFakeNet.receiveError != 0) {
        gFakeNet.lastError = gFakeNet.receiveError;
        gFakeNet.receiveError = 0;
        return -1;
    }
    if (!gFakeNet.inbound.empty()) {
        size_t n = std::min(gFakeNet.inbound.size(), (size_t)length);
        memcpy(buffer, gFakeNet.inbound.data(), n);
        gFakeNet.inbound.erase(0, n);
        return (int)n;
    }
    if (gFakeNet.peerClosed)
        return 0;
    gFakeNet.lastError = PLAT_WSAEWOULDBLOCK;
    return -1;
}

void PlatShutdown(PlatSocket, int how)
{
    FakeRecord("shutdown(" + std::to_string(how) + ")");
    gFakeNet.closeSteps.push_back("shutdown(" + std::to_string(how) + ")");
}

void PlatCloseSocket(PlatSocket socket)
{
    FakeRecord("closesocket(" + std::to_string(socket) + ")");
    gFakeNet.closedSockets.push_back(socket);
    gFakeNet.closeSteps.push_back("close");
}

int PlatWsaGetLastError(void) { return gFakeNet.lastError; }

PlatSocket PlatListenLoopback(unsigned short *port)
{
    FakeRecord("ListenLoopback");
    *port = 0;
    if (gFakeNet.listenFails) {
        gFakeNet.lastError = 10048;
        return PLAT_INVALID_SOCKET;
    }
    *port = gFakeNet.listenPort;
    gFakeNet.listener = (PlatSocket)0x600;
    return gFakeNet.listener;
}

PlatSocket PlatAccept(PlatSocket listener)
{
    FakeRecord("Accept(" + std::to_string(listener) + ")");
    if (listener != gFakeNet.listener || gFakeNet.waiting.empty()) {
        gFakeNet.lastError = PLAT_WSAEWOULDBLOCK;
        return PLAT_INVALID_SOCKET;
    }
    PlatSocket connection = gFakeNet.waiting.front();
    gFakeNet.waiting.pop_front();
    gFakeNet.connectionInbound[connection];
    return connection;
}

// ---- the dialog window ----------------------------------------------------------------

intptr_t FakeDeliver(unsigned message, uintptr_t first, intptr_t second)
{
    if (!gProc || gFakeDialog.window == 0 || gFakeDialog.ended)
        return 0;
    return gProc(gContext, gFakeDialog.window, message, first, second);
}

intptr_t PlatDialogBox(int templateId, PlatWindow owner, PlatDialogProc proc, void *context)
{
    FakeRecord("DialogBox(" + std::to_string(templateId) + "," + std::to_string(owner) + ")");
    gFakeDialog.shown++;
    gFakeDialog.templateId = templateId;
    gFakeDialog.owner = owner;
    gFakeDialog.statusByWindow.emplace_back();
    std::function<void()> script;
    if (!gFakeDialog.scripts.empty()) {
        script = gFakeDialog.scripts.front();
        gFakeDialog.scripts.pop_front();
    }
    if (gFakeDialog.createFails)
        return -1;
    gProc = proc;
    gContext = context;
    gFakeDialog.context = context;
    gFakeDialog.window = (PlatWindow)(0x5E00 + gFakeDialog.shown);
    gFakeDialog.ended = false;
    gFakeDialog.endResult = 0;
    proc(context, gFakeDialog.window, PLAT_WM_INITDIALOG, 0, 0);
    if (script && !gFakeDialog.ended)
        script();
    if (!gFakeDialog.ended) {
        FakeRecord("user Cancel (end of script)");
        FakeDeliver(PLAT_WM_COMMAND, (uintptr_t)gFakeDialog.cancelCommand, 0);
    }
    intptr_t result = gFakeDialog.endResult;
    gFakeDialog.window = 0;
    gFakeDialog.context = nullptr;
    gProc = nullptr;
    gFakeDialog.timerRunning = false;
    gFakeDialog.timers.clear();
    return result;
}

void PlatEndDialog(PlatWindow window, intptr_t result)
{
    FakeRecord("EndDialog(" + std::to_string(window) + "," + std::to_string(result) + ")");
    gFakeDialog.ended = true;
    gFakeDialog.endResult = result;
}

void PlatSetDlgItemText(PlatWindow window, int controlId, const char *text)
{
    FakeRecord("SetDlgItemText(" + std::to_string(window) + "," + std::to_string(controlId) + "," +
               text + ")");
    if (controlId == 1012) {
        gFakeDialog.statusTexts.push_back(text);
        if (!gFakeDialog.statusByWindow.empty())
            gFakeDialog.statusByWindow.back().push_back(text);
    }
}

void PlatSetTimer(PlatWindow window, uintptr_t timerId, unsigned milliseconds)
{
    FakeRecord("SetTimer(" + std::to_string(window) + "," + std::to_string(timerId) + "," +
               std::to_string(milliseconds) + ")");
    gFakeDialog.timerStarts++;
    gFakeDialog.timerPeriod = milliseconds;
    gFakeDialog.timerRunning = true;
    gFakeDialog.timers[timerId] = milliseconds;
}

void PlatKillTimer(PlatWindow window, uintptr_t timerId)
{
    FakeRecord("KillTimer(" + std::to_string(window) + "," + std::to_string(timerId) + ")");
    gFakeDialog.timerKills++;
    gFakeDialog.timerRunning = false;
    gFakeDialog.timers.erase(timerId);
}

void PlatSendCommand(PlatWindow window, int commandId)
{
    FakeRecord("SendCommand(" + std::to_string(window) + "," + std::to_string(commandId) + ")");
    if (gProc && window == gFakeDialog.window)
        gProc(gContext, window, PLAT_WM_COMMAND, (uintptr_t)commandId, 0);
}

PlatFont PlatCreateFont(int height, int weight, const char *face)
{
    FakeRecord("CreateFont(" + std::to_string(height) + "," + std::to_string(weight) + "," + face +
               ")");
    gFakeDialog.fonts.push_back({height, weight, face});
    return (PlatFont)(0xF000 + gFakeDialog.fonts.size());
}

void PlatDeleteFont(PlatFont font)
{
    FakeRecord("DeleteFont(" + std::to_string(font) + ")");
    if (font)
        gFakeDialog.fontsDeleted++;
}

void PlatSetControlFont(PlatWindow, int controlId, PlatFont font, int redraw)
{
    gFakeDialog.fontSets.push_back(std::to_string(controlId) + ":" + std::to_string(font) + ":" +
                                   std::to_string(redraw));
}

// ---- test helpers -----------------------------------------------------------------------

void FakeHostFound(const std::string &address, int error)
{
    FakeAddressesFound({address}, error);
}

void FakeSocketEvent(unsigned event, unsigned error)
{
    FakeSocketEventOn(gFakeNet.socket, event, error);
}

void FakeSocketEventOn(PlatSocket socket, unsigned event, unsigned error)
{
    FakeDeliver(1026, socket, (intptr_t)(((uintptr_t)error << 16) | event));
}

void FakeAddressesFound(const std::vector<std::string> &addresses, int error)
{
    PlatAddressList &list = gFakeNet.resolved;
    list = PlatAddressList();
    for (const std::string &text : addresses) {
        list.total++;
        if (error != 0 || list.count >= PLAT_ADDRESS_MAX)
            continue;
        PlatAddress &a = list.addresses[list.count++];
        a.family = text.find(':') != std::string::npos ? PLAT_AF_INET6 : PLAT_AF_INET;
        a.length = PLAT_ADDRESS_BYTES;
        snprintf(a.text, sizeof a.text, "%s", text.c_str());
    }
    gFakeNet.resolveAnswered = true;
    FakeDeliver(gFakeNet.resolveMessage, gFakeNet.resolveHandle, (intptr_t)error);
}

void FakeServerSays(const std::string &bytes)
{
    gFakeNet.inbound += bytes;
    while (!gFakeNet.inbound.empty() && gFakeDialog.window != 0 && !gFakeDialog.ended) {
        size_t before = gFakeNet.inbound.size();
        FakeSocketEvent(PLAT_FD_READ);
        if (gFakeNet.inbound.size() == before)
            break;
    }
}

void FakeUserCancel(void) { FakeDeliver(PLAT_WM_COMMAND, (uintptr_t)gFakeDialog.cancelCommand, 0); }

void FakeTimerFires(uintptr_t timerId) { FakeDeliver(PLAT_WM_TIMER, timerId, 0); }

PlatSocket FakeBrowserConnects(void)
{
    PlatSocket connection = (PlatSocket)(0x700 + ++gFakeNet.connectionsMade);
    gFakeNet.waiting.push_back(connection);
    FakeDeliver(gFakeNet.selectedMessage[gFakeNet.listener], gFakeNet.listener, PLAT_FD_ACCEPT);
    return connection;
}

void FakeBrowserSends(PlatSocket connection, const std::string &bytes, bool close)
{
    std::string &in = gFakeNet.connectionInbound[connection];
    in += bytes;
    while (!in.empty() && gFakeDialog.window != 0 && !gFakeDialog.ended) {
        size_t before = in.size();
        FakeDeliver(gFakeNet.selectedMessage[connection], connection, PLAT_FD_READ);
        if (in.size() == before)
            break;
    }
    if (close) {
        gFakeNet.connectionPeerClosed[connection] = true;
        FakeDeliver(gFakeNet.selectedMessage[connection], connection, PLAT_FD_CLOSE);
    }
}
