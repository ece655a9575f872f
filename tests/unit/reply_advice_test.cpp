// The advice table against replies as Microsoft 365, Gmail and Postfix send them, multi-line
// ones included, and replies it must not claim to know.
#include <gtest/gtest.h>

#include <string>

#include "mail/jobs/reply_advice.h"

namespace {

TEST(ReplyAdvice, WellKnownRepliesTable)
{
    const char *none = nullptr;
    struct Row {
        const char *reply;
        bool xoauth2;
        const char *advice;
    } rows[] = {
        // Microsoft 365.
        {"535 5.7.139 Authentication unsuccessful, SmtpClientAuthentication is disabled for the "
         "Tenant. Visit https://aka.ms/smtp_auth_disabled for more information. "
         "[AM0PR02CA0001.eurprd02.prod.outlook.com 2026-12-07T09:30:00.000Z 08DC...]",
         true, kAdviceSmtpAuthOff},
        {"535 5.7.139 Authentication unsuccessful, basic authentication is disabled. "
         "[DB9PR05CA0012.eurprd05.prod.outlook.com]",
         false, kAdvicePasswordsOff},
        {"535 5.7.139 Authentication unsuccessful, user is locked by your organization's "
         "security defaults policy. Contact your administrator.",
         false, kAdviceSecurityPolicy},
        {"535 5.7.139 Authentication unsuccessful, the user credentials were incorrect.", true,
         kAdviceWrongSignIn},
        {"535 5.7.139 Authentication unsuccessful [PR3P191CA0020.EURP191.PROD.OUTLOOK.COM]",
         false, kAdviceSmtpAuthOff},
        {"550 5.7.30 Basic authentication is not supported for Client Submission.", false,
         kAdvicePasswordsOff},
        {"535 5.7.3 Authentication unsuccessful [LO2P265CA0001.GBRP265.PROD.OUTLOOK.COM]", false,
         kAdviceWrongPassword},
        {"535 5.7.3 Authentication unsuccessful [LO2P265CA0001.GBRP265.PROD.OUTLOOK.COM]", true,
         kAdviceWrongSignIn},
        {"554 5.2.252 SendAsDenied; accounts@example.com not allowed to send as "
         "sales@example.com; STOREDRV.Submission.Exception:SendAsDeniedException."
         "MapiExceptionSendAsDenied; Failed to process message due to a permanent exception",
         true, kAdviceSendAs},
        {"554 5.2.0 STOREDRV.Submission.Exception:SendAsDeniedException.MapiExceptionSendAsDenied;"
         " Failed to process message due to a permanent exception with message [BeginDiagnosticData]",
         false, kAdviceSendAs},
        {"550 5.7.60 SMTP; Client does not have permissions to send as this sender", false,
         kAdviceSendAs},
        {"530 5.7.57 Client not authenticated to send mail. [AM0PR01CA0099.eurprd01.prod.outlook.com]",
         false, kAdviceLoginRequired},
        {"554 5.3.4 Message too big for system", false, kAdviceTooLarge},
        // Gmail, multi-line, CR LF or LF alone.
        {"534-5.7.9 Application-specific password required. Learn more at\r\n"
         "534 5.7.9  https://support.google.com/mail/?p=InvalidSecondFactor "
         "d9443c01a7336-1f0a0aa2b2bsm1234567pla.1 - gsmtp",
         false, kAdviceGoogleAppPassword},
        {"534-5.7.14 <https://accounts.google.com/signin/continue?sarp=1&scc=1&plt=AKgnsbt>\n"
         "534-5.7.14 Please log in via your web browser and then try again.\n"
         "534-5.7.14  Learn more at\n"
         "534 5.7.14  https://support.google.com/mail/answer/78754 x7sm123456wrs.1 - gsmtp\n",
         false, kAdviceGoogleAppPassword},
        {"535-5.7.8 Username and Password not accepted. For more information, go to\r\n"
         "535 5.7.8  https://support.google.com/mail/?p=BadCredentials "
         "a640c23a62f3a-a6f0e5c5d5esm123456766b.1 - gsmtp\r\n",
         true, kAdviceWrongSignIn},
        {"530 5.7.0 Must issue a STARTTLS command first. 5b1f17b1804b1-4214c0f8c0bsm1234 - gsmtp",
         false, kAdviceStartTls},
        {"530-5.7.0 Authentication Required. For more information, go to\r\n"
         "530 5.7.0  https://support.google.com/mail/?p=WantAuthError x1-20020a05 - gsmtp",
         false, kAdviceLoginRequired},
        {"552-5.2.3 Your message exceeded Google's message size limits. Please visit\r\n"
         "552-5.2.3  https://support.google.com/mail/?p=MaxSizeError to view our size\r\n"
         "552 5.2.3  guidelines. 4fb4d7f45d1cf-57c8123456sm1234567a12.3 - gsmtp",
         false, kAdviceTooLarge},
        {"552-5.2.2 The recipient's inbox is out of storage space. Please direct the\r\n"
         "552 5.2.2 recipient to https://support.google.com/mail/?p=OverQuotaPerm - gsmtp",
         false, kAdviceMailboxFull},
        {"454-4.7.0 Too many login attempts, please try again later. For more information,\r\n"
         "454 4.7.0  go to https://support.google.com/mail/?p=LoginTooMany - gsmtp",
         false, kAdviceTemporary},
        // Postfix.
        {"535 5.7.8 Error: authentication failed: authentication failure", false,
         kAdviceWrongPassword},
        {"530 5.7.0 Must issue a STARTTLS command first", false, kAdviceStartTls},
        {"552 5.3.4 Message size exceeds fixed limit", false, kAdviceTooLarge},
        {"552 Message size exceeds maximum permitted", false, kAdviceTooLarge},
        {"421 4.7.0 mail.example.com Error: too many errors", false, kAdviceTemporary},
        // Not in the table: no advice rather than a wrong one.
        {"554 5.7.1 <bob@example.org>: Relay access denied", false, none},
        {"550 5.1.1 <nobody@example.org>: Recipient address rejected: User unknown in virtual "
         "mailbox table",
         false, none},
        {"534 5.7.9 Authentication mechanism is too weak", false, none},
        {"534 5.7.9 Application-specific password required.", false, kAdviceGoogleAppPassword},
        {"250 2.0.0 Ok: queued as 4F1C2", false, none},
        {"5355.7.139 no separator", false, none},
        {"535 5.7.1390 a longer detail", false, kAdviceWrongPassword},
        {"", false, none},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.reply).substr(0, 60));
        const char *advice = ReplyAdvice(row.reply, row.xoauth2);
        EXPECT_EQ(advice ? std::string(advice) : "(none)",
                  row.advice ? std::string(row.advice) : "(none)");
    }
    EXPECT_EQ(ReplyAdvice(nullptr, false), nullptr);
}

}  // namespace
