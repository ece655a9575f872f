// How a conversation's verdict is worded for the user: the box of a refusal (the step, the
// server's line as it came, the recipient it refused, what to do) and of a protocol error.
#pragma once
#include <cstddef>

#include "../message/message_file.h"
#include "../smtp/smtp.h"

// The box text for a verdict that is a refusal or a protocol error (other verdicts have the
// window's own texts): a refusal is followed by what to do about it where the reply is a
// well-known one. Returns false when the verdict is neither.
bool FormatVerdictText(const SmtpVerdict *verdict, const QueuedMessage *message,
                       const MailSettings *settings, char *text, size_t textSize);

// True when a refusal is of the sign-in's token itself: a 535 to AUTH XOAUTH2, but 5.7.139
// (which only says SMTP AUTH is off). A renewed token, or a sign-in as another mailbox,
// may be taken.
bool IsRefusedToken(const SmtpVerdict *verdict);
