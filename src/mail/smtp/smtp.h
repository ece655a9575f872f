// The SMTP conversation that carries one queued message to the server. It owns no socket, no
// window and no timer, and words nothing: it is fed what happened (connected, bytes received,
// the secure channel up) and hands back what to do (bytes to send, a status code, its verdict,
// start TLS, stop the timer, close once delivered, lines and note codes for the log); the
// sending window carries that out after the call returns. Each step expects its own reply,
// one row of the step table each.
#pragma once
#include <cstddef>

#include "../settings/mail_settings.h"
#include "../message/message_file.h"
#include "../message/mime_text.h"

// The states: their numbers show in the time-out message and the log. 1 and 2 are named for
// what they wait on; from 4 on a state is named for what goes out once its reply is positive
// (kStateMailFrom awaits the reply to RSET). Beside each: the reply it awaits.
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

// The step whose reply is awaited: one row of the step table each.
enum SmtpStep {
    kSmtpNone = 0,           // nothing is awaited (before the connect, or once it is over)
    kSmtpGreeting,
    kSmtpHelo,
    kSmtpEhlo,
    kSmtpStartTls,
    kSmtpHandshake,          // the TLS handshake runs: no reply is awaited at all
    kSmtpAuthPlain,
    kSmtpAuthLogin,          // AUTH LOGIN: the prompt for the user name
    kSmtpAuthLoginUser,      // the user name: the prompt for the password
    kSmtpAuthLoginPassword,  // the password: the login's verdict
    kSmtpAuthXoauth2,        // the token: the verdict, or a challenge that carries the reason
    kSmtpAuthXoauth2Error,   // the empty line that answers the challenge
    kSmtpRset,
    kSmtpMailFrom,
    kSmtpRcptTo,             // a RCPT TO that another follows
    kSmtpLastRcptTo,
    kSmtpData,
    kSmtpMessage,            // the message with its end-of-data mark
    kSmtpQuit,
    kSmtpStepCount,
};

// How long a reply may take once all its step sent is on the socket; the server may take
// long to check a message it has been given whole.
const unsigned kReplyMilliseconds = 60000;
const unsigned kMessageReplyMilliseconds = 600000;

// One step: what it sends, the one reply that moves it on (RFC 5321 section 4.3.2), how its
// boxes name it and its refusal, and how long its reply may take. Any other reply is a
// refusal, or a protocol error when it is the positive reply of some other step.
struct SmtpStepRow {
    const char *command;   // a format with at most one "%s"; nullptr for the greeting, a login
                           // value and the message, which are no command of their own
    const char *expected;  // the reply code that moves it on; nullptr: none is awaited
    const char *goOn;      // a code that asks for one more line (a challenge), or nullptr
    const char *name;      // the step in the box of a protocol error
    const char *refusal;   // the box of a negative reply ("%s": the reply)
    const char *refusalAdvised;  // instead, when the advice has a sentence for the reply
    unsigned timeout;
};

// The row of step (kSmtpNone's for a value out of range).
const SmtpStepRow *StepRow(int step);

// True for a reply code that some step awaits: such a reply in another step answers something
// else. 251 is not among them: it is read as a refusal.
bool IsStepReplyCode(const char *line);

// How a conversation ended, as a fact. Final once reached: nothing that follows changes it
// (after a refusal later lines are only logged; once accepted the message stays accepted,
// whatever becomes of QUIT or the connection). The jobs word it and act on it.
enum SmtpVerdictKind {
    kVerdictNone = 0,       // still going
    kVerdictAccepted,       // the expected reply to the end of data: the server has the message
    kVerdictRefused,        // a negative reply: in which step, the reply, the recipient
    kVerdictProtocolError,  // a reply that answers something else, or a step of ours that
                            // could not be carried out (the fault says which)
    kVerdictOverrun,        // a reply line longer than any reply may be
    kVerdictFailed,         // the window ended it: what failed is the window's to say
    kVerdictChecked,        // a settings check came through the login to QUIT
};

// What made a protocol error.
enum SmtpFault {
    kFaultNone = 0,
    kFaultEarly,          // the reply came before the server could have had what it answers
    kFaultUnexpected,     // the positive reply of another step
    kFaultMixedCodes,     // the lines of one reply do not share its code
    kFaultCommandTooLong, // ours: a command that does not fit (the sizes used never allow it)
    kFaultTooManyActions, // ours: more actions than the window can carry out
};

// The login a conversation took.
enum SmtpLogin { kLoginNone = 0, kLoginPlain, kLoginLogin, kLoginXoauth2 };

// A reply as the verdict keeps it: its last line, and all its lines for the advice.
const size_t kReplyLineSize = 512;
const size_t kReplyLinesSize = 1024;

struct SmtpVerdict {
    SmtpVerdictKind kind;
    int state;            // the state it came in
    SmtpStep step;        // the step whose reply it was: its row words the box
    SmtpFault fault;      // a protocol error: what was wrong
    int recipient;        // a refused RCPT TO: the index of its recipient; -1 otherwise
    char reply[kReplyLineSize];     // the reply's last line as it came, its CR LF left off
    char lines[kReplyLinesSize];    // every line of the reply, each ended by "\n"
};

// What the sending window is to do, in the order given.
enum SmtpActionKind {
    kActionStatus,       // set the status line: code is an SmtpStatus
    kActionVerdict,      // the conversation has stopped with its verdict: say so, then wait
                         // for the user (a refusal) or close (a protocol error, an overrun)
    kActionStartTls,     // begin the TLS handshake on the connection
    kActionStopTimer,    // stop the time-out timer
    kActionClose,        // close the window as the program's own doing
    kActionLogSent,      // for the mail log: a line we sent, as the log may show it
    kActionLogReceived,  // for the mail log: a reply line as it came
    kActionLogNote,      // for the mail log: what the conversation did; code is an SmtpNote
};

// The status lines the conversation asks for; the window words them.
enum SmtpStatus {
    kSmtpStatusGreeted,        // the greeting came: the message's own status text
    kSmtpStatusDisconnecting,  // a refusal or a protocol error ended it
    kSmtpStatusSent,           // delivered
    kSmtpStatusCheckTls,       // a check: STARTTLS asked for
    kSmtpStatusCheckLogin,     // a check: the login begins
    kSmtpStatusCheckQuit,      // a check: through, QUIT asked for
    kSmtpStatusCheckDone,      // a check: done
};

// What the log is told beside the lines; the window words it.
enum SmtpNote {
    kSmtpNoteMessageHead,  // MAIL FROM went out: what the message got and how its body goes
    kSmtpNoteQuitRefused,  // QUIT refused after the message was accepted (or the check came
                           // through): no matter
};

struct SmtpAction {
    SmtpActionKind kind;
    int code;          // kActionStatus: an SmtpStatus; kActionLogNote: an SmtpNote
    // The log lines: their bytes, in the actions' own storage (a received one may hold any
    // byte).
    const char *text;
    size_t length;
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
};

// A reply line holds at most this many bytes before its line feed (RFC 5321 allows 512 with
// its CR LF); the pending reply text holds what came and was not taken yet, a few such lines.
const size_t kReplyLineMax = 511;
const size_t kPendingReplySize = 2048;
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
    SmtpStep step;                 // the step whose reply is awaited
    bool offersAuthPlain, offersAuthLogin;  // what the last EHLO reply offered
    bool offersSize;               // the last EHLO reply offered SIZE: MAIL FROM declares it
    bool offers8BitMime;           // and 8BITMIME
    bool waitingForUser;           // a negative reply stopped the conversation: no time-out
    bool tlsRequested;             // the handshake was asked for (it runs once)
    bool secure;                   // the channel is up and the certificate good
    bool checkOnly;                // a settings check: QUIT where the transaction would begin
    SmtpLogin login;               // the login that was taken
    unsigned long long sizeLimit;  // what the last EHLO's SIZE said (0: none or no limit)
    int recipientIndex;            // the recipients whose RCPT TO is out
    bool quotedPrintable;          // the body goes as quoted-printable (decided at MAIL FROM)
    SmtpVerdict verdict;

    char pending[kPendingReplySize];
    size_t pendingLength;
    size_t openLineLength;         // the pending bytes after the last line feed
    bool overrun;                  // a line overflowed: nothing more that comes counts
    // The pending bytes from the start up to here came before all we had sent was on the
    // socket: no positive reply among them can answer it.
    size_t earlyEnd;
    unsigned commandsQueued;       // how many commands have been put out so far
    char replyLines[kReplyLinesSize];  // the lines of the reply being read
    size_t replyLinesLength;
    char replyCode[4];             // the code of its first line, which its others must share

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
// pending reply text; early says they came before all we had sent was on the socket. A line
// longer than kReplyLineMax (or more than the pending text holds) is an overrun: nothing of
// it counts, and the conversation ends with kVerdictOverrun (once the message was accepted,
// it simply ends). From then on every byte is dropped.
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

// Sets the verdict the window found (kVerdictFailed: a time-out, a cancel, a close, a
// failure of its own) unless the conversation already has one.
void SetVerdict(SmtpConversation *conversation, SmtpVerdictKind kind);

// A fault of ours the window found (more actions than it can carry out): a protocol error of
// the step awaited, unless the conversation already has a verdict.
void SetProtocolFault(SmtpConversation *conversation, SmtpFault fault);

// True once the server has accepted the message: the file must not go out again.
bool MessageAccepted(const SmtpConversation *conversation);

// True once the conversation has done what it was for: the message accepted, or a settings
// check through to QUIT. Whatever follows then is no failure.
bool ConversationSucceeded(const SmtpConversation *conversation);

// True while the reply to the message is awaited and every byte of it, the end-of-data mark
// included, has left the conversation: the server may take long to check what it got.
bool AwaitingMessageReply(const SmtpConversation *conversation);

// How long the awaited reply may take once everything sent is on the socket (the step
// table's time-out; kReplyMilliseconds when nothing is awaited).
unsigned ReplyTimeout(const SmtpConversation *conversation);
