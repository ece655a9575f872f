// The provider settings and the requests made to the provider. Microsoft's and Google's
// endpoints and scopes are built in; every one of them can be overridden, and "custom" names
// all of its own.
#include "provider.h"

#include <cstring>

#include "../base/text.h"
#include "oauth_encoding.h"
#include "oauth_texts.h"

static const char kMicrosoftAuthorize[] =
    "https://login.microsoftonline.com/%s/oauth2/v2.0/authorize";
static const char kMicrosoftToken[] = "https://login.microsoftonline.com/%s/oauth2/v2.0/token";
// The scopes that make the sign-in's answer carry an id_token naming the account.
static const char kIdentityScopes[] = "openid email ";
static const char kMicrosoftScope[] = "https://outlook.office.com/SMTP.Send offline_access";
static const char kMicrosoftTenant[] = "organizations";
static const char kGoogleAuthorize[] = "https://accounts.google.com/o/oauth2/v2/auth";
static const char kGoogleToken[] = "https://oauth2.googleapis.com/token";
static const char kGoogleScope[] = "https://mail.google.com/";
// The API ways ask for the identity scopes after the mail scope, as their registrations
// list them.
static const char kGraphScope[] = "https://graph.microsoft.com/Mail.Send offline_access";
static const char kGmailScope[] = "https://www.googleapis.com/auth/gmail.send";
static const char kIdentityScopesAfter[] = " openid email";

// The default scopes: the identity scopes and the mail scope for the sign-in, the mail
// scope alone for a renewal.
static void SetDefaultScopes(OAuthSettings *out, const char *mailScope)
{
    if (out->way == kWaySmtp)
        FormatText(out->scope, sizeof out->scope, "%s%s", kIdentityScopes, mailScope);
    else
        FormatText(out->scope, sizeof out->scope, "%s%s", mailScope, kIdentityScopesAfter);
    CopyText(out->refreshScope, sizeof out->refreshScope, mailScope);
}

int ReadMailWay(char *text, size_t textSize)
{
    ReadHostSetting(kKeyMailApi, text, textSize);
    char lower[kSettingSize];
    CopyText(lower, sizeof lower, text);
    LowerAscii(lower);
    if (lower[0] == '\0')
        return kWaySmtp;
    if (strcmp(lower, "graph") == 0)
        return kWayGraph;
    if (strcmp(lower, "gmail") == 0)
        return kWayGmail;
    return -1;
}

const char *MailWayName(int way)
{
    switch (way) {
    case kWaySmtp:
        return "smtp";
    case kWayGraph:
        return "graph";
    case kWayGmail:
        return "gmail";
    default:
        return "";
    }
}

// A tenant goes into the endpoints' path: a domain name, an ID or one of the common names.
static bool IsTenant(const char *text)
{
    if (!*text)
        return false;
    for (const char *p = text; *p; p++) {
        char c = *p;
        bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                       (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (!allowed)
            return false;
    }
    return true;
}

bool IsHttpsUrl(const char *url)
{
    const char kScheme[] = "https://";
    for (size_t i = 0; i < sizeof kScheme - 1; i++) {
        char c = url[i];
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
        if (c != kScheme[i])
            return false;
    }
    const char *host = url + sizeof kScheme - 1;
    if (*host == '\0' || *host == '/' || *host == '?' || *host == ':')
        return false;
    for (const unsigned char *p = (const unsigned char *)url; *p; p++)
        if (*p <= ' ' || *p >= 0x7F || *p == '#' || *p == '"')
            return false;
    return true;
}

// The registration of the way and provider in *out: the client, the tenant, the endpoints and
// the scope, each the provider's default where the settings file sets none.
static OAuthSettingsResult ReadRegistration(OAuthSettings *out)
{
    ReadHostSetting(kKeyOAuthClientId, out->clientId, sizeof out->clientId);
    ReadHostSetting(kKeyOAuthClientSecret, out->clientSecret, sizeof out->clientSecret);
    ReadHostSetting(kKeyOAuthAuthorizeUrl, out->authorizeUrl, sizeof out->authorizeUrl);
    ReadHostSetting(kKeyOAuthTokenUrl, out->tokenUrl, sizeof out->tokenUrl);
    ReadHostSetting(kKeyOAuthScope, out->scope, sizeof out->scope);
    if (out->clientId[0] == '\0')
        return kOAuthSettingsNoClientId;
    // A token of one provider is no good at the other's API.
    if ((out->way == kWayGraph && out->provider == kProviderGoogle) ||
        (out->way == kWayGmail && out->provider == kProviderMicrosoft))
        return kOAuthSettingsApiProvider;

    if (out->provider == kProviderMicrosoft) {
        ReadHostSetting(kKeyOAuthTenant, out->tenant, sizeof out->tenant);
        if (out->tenant[0] == '\0')
            CopyText(out->tenant, sizeof out->tenant, kMicrosoftTenant);
        if (!IsTenant(out->tenant))
            return kOAuthSettingsBadTenant;
        // A tenant of 254 characters still fits the 512 of an address.
        if (out->authorizeUrl[0] == '\0')
            FormatText(out->authorizeUrl, sizeof out->authorizeUrl, kMicrosoftAuthorize,
                       out->tenant);
        if (out->tokenUrl[0] == '\0')
            FormatText(out->tokenUrl, sizeof out->tokenUrl, kMicrosoftToken, out->tenant);
        if (out->scope[0] == '\0')
            SetDefaultScopes(out, out->way == kWayGraph ? kGraphScope : kMicrosoftScope);
    } else if (out->provider == kProviderGoogle) {
        if (out->authorizeUrl[0] == '\0')
            CopyText(out->authorizeUrl, sizeof out->authorizeUrl, kGoogleAuthorize);
        if (out->tokenUrl[0] == '\0')
            CopyText(out->tokenUrl, sizeof out->tokenUrl, kGoogleToken);
        if (out->scope[0] == '\0')
            SetDefaultScopes(out, out->way == kWayGmail ? kGmailScope : kGoogleScope);
    } else if (out->authorizeUrl[0] == '\0' || out->tokenUrl[0] == '\0' ||
               out->scope[0] == '\0') {
        return kOAuthSettingsCustomIncomplete;
    }
    if (out->refreshScope[0] == '\0')
        CopyText(out->refreshScope, sizeof out->refreshScope, out->scope);
    if (!IsHttpsUrl(out->authorizeUrl))
        return kOAuthSettingsBadAuthorizeUrl;
    if (!IsHttpsUrl(out->tokenUrl))
        return kOAuthSettingsBadTokenUrl;
    return kOAuthSettingsOk;
}

OAuthSettingsResult ReadOAuthSettings(OAuthSettings *out)
{
    memset(out, 0, sizeof *out);
    out->way = ReadMailWay(out->wayText, sizeof out->wayText);
    if (out->way < 0)
        return kOAuthSettingsUnknownApi;
    ReadHostSetting(kKeyOAuthProvider, out->providerName, sizeof out->providerName);
    if (out->providerName[0] == '\0')
        return kOAuthSettingsNoProvider;
    char lower[kSettingSize];
    CopyText(lower, sizeof lower, out->providerName);
    LowerAscii(lower);
    if (strcmp(lower, "microsoft") == 0)
        out->provider = kProviderMicrosoft;
    else if (strcmp(lower, "google") == 0)
        out->provider = kProviderGoogle;
    else if (strcmp(lower, "custom") == 0)
        out->provider = kProviderCustom;
    else
        return kOAuthSettingsUnknownProvider;
    CopyText(out->providerName, sizeof out->providerName, lower);
    return ReadRegistration(out);
}

OAuthSettingsResult ReadOAuthSettingsFor(int way, int provider, OAuthSettings *out)
{
    memset(out, 0, sizeof *out);
    out->way = way;
    CopyText(out->wayText, sizeof out->wayText, way == kWaySmtp ? "" : MailWayName(way));
    out->provider = provider;
    CopyText(out->providerName, sizeof out->providerName,
             provider == kProviderMicrosoft ? "microsoft"
             : provider == kProviderGoogle  ? "google"
                                            : "custom");
    return ReadRegistration(out);
}

void FormatOAuthSettingsFailure(OAuthSettingsResult result, const OAuthSettings *settings,
                                char *dest, size_t destSize)
{
    switch (result) {
    case kOAuthSettingsOk:
        CopyText(dest, destSize, "");
        break;
    case kOAuthSettingsNoProvider:
        CopyText(dest, destSize, kTextNoProvider);
        break;
    case kOAuthSettingsUnknownProvider:
        FormatText(dest, destSize, kTextUnknownProvider, settings->providerName);
        break;
    case kOAuthSettingsNoClientId:
        CopyText(dest, destSize, kTextNoClientId);
        break;
    case kOAuthSettingsCustomIncomplete:
        CopyText(dest, destSize, kTextCustomIncomplete);
        break;
    case kOAuthSettingsBadTenant:
        FormatText(dest, destSize, kTextBadTenant, settings->tenant);
        break;
    case kOAuthSettingsBadAuthorizeUrl:
        FormatText(dest, destSize, kTextBadUrl, GetSettingDef(kKeyOAuthAuthorizeUrl)->name,
                   settings->authorizeUrl, GetSettingDef(kKeyOAuthAuthorizeUrl)->name);
        break;
    case kOAuthSettingsBadTokenUrl:
        FormatText(dest, destSize, kTextBadUrl, GetSettingDef(kKeyOAuthTokenUrl)->name,
                   settings->tokenUrl, GetSettingDef(kKeyOAuthTokenUrl)->name);
        break;
    case kOAuthSettingsUnknownApi:
        FormatText(dest, destSize, kTextUnknownApi, settings->wayText);
        break;
    case kOAuthSettingsApiProvider:
        FormatText(dest, destSize, kTextApiProvider, MailWayName(settings->way),
                   settings->way == kWayGraph ? "microsoft" : "google");
        break;
    }
}

void MakeRedirectUri(unsigned short port, char *dest, size_t destSize)
{
    FormatText(dest, destSize, "http://127.0.0.1:%u/", (unsigned)port);
}

// Appends "name=value" with the value percent-encoded, after '&' unless dest is empty or
// ends in '?' or '&'.
static bool AppendParameter(char *dest, size_t destSize, const char *name, const char *value)
{
    size_t length = strlen(dest);
    bool fits = true;
    if (length > 0 && dest[length - 1] != '?' && dest[length - 1] != '&')
        fits = AppendText(dest, destSize, "&");
    return fits && AppendText(dest, destSize, name) && AppendText(dest, destSize, "=") &&
           AppendPercentEncoded(dest, destSize, value);
}

bool MakeAuthorizeUrl(const OAuthSettings *settings, const char *redirectUri, const char *state,
                      const char *challenge, const char *user, char *dest, size_t destSize)
{
    bool fits = CopyText(dest, destSize, settings->authorizeUrl) &&
                AppendText(dest, destSize, strchr(settings->authorizeUrl, '?') ? "" : "?") &&
                AppendParameter(dest, destSize, "client_id", settings->clientId) &&
                AppendParameter(dest, destSize, "response_type", "code") &&
                AppendParameter(dest, destSize, "redirect_uri", redirectUri) &&
                AppendParameter(dest, destSize, "scope", settings->scope) &&
                AppendParameter(dest, destSize, "state", state) &&
                AppendParameter(dest, destSize, "code_challenge", challenge) &&
                AppendParameter(dest, destSize, "code_challenge_method", "S256") &&
                AppendParameter(dest, destSize, "login_hint", user);
    if (fits && settings->provider == kProviderGoogle)
        fits = AppendParameter(dest, destSize, "access_type", "offline") &&
               AppendParameter(dest, destSize, "prompt", "consent");
    return fits;
}

bool MakeCodeExchangeBody(const OAuthSettings *settings, const char *code,
                          const char *redirectUri, const char *verifier, char *dest,
                          size_t destSize)
{
    bool fits = CopyText(dest, destSize, "") &&
                AppendParameter(dest, destSize, "grant_type", "authorization_code") &&
                AppendParameter(dest, destSize, "code", code) &&
                AppendParameter(dest, destSize, "redirect_uri", redirectUri) &&
                AppendParameter(dest, destSize, "client_id", settings->clientId) &&
                AppendParameter(dest, destSize, "code_verifier", verifier);
    if (fits && settings->clientSecret[0])
        fits = AppendParameter(dest, destSize, "client_secret", settings->clientSecret);
    return fits;
}

bool MakeRefreshBody(const OAuthSettings *settings, const char *refreshToken, char *dest,
                     size_t destSize)
{
    bool fits = CopyText(dest, destSize, "") &&
                AppendParameter(dest, destSize, "grant_type", "refresh_token") &&
                AppendParameter(dest, destSize, "refresh_token", refreshToken) &&
                AppendParameter(dest, destSize, "client_id", settings->clientId) &&
                AppendParameter(dest, destSize, "scope", settings->refreshScope);
    if (fits && settings->clientSecret[0])
        fits = AppendParameter(dest, destSize, "client_secret", settings->clientSecret);
    return fits;
}
