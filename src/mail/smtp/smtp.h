// The SMTP conversation that carries one queued message to the server. It owns no socket, no
// window and no timer: it is fed what happened (connected, bytes received, the secure channel
// up) and hands back what to do (bytes to send, a status text, its verdict, start TLS, stop
// the timer, close once delivered, lines for the log); the sending window carries that out
// after the call returns.
#pragma once
#include <cstddef>

#include "../settings/mail_settings.h"
#include "../message/message_file.h"
#include "../message/mime_text.h"

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

// How a conversation ended, as a fact. Final once reached: nothing that follows changes it
// (after a refusal later lines are only logged; once accepted the message stays accepted,
// whatever becomes of QUIT or the connection). The window words it from the text table and
// shows it; the batch acts on it.
enum SmtpVerdictKind {
    kVerdictNone = 0,       // still going
    kVerdictAccepted,       // a positive reply to the end of data: the server has the message
    kVerdictRefused,        // a negative reply: in which step, the reply, the recipient
    kVerdictProtocolError,  // a reply nobody asked for, or a step that could not be carried out
    kVerdictTimedOut,       // silence for longer than the step allows
    kVerdictCancelled,      // the user's Cancel
    kVerdictClosed,         // the server closed the connection
    kVerdictFailed,         // the lookup, the connect, a receive or TLS failed
    kVerdictChecked,        // a settings check came through the login to QUIT
};

// A reply as the verdict keeps it: its last line, and all its lines for the advice.
const size_t kReplyLineSize = 512;
const size_t kReplyLinesSize = 1024;

struct SmtpVerdict {
    SmtpVerdictKind kind;
    int state;            // the state it came in (its name is the step in the box)
    PreludeStep prelude;  // a refusal before the transaction: EHLO, STARTTLS or AUTH
    bool internal;        // a protocol error of ours (a step that could not be carried out)
    int recipient;        // a refused RCPT TO: the index of its recipient; -1 otherwise
    char reply[kReplyLineSize];     // the reply's last line as it came, its CR LF left off
    char lines[kReplyLinesSize];    // every line of the reply, each ended by "\n"
};

// What the sending window is to do, in the order given.
enum SmtpActionKind {
    kActionStatus,       // set the status line to the action's text
    kActionVerdict,      // the conversation has stopped with its verdict: say so, then wait
                         // for the user (a refusal) or close (a protocol error)
    kActionOverrun,      // the pending reply text overflowed: say so; the conversation goes on
    kActionStartTls,     // begin the TLS handshake on the connection
    kActionStopTimer,    // stop the time-out timer
    kActionClose,        // close the window as the program's own doing
    kActionLogSent,      // for the mail log: a line we sent, as the log may show it
    kActionLogReceived,  // for the mail log: a reply line as it came
    kActionLogNote,      // for the mail log: what the conversation did (what was added)
};

struct SmtpAction {
    SmtpActionKind kind;
    // kActionStatus: the text (it outlives the window); the log actions: their line, in the
    // actions' own storage.
    const char *text;
    size_t length;  // kActionLogReceived: the line's bytes (it may hold any byte)
};

const int kActionsMax = 16;
const size_t kBoxTextSize = 1000;
const size_t kLogTextSize = 600;

struct SmtpActions {
    SmtpAction items[kActionsMax];
    int count;
    bool overflow;                // more actions than items: a fault the window must show
    char received[kLogTextSize];  // the text of kActionLogReceived
    char sent[kLogTextSize];      // the text of kActionLogSent (secrets already hidden)
    char note[kLogTextSize];      // the text of kActionLogNote
};

// Pending reply text: bytes not yet ended by a line feed, at most 511.
const size_t kPendingReplySize = 512;
// One receive takes at most this many bytes.
const int kReceiveMax = 255;
// What goes out at once: a command, a login line, or the next encoded piece of the message.
const size_t kConversationOutSize = 1024 * 1024;

// One part of what goes out after DATA: the head (in up to three parts, when its
// "8bit" becomes "quoted-printable") and the rest of the file.
struct MessageSegment {
    const char *data;
    size_t length;
    bool quotedPrintable;  // else as written, with transparency
};
const int kMessageSegmentsMax = 4;

struct SmtpConversation {
    const MailSettings *settings;  // borrowed for the conversation's life
    const QueuedMessage *message;  // borrowed likewise
    int state;                     // an SmtpState
    int lastStepState;             // the state right after the last positive step; -1 at first
    PreludeStep prelude;
    bool offersAuthPlain, offersAuthLogin;  // what the last EHLO reply offered
    bool offersSize;               // the last EHLO reply offered SIZE: MAIL FROM declares it
    bool offers8BitMime;           // and 8BITMIME
    bool waitingForUser;           // a negative reply stopped the conversation: no time-out
    bool tlsRequested;             // the handshake was asked for (it runs once)
    bool secure;                   // the channel is up and the certificate good
    bool checkOnly;                // a settings check: QUIT where the transaction would begin
    const char *loginMethod;       // the login that was taken ("PLAIN", "LOGIN", "XOAUTH2"), or ""
    unsigned long long sizeLimit;  // what the last EHLO's SIZE said (0: none or no limit)
    int recipientIndex;            // the recipients whose RCPT TO is out
    bool quotedPrintable;          // the body goes as quoted-printable (decided at MAIL FROM)
    SmtpVerdict verdict;

    char pending[kPendingReplySize];
    size_t pendingLength;
    // The pending bytes from the start up to here came before all we had sent was on the
    // socket: no positive reply among them can answer it.
    size_t earlyEnd;
    unsigned commandsQueued;       // how many commands have been put out so far
    char replyLines[kReplyLinesSize];  // the lines of the reply being read
    size_t replyLinesLength;

    // Bytes to send: out[outSent..outLength). While the message is on its way, its segments
    // still to be encoded follow, then the end-of-data mark.
    char out[kConversationOutSize];
    size_t outLength, outSent;
    MessageSegment segments[kMessageSegmentsMax];
    int segmentCount, segmentIndex;
    size_t segmentPosition;
    int atLineStart;
    QuotedPrintableState qp;
    const char *mark;
    size_t messageBytes;  // what the message took on the wire, dots and mark included
    int messagePieces;    // in how many pieces it went
};

// Back to the start of a conversation over message with settings: state 0, last step -1,
// no verdict, nothing pending either way. checkOnly may be set afterwards.
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
// pending reply text; early says they came before all we had sent was on the socket. Too
// many for it: kActionOverrun, the bytes dropped, the conversation goes on.
void AddReplyBytes(SmtpConversation *conversation, const char *bytes, size_t count, bool early,
                   SmtpActions *actions);

// Takes the next complete reply line, if any, and moves the conversation one step. Returns
// false when no line was complete. The window calls it only while every byte handed over is
// on the socket: a reply never answers bytes the server has not had yet.
bool TakeNextReply(SmtpConversation *conversation, SmtpActions *actions);

// One step of the conversation for one reply line (its line feed removed, length bytes);
// early as for AddReplyBytes.
void HandleReplyLine(SmtpConversation *conversation, const char *line, size_t length,
                     bool early, SmtpActions *actions);

// The bytes waiting to be sent: false when there are none. The message is encoded a piece at
// a time as the earlier pieces are taken.
bool PendingOutput(SmtpConversation *conversation, const char **data, size_t *length);
// count of the bytes PendingOutput gave have been taken.
void OutputTaken(SmtpConversation *conversation, size_t count);
// Forgets what was not sent yet (the connection is broken).
void DropOutput(SmtpConversation *conversation);
// True while something is still to go out (a command not wholly taken, or the message).
bool HasUnsentOutput(const SmtpConversation *conversation);

// Sets the verdict the window found (time-out, cancel, close, failure) unless the
// conversation already has one.
void SetVerdict(SmtpConversation *conversation, SmtpVerdictKind kind);

// True once the server has accepted the message: the file must not go out again.
bool MessageAccepted(const SmtpConversation *conversation);

// True once the conversation has done what it was for: the message accepted, or a settings
// check through to QUIT. Whatever follows then is no failure.
bool ConversationSucceeded(const SmtpConversation *conversation);

// True while the reply to the message is awaited and every byte of it, the end-of-data mark
// included, has left the conversation: the server may take long to check what it got.
bool AwaitingMessageReply(const SmtpConversation *conversation);
