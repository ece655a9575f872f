// The SMTP conversation that carries one queued message to the server. It owns no socket, no
// window and no timer: it is fed what happened (connected, bytes received, the secure channel
// up) and hands back what to do (bytes to send, a status text, a box, start TLS, stop the
// timer, close once delivered, lines for the log); the sending window carries that out after
// the call returns, and decides itself when a failure stops the batch.
#pragma once
#include <cstddef>

#include "mail_settings.h"
#include "message_file.h"

// The states: their numbers show in the time-out message, their names in the boxes of
// negative replies. 1 and 2 are named for what they wait on; from 4 on a state is named for
// what goes out once its reply is positive (kStateMailFrom awaits the reply to RSET). Beside
// each: the reply it awaits.
enum SmtpState {
    kStateIdle = 0,        // no connection requested yet
    kStateConnecting = 1,  // the greeting
    kStateHelo = 2,        // the reply to HELO (or to every step before the transaction)
    kStateRset = 3,        // never entered
    kStateMailFrom = 4,    // the reply to RSET
    kStateRcptTo = 5,      // the reply to MAIL FROM, or to a RCPT TO that a copy follows
    kStateData = 6,        // the reply to the last RCPT TO
    kStateSendMsg = 7,     // the reply to DATA
    kStateQuit = 8,        // the reply to the message; also after any negative reply
    kStateSent = 9,        // the reply to QUIT
    kStateDone = 10,       // delivered
};

// Where a conversation that greets with EHLO stands before its transaction; all of it happens
// while the state is kStateHelo, so the state numbers keep their meaning.
enum PreludeStep {
    kPreludeNone = 0,           // no EHLO step pending (plain HELO, or the prelude is over)
    kPreludeEhlo,               // the reply to EHLO
    kPreludeStartTls,           // the reply to STARTTLS
    kPreludeHandshake,          // the TLS handshake is running
    kPreludeAuthPlain,          // the reply to AUTH PLAIN
    kPreludeAuthLoginUser,      // the user name prompt after AUTH LOGIN
    kPreludeAuthLoginPassword,  // the password prompt
    kPreludeAuthLoginDone,      // the reply to the password
    kPreludeAuthXoauth2,        // the reply to AUTH XOAUTH2 with the access token
    kPreludeAuthXoauth2Error,   // the reply to the empty line that answers its 334 challenge
};

// What the sending window is to do, in the order given.
enum SmtpActionKind {
    kActionStatus,     // set the status line to the action's text
    kActionBox,        // show the box text of the actions, owned by the window
    kActionStartTls,   // begin the TLS handshake on the connection
    kActionStopTimer,  // stop the time-out timer
    kActionClose,      // close the window as the program's own doing
    kActionLogSent,    // for the mail log: a line we sent, as the log may show it
    kActionLogReceived,  // for the mail log: a reply line as it came
};

struct SmtpAction {
    SmtpActionKind kind;
    // kActionStatus: the text (it outlives the window); the log actions: their line, in the
    // actions' own storage.
    const char *text;
};

const int kActionsMax = 10;
const size_t kBoxTextSize = 1000;
const size_t kLogTextSize = 600;

struct SmtpActions {
    SmtpAction items[kActionsMax];
    int count;
    char boxText[kBoxTextSize];  // the text of kActionBox (at most one box per call)
    char received[kLogTextSize];  // the text of kActionLogReceived
    char sent[kLogTextSize];      // the text of kActionLogSent (secrets already hidden)
};

// Pending reply text: bytes not yet ended by a line feed, at most 511.
const size_t kPendingReplySize = 512;
// One receive takes at most this many bytes.
const int kReceiveMax = 255;
// What goes out at once: a command, a login line, or the next encoded piece of the message.
const size_t kConversationOutSize = 1024 * 1024;

struct SmtpConversation {
    const MailSettings *settings;  // borrowed for the conversation's life
    const QueuedMessage *message;  // borrowed likewise
    int state;                     // an SmtpState
    int lastStepState;             // the state right after the last positive step; -1 at first
    PreludeStep prelude;
    bool offersAuthPlain, offersAuthLogin;  // what the last EHLO reply offered
    bool offersSize;               // the last EHLO reply offered SIZE: MAIL FROM declares it
    bool waitingForUser;           // a negative reply stopped the conversation: no time-out
    bool tlsRequested;             // the handshake was asked for (it runs once)
    bool secure;                   // the channel is up and the certificate good
    bool copySent;                 // the RCPT TO of the copy recipient is out

    char pending[kPendingReplySize];
    size_t pendingLength;

    // Bytes to send: out[outSent..outLength). While the message is on its way, source is its
    // body still to be encoded and mark its end-of-data mark, still to follow.
    char out[kConversationOutSize];
    size_t outLength, outSent;
    const char *source;
    size_t sourceLength, sourcePosition;
    int atLineStart;
    const char *mark;
    size_t messageBytes;  // what the message took on the wire, dots and mark included
    int messagePieces;    // in how many pieces it went
};

// Back to the start of a conversation over message with settings: state 0, last step -1,
// nothing pending either way.
void StartConversation(SmtpConversation *conversation, const MailSettings *settings,
                       const QueuedMessage *message);

// Wipes what the login left in the output and forgets every byte not yet sent.
void EndConversation(SmtpConversation *conversation);

// The connect has been issued (state 1 follows).
void ConnectIssued(SmtpConversation *conversation);

// The connection is up. With TLS from the first byte this asks for the handshake.
void ConnectionMade(SmtpConversation *conversation, SmtpActions *actions);

// The handshake is done and the server's certificate good: the conversation goes on inside TLS.
void SecureChannelReady(SmtpConversation *conversation, SmtpActions *actions);

// Appends received bytes (as one receive gave them, or one piece of decrypted text) to the
// pending reply text. Too many for it: a box, the bytes dropped, the conversation goes on.
void AddReplyBytes(SmtpConversation *conversation, const char *bytes, size_t count,
                   SmtpActions *actions);

// Takes the next complete reply line, if any, and moves the conversation one step. Returns
// false when no line was complete. The window calls it only while every byte handed over is
// on the socket: a reply never answers bytes the server has not had yet.
bool TakeNextReply(SmtpConversation *conversation, SmtpActions *actions);

// One step of the conversation for one reply line (its line feed removed).
void HandleReplyLine(SmtpConversation *conversation, const char *line, SmtpActions *actions);

// The bytes waiting to be sent: false when there are none. The message is encoded a piece at
// a time as the earlier pieces are taken.
bool PendingOutput(SmtpConversation *conversation, const char **data, size_t *length);
// count of the bytes PendingOutput gave have been taken.
void OutputTaken(SmtpConversation *conversation, size_t count);
// Forgets what was not sent yet (the connection is broken).
void DropOutput(SmtpConversation *conversation);

// True once the server has accepted the message (state 9 or more): the file must not go out
// again.
bool MessageAccepted(const SmtpConversation *conversation);

// True while the reply to the message is awaited and every byte of it, the end-of-data mark
// included, has left the conversation: the server may take long to check what it got.
bool AwaitingMessageReply(const SmtpConversation *conversation);

// The message's size as SIZE declares it: its octets with every line end as CR LF, without
// the dots that transparency adds and without the end-of-data mark's final ".\r\n".
size_t DeclaredMessageSize(const QueuedMessage *message);
