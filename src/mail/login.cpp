// Secure submission settings and the mail login. The password never lives in the settings
// file: it is the blob of a generic credential in the Windows credential store, UTF-16LE as
// the store's own editor keeps it, and it goes to the server as UTF-8.
#include "login.h"

#include <cstring>

#include "../base/host_settings.h"
#include "../base/error_box.h"
#include "../base/paths.h"
#include "../base/text.h"
#include "../platform/plat_security.h"
#include "mail_texts.h"
#include "sending_window.h"

int gSmtpSecurity;
char gSmtpUser[256];
char gSmtpPassword[kPasswordSize];

void WipeBytes(void *bytes, size_t count)
{
    volatile unsigned char *p = (volatile unsigned char *)bytes;
    while (count--)
        *p++ = 0;
}

void ForgetLogin(void)
{
    WipeBytes(gSmtpPassword, sizeof gSmtpPassword);
    gSmtpUser[0] = '\0';
    gSmtpSecurity = kSecurityNone;
}

bool UsesExtendedHello(void) { return gSmtpSecurity != kSecurityNone || gSmtpUser[0] != '\0'; }

size_t EncodeBase64(const unsigned char *bytes, size_t count, char *dest, size_t destSize)
{
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t need = (count + 2) / 3 * 4;
    if (destSize == 0 || need > destSize - 1)
        return 0;
    size_t out = 0;
    for (size_t i = 0; i < count; i += 3) {
        unsigned long group = (unsigned long)bytes[i] << 16;
        if (i + 1 < count)
            group |= (unsigned long)bytes[i + 1] << 8;
        if (i + 2 < count)
            group |= bytes[i + 2];
        dest[out++] = kDigits[(group >> 18) & 63];
        dest[out++] = kDigits[(group >> 12) & 63];
        dest[out++] = i + 1 < count ? kDigits[(group >> 6) & 63] : '=';
        dest[out++] = i + 2 < count ? kDigits[group & 63] : '=';
    }
    dest[out] = '\0';
    return out;
}

// Appends the UTF-8 form of one code point. False when it does not fit.
static bool PutCodePoint(unsigned long c, char *dest, size_t destSize, size_t *length)
{
    unsigned char encoded[4];
    size_t n;
    if (c < 0x80) {
        encoded[0] = (unsigned char)c;
        n = 1;
    } else if (c < 0x800) {
        encoded[0] = (unsigned char)(0xC0 | (c >> 6));
        encoded[1] = (unsigned char)(0x80 | (c & 0x3F));
        n = 2;
    } else if (c < 0x10000) {
        encoded[0] = (unsigned char)(0xE0 | (c >> 12));
        encoded[1] = (unsigned char)(0x80 | ((c >> 6) & 0x3F));
        encoded[2] = (unsigned char)(0x80 | (c & 0x3F));
        n = 3;
    } else {
        encoded[0] = (unsigned char)(0xF0 | (c >> 18));
        encoded[1] = (unsigned char)(0x80 | ((c >> 12) & 0x3F));
        encoded[2] = (unsigned char)(0x80 | ((c >> 6) & 0x3F));
        encoded[3] = (unsigned char)(0x80 | (c & 0x3F));
        n = 4;
    }
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

size_t MakePlainResponse(char *dest, size_t destSize)
{
    unsigned char raw[1 + sizeof gSmtpUser + kPasswordSize];
    size_t userLength = strnlen(gSmtpUser, sizeof gSmtpUser);
    size_t passwordLength = strnlen(gSmtpPassword, sizeof gSmtpPassword);
    size_t n = 0;
    raw[n++] = 0;  // no separate identity to act for
    memcpy(raw + n, gSmtpUser, userLength);
    n += userLength;
    raw[n++] = 0;
    memcpy(raw + n, gSmtpPassword, passwordLength);
    n += passwordLength;
    size_t length = EncodeBase64(raw, n, dest, destSize);
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

// The password of the login from the credential store. 1 when there is one.
static int ReadPassword(void)
{
    unsigned char blob[kCredentialBlobMax];
    size_t blobLength = 0;
    int found = PlatReadGenericCredential(kCredentialTarget, blob, sizeof blob, &blobLength);
    size_t length = (size_t)-1;
    if (found && blobLength >= 2)
        length = Utf16LeToUtf8(blob, blobLength, gSmtpPassword, sizeof gSmtpPassword);
    WipeBytes(blob, sizeof blob);
    return length != (size_t)-1 && length > 0;
}

int ReadSecuritySettings(void)
{
    ForgetLogin();
    char value[kSettingSize];
    ReadHostSetting(kHostSettingsRead, kSectionEmail, "SMTPSecurity", "", value, sizeof value);
    int security = ParseSecurity(value);
    if (security < 0) {
        char text[1000];
        FormatText(text, sizeof text, kTextUnknownSecurity, value);
        ShowErrorBox(0, text);
        return 0;
    }
    gSmtpSecurity = security;
    ReadHostSetting(kHostSettingsRead, kSectionEmail, "SMTPUser", "", gSmtpUser,
                    sizeof gSmtpUser);
    if (gSmtpUser[0] == '\0')
        return 1;
    // A password goes over an encrypted connection or not at all.
    if (gSmtpSecurity == kSecurityNone) {
        ShowErrorBox(0, kTextLoginWithoutTls);
        ForgetLogin();
        return 0;
    }
    if (!ReadPassword()) {
        char text[1000];
        FormatText(text, sizeof text, kTextNoCredential, gSmtpUser);
        ShowErrorBox(0, text);
        ForgetLogin();
        return 0;
    }
    return 1;
}
