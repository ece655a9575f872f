// The sign-in proven at once: a token the mail server refuses is forgotten, since it was
// issued for an account that cannot send as "SMTPUser".
#include "mail_signin.h"

#include "../../base/text.h"
#include "../../oauth/oauth_texts.h"
#include "../../oauth/signin.h"
#include "../../oauth/token_store.h"
#include "../../platform/plat_ui.h"
#include "mail_check.h"
#include "mail_texts.h"
#include "outcome_text.h"

// The check's state is large (the window's buffers): not on the stack.
static MailCheck gSignInCheck;

int RunEmailSignIn(void)
{
    SignInResult outcome;
    int exitCode = SignInMailAccount(&outcome);
    if (!outcome.signedIn)
        return exitCode;
    MailCheck *check = &gSignInCheck;
    const char *who = outcome.signedInAs[0] ? outcome.signedInAs : outcome.user;
    static char text[kCheckTextSize + 1024];
    exitCode = 0;
    // A mail API takes the token only with a message: there is no login to prove beforehand.
    MailSettings *s = &check->settings;
    if (ReadSmtpSettings(s, true) == kSettingsReady && s->way != kWaySmtp) {
        FormatText(text, sizeof text, kTextSignInApi, who, outcome.user,
                   s->way == kWayGraph ? kWayTextGraph : kWayTextGmail);
        ForgetMailSettings(s);
        PlatMessageBox(0, text, kSignInCaption, PLAT_MB_OK | PLAT_MB_ICONINFORMATION);
        return 0;
    }
    MailCheckResult result = CheckMailSetup(check, true);
    switch (result) {
    case kCheckPassed:
        FormatText(text, sizeof text, kTextSignInChecked, who, check->settings.server,
                   outcome.user);
        break;
    case kCheckFailed: {
        // Only a refusal says the login is not taken; anything else (a close, TLS) leaves
        // the sign-in unchecked.
        const MailOutcome *o = &check->window.outcome;
        if (o->verdict.kind != kVerdictRefused) {
            FormatText(text, sizeof text, kTextSignInNotChecked, who, check->text);
            break;
        }
        exitCode = 1;
        char refusal[kBoxTextSize + kFieldSize];
        FormatOutcomeText(o, nullptr, &check->settings, kWithoutQueueSentence, refusal,
                          sizeof refusal);
        if (IsRefusedToken(&o->verdict)) {
            PlatMutex lock = LockSignInStore();
            DeleteTokenRecord();
            UnlockSignInStore(lock);
            FormatText(text, sizeof text, kTextSignInWrongAccount, who, check->settings.server,
                       outcome.user, refusal, outcome.user);
        } else {
            FormatText(text, sizeof text, kTextSignInLoginRefused, who, outcome.user, refusal);
        }
        break;
    }
    default:  // not reached, not checkable, cancelled: the sign-in stays
        FormatText(text, sizeof text, kTextSignInNotChecked, who, check->text);
        break;
    }
    ForgetMailSettings(&check->settings);
    WipeBytes(&check->token, sizeof check->token);
    PlatMessageBox(0, text, kSignInCaption,
                   PLAT_MB_OK | (exitCode == 0 ? PLAT_MB_ICONINFORMATION : PLAT_MB_ICONEXCLAMATION));
    return exitCode;
}
