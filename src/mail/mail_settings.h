// The mail settings of a batch: the server and port from the host settings file, how the
// connection is protected, and the login with its password from the credential store; and
// the encodings the login needs.
#pragma once
#include <cstddef>

#include "../base/host_settings.h"

// "SMTPSecurity": how the connection is protected.
enum MailSecurity {
    kSecurityNone = 0,      // plain SMTP, as always
    kSecurityStartTls = 1,  // EHLO, STARTTLS, the handshake, EHLO again
    kSecurityTls = 2,       // TLS from the first byte
};

// The credential store keeps at most this many bytes of a password (UTF-16LE).
const size_t kCredentialBlobMax = 2560;
// The password as UTF-8: three bytes at most for each UTF-16 unit, and a terminator.
const size_t kPasswordSize = kCredentialBlobMax / 2 * 3 + 1;

struct MailSettings {
    char server[kSettingSize];        // "SMTPServer"
    unsigned short port;              // "SMTPPort", kept in 16 bits (0: the services entry)
    MailSecurity security;            // "SMTPSecurity"
    char securityText[kSettingSize];  // the value as written, for the box that refuses it
    char user[kSettingSize];          // "SMTPUser"; "" for no login
    char password[kPasswordSize];     // from the credential store, UTF-8; wiped when done
};

// What ReadSmtpSettings found.
enum SettingsResult {
    kSettingsReady = 0,
    kSettingsNoServer,          // "SMTPServer" empty or absent
    kSettingsNoPort,            // "SMTPPort" empty or absent
    kSettingsUnknownSecurity,   // "SMTPSecurity" names no known protection
    kSettingsLoginWithoutTls,   // a login over a connection without TLS
    kSettingsNoCredential,      // a login without a stored password
};

// Reads section "Email Setup" into settings, and the password for a login. On any result but
// kSettingsReady nothing of the login is kept and nothing may be connected.
SettingsResult ReadSmtpSettings(MailSettings *settings);

// The box text that says what is wrong, for a result other than kSettingsReady.
void MakeSettingsFailureText(SettingsResult result, const MailSettings *settings, char *text,
                             size_t textSize);

// Forgets the password (wiped) and the login.
void ForgetMailSettings(MailSettings *settings);

// True when the conversation greets with EHLO: TLS or a login is configured.
bool UsesExtendedHello(const MailSettings *settings);

// Base64 of count bytes into dest, terminated. Returns its length, 0 when it does not fit.
size_t EncodeBase64(const unsigned char *bytes, size_t count, char *dest, size_t destSize);

// UTF-16LE (count bytes; an odd last byte is ignored) as UTF-8 into dest, terminated. An
// unpaired surrogate becomes U+FFFD. Returns the length, or (size_t)-1 when it does not fit.
size_t Utf16LeToUtf8(const unsigned char *bytes, size_t count, char *dest, size_t destSize);

// The AUTH PLAIN response for the login: base64 of NUL user NUL password. Returns its
// length, 0 when it does not fit.
size_t MakePlainResponse(const MailSettings *settings, char *dest, size_t destSize);
