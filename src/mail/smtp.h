// The SMTP conversation that carries the one queued message over the sending window's
// connected socket: reply lines in, one state step per reply, commands and the message out.
#pragma once
#include <cstddef>

#include "../platform/plat_types.h"

// The states, by the reply now awaited. The numbers show in the time-out message.
enum {
    kStateIdle = 0,      // no connection requested yet
    kStateConnecting = 1,  // the greeting
    kStateHelo = 2,
    kStateRset = 3,      // never entered
    kStateMailFrom = 4,  // the reply to RSET
    kStateRcptTo = 5,    // the reply to MAIL FROM, or to a RCPT TO that a copy follows
    kStateData = 6,      // the reply to the last RCPT TO
    kStateSendMsg = 7,   // the reply to DATA
    kStateQuit = 8,      // the reply to the message; also after any negative reply
    kStateSent = 9,      // the reply to QUIT
    kStateDone = 10,     // delivered
};

extern int gSmtpState;

// Where a conversation that greets with EHLO stands before its transaction; all of it happens
// while gSmtpState is kStateHelo, so the state numbers keep their meaning.
enum {
    kPreludeNone = 0,           // no EHLO step pending (plain HELO, or the prelude is over)
    kPreludeEhlo,               // the reply to EHLO
    kPreludeStartTls,           // the reply to STARTTLS
    kPreludeHandshake,          // the TLS handshake is running
    kPreludeAuthPlain,          // the reply to AUTH PLAIN
    kPreludeAuthLoginUser,      // the user name prompt after AUTH LOGIN
    kPreludeAuthLoginPassword,  // the password prompt
    kPreludeAuthLoginDone,      // the reply to the password
};
extern int gPreludeStep;
// The login methods the last EHLO reply offered.
extern bool gOffersAuthPlain, gOffersAuthLogin;
// gSmtpState right after the last step taken on a positive reply; -1 when the window opens.
extern int gLastStepState;

// Pending reply text: bytes not yet ended by a line feed, at most 511.
const size_t kPendingReplySize = 512;
// One receive takes at most this many bytes.
const int kReceiveMax = 255;

// Back to the start of a conversation: state 0, last step -1, nothing pending either way.
void ResetConversation(void);

// One socket event (the event code in the low 16 bits, its error in the high 16). Returns 1
// to go on, 0 when the conversation has failed (after its message box) and the window must
// close.
int HandleSocketEvent(PlatWindow window, unsigned long eventWord);

// Appends received bytes to the pending reply text and handles every line that is complete,
// as long as nothing of ours is still unsent.
void AddReplyBytes(PlatWindow window, const char *bytes, size_t count);

// One step of the conversation for one reply line (its line feed removed).
void HandleReplyLine(PlatWindow window, const char *line);

// One receive for a read event: the bytes received (> 0); 0 when nothing was waiting after
// all; -1 when the server has closed the connection or the receive failed (after its box).
int ReceiveFromServer(PlatWindow window, char *buffer, int length);

// The connect has completed (reported, or at once). With TLS from the first byte this starts
// the handshake. 1 to go on, 0 when TLS could not start (after its box).
int ConnectionMade(PlatWindow window);

// TLS is up and the server's certificate is good: the conversation goes on inside it.
void SecureChannelReady(PlatWindow window);

// True when a step has failed in a way that ends the window (after its box).
bool ConversationFailed(void);

// The orderly close: shuts the sending side, reads what is waiting, shuts both and closes.
void CloseConnection(PlatSocket socket);

// True while bytes handed to the socket have not all been taken.
bool SendPending(void);

// Sends what is still pending, as far as the socket takes it.
void ContinueSending(void);

// Forgets whatever was not sent yet (the connection is gone).
void DiscardPendingOutput(void);
