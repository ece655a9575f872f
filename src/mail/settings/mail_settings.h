// The mail settings of a batch: the way out (an SMTP server, or a mail API), the server and
// port from the host settings file, how the connection is protected, and the login with its
// password from the credential store; and the encodings the login needs.
#pragma once
#include <cstddef>

#include "../../base/host_settings.h"
#include "../../oauth/provider.h"
#include "../../oauth/token_response.h"

// "SMTPSecurity": how the connection is protected.
enum MailSecurity {
    kSecurityNone = 0,      // plain SMTP, as always
    kSecurityStartTls = 1,  // EHLO, STARTTLS, the handshake, EHLO again
    kSecurityTls = 2,       // TLS from the first byte
};

// "SMTPAuth": how the login proves itself.
enum MailAuth {
    kAuthPassword = 0,  // AUTH PLAIN or LOGIN with the stored password (the default)
    kAuthXoauth2 = 1,   // AUTH XOAUTH2 with the access token of the mail sign-in
};

// The credential store keeps at most this many bytes of a password (UTF-16LE).
const size_t kCredentialBlobMax = 2560;
// The password as UTF-8: three bytes at most for each UTF-16 unit, and a terminator.
const size_t kPasswordSize = kCredentialBlobMax / 2 * 3 + 1;

struct MailSettings {
    MailWay way;                      // "MailAPI": kWaySmtp, or the API the mail is posted to
    char apiUrl[kOAuthUrlSize];       // an API: "MailAPIURL", or the API's own endpoint
    char server[kSettingSize];        // "SMTPServer"
    unsigned short port;              // "SMTPPort", kept in 16 bits (0: the services entry)
    MailSecurity security;            // "SMTPSecurity"
    char securityText[kSettingSize];  // the value as written, for the box that refuses it
    char user[kSettingSize];          // "SMTPUser"; "" for no login (an API: the account)
    MailAuth auth;                    // "SMTPAuth" (an API: always the sign-in, xoauth2)
    char authText[kSettingSize];      // the value as written, for the box that refuses it
    char password[kPasswordSize];     // from the credential store, UTF-8; wiped when done
    OAuthSettings oauth;              // xoauth2: the provider
    OAuthSettingsResult oauthResult;  // why the provider's settings were refused
    char accessToken[kTokenSize];     // xoauth2: set by the batch before the first message
};

// What ReadSmtpSettings found.
enum SettingsResult {
    kSettingsReady = 0,
    kSettingsNoServer,          // "SMTPServer" empty or absent
    kSettingsNoPort,            // "SMTPPort" empty or absent
    kSettingsUnknownSecurity,   // "SMTPSecurity" names no known protection
    kSettingsLoginWithoutTls,   // a login over a connection without TLS
    kSettingsNoCredential,      // a login without a stored password
    kSettingsUnknownAuth,       // "SMTPAuth" names no known way
    kSettingsSignInWithoutUser, // xoauth2 without "SMTPUser"
    kSettingsSignInWithoutTls,  // xoauth2 over a connection without TLS
    kSettingsSignInProvider,    // the provider's settings are refused (see oauthResult)
    kSettingsUnknownApi,        // "MailAPI" names no known API (oauth.wayText says what)
    kSettingsBadApiUrl,         // "MailAPIURL" is not an https:// address
    kSettingsApiWithoutUser,    // "MailAPI" without "SMTPUser"
};

// Whether the settings' way out goes over TLS (a mail API, or a server with SMTPSecurity
// starttls or tls; a sign-in asks for TLS too): the run then readies the certificate check
// early (PlatTlsWarmUp).
inline bool SettingsUseTls(const MailSettings *settings)
{
    return settings->way != kWaySmtp || settings->security != kSecurityNone;
}

// The endpoints the APIs post a message to, unless "MailAPIURL" names another.
extern const char kGraphSendUrl[];
extern const char kGmailSendUrl[];

// Reads section "Email Setup" into settings, and the password for a password login (the
// access token of a sign-in is the batch's to fetch). On any result but kSettingsReady
// nothing of the login is kept and nothing may be connected.
// With "MailAPI" set (graph or gmail) the mail is posted to that API: "MailAPIURL" (https
// only) or the API's endpoint, "SMTPUser" the account, the sign-in the login; "SMTPServer",
// "SMTPPort", "SMTPSecurity" and "SMTPAuth" are not read.
// With signIn the login is the sign-in's (as "SMTPAuth" xoauth2) whatever the key says: the
// sign-in proves the tokens it has just stored.
SettingsResult ReadSmtpSettings(MailSettings *settings, bool signIn = false);

// The pieces of ReadSmtpSettings for settings made elsewhere (the Email Setup window's, before
// they are saved). ReadStoredPassword: the password of the login from the credential store
// into settings->password, true when there is one. ReadApiEndpoint: "MailAPIURL" or the
// endpoint of settings->way into settings->apiUrl, false when it is not an https address.
bool ReadStoredPassword(MailSettings *settings);
bool ReadApiEndpoint(MailSettings *settings);

// The box text that says what is wrong, for a result other than kSettingsReady.
void MakeSettingsFailureText(SettingsResult result, const MailSettings *settings, char *text,
                             size_t textSize);

// Forgets the password and the access token (wiped) and the login.
void ForgetMailSettings(MailSettings *settings);

// True when the conversation greets with EHLO: TLS or a login is configured.
bool UsesExtendedHello(const MailSettings *settings);

// UTF-16LE (count bytes; an odd last byte is ignored) as UTF-8 into dest, terminated. An
// unpaired surrogate becomes U+FFFD. Returns the length, or (size_t)-1 when it does not fit.
size_t Utf16LeToUtf8(const unsigned char *bytes, size_t count, char *dest, size_t destSize);

// The AUTH PLAIN response for the login: base64 of NUL user NUL password. Returns its
// length, 0 when it does not fit.
size_t MakePlainResponse(const MailSettings *settings, char *dest, size_t destSize);
