// The settings check ("/emailcheck"): everything "/email" does before MAIL FROM, against the
// configured server, with nothing queued or sent: the settings, the name looked up, the
// connect, the greeting, HELO or EHLO, TLS with the certificate checked, the login, QUIT.
// A small window shows each step; then one box says what was found, or which step failed,
// with the server's line and what to do. The sign-in runs the same check once it has stored
// its tokens.
#pragma once
#include <cstddef>

#include "../../oauth/access_token.h"
#include "mail_log.h"
#include "../settings/mail_settings.h"
#include "../message/message_file.h"
#include "sending_window.h"

// How a check ended.
enum MailCheckResult {
    kCheckPassed = 0,       // through the login to QUIT
    kCheckSettingsRefused,  // the settings were refused before anything was connected
    kCheckNoToken,          // the sign-in's token could not be had
    kCheckUnreachable,      // the lookup, the connect or the greeting failed, or silence
    kCheckFailed,           // a later step failed: TLS, the certificate, the login, a reply
    kCheckCancelled,        // the user's Cancel
};

const size_t kCheckTextSize = 4096;

struct MailCheck {
    MailSettings settings;
    MailLog log;
    QueuedMessage message;  // a stand-in: the greeting name and the status text only
    SendingWindow window;
    AccessToken token;
    char text[kCheckTextSize];  // the box text: what was found, or what failed and why
};

// Runs the check with the settings as "/email" reads them (check->settings is filled; with
// signIn the login is the stored sign-in's, whatever "SMTPAuth" says) and words its outcome
// into check->text. What became of it stays in check->window.outcome.
MailCheckResult CheckMailSetup(MailCheck *check, bool signIn = false);

// The same check with check->settings as the caller filled them in (ready, as ReadSmtpSettings
// would leave them: the Email Setup window's values before they are saved), its window owned
// by owner (0: none).
MailCheckResult CheckMailSettings(MailCheck *check, PlatWindow owner);

// "/emailcheck": the check and its one box. Returns the exit code: 0 when it passed, 1
// otherwise.
int RunEmailCheck(void);
