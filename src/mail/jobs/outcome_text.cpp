// The wording of outcomes, from the texts of the mail jobs and the step table: refusals,
// protocol errors, the failures that are no refusal, and the settings check's findings.
#include "outcome_text.h"

#include <cstring>

#include "../../base/paths.h"
#include "../../base/text.h"
#include "../../oauth/oauth_texts.h"
#include "../api/api_texts.h"
#include "mail_texts.h"
#include "reply_advice.h"

// Ends text after a failure that keeps the message: where it stays (sentence, "%s" the queue
// folder), or, without the queue sentence, the end of the line.
static void EndWithQueueSentence(char *text, size_t textSize, QueueSentence queue,
                                 const char *sentence)
{
    if (queue == kWithoutQueueSentence) {
        AppendText(text, textSize, kNoQueueSentence);
        return;
    }
    char folder[kPathSize + 8];
    MakeQueueFolderText(folder, sizeof folder);
    char line[kPathSize + 100];
    FormatText(line, sizeof line, sentence, folder);
    AppendText(text, textSize, line);
}

// A TLS failure: the certificate's verdict named, or the provider's status as a number.
static void FormatTlsFailure(const TlsFailure *failure, const char *server, char *text,
                             size_t textSize)
{
    if (failure->kind == kTlsCertificateRefused) {
        const char *format = nullptr;
        switch (failure->code) {
        case PLAT_CERT_E_UNTRUSTEDROOT:
        case PLAT_CERT_E_UNTRUSTEDTESTROOT:
        case PLAT_CERT_E_CHAINING:
        case PLAT_TRUST_E_CERT_SIGNATURE:
            format = kTextCertUntrusted;
            break;
        case PLAT_CERT_E_CN_NO_MATCH:
            format = kTextCertNameMismatch;
            break;
        case PLAT_CERT_E_EXPIRED:
            format = kTextCertExpired;
            break;
        case PLAT_CERT_E_REVOKED:
            format = kTextCertRevoked;
            break;
        default:
            FormatText(text, textSize, kTextCertOther, server, (unsigned)failure->code);
            return;
        }
        FormatText(text, textSize, format, server);
        return;
    }
    FormatText(text, textSize, kTextTlsFailed, server, (unsigned)failure->code);
}

// A failure that is no refusal and no protocol error.
static void FormatFailure(const MailOutcome *o, const QueuedMessage *m, const MailSettings *s,
                          QueueSentence queue, char *text, size_t textSize)
{
    text[0] = '\0';
    int number = (int)o->number;
    switch (o->failure) {
    case kFailureLookupNotStarted:
        CopyText(text, textSize, kTextLookupNotStarted);
        return;
    case kFailureLookup:
        FormatText(text, textSize, kTextLookupFailed, number);
        break;
    case kFailureNoSocket:
        CopyText(text, textSize, kTextNoSocket);
        return;
    case kFailureNoSocketEvents:
        CopyText(text, textSize, kTextSelectFailed);
        return;
    case kFailureConnect:
        CopyText(text, textSize, kTextConnectFailed);
        return;
    case kFailureClosed:
        CopyText(text, textSize, kTextConnectionClosed);
        return;
    case kFailureTimedOut:
        FormatText(text, textSize, kTextTimedOut, number);
        break;
    case kFailureTls:
        FormatTlsFailure(&o->tls, s ? s->server : "", text, textSize);
        break;
    case kFailureReceive:
        FormatText(text, textSize, kTextReceiveError, number);
        return;
    case kFailureOverrun:
        CopyText(text, textSize, kTextBufferOverrun);
        return;
    case kFailureNotNow:
        FormatText(text, textSize, kTextNotNow, m ? m->path : "");
        break;
    default:  // nothing failed, or the user's Cancel, which needs no words
        return;
    }
    EndWithQueueSentence(text, textSize, queue, kQueueSentence);
}

// A reply that answers something else, or a step of ours that could not be carried out.
static void FormatProtocolError(const SmtpVerdict *v, QueueSentence queue, char *text,
                                size_t textSize)
{
    const SmtpStepRow *row = StepRow(v->step);
    const char *sentence = kQueueSentence;
    switch (v->fault) {
    case kFaultUnexpected:
        FormatText(text, textSize, kTextUnexpectedReply, row->name, v->reply,
                   row->expected ? row->expected : "");
        break;
    case kFaultMixedCodes:
        FormatText(text, textSize, kTextMixedCodes, row->name, v->reply);
        break;
    case kFaultCommandTooLong:
    case kFaultTooManyActions:
        FormatText(text, textSize, kTextInternalError, row->name,
                   v->fault == kFaultCommandTooLong ? kReasonCommandTooLong
                                                    : kReasonTooManyActions);
        sentence = kQueueSentenceInternal;
        break;
    default:  // early
        FormatText(text, textSize, kTextProtocolError, row->name, v->reply);
        sentence = kQueueSentenceNothingSent;
        break;
    }
    EndWithQueueSentence(text, textSize, queue, sentence);
}

// A refusal: the step's own text with the server's line, the recipient it refused, and what
// to do where the reply is a well-known one. A refused sign-in says to sign in again unless
// the advice knows better.
static void FormatRefusal(const SmtpVerdict *v, const QueuedMessage *m, const MailSettings *s,
                          char *text, size_t textSize)
{
    const char *advice = ReplyAdvice(v->lines, s && s->auth == kAuthXoauth2);
    const SmtpStepRow *row = StepRow(v->step);
    FormatText(text, textSize, advice && row->refusalAdvised ? row->refusalAdvised : row->refusal,
               v->reply);
    if (m && v->recipient >= 0 && v->recipient < m->recipientCount) {
        char line[kFieldSize + 64];
        FormatText(line, sizeof line, kTextRefusedRecipient, m->recipients[v->recipient]);
        AppendText(text, textSize, line);
    }
    if (advice) {
        AppendText(text, textSize, "\n");
        AppendText(text, textSize, advice);
        AppendText(text, textSize, "\n");
    }
}

// ---- a mail API's verdict --------------------------------------------------------------

static const char *WayText(MailWay way)
{
    return way == kWayGraph ? kWayTextGraph : kWayTextGmail;
}

// Why an API's host could not be reached, from the platform's error number.
static const char *ApiFailureReason(unsigned long error)
{
    switch (error) {
    case PLAT_HTTP_NAME_NOT_RESOLVED:
        return kApiReasonNameNotResolved;
    case PLAT_HTTP_CANNOT_CONNECT:
        return kApiReasonCannotConnect;
    case PLAT_HTTP_SECURE_FAILURE:
        return kApiReasonSecureFailure;
    case PLAT_HTTP_SECURE_CHANNEL_ERROR:
        return kApiReasonSecureChannel;
    case PLAT_HTTP_TIMEOUT:
        return kApiReasonTimedOut;
    default:
        return kApiReasonOther;
    }
}

// A refusal: the provider's message and its most telling code (Gmail's reason or status
// before its number), then what to do where the refusal has a known meaning.
static void FormatApiRefusal(const ApiVerdict *v, const char *host, char *text, size_t textSize)
{
    const char *code = v->reason[0] ? v->reason : v->statusName[0] ? v->statusName : v->code;
    if (v->message[0] && code[0])
        FormatText(text, textSize, kApiTextRefused, host, v->status, v->message, code);
    else if (v->message[0] || code[0])
        FormatText(text, textSize, kApiTextRefusedOne, host, v->status,
                   v->message[0] ? v->message : code);
    else
        FormatText(text, textSize, kApiTextRefusedNoDetail, host, v->status);
    const char *advice = v->advice == kApiAdviceMailSendConsent ? kApiAdviceMailSendText
                         : v->advice == kApiAdviceGmailScope    ? kApiAdviceGmailScopeText
                         : v->advice == kApiAdviceSendAs        ? kApiAdviceSendAsText
                                                                : nullptr;
    if (advice) {
        AppendText(text, textSize, "\n\n");
        AppendText(text, textSize, advice);
    }
}

static void FormatApiOutcome(const MailOutcome *o, const MailSettings *s, QueueSentence queue,
                             char *text, size_t textSize)
{
    const ApiVerdict *v = &o->api;
    char host[256];
    ApiUrlHost(s ? s->apiUrl : "", host, sizeof host);
    const char *user = s ? s->user : "";
    switch (v->kind) {
    case kApiVerdictRenewToken:  // the batch could not renew it
        FormatText(text, textSize, kApiTextTokenRefused, host, user);
        break;
    case kApiVerdictSignInAgain:
        FormatText(text, textSize, kApiTextSignInAgain, host, user);
        break;
    case kApiVerdictForbidden:
    case kApiVerdictRefused:
        FormatApiRefusal(v, host, text, textSize);
        break;
    case kApiVerdictThrottled:
        if (v->retryAfter >= 0)
            FormatText(text, textSize, kApiTextThrottled, host, v->retryAfter, v->status);
        else
            FormatText(text, textSize, kApiTextThrottledLater, host, v->status);
        break;
    case kApiVerdictTooLarge:
        if (v->posted)
            FormatText(text, textSize, kApiTextTooLarge, host, v->status);
        else
            FormatText(text, textSize, kApiTextTooLargeForGraph, v->size, v->limit);
        break;
    case kApiVerdictUnconfirmed:
        FormatText(text, textSize, kApiTextUnconfirmed, host, v->status);
        break;
    case kApiVerdictClosed:
        FormatText(text, textSize, v->mayHaveGone ? kApiTextClosed : kApiTextClosedPartly, host);
        break;
    case kApiVerdictFailed:
        FormatText(text, textSize, kApiTextFailed, host, ApiFailureReason(v->systemError),
                   v->systemError);
        break;
    case kApiVerdictTimedOut:
        FormatText(text, textSize, v->mayHaveGone ? kApiTextNoAnswer : kApiTextSilent, host);
        break;
    default:  // accepted, reached, the user's Cancel: nothing to tell
        return;
    }
    EndWithQueueSentence(text, textSize, queue, kQueueSentence);
}

void FormatOutcomeText(const MailOutcome *o, const QueuedMessage *m, const MailSettings *s,
                       QueueSentence queue, char *text, size_t textSize)
{
    text[0] = '\0';
    if (o->api.kind != kApiVerdictNone)
        FormatApiOutcome(o, s, queue, text, textSize);
    else if (o->verdict.kind == kVerdictRefused)
        FormatRefusal(&o->verdict, m, s, text, textSize);
    else if (o->verdict.kind == kVerdictProtocolError)
        FormatProtocolError(&o->verdict, queue, text, textSize);
    else
        FormatFailure(o, m, s, queue, text, textSize);
}

// What the server takes, as a person reads it: "150 MB", "512 KB".
static void FormatSize(unsigned long long bytes, char *dest, size_t destSize)
{
    if (bytes >= 1024ull * 1024)
        FormatText(dest, destSize, "%llu MB", bytes / (1024ull * 1024));
    else
        FormatText(dest, destSize, "%llu KB", (bytes + 1023) / 1024);
}

static const char *LoginName(SmtpLogin login)
{
    switch (login) {
    case kLoginPlain:
        return "PLAIN";
    case kLoginLogin:
        return "LOGIN";
    case kLoginXoauth2:
        return "XOAUTH2";
    default:
        return "";
    }
}

void FormatServerAddress(const char *server, const char *address, char *text, size_t textSize)
{
    // An address the system wrote out differs from the one typed in case only (IPv6).
    bool same = strlen(server) == strlen(address) && ContainsTextNoCase(server, address);
    if (address[0] == '\0' || same)
        CopyText(text, textSize, server);
    else
        FormatText(text, textSize, kTextServerAddress, server, address);
}

// "Connected to smtp.office365.com (52.97.1.2) port 587; TLS 1.2, certificate for
// smtp.office365.com trusted; logged in as accounts@example.com with XOAUTH2; the server takes
// messages up to 150 MB."
static void DescribePassedCheck(const MailSession *session, const MailSettings *s, char *text,
                                size_t textSize)
{
    char part[600];
    char server[sizeof s->server + PLAT_ADDRESS_TEXT_SIZE + 4];
    FormatServerAddress(s->server, session->address, server, sizeof server);
    unsigned port = session->port ? session->port : s->port ? s->port : 25;
    FormatText(text, textSize, kTextCheckConnected, server, port);
    if (session->secure) {
        FormatText(part, sizeof part, kTextCheckTls,
                   session->tlsProtocol[0] ? session->tlsProtocol : "TLS", s->server);
        AppendText(text, textSize, part);
    } else {
        AppendText(text, textSize, kTextCheckNoTls);
    }
    if (session->login != kLoginNone) {
        FormatText(part, sizeof part, kTextCheckLogin, s->user, LoginName(session->login));
        AppendText(text, textSize, part);
    } else {
        AppendText(text, textSize, kTextCheckNoLogin);
    }
    if (session->sizeLimit > 0) {
        char size[40];
        FormatSize(session->sizeLimit, size, sizeof size);
        FormatText(part, sizeof part, kTextCheckSize, size);
        AppendText(text, textSize, part);
    }
    AppendText(text, textSize, ".");
}

// "Signed in as accounts@example.com to send through Microsoft Graph. Reached
// graph.microsoft.com over TLS, its certificate trusted. Nothing was sent."
static void DescribePassedApiCheck(const MailOutcome *o, const MailSettings *s, char *text,
                                   size_t textSize)
{
    FormatText(text, textSize, kTextCheckApiSignedIn, s->user, WayText(s->way),
               o->session.tokenRenewed ? kTextCheckApiRenewed : "");
    char host[256], part[400];
    ApiUrlHost(s->apiUrl, host, sizeof host);
    FormatText(part, sizeof part, kApiTextReached, host);
    AppendText(text, textSize, part);
    AppendText(text, textSize, kTextCheckApiNothingSent);
}

void FormatCheckText(const MailOutcome *o, const MailSettings *s, char *text, size_t textSize)
{
    if (o->fate == kFateChecked && o->api.kind == kApiVerdictReached) {
        DescribePassedApiCheck(o, s, text, textSize);
    } else if (o->fate == kFateChecked) {
        DescribePassedCheck(&o->session, s, text, textSize);
    } else if (o->fate == kFateNoWindow) {
        CopyText(text, textSize, kTextCheckNoWindow);
    } else if (OutcomeCancelled(o)) {
        CopyText(text, textSize, kTextCheckCancelled);
    } else {
        char failed[kBoxTextSize + kFieldSize];
        FormatOutcomeText(o, nullptr, s, kWithoutQueueSentence, failed, sizeof failed);
        FormatText(text, textSize, kTextCheckFailed, failed);
    }
}

bool IsRefusedToken(const SmtpVerdict *v)
{
    return v->kind == kVerdictRefused &&
           (v->step == kSmtpAuthXoauth2 || v->step == kSmtpAuthXoauth2Error) &&
           strncmp(v->reply, "535", 3) == 0 && !ContainsText(v->reply, "5.7.139");
}
