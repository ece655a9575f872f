// The sending window: one modal window per queued message. It is the one part of the mail code
// that touches the socket, the timer, the status line and the boxes: it feeds what happens to
// the conversation and the TLS channel and carries out what they hand back.
#pragma once
#include <cstddef>

#include "../../platform/plat_net.h"
#include "../../platform/plat_tls.h"
#include "../../platform/plat_types.h"
#include "api_sending_state.h"
#include "mail_log.h"
#include "mail_outcome.h"
#include "../settings/mail_settings.h"
#include "../message/message_file.h"
#include "../smtp/address_walk.h"
#include "../smtp/smtp.h"
#include "../smtp/tls_channel.h"

// Private window message: the socket events (the lookup's answer is kWmAddressesFound).
const unsigned kWmSocketEvent = PLAT_WM_USER + 2;  // 1026
// The socket events asked for: read, write, connect and close.
const long kSocketEventMask = 0x33;

// The dialog template and its controls.
const int kSendingWindowTemplate = 101;
const int kCheckingWindowTemplate = 103;
const int kCancelButton = 1000;
const int kStatusLine = 1012;

// The time-out timer: it measures silence, started again whenever bytes move. Once all that
// a step sent is on the socket, its reply may take what the step table allows (10 minutes
// for the message's).
const uintptr_t kTimeoutTimer = 1000;
const unsigned kTimeoutMilliseconds = 60000;

// How long the window stays on screen with its last status before it ends.
const unsigned kClosePauseMilliseconds = 1000;

// A window message that came while another was being handled (inside a box), waiting its turn.
struct DeferredMessage {
    unsigned message;
    uintptr_t first;
    intptr_t second;
};
const int kDeferredMax = 64;

struct SendingWindow;

// A way out other than SMTP (a mail API): the window makes itself, its status line, its
// silence timer and Cancel, and hands the way out its steps. Its private window messages lie
// in kWmWayOutFirst..kWmWayOutLast; the window defers them inside a box's loop like its own.
const unsigned kWmWayOutFirst = PLAT_WM_USER + 16;  // 1040
const unsigned kWmWayOutLast = PLAT_WM_USER + 31;
struct SendingWayOut {
    void (*start)(SendingWindow *window);  // the window is made and the message finished
    void (*message)(SendingWindow *window, unsigned message, uintptr_t first);
    void (*timer)(SendingWindow *window);   // the silence timer
    void (*cancel)(SendingWindow *window);  // Cancel, the user's or the window's own
    void (*end)(SendingWindow *window);     // the window has gone
};

struct SendingWindow {
    // Given for the window's life by PrepareSendingWindow (the log may be off, never absent).
    const MailSettings *settings;
    QueuedMessage *message;
    MailLog *log;

    // Set by the batch: a 535 to AUTH XOAUTH2 ends the window quietly, for the batch to
    // renew the token once and try again.
    bool renewOnRefusedToken;
    // A settings check ("/emailcheck"): no message file, no boxes (the check words the
    // outcome in its one box after the window), a refusal ends the window, no pause.
    bool check;
    // Set after PrepareSendingWindow by a job run from another window: that window owns this
    // one (and is disabled while it runs). 0 for none.
    PlatWindow owner;

    // What became of the message, for the batch and the check once the window has ended.
    MailOutcome outcome;

    // The window's own.
    PlatWindow handle;
    PlatSocket socket;  // the connection, PLAT_INVALID_SOCKET until an address has answered
    // Connecting: the lookup under way (0: none), the port, the walk over the server's
    // addresses and each attempt's socket until one wins (by the address's index).
    uintptr_t lookup;
    unsigned short port;
    AddressWalk walk;
    PlatSocket attempts[PLAT_ADDRESS_MAX];
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
    // The way out when it is not SMTP (null: SMTP), set by the job after PrepareSendingWindow;
    // the mail API's state, in place of the conversation and the channel.
    const SendingWayOut *wayOut;
    ApiSending api;
};

// Makes window ready to send message with settings, logging to log (all borrowed until the
// window ends). The structure is large (the conversation's and the channel's buffers): keep it
// off the stack.
void PrepareSendingWindow(SendingWindow *window, const MailSettings *settings,
                          QueuedMessage *message, MailLog *log);

// Shows the window, modally and without owner, and returns once it has ended with its
// outcome decided. The file is deleted once the server has accepted the message.
void ShowSendingWindow(SendingWindow *window);

// The window procedure, with the window's state as context. Lookup answers, socket events and
// the timers that arrive while another message of this window is being handled (inside a
// box's loop) wait and are handled, in order, once that handling is over.
intptr_t SendingWindowProc(void *context, PlatWindow handle, unsigned message, uintptr_t first,
                           intptr_t second);

// The controls.
void SetStatusLine(PlatWindow handle, const char *text);
// A box of the window: logged, its first line kept as the reason should the window close,
// and shown (a check shows its one box once it is over).
void ShowBox(SendingWindow *window, const char *text);
void StopTimeoutTimer(PlatWindow handle);
// Closes the window as a Cancel would, marked as the program's own doing; returns once the
// Cancel has been handled in full.
void CloseSendingWindow(SendingWindow *window);

// The orderly close: shuts the sending side, reads what is waiting, shuts both and closes.
void CloseConnection(PlatSocket socket);
