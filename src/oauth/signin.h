// The jobs "/emailsignin" and "/emailsignout": signing the mail account in once through the
// browser (authorization code with PKCE and a loopback redirect), and forgetting it again.
#pragma once
#include "../base/host_settings.h"
#include "../platform/plat_types.h"
#include "provider.h"
#include "token_response.h"

// The sign-in window: its template, controls, timer and private messages.
const int kSignInTemplate = 102;
const int kSignInCancel = 2;        // IDCANCEL: the Cancel button, Esc and the close box
const int kSignInStatus = 1012;
const uintptr_t kSignInTimer = 1;
const unsigned kSignInMilliseconds = 5 * 60 * 1000;
const unsigned kWmListenerEvent = PLAT_WM_USER + 1;
const unsigned kWmConnectionEvent = PLAT_WM_USER + 2;

// Who the sign-in signed in.
struct SignInResult {
    bool signedIn;                      // the tokens are stored
    char user[kSettingSize];            // "SMTPUser", whom they are stored for
    char signedInAs[kSignedInAsSize];   // whom the provider names (its id_token); "" when none
};

// The sign-in of "/emailsignin": reads the provider settings and "SMTPUser", listens on the
// loopback address, opens the provider's sign-in page in the default browser, waits in the
// sign-in window for the redirect (or Cancel, or 5 minutes), exchanges the code for tokens
// and stores them. A failure ends with a box saying why; success shows nothing (the mail
// job proves the sign-in at once and says so). Returns the exit code: 0 when signed in, 1
// otherwise (nothing stored then).
int SignInMailAccount(SignInResult *outcome);

// The same for settings the caller has read (kOAuthSettingsOk) and user, with the sign-in
// window and every box owned by owner (0: none), which is disabled meanwhile: for a window
// that signs in before its choices are saved. The tokens are stored for settings' way out.
int SignInMailAccountAs(const OAuthSettings *settings, const char *user, PlatWindow owner,
                        SignInResult *outcome);

// "/emailsignout": deletes the stored tokens and says so in a box. Returns 0.
int RunEmailSignOut(void);
