// What became of one message, or of one settings check: the one typed outcome that the
// sending window fills and the batch, the check and the sign-in act on. outcome_text words
// it; nothing else does.
#pragma once
#include "../../platform/plat_net.h"
#include "../../platform/plat_tls.h"
#include "../api/api_request.h"
#include "../smtp/smtp.h"
#include "../smtp/tls_channel.h"

enum MailFate {
    kFateUndecided = 0,  // the window has not ended yet
    kFateDelivered,      // the server (or the API) accepted the message: its file is deleted
    kFateChecked,        // a settings check came through the login to QUIT, or reached the
                         // API's host
    kFateKept,           // the file stays queued and the batch stops: the verdict (a refusal,
                         // a protocol error) or the failure says why
    kFateRenewToken,     // the server (or the API, 401) refused the sign-in's token: renew it,
                         // send once more
    kFateInvalidFile,    // the file can never go as it stands (fileResult 10 to 40): the
                         // batch reports and deletes it, and goes on
    kFateNoWindow,       // the window could not be made: the file stays, the batch stops
};

// A failure that is no refusal and no protocol error: what failed, and its number.
enum MailFailure {
    kFailureNone = 0,
    kFailureLookupNotStarted,  // the name lookup could not be started
    kFailureLookup,            // number: the lookup's error
    kFailureNoSocket,
    kFailureNoSocketEvents,
    kFailureConnect,           // refused or unreachable
    kFailureClosed,            // the connection closed under the conversation
    kFailureTimedOut,          // number: the state it stopped in
    kFailureTls,               // tls: the provider's status or the certificate's verdict
    kFailureReceive,           // number: what the receive returned
    kFailureOverrun,           // a reply line longer than any reply may be
    kFailureCancelled,         // the user's Cancel; also after the message was accepted,
                               // where it is no failure but still stops the batch
    kFailureNotNow,            // the message could not be composed now (no randomness, no
                               // memory): valid, and kept
};

// What the session found, for the check's box.
struct MailSession {
    bool reached;          // the server spoke for itself: a step went through, or it refused
    bool secure;           // TLS was up with the certificate trusted
    char tlsProtocol[16];  // "TLS 1.2" ("" when not known)
    SmtpLogin login;
    unsigned long long sizeLimit;  // what EHLO's SIZE said (0: none, or no limit)
    char address[PLAT_ADDRESS_TEXT_SIZE];  // the server's address that answered ("": none)
    unsigned short port;                   // the port connected to (0: none)
    bool tokenRenewed;     // the sign-in's token was renewed for it (the check says so)
};

struct MailOutcome {
    MailFate fate;
    SmtpVerdict verdict;   // the conversation's: a refusal or a protocol error, its step, its
                           // reply and the recipient it refused
    MailFailure failure;
    long number;
    TlsFailure tls;        // kFailureTls
    int fileResult;        // kFateInvalidFile: the message file's result
    MailSession session;
    // The second way out, a request to a mail provider's HTTP API: its verdict (the HTTP
    // status, the provider's error code and message, Retry-After); kind kApiVerdictNone on
    // the SMTP way. Decided by the same fates and worded by the same functions.
    ApiVerdict api;
};

// Back to nothing decided.
void ClearMailOutcome(MailOutcome *outcome);

// Records failure (with its number) as what went wrong, unless a failure is recorded already:
// the first is the one that is told. The window records none once the conversation has its
// verdict (a refusal told, the message accepted), but the user's Cancel.
void RecordMailFailure(MailOutcome *outcome, MailFailure failure, long number = 0);

// True when the user's Cancel ended it before anything else was decided.
bool OutcomeCancelled(const MailOutcome *outcome);

// True when the batch must stop after this message: everything but a delivered message (not
// cancelled by the user) and an invalid file. A token to renew is the batch's own decision.
bool OutcomeStopsBatch(const MailOutcome *outcome);
