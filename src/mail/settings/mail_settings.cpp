// The mail settings of a batch. The password never lives in the settings file: it is the
// blob of a generic credential in the Windows credential store, UTF-16LE as the store's own
// editor keeps it, and it goes to the server as UTF-8.
#include "mail_settings.h"

#include <cstring>

#include "../../base/encoding.h"
#include "../../base/text.h"
#include "../../platform/plat_security.h"
#include "settings_texts.h"

const char kGraphSendUrl[] = "https://graph.microsoft.com/v1.0/me/sendMail";
const char kGmailSendUrl[] =
    "https://gmail.googleapis.com/upload/gmail/v1/users/me/messages/send?uploadType=media";

void ForgetMailSettings(MailSettings *settings)
{
    WipeBytes(settings->password, sizeof settings->password);
    WipeBytes(settings->accessToken, sizeof settings->accessToken);
    settings->user[0] = '\0';
    settings->security = kSecurityNone;
}

bool UsesExtendedHello(const MailSettings *settings)
{
    return settings->security != kSecurityNone || settings->user[0] != '\0';
}

// Appends the UTF-8 form of one code point. False when it does not fit.
static bool PutCodePoint(unsigned long c, char *dest, size_t destSize, size_t *length)
{
    unsigned char encoded[4];
    size_t n = EncodeUtf8(c, encoded);
    if (*length + n + 1 > destSize)
        return false;
    memcpy(dest + *length, encoded, n);
    *length += n;
    return true;
}

size_t Utf16LeToUtf8(const unsigned char *bytes, size_t count, char *dest, size_t destSize)
{
    if (destSize == 0)
        return (size_t)-1;
    size_t units = count / 2;
    size_t length = 0;
    for (size_t i = 0; i < units; i++) {
        unsigned long c = bytes[2 * i] | ((unsigned long)bytes[2 * i + 1] << 8);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
            unsigned long low = bytes[2 * i + 2] | ((unsigned long)bytes[2 * i + 3] << 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i++;
            } else {
                c = 0xFFFD;
            }
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (!PutCodePoint(c, dest, destSize, &length)) {
            WipeBytes(dest, destSize);
            return (size_t)-1;
        }
    }
    dest[length] = '\0';
    return length;
}

size_t MakePlainResponse(const MailSettings *settings, char *dest, size_t destSize)
{
    unsigned char raw[1 + sizeof settings->user + kPasswordSize];
    size_t userLength = strnlen(settings->user, sizeof settings->user);
    size_t passwordLength = strnlen(settings->password, sizeof settings->password);
    size_t n = 0;
    raw[n++] = 0;  // no separate identity to act for
    memcpy(raw + n, settings->user, userLength);
    n += userLength;
    raw[n++] = 0;
    memcpy(raw + n, settings->password, passwordLength);
    n += passwordLength;
    size_t length = Base64Encode(raw, n, false, dest, destSize);
    WipeBytes(raw, sizeof raw);
    return length;
}

// "SMTPSecurity" by its name, without case; -1 for a name not known.
static int ParseSecurity(const char *value)
{
    char lower[kSettingSize];
    CopyText(lower, sizeof lower, value);
    LowerAscii(lower);
    if (lower[0] == '\0' || strcmp(lower, "none") == 0)
        return kSecurityNone;
    if (strcmp(lower, "starttls") == 0)
        return kSecurityStartTls;
    if (strcmp(lower, "tls") == 0)
        return kSecurityTls;
    return -1;
}

bool ReadStoredPassword(MailSettings *settings)
{
    unsigned char blob[kCredentialBlobMax];
    size_t blobLength = 0;
    int found = PlatReadGenericCredential(kCredentialTarget, blob, sizeof blob, &blobLength);
    size_t length = (size_t)-1;
    if (found && blobLength >= 2)
        length = Utf16LeToUtf8(blob, blobLength, settings->password, sizeof settings->password);
    WipeBytes(blob, sizeof blob);
    return length != (size_t)-1 && length > 0;
}

bool ReadApiEndpoint(MailSettings *settings)
{
    ReadHostSetting(kKeyMailApiUrl, settings->apiUrl, sizeof settings->apiUrl);
    if (settings->apiUrl[0] == '\0')
        CopyText(settings->apiUrl, sizeof settings->apiUrl,
                 settings->way == kWayGraph ? kGraphSendUrl : kGmailSendUrl);
    return IsHttpsUrl(settings->apiUrl);
}

// The settings of an API: the way first (a value it does not know is named before anything
// else), its endpoint, the account, then the provider.
static SettingsResult ReadApiSettings(MailSettings *settings)
{
    settings->auth = kAuthXoauth2;
    settings->oauthResult = ReadOAuthSettings(&settings->oauth);
    if (settings->oauthResult == kOAuthSettingsUnknownApi)
        return kSettingsUnknownApi;
    settings->way = (MailWay)settings->oauth.way;
    if (!ReadApiEndpoint(settings))
        return kSettingsBadApiUrl;
    ReadHostSetting(kKeySmtpUser, settings->user, sizeof settings->user);
    if (settings->user[0] == '\0')
        return kSettingsApiWithoutUser;
    return settings->oauthResult == kOAuthSettingsOk ? kSettingsReady : kSettingsSignInProvider;
}

// The settings as far as they go, the password last.
static SettingsResult ReadSettingsInOrder(MailSettings *settings, bool signIn)
{
    char api[kSettingSize];
    if (ReadHostSetting(kKeyMailApi, api, sizeof api) > 0)
        return ReadApiSettings(settings);
    if (ReadHostSetting(kKeySmtpServer, settings->server, sizeof settings->server) == 0)
        return kSettingsNoServer;
    char port[kSettingSize];
    if (ReadHostSetting(kKeySmtpPort, port, sizeof port) == 0)
        return kSettingsNoPort;
    settings->port = (unsigned short)ParseDecimal(port);
    ReadHostSetting(kKeySmtpSecurity, settings->securityText, sizeof settings->securityText);
    int security = ParseSecurity(settings->securityText);
    if (security < 0)
        return kSettingsUnknownSecurity;
    settings->security = (MailSecurity)security;
    ReadHostSetting(kKeySmtpUser, settings->user, sizeof settings->user);
    ReadHostSetting(kKeySmtpAuth, settings->authText, sizeof settings->authText);
    char auth[kSettingSize];
    CopyText(auth, sizeof auth, signIn ? "xoauth2" : settings->authText);
    LowerAscii(auth);
    if (strcmp(auth, "xoauth2") == 0) {
        settings->auth = kAuthXoauth2;
        // A sign-in is a login: it names its user and goes inside TLS only.
        if (settings->user[0] == '\0')
            return kSettingsSignInWithoutUser;
        if (settings->security == kSecurityNone)
            return kSettingsSignInWithoutTls;
        settings->oauthResult = ReadOAuthSettings(&settings->oauth);
        return settings->oauthResult == kOAuthSettingsOk ? kSettingsReady
                                                         : kSettingsSignInProvider;
    }
    if (auth[0] != '\0' && strcmp(auth, "password") != 0)
        return kSettingsUnknownAuth;
    settings->auth = kAuthPassword;
    if (settings->user[0] == '\0')
        return kSettingsReady;
    // A password goes over an encrypted connection or not at all.
    if (settings->security == kSecurityNone)
        return kSettingsLoginWithoutTls;
    return ReadStoredPassword(settings) ? kSettingsReady : kSettingsNoCredential;
}

SettingsResult ReadSmtpSettings(MailSettings *settings, bool signIn)
{
    memset(settings, 0, sizeof *settings);
    SettingsResult result = ReadSettingsInOrder(settings, signIn);
    if (result != kSettingsReady)
        WipeBytes(settings->password, sizeof settings->password);
    return result;
}

void MakeSettingsFailureText(SettingsResult result, const MailSettings *settings, char *text,
                             size_t textSize)
{
    switch (result) {
    case kSettingsNoServer:
        CopyText(text, textSize, kTextNoServer);
        break;
    case kSettingsNoPort:
        CopyText(text, textSize, kTextNoPort);
        break;
    case kSettingsUnknownSecurity:
        FormatText(text, textSize, kTextUnknownSecurity, settings->securityText);
        break;
    case kSettingsLoginWithoutTls:
        CopyText(text, textSize, kTextLoginWithoutTls);
        break;
    case kSettingsNoCredential:
        FormatText(text, textSize, kTextNoCredential, settings->user);
        break;
    case kSettingsUnknownAuth:
        FormatText(text, textSize, kTextUnknownAuth, settings->authText);
        break;
    case kSettingsSignInWithoutUser:
        CopyText(text, textSize, kTextSignInWithoutUser);
        break;
    case kSettingsSignInWithoutTls:
        CopyText(text, textSize, kTextSignInWithoutTls);
        break;
    case kSettingsSignInProvider:
    case kSettingsUnknownApi:
        FormatOAuthSettingsFailure(settings->oauthResult, &settings->oauth, text, textSize);
        break;
    case kSettingsBadApiUrl:
        FormatText(text, textSize, kTextBadApiUrl, settings->apiUrl);
        break;
    case kSettingsApiWithoutUser:
        FormatText(text, textSize, kTextApiWithoutUser, settings->oauth.wayText);
        break;
    default:
        CopyText(text, textSize, "");
        break;
    }
}
