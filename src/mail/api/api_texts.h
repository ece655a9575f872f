// Every text of a mail API request: the status lines, what the log shows of the request and
// its answer, and the boxes of its verdicts, which the jobs' wording fills in. Beside each,
// what its fields are; none carries the queue's sentence (the wording adds it where the job
// has one).
#pragma once

// The status lines: the request's host.
const char kApiStatusConnectingText[] = "Connecting to: %s";
const char kApiStatusSendingText[] = "Sending to: %s";
const char kApiStatusAwaitingText[] = "Waiting for %s to answer";
const char kApiStatusSentText[] = "Email Sent";

// The log. The request: method, URL, the message's bytes; for Graph also the base64's.
const char kApiLogPost[] = "%s %s (the message: %llu bytes)";
const char kApiLogPostBase64[] = "%s %s (the message: %llu bytes, posted as %llu bytes of base64)";
const char kApiLogCheck[] = "%s %s (a settings check: nothing is posted)";
// The answer: its status, then the provider's code and message when it sent them, and its
// Retry-After when it sent one.
const char kApiLogAnswer[] = "HTTP %d";
const char kApiLogAnswerError[] = "HTTP %d %s: %s";
const char kApiLogRetryAfter[] = " (Retry-After: %s)";
// No answer: the platform's error number, the body's bytes out of all of them.
const char kApiLogNoAnswer[] = "no answer: error %lu after %llu of %llu bytes";
// Not posted: the base64's bytes and Graph's limit.
const char kApiLogNotPosted[] = "not posted: %llu bytes of base64, more than Graph's %llu";
const char kApiLogBodyCut[] = "the answer's body was cut to %llu bytes";

// Accepted after the window had ended the request (time-out, Cancel): it stands.
const char kApiLogAcceptedLate[] = "accepted although the request had been ended";

// The boxes. %s host is the API's host, as in the status lines.
// 401, and the token could not be renewed: the host, the account.
const char kApiTextTokenRefused[] =
    "%s refused the sign-in of %s (HTTP status 401), and it could not be renewed.\n\nPlease "
    "run \"Tillwick.exe /emailsignin\" again.";
// 401 after the renewal: the host, the account.
const char kApiTextSignInAgain[] =
    "%s refused the sign-in of %s, also after it was renewed (HTTP status 401).\n\nPlease run "
    "\"Tillwick.exe /emailsignin\" again.";
// 403 and other refusals: the host, the status, the provider's message and code; the "One"
// form when it sent only one of them, the "NoDetail" form when it sent neither.
const char kApiTextRefused[] = "%s refused the email (HTTP status %d): %s (%s)";
const char kApiTextRefusedOne[] = "%s refused the email (HTTP status %d): %s";
const char kApiTextRefusedNoDetail[] = "%s refused the email (HTTP status %d).";
// What follows a 403 the provider gives a known meaning.
const char kApiAdviceMailSendText[] =
    "The application may not send mail for this account: the Microsoft Graph permission "
    "Mail.Send is not granted, or its consent is missing. Please ask your administrator to "
    "grant it, then run \"Tillwick.exe /emailsignin\" again.";
const char kApiAdviceGmailScopeText[] =
    "The sign-in does not allow sending through the Gmail API. Please run \"Tillwick.exe "
    "/emailsignin\" again and allow Tillwick Orvenda to send email (gmail.send).";
const char kApiAdviceSendAsText[] =
    "The account that signed in may not send as the From address of this email.";
// Throttled: the host, the seconds to wait, the status; without a Retry-After the "Later"
// form: the host, the status.
const char kApiTextThrottled[] =
    "%s is busy and asks to try again in %lld seconds (HTTP status %d).";
const char kApiTextThrottledLater[] = "%s is busy: please try again later (HTTP status %d).";
// Too large before posting: the base64's bytes, Graph's limit.
const char kApiTextTooLargeForGraph[] =
    "The email takes %llu bytes as Microsoft Graph receives it (in base64), more than the "
    "%llu bytes Graph takes in one request. It was not sent.";
// Too large (413, or Graph's ErrorMessageSizeExceeded): the host, the status.
const char kApiTextTooLarge[] = "%s refused the email as too large (HTTP status %d).";
// A 2xx without the confirmation the API gives: the host, the status.
const char kApiTextUnconfirmed[] =
    "%s answered with HTTP status %d but did not confirm the email. It may have been sent: "
    "please look in the Sent Items before sending it again.";
// The connection lost: the host; the "Partly" form when the body was not all out.
const char kApiTextClosed[] =
    "The connection to %s was lost before it answered. The email may have been sent: please "
    "look in the Sent Items before sending it again.";
const char kApiTextClosedPartly[] =
    "The connection to %s was lost while the email was being sent. It was not sent.";
// No connection: the host, the reason (below), the error number.
const char kApiTextFailed[] = "%s could not be reached (%s, error %lu). The email was not sent.";
// Silence while sending: the host. No answer in time: the host.
const char kApiTextSilent[] =
    "No data could be sent to %s for 60 seconds. The email was not sent.";
const char kApiTextNoAnswer[] =
    "%s did not answer within 10 minutes. The email may have been sent: please look in the "
    "Sent Items before sending it again.";
// A check that reached the host: the host.
const char kApiTextReached[] = "Reached %s over TLS, its certificate trusted.";

// The reasons of kApiTextFailed.
const char kApiReasonNameNotResolved[] = "its name was not found";
const char kApiReasonCannotConnect[] = "the connection was refused";
const char kApiReasonSecureFailure[] = "its certificate was not accepted";
const char kApiReasonSecureChannel[] = "no secure connection could be made";
const char kApiReasonTimedOut[] = "no answer within 60 seconds";
const char kApiReasonOther[] = "network failure";
