// The sending window: one modal window per queued message. It is the one part of the mail code
// that touches the socket, the timer, the status line and the boxes: it feeds what happens to
// the conversation and the TLS channel and carries out what they hand back.
#pragma once
#include <cstddef>

#include "../../platform/plat_net.h"
#include "../../platform/plat_tls.h"
#include "../../platform/plat_types.h"
#include "mail_log.h"
#include "../settings/mail_settings.h"
#include "../message/message_file.h"
#include "../smtp/smtp.h"
#include "../smtp/tls_channel.h"

// Private window messages: the name lookup's answer and the socket events.
const unsigned kWmHostFound = PLAT_WM_USER + 1;    // 1025
const unsigned kWmSocketEvent = PLAT_WM_USER + 2;  // 1026
// The socket events asked for: read, write, connect and close.
const long kSocketEventMask = 0x33;

// The dialog template and its controls.
const int kSendingWindowTemplate = 101;
const int kCheckingWindowTemplate = 103;
const int kCancelButton = 1000;
const int kStatusLine = 1012;

// The time-out timer: it measures silence, started again whenever bytes move. Once the whole
// message is on the socket, the server may take up to 10 minutes to answer for it.
const uintptr_t kTimeoutTimer = 1000;
const unsigned kTimeoutMilliseconds = 60000;
const unsigned kMessageReplyMilliseconds = 600000;

// How long the window stays on screen with its last status before it ends.
const unsigned kClosePauseMilliseconds = 1000;

// A window message that came while another was being handled (inside a box), waiting its turn.
struct DeferredMessage {
    unsigned message;
    uintptr_t first;
    intptr_t second;
};
const int kDeferredMax = 64;

struct SendingWindow {
    // Given for the window's life by PrepareSendingWindow (the log may be off, never absent).
    const MailSettings *settings;
    QueuedMessage *message;
    MailLog *log;

    // Set by the batch: a 535 to AUTH XOAUTH2 ends the window quietly, for the batch to
    // renew the token once and try again.
    bool renewOnRefusedToken;
    // A settings check ("/emailcheck"): no message file, no boxes (the first failure's text
    // is kept for the one box after the window), a refusal ends the window, no pause.
    bool check;
    char failureText[kBoxTextSize + 300];
    PlatTlsInfo tlsInfo;  // the TLS session, once secured ("" fields before)

    // What the batch reads once the window has ended (the verdict is the conversation's).
    bool started;      // the window was made
    bool stopBatch;    // the batch must stop after this message
    bool renewToken;   // the token was refused: renew it and send this message again
    // The message file's result once the window had finished reading it: 1, or why it can
    // never be sent (the window then ended before it was shown, for the batch to report it).
    int messageResult;

    // The window's own.
    PlatWindow handle;
    PlatSocket socket;  // PLAT_INVALID_SOCKET when there is none
    uintptr_t lookupHandle;
    char hostEntry[PLAT_HOST_ENTRY_SIZE];
    PlatFont font;
    bool socketFull;  // a send would have blocked: the next write event says when there is room
    bool selfClose;   // the program itself closes the window; else a Cancel is the user's
    bool ended;
    bool messageLogged;          // the message's size went to the log
    // What the last receive found when it came: whether we still had bytes on the way, and
    // how many commands had gone out; text that the channel hands on later came with it.
    bool arrivalEarly;
    unsigned arrivalCommands;
    char endReason[kBoxTextSize];  // why the window closed itself: its last box's first line
    DeferredMessage deferred[kDeferredMax];
    int deferredCount;
    int handlerDepth;

    SmtpConversation conversation;
    TlsChannel channel;
};

// Makes window ready to send message with settings, logging to log (all borrowed until the
// window ends). The structure is large (the conversation's and the channel's buffers): keep it
// off the stack.
void PrepareSendingWindow(SendingWindow *window, const MailSettings *settings,
                          QueuedMessage *message, MailLog *log);

// Shows the window, modally and without owner, and returns once it has ended. The file is
// deleted once the server has accepted the message (the conversation's verdict says how it
// ended); window->stopBatch tells the batch whether to go on.
void ShowSendingWindow(SendingWindow *window);

// The window procedure, with the window's state as context. Lookup answers, socket events and
// the timer that arrive while another message of this window is being handled (inside a
// box's loop) wait and are handled, in order, once that handling is over.
intptr_t SendingWindowProc(void *context, PlatWindow handle, unsigned message, uintptr_t first,
                           intptr_t second);

// What a handler found: go on, or the window must close (its box has been shown).
enum WindowStep { kStepGoOn, kStepCloseWindow };

// The lookup's answer: makes the socket and issues the connect.
WindowStep StartConnection(SendingWindow *window, uintptr_t lookupHandle, intptr_t lookupStatus);

// The controls.
void SetStatusLine(PlatWindow handle, const char *text);
void StopTimeoutTimer(PlatWindow handle);
// Closes the window as a Cancel would, marked as the program's own doing; returns once the
// Cancel has been handled in full.
void CloseSendingWindow(SendingWindow *window);

// The orderly close: shuts the sending side, reads what is waiting, shuts both and closes.
void CloseConnection(PlatSocket socket);

// The box text of a TLS failure for server: the certificate's verdict named, or the provider's
// status as a number; the queue folder last.
void MakeTlsFailureText(const TlsFailure *failure, const char *server, char *text,
                        size_t textSize);
