// The settings check: the sending window in its checking form, over a stand-in message; its
// outcome decides the result and is worded in the one box.
#include "mail_check.h"

#include "../../base/text.h"
#include "../../platform/plat_net.h"
#include "../../platform/plat_tls.h"
#include "../../platform/plat_ui.h"
#include "api_sending.h"
#include "mail_texts.h"
#include "mail_token.h"
#include "outcome_text.h"

static const unsigned short kWinsockVersion = 0x0101;

// The stand-in message: it greets as "/email" would for a sender named as the login (or as
// "localhost" without one) and carries nothing.
static void PrepareStandIn(MailCheck *check)
{
    QueuedMessage *m = &check->message;
    ReleaseMessageText(m);
    m->recipientCount = 0;
    m->path[0] = '\0';
    CopyText(m->sender, sizeof m->sender, check->settings.user);
    MakeGreetingName(m);
    if (m->greetingName[0] == '\0')
        CopyText(m->greetingName, sizeof m->greetingName, "localhost");
    CopyText(m->statusText, sizeof m->statusText, kStatusCheckGreeted);
}

MailCheckResult CheckMailSetup(MailCheck *check, bool signIn)
{
    check->text[0] = '\0';
    MailSettings *s = &check->settings;
    SettingsResult settings = ReadSmtpSettings(s, signIn);
    if (settings != kSettingsReady) {
        MakeSettingsFailureText(settings, s, check->text, sizeof check->text);
        return kCheckSettingsRefused;
    }
    return CheckMailSettings(check, 0);
}

MailCheckResult CheckMailSettings(MailCheck *check, PlatWindow owner)
{
    check->text[0] = '\0';
    MailSettings *s = &check->settings;
    if (SettingsUseTls(s))
        PlatTlsWarmUp();
    // A mail API goes through the system's HTTP client, without Windows Sockets of ours.
    bool sockets = s->way == kWaySmtp;
    unsigned short granted = 0;
    if (sockets && PlatWsaStartup(kWinsockVersion, &granted) != 0) {
        CopyText(check->text, sizeof check->text, kTextWinsockStart);
        return kCheckFailed;
    }
    OpenMailLog(&check->log);
    HideLoginInLog(&check->log, s);
    MailCheckResult result = kCheckFailed;
    AccessTokenStatus token = TakeMailAccessToken(s, &check->log, false, &check->token);
    if (token != kAccessTokenReady) {
        FormatAccessTokenFailure(token, &check->token, &s->oauth, s->user, check->text,
                                 sizeof check->text);
        result = kCheckNoToken;
    } else {
        PrepareStandIn(check);
        MailLogMessageStarts(&check->log, s, "(settings check)");
        PrepareSendingWindow(&check->window, s, &check->message, &check->log);
        check->window.wayOut = WayOutFor(s);
        check->window.check = true;
        check->window.owner = owner;
        ShowSendingWindow(&check->window);
        MailOutcome *outcome = &check->window.outcome;
        outcome->session.tokenRenewed = check->token.renewed;
        if (outcome->fate == kFateNoWindow)
            MailLogMessageEnds(&check->log, false, "check failed: the window could not be made");
        FormatCheckText(outcome, s, check->text, sizeof check->text);
        if (outcome->fate == kFateChecked)
            result = kCheckPassed;
        else if (outcome->fate == kFateNoWindow)
            result = kCheckFailed;
        else if (OutcomeCancelled(outcome))
            result = kCheckCancelled;
        else
            result = outcome->session.reached ? kCheckFailed : kCheckUnreachable;
    }
    ForgetMailLogSecrets(&check->log);
    if (sockets)
        PlatWsaCleanup();
    return result;
}

// One check a run: the window's buffers make it large, so it is not on the stack.
static MailCheck gCheck;

int RunEmailCheck(void)
{
    MailCheckResult result = CheckMailSetup(&gCheck);
    ForgetMailSettings(&gCheck.settings);
    WipeBytes(&gCheck.token, sizeof gCheck.token);
    PlatMessageBox(0, gCheck.text, kCheckCaption,
                   PLAT_MB_OK | (result == kCheckPassed ? PLAT_MB_ICONINFORMATION
                                                        : PLAT_MB_ICONEXCLAMATION));
    return result == kCheckPassed ? 0 : 1;
}
