// Secure submission settings and the mail login: "SMTPSecurity", "SMTPUser" and the password
// kept in the credential store, and the encodings the login needs.
#pragma once
#include <cstddef>

// "SMTPSecurity": how the connection is protected.
enum {
    kSecurityNone = 0,      // plain SMTP, as always
    kSecurityStartTls = 1,  // EHLO, STARTTLS, the handshake, EHLO again
    kSecurityTls = 2,       // TLS from the first byte
};

extern int gSmtpSecurity;
extern char gSmtpUser[256];

// The credential store keeps at most this many bytes of a password (UTF-16LE).
const size_t kCredentialBlobMax = 2560;
// The password as UTF-8: three bytes at most for each UTF-16 unit, and a terminator.
const size_t kPasswordSize = kCredentialBlobMax / 2 * 3 + 1;
extern char gSmtpPassword[kPasswordSize];

// Reads "SMTPSecurity" and "SMTPUser" and, for a login, the password. 1 when the settings can
// be used; 0 after the box that says what is wrong (nothing has been connected then).
int ReadSecuritySettings(void);

// True when the conversation greets with EHLO: TLS or a login is configured.
bool UsesExtendedHello(void);

// Base64 of count bytes into dest, terminated. Returns its length, 0 when it does not fit.
size_t EncodeBase64(const unsigned char *bytes, size_t count, char *dest, size_t destSize);

// UTF-16LE (count bytes; an odd last byte is ignored) as UTF-8 into dest, terminated. An
// unpaired surrogate becomes U+FFFD. Returns the length, or (size_t)-1 when it does not fit.
size_t Utf16LeToUtf8(const unsigned char *bytes, size_t count, char *dest, size_t destSize);

// The AUTH PLAIN response for gSmtpUser and gSmtpPassword: base64 of NUL user NUL password.
// Returns its length, 0 when it does not fit.
size_t MakePlainResponse(char *dest, size_t destSize);

// Overwrites count bytes with zeros in a way the compiler keeps.
void WipeBytes(void *bytes, size_t count);

// Forgets the password (wiped) and the login settings.
void ForgetLogin(void);
