// The identity provider of the mail sign-in: its settings from section "Email Setup" of the
// host settings file, and the requests made to it (the sign-in address, the token requests).
#pragma once
#include <cstddef>

#include "../base/host_settings.h"

enum OAuthProvider {
    kProviderMicrosoft = 1,
    kProviderGoogle = 2,
    kProviderCustom = 3,
};

// The way the mail goes out ("MailAPI"): the resource a sign-in's token is for, and so the
// default scope it asks for. A token is good for one of them only.
enum MailWay {
    kWaySmtp = 0,   // "MailAPI" absent or empty: the SMTP server, with XOAUTH2
    kWayGraph = 1,  // "graph": Microsoft Graph's sendMail
    kWayGmail = 2,  // "gmail": the Gmail API's messages.send
};

// Reads "MailAPI" (compared without case) into text as written and returns its way, or -1
// when it names none.
int ReadMailWay(char *text, size_t textSize);

// "smtp", "graph" or "gmail", as the token record names the way; "" for any other value.
const char *MailWayName(int way);

// "https://" and a host, nothing a browser or a shell would take apart (blanks, controls,
// quotes) and no fragment, so that parameters can be appended.
bool IsHttpsUrl(const char *url);

// Room for an endpoint address: a value read (254 characters) or a default with its tenant.
const size_t kOAuthUrlSize = 512;

struct OAuthSettings {
    int way;                             // a MailWay ("MailAPI"), -1 when not understood
    char wayText[kSettingSize];          // "MailAPI" as written, for the box that refuses it
    int provider;                        // kProvider..., 0 when not understood
    char providerName[kSettingSize];     // "microsoft", "google", "custom"; as read otherwise
    char clientId[kSettingSize];
    char clientSecret[kSettingSize];     // "" when not set: not sent
    char tenant[kSettingSize];           // Microsoft only: "organizations" unless set
    char authorizeUrl[kOAuthUrlSize];
    char tokenUrl[kOAuthUrlSize];
    char scope[kSettingSize];            // what the sign-in asks for
    char refreshScope[kSettingSize];     // what a renewal asks for (see ReadOAuthSettings)
};

enum OAuthSettingsResult {
    kOAuthSettingsOk = 0,
    kOAuthSettingsNoProvider,       // "OAuthProvider" absent or empty
    kOAuthSettingsUnknownProvider,  // not microsoft, google or custom (providerName says what)
    kOAuthSettingsNoClientId,
    kOAuthSettingsCustomIncomplete, // custom without all of the three addresses and scope
    kOAuthSettingsBadTenant,        // characters a tenant name or ID cannot have
    kOAuthSettingsBadAuthorizeUrl,  // not https://host..., or blanks, controls, a fragment
    kOAuthSettingsBadTokenUrl,
    kOAuthSettingsUnknownApi,       // "MailAPI" names no known way (wayText says what)
    kOAuthSettingsApiProvider,      // graph without microsoft, or gmail without google
};

// Reads "MailAPI" first (an unknown value is refused before anything else), then
// "OAuthProvider" (compared without case), "OAuthClientId", "OAuthClientSecret",
// "OAuthTenant" and the overrides "OAuthAuthorizeURL", "OAuthTokenURL" and "OAuthScope" into
// *out, the provider's defaults where no override is set. The default scopes of Microsoft
// and Google begin with "openid email", so that the sign-in's answer names the account; a
// renewal asks for the rest only, because a sign-in stored before those two were asked for
// was never granted them (a renewal may ask for no more than the sign-in was granted). The
// mail scope is the way's: SMTP.Send or https://mail.google.com/ for SMTP, Mail.Send of
// Graph for graph (microsoft only), gmail.send for gmail (google only; "custom" may go any
// way). With "OAuthScope" set, both ask for it. Shows nothing: on a failure the caller shows the text
// FormatOAuthSettingsFailure makes.
OAuthSettingsResult ReadOAuthSettings(OAuthSettings *out);

// The same for a way (a MailWay) and a provider (kProvider...) chosen elsewhere, such as in
// the Email Setup window before it saves them: "MailAPI" and "OAuthProvider" are not read,
// everything else is, with the same defaults and checks.
OAuthSettingsResult ReadOAuthSettingsFor(int way, int provider, OAuthSettings *out);

// The box text for a failed read (settings as ReadOAuthSettings left them).
void FormatOAuthSettingsFailure(OAuthSettingsResult result, const OAuthSettings *settings,
                                char *dest, size_t destSize);

// Room for the sign-in address and for a token request's form body.
const size_t kAuthorizeUrlSize = 4096;
const size_t kFormBodySize = 65536;
const size_t kRedirectUriSize = 32;

// "http://127.0.0.1:PORT/": where the browser comes back to the loopback listener.
void MakeRedirectUri(unsigned short port, char *dest, size_t destSize);

// The sign-in address to open in the browser: the authorize endpoint with client_id,
// response_type=code, redirect_uri, scope, state, code_challenge, code_challenge_method=S256
// and login_hint=user, each percent-encoded (Google's also access_type=offline and
// prompt=consent, or it returns no refresh token a second time). False when it does not fit.
bool MakeAuthorizeUrl(const OAuthSettings *settings, const char *redirectUri, const char *state,
                      const char *challenge, const char *user, char *dest, size_t destSize);

// The form bodies (application/x-www-form-urlencoded) of the token requests: the code
// exchange, and a refresh (which sends refreshScope along). client_secret only when set.
// False when they do not fit.
bool MakeCodeExchangeBody(const OAuthSettings *settings, const char *code,
                          const char *redirectUri, const char *verifier, char *dest,
                          size_t destSize);
bool MakeRefreshBody(const OAuthSettings *settings, const char *refreshToken, char *dest,
                     size_t destSize);
