// Section "Email Setup" as the Email Setup window reads and writes it. A save touches only the
// keys of the way chosen, and each of those only when its value changes, so that everything
// else in the file (the sign-in's registration, the log, the host's own sections) stays as
// it was.
#include "setup_settings.h"

#include <cstring>

#include "../base/text.h"
#include "../mail/settings/settings_texts.h"
#include "../platform/plat_security.h"
#include "setup_texts.h"

static bool SameNoCase(const char *a, const char *b)
{
    char x[kSettingSize], y[kSettingSize];
    CopyText(x, sizeof x, a);
    CopyText(y, sizeof y, b);
    LowerAscii(x);
    LowerAscii(y);
    return strcmp(x, y) == 0;
}

void ReadSetupValues(SetupValues *values)
{
    memset(values, 0, sizeof *values);
    char api[kSettingSize], security[kSettingSize];
    ReadHostSetting(kKeyMailApi, api, sizeof api);
    ReadHostSetting(kKeySmtpServer, values->server, sizeof values->server);
    ReadHostSetting(kKeySmtpPort, values->port, sizeof values->port);
    ReadHostSetting(kKeySmtpSecurity, security, sizeof security);
    ReadHostSetting(kKeySmtpUser, values->user, sizeof values->user);
    values->security = SameNoCase(security, "starttls") ? kSecurityStartTls
                       : SameNoCase(security, "tls")    ? kSecurityTls
                                                        : kSecurityNone;
    if (SameNoCase(api, "graph") || SameNoCase(api, "gmail")) {
        values->way = SameNoCase(api, "graph") ? kWayMicrosoft : kWayGoogle;
        CopyText(values->address, sizeof values->address, values->user);
        values->user[0] = '\0';
        return;
    }
    values->way = kWayServer;
    if (strchr(values->user, '@'))
        CopyText(values->address, sizeof values->address, values->user);
}

bool IsPasswordStored(void)
{
    unsigned char blob[kCredentialBlobMax];
    size_t length = 0;
    int found = PlatReadGenericCredential(kCredentialTarget, blob, sizeof blob, &length);
    WipeBytes(blob, sizeof blob);
    return found && length >= 2;
}

// A port as the settings file takes it: digits only, 1 to 65535. 0 when it is not one.
static unsigned ParsePort(const char *text)
{
    unsigned long value = 0;
    if (*text == '\0')
        return 0;
    for (const char *p = text; *p; p++) {
        if (*p < '0' || *p > '9')
            return 0;
        value = value * 10 + (unsigned long)(*p - '0');
        if (value > 65535)
            return 0;
    }
    return (unsigned)value;
}

static bool TooLong(const char *text) { return strlen(text) > kSettingMax; }

SetupField CheckSetupValues(const SetupValues *values)
{
    char domain[kSettingSize];
    const char *at = strchr(values->address, '@');
    if (!at || at == values->address || TooLong(values->address) ||
        !GetAddressDomain(values->address, domain, sizeof domain))
        return kFieldAddress;
    if (values->way != kWayServer)
        return kFieldNone;
    if (values->server[0] == '\0' || TooLong(values->server))
        return kFieldServer;
    if (ParsePort(values->port) == 0)
        return kFieldPort;
    if (TooLong(values->user))
        return kFieldUser;
    if (values->user[0] != '\0' && values->security == kSecurityNone)
        return kFieldSecurity;
    if (values->user[0] != '\0' && !values->passwordGiven)
        return kFieldPassword;
    return kFieldNone;
}

void MakeFieldCheckText(SetupField field, const SetupValues *values, char *text, size_t textSize)
{
    const char *value = field == kFieldAddress ? values->address
                        : field == kFieldServer ? values->server
                                                : values->user;
    const char *label = field == kFieldAddress  ? "E-mail address"
                        : field == kFieldServer ? "Server"
                                                : "User name";
    bool named = field == kFieldAddress || field == kFieldServer || field == kFieldUser;
    if (named && TooLong(value)) {
        FormatText(text, textSize, kTextCheckTooLong, label, (unsigned)kSettingMax);
        return;
    }
    switch (field) {
    case kFieldAddress:
        CopyText(text, textSize, kTextCheckAddress);
        break;
    case kFieldServer:
        CopyText(text, textSize, kTextCheckServer);
        break;
    case kFieldPort:
        CopyText(text, textSize, kTextCheckPort);
        break;
    case kFieldSecurity:
        CopyText(text, textSize, kTextCheckSecurity);
        break;
    case kFieldPassword:
        FormatText(text, textSize, kTextCheckPassword, values->user);
        break;
    default:
        CopyText(text, textSize, "");
        break;
    }
}

static const char *SecurityWord(MailSecurity security)
{
    return security == kSecurityStartTls ? "starttls" : security == kSecurityTls ? "tls" : "none";
}

// UTF-16 units as the credential store keeps them: little-endian bytes. False when too long.
static bool PutPasswordBlob(const unsigned short *password, size_t units, unsigned char *blob,
                            size_t blobSize)
{
    if (units > blobSize / 2)
        return false;
    for (size_t i = 0; i < units; i++) {
        blob[2 * i] = (unsigned char)(password[i] & 0xFF);
        blob[2 * i + 1] = (unsigned char)(password[i] >> 8);
    }
    return true;
}

SettingsResult MakeTestSettings(const SetupValues *values, const unsigned short *password,
                                size_t units, MailSettings *settings)
{
    memset(settings, 0, sizeof *settings);
    if (values->way != kWayServer) {
        bool microsoft = values->way == kWayMicrosoft;
        settings->way = microsoft ? kWayGraph : kWayGmail;
        settings->auth = kAuthXoauth2;
        CopyText(settings->user, sizeof settings->user, values->address);
        settings->oauthResult =
            ReadOAuthSettingsFor(settings->way, microsoft ? kProviderMicrosoft : kProviderGoogle,
                                 &settings->oauth);
        if (!ReadApiEndpoint(settings))
            return kSettingsBadApiUrl;
        return settings->oauthResult == kOAuthSettingsOk ? kSettingsReady
                                                         : kSettingsSignInProvider;
    }
    settings->way = kWaySmtp;
    CopyText(settings->server, sizeof settings->server, values->server);
    settings->port = (unsigned short)ParsePort(values->port);
    settings->security = values->security;
    CopyText(settings->securityText, sizeof settings->securityText,
             SecurityWord(values->security));
    CopyText(settings->user, sizeof settings->user, values->user);
    settings->auth = kAuthPassword;
    if (settings->user[0] == '\0')
        return kSettingsReady;
    if (units == 0)
        return ReadStoredPassword(settings) ? kSettingsReady : kSettingsNoCredential;
    unsigned char blob[kCredentialBlobMax];
    size_t length = (size_t)-1;
    if (PutPasswordBlob(password, units, blob, sizeof blob))
        length = Utf16LeToUtf8(blob, units * 2, settings->password, sizeof settings->password);
    WipeBytes(blob, sizeof blob);
    return length != (size_t)-1 ? kSettingsReady : kSettingsNoCredential;
}

// Sets key to value unless it holds that value already. False when the write failed. A
// value read at full length may have been cut, so it is written again.
static bool SetEmailKey(SettingKey key, const char *value)
{
    char now[kSettingSize];
    int n = ReadHostSettingIfPresent(key, now, sizeof now);
    if (n >= 0 && n < (int)kSettingMax && strcmp(now, value) == 0)
        return true;
    return PutHostSetting(key, value);
}

// Empties key when it holds something; an absent key stays absent.
static bool EmptyEmailKey(SettingKey key)
{
    char now[kSettingSize];
    if (ReadHostSettingIfPresent(key, now, sizeof now) <= 0)
        return true;
    return PutHostSetting(key, "");
}

static bool RemoveEmailKey(SettingKey key)
{
    char now[kSettingSize];
    if (ReadHostSettingIfPresent(key, now, sizeof now) < 0)
        return true;
    return PutHostSetting(key, nullptr);
}

static bool StorePassword(const char *user, const unsigned short *password, size_t units)
{
    unsigned char blob[kCredentialBlobMax];
    if (!PutPasswordBlob(password, units, blob, sizeof blob))
        return false;
    int stored = PlatWriteGenericCredential(kCredentialTarget, user, blob, units * 2);
    WipeBytes(blob, sizeof blob);
    return stored != 0;
}

SaveResult SaveSetupValues(const SetupValues *values, const unsigned short *password,
                           size_t units)
{
    bool written = true;
    if (values->way != kWayServer) {
        bool microsoft = values->way == kWayMicrosoft;
        written = SetEmailKey(kKeyMailApi, microsoft ? "graph" : "gmail") &&
                  SetEmailKey(kKeyOAuthProvider, microsoft ? "microsoft" : "google") &&
                  SetEmailKey(kKeySmtpUser, values->address);
        return written ? kSaveDone : kSaveSettingsRefused;
    }
    if (values->user[0] != '\0' && units > 0 && !StorePassword(values->user, password, units))
        return kSaveCredentialRefused;
    char port[8];
    FormatText(port, sizeof port, "%u", ParsePort(values->port));
    const char *security = SecurityWord(values->security);
    written = SetEmailKey(kKeySmtpServer, values->server) && SetEmailKey(kKeySmtpPort, port) &&
              SetEmailKey(kKeySmtpSecurity, security) &&
              (values->user[0] != '\0' ? SetEmailKey(kKeySmtpUser, values->user)
                                       : EmptyEmailKey(kKeySmtpUser)) &&
              RemoveEmailKey(kKeySmtpAuth) && EmptyEmailKey(kKeyMailApi);
    return written ? kSaveDone : kSaveSettingsRefused;
}
