// The sending window: turns window messages into steps. The lookup's answer starts the
// connection, socket events feed the conversation, the timer gives up on a stalled one, and
// the Cancel command ends everything, deleting the file once the server has accepted it.
#include "sending_window.h"

#include <cstring>

#include "../app/dispatcher.h"
#include "../base/error_box.h"
#include "../base/host_settings.h"
#include "../base/paths.h"
#include "../base/text.h"
#include "../platform/plat_files.h"
#include "../platform/plat_net.h"
#include "../platform/plat_ui.h"
#include "../platform/plat_window.h"
#include "login.h"
#include "mail_texts.h"
#include "smtp.h"

char gSmtpServer[256];
unsigned short gConfiguredPort;
int gSelfClose;
int gBatchContinue;
PlatSocket gSocket = PLAT_INVALID_SOCKET;

static const int kLogPixelsY = 90;
static const unsigned short kDefaultSmtpPort = 25;

static char gHostEntry[PLAT_HOST_ENTRY_SIZE];
static uintptr_t gLookupHandle;
static PlatFont gFont;
static bool gWindowStarted;
static bool gWindowEnded;

// Messages that came while another message was being handled, waiting their turn.
struct DeferredMessage {
    unsigned message;
    uintptr_t first;
    intptr_t second;
};
static const int kDeferredMax = 64;
static DeferredMessage gDeferred[kDeferredMax];
static int gDeferredCount;
static int gHandlerDepth;

void SetStatusLine(PlatWindow window, const char *text)
{
    PlatSetDlgItemText(window, kStatusLine, text);
}

void StopTimeoutTimer(PlatWindow window) { PlatKillTimer(window, kTimeoutTimer); }

void CloseSendingWindow(PlatWindow window)
{
    gSelfClose = 1;
    PlatSendCommand(window, kCancelButton);
}

int ReadSmtpSettings(void)
{
    if (ReadHostSetting(kHostSettingsRead, kSectionEmail, "SMTPServer", "", gSmtpServer,
                        sizeof gSmtpServer) == 0) {
        ShowErrorBox(0, kTextNoServer);
        return 0;
    }
    char port[kSettingSize];
    if (ReadHostSetting(kHostSettingsRead, kSectionEmail, "SMTPPort", "", port, sizeof port) == 0) {
        ShowErrorBox(0, kTextNoPort);
        return 0;
    }
    gConfiguredPort = (unsigned short)ParseDecimal(port);
    return ReadSecuritySettings();
}

// Formats a failure that names the queue folder, with a number, and shows it.
static void ShowQueuedFailure(PlatWindow window, const char *format, int number)
{
    char folder[kCommandArgumentSize + 8];
    MakeQueueFolderText(folder, sizeof folder);
    char text[1000];
    FormatText(text, sizeof text, format, number, folder);
    ShowErrorBox(window, text);
}

int StartConnection(PlatWindow window, uintptr_t lookupHandle, intptr_t lookupStatus)
{
    if (lookupHandle != gLookupHandle)
        return 1;
    int error = (int)(((uintptr_t)lookupStatus >> 16) & 0xFFFF);
    if (error != 0) {
        ShowQueuedFailure(window, kTextLookupFailed, error);
        return 0;
    }
    gSocket = PlatCreateStreamSocket();
    if (gSocket == PLAT_INVALID_SOCKET) {
        ShowErrorBox(window, kTextNoSocket);
        return 0;
    }
    if (PlatAsyncSelect(gSocket, window, kWmSocketEvent, kSocketEventMask) != 0) {
        ShowErrorBox(window, kTextSelectFailed);
        return 0;
    }
    // The configured port; the services database (and then 25) only when it is 0.
    unsigned short port = gConfiguredPort;
    if (port == 0)
        port = PlatGetServicePort("smtp", "tcp");
    if (port == 0)
        port = kDefaultSmtpPort;
    bool connectedAtOnce = PlatConnect(gSocket, gHostEntry, port) == 0;
    if (!connectedAtOnce && PlatWsaGetLastError() != PLAT_WSAEWOULDBLOCK) {
        ShowErrorBox(window, kTextConnectFailed);
        return 0;
    }
    gSmtpState = kStateConnecting;
    char text[300];
    FormatText(text, sizeof text, kStatusConnected, gSmtpServer);
    SetStatusLine(window, text);
    // A connect done at once may never be reported by an event.
    return connectedAtOnce ? ConnectionMade(window) : 1;
}

static intptr_t HandleInitDialog(PlatWindow window)
{
    gWindowStarted = true;
    // 10 points at the screen's vertical resolution, to the nearest pixel.
    int dpi = PlatGetDeviceCaps(window, kLogPixelsY);
    int height = -((10 * dpi + 36) / 72);
    gFont = PlatCreateFont(height, 700, "MS Sans Serif");
    PlatSetControlFont(window, kStatusLine, gFont, 0);
    PlatSetControlFont(window, kCancelButton, gFont, 0);

    ResetConversation();
    PlatSetTimer(window, kTimeoutTimer, kTimeoutMilliseconds);
    char text[300];
    FormatText(text, sizeof text, kStatusConnecting, gSmtpServer);
    SetStatusLine(window, text);
    gLookupHandle = PlatAsyncGetHostByName(window, kWmHostFound, gSmtpServer, gHostEntry,
                                           (int)sizeof gHostEntry);
    // The window then waits for the user's Cancel.
    if (gLookupHandle == 0)
        ShowErrorBox(window, kTextLookupNotStarted);
    return 1;
}

static void HandleTimer(PlatWindow window)
{
    StopTimeoutTimer(window);
    // Not yet started, or stopped by a negative reply: the user decides.
    if (gSmtpState != gLastStepState)
        return;
    gBatchContinue = 0;
    ShowQueuedFailure(window, kTextTimedOut, gSmtpState);
    CloseSendingWindow(window);
}

static void HandleCancel(PlatWindow window)
{
    if (gWindowEnded)
        return;
    if (gSelfClose == 0)
        gBatchContinue = 0;
    // State 9 or more: the server has the message, so it must not go out again. A negative
    // reply to QUIT puts the state back to 8, and the file then stays queued.
    if (gSmtpState >= kStateSent && !PlatDeleteFile(gCommandArgument)) {
        char text[1000];
        FormatText(text, sizeof text, kTextCouldNotDelete, gCommandArgument);
        ShowErrorBox(window, text);
    }
    if (gSmtpState != kStateIdle)
        CloseConnection(gSocket);
    else if (gSocket != PLAT_INVALID_SOCKET)
        PlatCloseSocket(gSocket);  // made, but the connect was never issued
    gSocket = PLAT_INVALID_SOCKET;
    DiscardPendingOutput();
    PlatSleep(kClosePauseMilliseconds);
    gWindowEnded = true;
    PlatEndDialog(window, -1);
}

static intptr_t HandleMessage(PlatWindow window, unsigned message, uintptr_t first,
                              intptr_t second)
{
    switch (message) {
    case PLAT_WM_INITDIALOG:
        return HandleInitDialog(window);
    case kWmHostFound:
        if (!StartConnection(window, first, second)) {
            gBatchContinue = 0;
            CloseSendingWindow(window);
        }
        return 1;
    case kWmSocketEvent:
        // Events of a socket that is not (or no longer) ours mean nothing here.
        if (gSocket == PLAT_INVALID_SOCKET || first != (uintptr_t)gSocket)
            return 1;
        if (!HandleSocketEvent(window, (unsigned long)second)) {
            gBatchContinue = 0;
            CloseSendingWindow(window);
        }
        return 1;
    case PLAT_WM_TIMER:
        HandleTimer(window);
        return 1;
    case PLAT_WM_COMMAND:
        if (first != (uintptr_t)kCancelButton)
            return 0;  // Esc and the close box do nothing
        HandleCancel(window);
        return 1;
    default:
        return 0;
    }
}

static void DeferMessage(unsigned message, uintptr_t first, intptr_t second)
{
    // The queue cannot fill in practice: the platform holds back a socket's next read event
    // until the socket has been read, and there is one timer and one lookup.
    if (gDeferredCount < kDeferredMax)
        gDeferred[gDeferredCount++] = {message, first, second};
}

intptr_t SendingWindowProc(void *, PlatWindow window, unsigned message, uintptr_t first,
                           intptr_t second)
{
    bool asynchronous =
        message == kWmHostFound || message == kWmSocketEvent || message == PLAT_WM_TIMER;
    if (asynchronous) {
        if (gWindowEnded)
            return 1;
        // Inside a message box's loop: the line being handled must finish first.
        if (gHandlerDepth > 0) {
            DeferMessage(message, first, second);
            return 1;
        }
    }
    gHandlerDepth++;
    intptr_t result = HandleMessage(window, message, first, second);
    gHandlerDepth--;
    // Back at the outermost level: what waited is handled now, oldest first.
    while (gHandlerDepth == 0 && gDeferredCount > 0 && !gWindowEnded) {
        DeferredMessage next = gDeferred[0];
        gDeferredCount--;
        memmove(gDeferred, gDeferred + 1, sizeof gDeferred[0] * (size_t)gDeferredCount);
        gHandlerDepth++;
        HandleMessage(window, next.message, next.first, next.second);
        gHandlerDepth--;
    }
    if (gWindowEnded)
        gDeferredCount = 0;
    return result;
}

void ShowSendingWindow(void)
{
    gWindowStarted = false;
    gWindowEnded = false;
    gHandlerDepth = 0;
    gDeferredCount = 0;
    gLookupHandle = 0;
    gFont = 0;
    gSocket = PLAT_INVALID_SOCKET;
    PlatDialogBox(kSendingWindowTemplate, 0, SendingWindowProc, nullptr);
    // A window that could not be made sent nothing: the rest waits for a later run.
    if (!gWindowStarted)
        gBatchContinue = 0;
    if (gSocket != PLAT_INVALID_SOCKET) {
        PlatCloseSocket(gSocket);
        gSocket = PLAT_INVALID_SOCKET;
    }
    PlatDeleteFont(gFont);
    gFont = 0;
    DiscardPendingOutput();
}
