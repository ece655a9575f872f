// What the Email Setup window says: its status line, the boxes of its field checks, of Sign in
// and Test, and of a save that failed, and the note about a stored password.
#pragma once

const char kTextSetupCaption[] = "Email Setup";

const char kTextSetupHint[] =
    "Enter your e-mail address and press Find settings, or choose how your mail goes out.";
const char kTextLooking[] = "Looking up the mail settings for %s...";

// Found: the domain, then how.
const char kTextFound[] = "Found the settings for %s: %s.";
const char kTextHowTable[] = "a well-known provider";
const char kTextHowMicrosoft[] = "its MX record %s is Microsoft 365";
const char kTextHowGoogle[] = "its MX record %s is Google";
const char kTextHowSubmissions[] = "its _submissions._tcp SRV record names %s port %u (SSL/TLS)";
const char kTextHowSubmission[] = "its _submission._tcp SRV record names %s port %u (STARTTLS)";

// Nothing found: the domain, what the MX lookup gave, what the SRV lookups gave.
const char kTextNothingFound[] =
    "No settings found for %s: it is not a well-known provider, %s, and %s. Please enter "
    "your mail server.";
const char kTextMxNeither[] = "its MX record %s is neither Microsoft 365 nor Google";
const char kTextMxNone[] = "it has no MX records";
const char kTextMxFailed[] = "its MX records could not be looked up";
const char kTextSrvNone[] = "it has no _submissions._tcp or _submission._tcp SRV records";
const char kTextSrvFailed[] = "its SRV records could not be looked up";
const char kTextNothingTimedOut[] =
    "No settings found for %s: it is not a well-known provider, and the DNS lookups (its MX "
    "and its _submissions._tcp and _submission._tcp SRV records) did not answer within %u "
    "seconds. Please enter your mail server.";
const char kTextNotLookable[] =
    "No settings found: %s is not a domain name that can be looked up. Please enter your mail "
    "server.";

const char kTextPasswordStored[] = "A password is stored. Leave Password empty to keep it.";

// The field checks, each naming its field as the window labels it.
const char kTextCheckAddress[] =
    "Please enter your e-mail address, such as name@example.com, in E-mail address.";
const char kTextCheckServer[] = "Please enter the name of your mail server in Server.";
const char kTextCheckPort[] = "Please enter a number from 1 to 65535 in Port.";
const char kTextCheckTooLong[] = "%s is too long: at most %u characters.";
const char kTextCheckSecurity[] =
    "A password is never sent unencrypted. Please choose STARTTLS or SSL/TLS in Security, or "
    "leave User name empty for a server that takes mail without a login.";
// The user name.
const char kTextCheckPassword[] = "Please enter the password for %s in Password.";

const char kTextSaveCredential[] =
    "The password could not be stored in the Windows Credential Manager. Nothing was saved.";
const char kTextSaveSettings[] =
    "The settings could not be written to Tillwick.ini in the Windows folder.";

// Sign in and Test for Microsoft or Google.
const char kTextNoRegistration[] =
    "This installation has no sign-in registration: OAuthClientId in section [Email Setup] of "
    "Tillwick.ini is empty.\n\nPlease ask whoever installed Tillwick Orvenda to set it to the "
    "client ID of the application your organisation registered, or choose Another mail "
    "server.";
// Whom the provider signed in.
const char kTextSignedIn[] =
    "You are signed in as %s.\n\nPress Test to try the sign-in, and Save to send your mail "
    "this way.";
// The address, then the API.
const char kTextTestNotSignedIn[] =
    "Tillwick Orvenda is not signed in as %s to send through %s yet.\n\nPlease press Sign in "
    "first.";
const char kTextApiGraph[] = "Microsoft Graph";
const char kTextApiGmail[] = "the Gmail API";
