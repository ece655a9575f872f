// Every text the mail sign-in shows or sends to the browser, in one place so that each can be
// checked byte for byte. The %s, %d and %lu fields are filled where the text is used.
#pragma once

// The provider settings.
const char kTextNoProvider[] =
    "OAuthProvider is not set.\n\nPlease set OAuthProvider in Email Setup to microsoft, google "
    "or custom.";
const char kTextUnknownProvider[] =
    "OAuthProvider \"%s\" is not understood.\n\nPlease set OAuthProvider in Email Setup to "
    "microsoft, google or custom.";
const char kTextNoClientId[] =
    "OAuthClientId is not set.\n\nPlease set OAuthClientId in Email Setup to the client ID of "
    "the application your organisation registered for Tillwick Orvenda.";
const char kTextCustomIncomplete[] =
    "OAuthProvider custom needs OAuthAuthorizeURL, OAuthTokenURL and OAuthScope.\n\nPlease set "
    "all three in Email Setup.";
const char kTextBadTenant[] =
    "OAuthTenant \"%s\" is not a tenant name or ID.\n\nPlease set OAuthTenant in Email Setup to "
    "your tenant's domain or ID, or remove it.";
const char kTextBadUrl[] =
    "%s \"%s\" is not an https:// address.\n\nPlease correct %s in Email Setup.";
// "MailAPI" as written.
const char kTextUnknownApi[] =
    "MailAPI \"%s\" is not understood.\n\nPlease set MailAPI in Email Setup to graph or gmail, "
    "or remove it to send through the SMTP server.";
// The way ("graph", "gmail") and the provider it needs.
const char kTextApiProvider[] =
    "MailAPI %s needs OAuthProvider %s (or custom).\n\nPlease correct OAuthProvider or MailAPI "
    "in Email Setup.";

// The sign-in ("/emailsignin").
const char kSignInCaption[] = "Sign In";
const char kTextWaitingForBrowser[] = "Waiting for you to sign in in your browser";
const char kTextNoUser[] =
    "SMTPUser is not set.\n\nPlease set SMTPUser in Email Setup to the e-mail address you sign "
    "in with.";
const char kTextSignInNotStarted[] =
    "The sign-in could not be started (%s, error %d).\n\nNothing was stored.";
const char kStepRandom[] = "no random numbers";
const char kStepWinsock[] = "Windows Sockets";
const char kStepListener[] = "no local port for the browser's answer";
const char kStepAddress[] = "the sign-in address is too long";
const char kStepWindow[] = "the window could not be made";
const char kTextBrowserFailed[] =
    "Your web browser could not be opened (error %d).\n\nPlease check that a default web "
    "browser is set, then run \"Tillwick.exe /emailsignin\" again. Nothing was stored.";
const char kTextSignInCancelled[] = "The sign-in was cancelled. Nothing was stored.";
const char kTextSignInTimedOut[] =
    "No answer came from your browser within 5 minutes. Nothing was stored.\n\nPlease run "
    "\"Tillwick.exe /emailsignin\" again and finish the sign-in in the browser.";
const char kTextSignInDenied[] =
    "The sign-in was not completed: %s\n\nNothing was stored. Please run \"Tillwick.exe "
    "/emailsignin\" again.";
const char kTextSignInWrongState[] =
    "Your browser came back with an answer that does not belong to this sign-in (wrong "
    "state). Nothing was stored.\n\nPlease run \"Tillwick.exe /emailsignin\" again.";
const char kTextSignInNoCode[] =
    "Your browser came back without a sign-in code. Nothing was stored.\n\nPlease run "
    "\"Tillwick.exe /emailsignin\" again.";
const char kTextSignInMalformed[] =
    "The answer your browser sent could not be read. Nothing was stored.\n\nPlease run "
    "\"Tillwick.exe /emailsignin\" again.";
const char kTextSignInTooLong[] =
    "The answer your browser sent was longer than 8 KB. Nothing was stored.\n\nPlease run "
    "\"Tillwick.exe /emailsignin\" again.";
const char kTextExchangeRefused[] =
    "The sign-in code was refused: %s\n\nNothing was stored. Please check OAuthClientId and "
    "OAuthClientSecret in Email Setup, then run \"Tillwick.exe /emailsignin\" again.";
const char kTextExchangeUnreachable[] =
    "The sign-in could not be completed: %s\n\nNothing was stored. Please check the network "
    "connection, then run \"Tillwick.exe /emailsignin\" again.";
const char kTextNoRefreshToken[] =
    "The sign-in gave no refresh token, so it would end within the hour. Nothing was "
    "stored.\n\nPlease check that OAuthScope asks for offline access (Microsoft: "
    "offline_access), then run \"Tillwick.exe /emailsignin\" again.";
const char kTextSignInNotSaved[] =
    "The sign-in could not be saved in %s.\n\nPlease check that this folder can be written, "
    "then run \"Tillwick.exe /emailsignin\" again.";

// The sign-out ("/emailsignout").
const char kSignOutCaption[] = "Sign Out";
const char kTextSignedOut[] =
    "The stored sign-in was removed.\n\nTo send e-mail through XOAUTH2 again, run "
    "\"Tillwick.exe /emailsignin\".";
const char kTextNothingToSignOut[] = "No sign-in was stored.";
const char kTextSignOutFailed[] =
    "The stored sign-in %s could not be removed.\n\nPlease delete this file yourself.";

// The access token for a batch of e-mail.
const char kTextNotSignedIn[] =
    "Tillwick Orvenda is not signed in to send e-mail as %s.\n\nPlease run \"Tillwick.exe "
    "/emailsignin\" as this Windows user and sign in. No e-mail was sent.";
const char kTextSignInExpired[] =
    "The sign-in of %s has expired or was revoked: %s\n\nPlease run \"Tillwick.exe "
    "/emailsignin\" again. No e-mail was sent.";
const char kTextRenewalRefused[] =
    "The sign-in of %s could not be renewed: %s\n\nPlease check OAuthClientId, "
    "OAuthClientSecret and OAuthScope in Email Setup, then run \"Tillwick.exe /emailsignin\" "
    "again. No e-mail was sent.";
const char kTextRenewalUnreachable[] =
    "The sign-in of %s could not be renewed: %s\n\nPlease check the network connection and "
    "try again later. No e-mail was sent.";
const char kTextRenewalNotSaved[] =
    "The renewed sign-in of %s could not be saved in %s.\n\nPlease check that this folder can "
    "be written, then run \"Tillwick.exe /emailsignin\" again. No e-mail was sent.";
// The user, the way the stored sign-in is for, the way the settings send by (kWayText...).
const char kTextSignInOtherWay[] =
    "The stored sign-in of %s was made for sending through %s, not through %s.\n\nPlease run "
    "\"Tillwick.exe /emailsignin\" again. No e-mail was sent.";
const char kWayTextSmtp[] = "the SMTP server";
const char kWayTextGraph[] = "Microsoft Graph";
const char kWayTextGmail[] = "the Gmail API";

// Why the token endpoint gave no usable answer (the %s of the texts above).
const char kReasonProviderSaid[] = "%s (%s)";             // description, error code
const char kReasonProviderCode[] = "%s";                  // error code without description
const char kReasonHttpStatus[] = "%s answered with HTTP status %d.";
const char kReasonUnreadable[] = "the answer of %s could not be read (HTTP status %d).";
const char kReasonNotReached[] = "%s could not be reached (%s, error %lu).";
const char kReasonTimedOut[] = "no answer within 30 seconds";
const char kReasonNameNotResolved[] = "its name was not found";
const char kReasonCannotConnect[] = "the connection was refused";
const char kReasonConnectionLost[] = "the connection was lost";
const char kReasonSecureFailure[] = "its certificate was not accepted";
const char kReasonSecureChannel[] = "no secure connection could be made";
const char kReasonAnswerTooLarge[] = "its answer was too large";
const char kReasonOther[] = "network failure";

// What the browser shows when it comes back to the loopback listener.
const char kPageSignedIn[] =
    "<h1>Signed in</h1><p>Tillwick Orvenda has received your sign-in. You can close this "
    "browser tab now.</p>";
const char kPageFailed[] =
    "<h1>Sign-in failed</h1><p>%s</p><p>Please close this tab and run the sign-in again.</p>";
const char kPageNotFound[] = "<h1>Not found</h1>";
const char kPageReasonDenied[] = "The sign-in was not completed: ";
const char kPageReasonWrongState[] = "This answer does not belong to the sign-in Tillwick "
                                     "Orvenda started.";
const char kPageReasonNoCode[] = "The answer carries no sign-in code.";
const char kPageReasonMalformed[] = "The request could not be read.";
const char kPageReasonTooLong[] = "The request was too long.";
