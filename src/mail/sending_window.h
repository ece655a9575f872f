// The sending window: one modal window per queued message, owning the name lookup, the
// socket, the time-out timer, the status line and the Cancel button; and the values and
// controls that the conversation and the batch share with it.
#pragma once
#include <cstddef>

#include "../platform/plat_types.h"

// Private window messages: the name lookup's answer and the socket events.
const unsigned kWmHostFound = PLAT_WM_USER + 1;    // 1025
const unsigned kWmSocketEvent = PLAT_WM_USER + 2;  // 1026
// The socket events asked for: read, write, connect and close.
const long kSocketEventMask = 0x33;

// The dialog template and its controls.
const int kSendingWindowTemplate = 101;
const int kCancelButton = 1000;
const int kStatusLine = 1012;

// The time-out timer.
const uintptr_t kTimeoutTimer = 1000;
const unsigned kTimeoutMilliseconds = 60000;

// How long the window stays on screen with its last status before it ends.
const unsigned kClosePauseMilliseconds = 1000;

// The mail server from the host settings file.
extern char gSmtpServer[256];
extern unsigned short gConfiguredPort;

// 1 while the program itself closes the window, 0 when a Cancel comes from the user.
extern int gSelfClose;
// 1 while the batch may take the next file.
extern int gBatchContinue;
// The connection's socket, PLAT_INVALID_SOCKET when there is none.
extern PlatSocket gSocket;

// Reads "SMTPServer" and "SMTPPort". 1 when both are set; 0 after the box that says which
// is missing.
int ReadSmtpSettings(void);

// The window procedure. Lookup answers, socket events and the timer that arrive while
// another message of this window is being handled (inside a message box's loop) wait and are
// handled, in order, once that handling is over.
intptr_t SendingWindowProc(void *context, PlatWindow window, unsigned message, uintptr_t first,
                           intptr_t second);

// The lookup's answer: makes the socket and issues the connect. 1 to go on, 0 on failure
// (after its box).
int StartConnection(PlatWindow window, uintptr_t lookupHandle, intptr_t lookupStatus);

// Shows the window for the message in gMessage, modally, and returns when it has ended.
void ShowSendingWindow(void);

// The controls.
void SetStatusLine(PlatWindow window, const char *text);
void StopTimeoutTimer(PlatWindow window);
// Closes the window as a Cancel would, marked as the program's own doing; returns once the
// Cancel has been handled in full.
void CloseSendingWindow(PlatWindow window);

