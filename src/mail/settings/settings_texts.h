// The boxes that refuse the mail settings before anything is connected, and the name of the
// stored password.
#pragma once

const char kTextNoServer[] = "Please setup your SMTP Server in Tillwick Orvenda.";
const char kTextNoPort[] = "Please setup your SMTP Port in Tillwick Orvenda.";
const char kTextUnknownSecurity[] =
    "SMTPSecurity \"%s\" is not understood.\n\nPlease set SMTPSecurity in Email Setup to "
    "none, starttls or tls.";
const char kTextLoginWithoutTls[] =
    "SMTPUser is set but SMTPSecurity is not starttls or tls.\n\nThe password is never sent "
    "over an unencrypted connection: please set SMTPSecurity in Email Setup.";
const char kTextNoCredential[] =
    "No password was found for the SMTP login %s.\n\nPlease add it to the Windows Credential "
    "Manager as a generic credential named \"Tillwick Orvenda SMTP\".";
const char kCredentialTarget[] = "Tillwick Orvenda SMTP";
const char kTextUnknownAuth[] =
    "SMTPAuth \"%s\" is not understood.\n\nPlease set SMTPAuth in Email Setup to password or "
    "xoauth2.";
const char kTextSignInWithoutUser[] =
    "SMTPAuth is xoauth2 but SMTPUser is not set.\n\nPlease set SMTPUser in Email Setup to the "
    "mailbox you sign in with.";
const char kTextSignInWithoutTls[] =
    "SMTPAuth is xoauth2 but SMTPSecurity is not starttls or tls.\n\nThe sign-in's token is "
    "never sent over an unencrypted connection: please set SMTPSecurity in Email Setup.";
// "MailAPIURL" as written.
const char kTextBadApiUrl[] =
    "MailAPIURL \"%s\" is not an https:// address.\n\nPlease correct MailAPIURL in Email Setup, "
    "or remove it to post to the API's own address.";
// "MailAPI" as written.
const char kTextApiWithoutUser[] =
    "MailAPI is %s but SMTPUser is not set.\n\nPlease set SMTPUser in Email Setup to the mailbox "
    "you sign in with.";
