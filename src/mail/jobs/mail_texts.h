// Every text the e-mail jobs show or send, in one place so that each can be checked byte for
// byte. The %s and %d fields are filled where the text is used.
#pragma once

#include "../message/message_texts.h"
#include "../settings/settings_texts.h"
#include "../smtp/smtp_texts.h"

// Settings and the start of the batch.
const char kTextWinsockStart[] = "Error starting Winsock\n";
const char kTextWinsockVersion[] = "Wrong Winsock Version\n";

// Invalid message files: the box and the reason for each parse result.
const char kTextCouldNotSend[] =
    "Could not send %s.  You will need to email it again.\n\nReason:\n\n%s";
const char kReasonCannotOpen[] = "Can't open %s. You may need to delete this file manually.";
const char kReasonEmpty[] = "%s is missing all details. You may need to delete this file manually.";
const char kReasonNoRecipient[] = "Missing a To Email Address in %s.";
const char kReasonNoSender[] = "Missing a From Email Address in %s";
const char kTextCouldNotDelete[] =
    "Could not delete %s.\n\nPlease delete the file manually otherwise it will be emailed "
    "again.  If Windows won't let you delete it then re-start your PC and try again.";

// The status line.
const char kStatusConnecting[] = "Connecting to: %s";
const char kStatusConnected[] = "Connected to: %s";
const char kTextServerAddress[] = "%s (%s)";  // the server's name and the address tried
const char kStatusCheckGreeted[] = "Greeted by the server";
const char kStatusDisconnecting[] = "Disconnecting";
const char kStatusSent[] = "Email Sent";
const char kStatusCheckTls[] = "Starting TLS";
const char kStatusCheckLogin[] = "Logging in";
const char kStatusCheckQuit[] = "Checked: saying goodbye";
const char kStatusCheckDone[] = "Settings checked";

// The settings check's one box: what was found, or what failed.
const char kCheckCaption[] = "Email Setup Check";
const char kTextCheckConnected[] = "Connected to %s port %u";
const char kTextCheckTls[] = "; %s, certificate for %s trusted";
const char kTextCheckNoTls[] = "; no TLS (SMTPSecurity is none)";
const char kTextCheckLogin[] = "; logged in as %s with %s";
const char kTextCheckNoLogin[] = "; no login (SMTPUser is not set)";
const char kTextCheckSize[] = "; the server takes messages up to %s";
const char kTextCheckFailed[] = "The check of the mail settings failed.\n\n%s";
const char kTextCheckCancelled[] = "The check of the mail settings was cancelled.";
const char kTextCheckNoWindow[] = "The check of the mail settings could not start its window.";
// A mail API's check: the account, the way (kWayText...), the renewal when there was one;
// then the API's text that the host was reached, and that nothing was sent.
const char kTextCheckApiSignedIn[] = "Signed in as %s to send through %s%s. ";
const char kTextCheckApiRenewed[] = " (the sign-in was renewed)";
const char kTextCheckApiNothingSent[] = " Nothing was sent.";

// The sign-in ("/emailsignin") proven at once with the mail server.
const char kTextSignInChecked[] =
    "You are signed in as %s.\n\nThe mail server %s took the login for %s: Tillwick Orvenda "
    "can now send e-mail through this account.";
// With a mail API: whom the provider signed in, the account, the way (kWayText...).
const char kTextSignInApi[] =
    "You are signed in as %s.\n\nTillwick Orvenda can now send e-mail for %s through %s.";
const char kTextSignInNotChecked[] =
    "You are signed in as %s.\n\nThe login could not be checked with the mail server:\n\n%s";
const char kTextSignInLoginRefused[] =
    "You are signed in as %s, but the mail server did not take the login for %s:\n\n%s";
const char kTextSignInWrongAccount[] =
    "The provider signed you in as %s, but the mail server %s did not accept that sign-in for "
    "%s (SMTPUser):\n\n%s\nThe sign-in has been forgotten. Please run \"Tillwick.exe "
    "/emailsignin\" again and sign in as %s.";

// The failures after which the message stays queued. Each text ends where "/email" goes on
// to say where it stays (the queue sentence that follows it, "%s" the queue folder) and
// the check, which queues nothing, ends the sentence instead ("\n").
const char kQueueSentence[] = "\n\nThe email has been queued in %s\n";
const char kQueueSentenceNothingSent[] = " Nothing was sent; the email has been queued in %s\n";
const char kQueueSentenceInternal[] = "\n\nNothing was sent; the email has been queued in %s\n";
const char kNoQueueSentence[] = "\n";

// The sending window's failures: the lookup, the connect, silence (kQueueSentence follows
// those with a number).
const char kTextLookupNotStarted[] = "Error connecting to host\n";
const char kTextLookupFailed[] =
    "Error Connecting (%d)\n\n   1). Please make sure that you are connected to the "
    "internet.\n   2). Check that the SMTP server is correct (See Email Setup under the "
    "Invoicing menu).\n   3). Your ISP might be having problems, try sending again "
    "later.";
const char kTextNoSocket[] = "Couldn't create socket\n";
const char kTextSelectFailed[] = "Asynchronous socket creation failed\n";
const char kTextConnectFailed[] = "Error connecting\n";
const char kTextTimedOut[] =
    "Request timed out (%d) .\n\n   1). Please make sure that you are connected to the "
    "internet.\n   2). Check that the SMTP server is correct (See Email Setup under the "
    "Invoicing menu).\n   3). Your ISP might be having problems, try sending again "
    "later.";
// A valid message that could not be composed now (kQueueSentence follows).
const char kTextNotNow[] =
    "%s could not be prepared for sending just now: Windows did not provide the memory or "
    "the random numbers it needs. Please send it again later.";

// The conversation's failures.
const char kTextConnectionClosed[] = "Connection closed unexpectedly\n";
const char kTextReceiveError[] = "Error receiving data (%d)\n\n";
const char kTextBufferOverrun[] = "Buffer overrun\n";
// A refused RCPT TO names its recipient after the server's line.
const char kTextRefusedRecipient[] = "\nThe server refused the recipient %s.\n";
// A reply that answers nothing the program asked, and a step of ours that could not be
// carried out: either way the message stays queued. The first is followed by
// kQueueSentenceNothingSent, the others by kQueueSentence, ours by kQueueSentenceInternal.
const char kTextProtocolError[] =
    "State=%s. Error: %s\n\nThe server sent a reply before it was asked (a second greeting, "
    "or something in between that speaks for it).";
const char kTextUnexpectedReply[] =
    "State=%s. Error: %s\n\nThis is not the reply this step waits for (%s): the server "
    "answered another command, or something in between (a proxy) speaks for it.";
const char kTextMixedCodes[] =
    "State=%s. Error: %s\n\nThe lines of the server's reply do not share one reply code: it "
    "cannot be told what the reply says.";
const char kTextInternalError[] = "State=%s. Error: %s";
const char kReasonCommandTooLong[] = "(a command too long to send)";
const char kReasonTooManyActions[] = "(more actions than the window can carry out)";

// TLS failures: the server name, (a status number,) then kQueueSentence.
const char kTextCertUntrusted[] = "State=TLS. Error: the certificate of %s is not trusted.";
const char kTextCertNameMismatch[] =
    "State=TLS. Error: the certificate is not for %s (name mismatch).";
const char kTextCertExpired[] = "State=TLS. Error: the certificate of %s has expired.";
const char kTextCertRevoked[] = "State=TLS. Error: the certificate of %s has been revoked.";
const char kTextCertOther[] =
    "State=TLS. Error: the certificate of %s could not be verified (0x%08X).";
const char kTextTlsFailed[] = "State=TLS. Error: the secure connection to %s failed (0x%08X).";
