// How an outcome is worded for the user: the box of a refusal (the step, the server's line as
// it came, the recipient it refused, what to do), of a protocol error, of every failure that
// is no refusal, and the settings check's one box. The one place where an outcome becomes
// words.
#pragma once
#include <cstddef>

#include "../message/message_file.h"
#include "../settings/mail_settings.h"
#include "mail_outcome.h"

// Whether a failure after which the message stays queued says where ("/email"), or not (the
// settings check, which queues nothing).
enum QueueSentence { kWithoutQueueSentence = 0, kWithQueueSentence };

// The box text for outcome's refusal, protocol error or failure: "" when there is nothing to
// tell (delivered, checked, the user's Cancel, nothing decided). A refusal is followed by
// what to do about it where the reply is a well-known one, and by the recipient it refused
// (message may be nullptr: none is named); settings give the server's name and the login.
void FormatOutcomeText(const MailOutcome *outcome, const QueuedMessage *message,
                       const MailSettings *settings, QueueSentence queue, char *text,
                       size_t textSize);

// The settings check's one box: what it found ("Connected to ... port 587; TLS 1.2, ..."),
// what failed (as above, without the queue sentence, after a line that says the check
// failed), that it was cancelled, or that its window could not be made.
void FormatCheckText(const MailOutcome *outcome, const MailSettings *settings, char *text,
                     size_t textSize);

// The server as the status line and the check name it: "smtp.example.com (192.0.2.1)"; the
// address alone when the server was given as that address, the name alone without one.
void FormatServerAddress(const char *server, const char *address, char *text, size_t textSize);

// True when a refusal is of the sign-in's token itself: a 535 to AUTH XOAUTH2, but 5.7.139
// (which only says SMTP AUTH is off). A renewed token, or a sign-in as another mailbox,
// may be taken.
bool IsRefusedToken(const SmtpVerdict *verdict);
