// What to do about a mail server's refusal: one plain sentence for each well-known SMTP
// reply, shown after the server's own line in boxes and the mail log. Pure: the table and
// its matching only.
#pragma once

// The login is refused.
const char kAdviceSmtpAuthOff[] =
    "SMTP AUTH is turned off for this mailbox or for the whole organisation: an administrator "
    "turns it on in the Microsoft 365 admin center (Users, the user, Mail, Manage email apps, "
    "\"Authenticated SMTP\"), or with Set-CASMailbox -Identity <the SMTPUser address> "
    "-SmtpClientAuthenticationDisabled $false.";
const char kAdvicePasswordsOff[] =
    "This server no longer takes passwords: set SMTPAuth=xoauth2 and sign in with "
    "\"Tillwick.exe /emailsignin\" (the README's steps say how).";
const char kAdviceSecurityPolicy[] =
    "The organisation's security policy (security defaults or Conditional Access) refused "
    "this login: an administrator must allow it for this mailbox.";
const char kAdviceWrongPassword[] =
    "The server did not accept the user name or password: check SMTPUser and the password "
    "stored as \"Tillwick Orvenda SMTP\" in the Windows Credential Manager (an account with "
    "two-step verification needs an app password there).";
const char kAdviceWrongSignIn[] =
    "The server did not accept the sign-in: run \"Tillwick.exe /emailsignin\" again and sign "
    "in as the SMTPUser mailbox.";
const char kAdviceGoogleAppPassword[] =
    "Google does not take this account's own password here: store an app password (Google "
    "Account, Security, App passwords) as the password, or set SMTPAuth=xoauth2 and sign in.";
const char kAdviceLoginRequired[] =
    "The server takes mail only after a login: set SMTPUser and SMTPSecurity and store the "
    "password, or set SMTPAuth=xoauth2 and sign in.";
const char kAdviceStartTls[] =
    "The server takes mail only over an encrypted connection: set SMTPSecurity=starttls "
    "(port 587) or SMTPSecurity=tls (port 465).";

// The message is refused.
const char kAdviceSendAs[] =
    "The message's From address is not the address of the mailbox that logs in (SMTPUser): "
    "send from that address, or have an administrator let the mailbox send as the From "
    "address.";
const char kAdviceTooLarge[] =
    "The message is too large for this server: send it with smaller attachments.";
const char kAdviceMailboxFull[] =
    "The recipient's mailbox is full: let the recipient know another way, or send again "
    "later.";
const char kAdviceTemporary[] =
    "The server cannot take the message just now: it stays queued; send again later.";

// The sentence for reply, or nullptr for a reply the table does not know. reply is the
// whole reply: one or more lines "NNN-text" or "NNN text", separated by "\n" or "\r\n".
// xoauth2: the login was AUTH XOAUTH2, so a refused login calls for a new sign-in rather
// than another password. A row matches on the reply code and the enhanced status code
// ("5.7.139") of any line, and where the codes alone are ambiguous on a word of any line.
const char *ReplyAdvice(const char *reply, bool xoauth2);
