// The settings check: the sending window in its checking form, over a stand-in message, and
// the wording of what it found.
#include "mail_check.h"

#include <cstring>

#include "../../base/text.h"
#include "../../platform/plat_net.h"
#include "../../platform/plat_ui.h"
#include "mail_texts.h"
#include "mail_token.h"

static const unsigned short kWinsockVersion = 0x0101;

// What the server takes, as a person reads it: "150 MB", "512 KB".
static void FormatSize(unsigned long long bytes, char *dest, size_t destSize)
{
    if (bytes >= 1024ull * 1024)
        FormatText(dest, destSize, "%llu MB", bytes / (1024ull * 1024));
    else
        FormatText(dest, destSize, "%llu KB", (bytes + 1023) / 1024);
}

// "Connected to smtp.office365.com port 587; TLS 1.2, certificate for smtp.office365.com
// trusted; logged in as accounts@example.com with XOAUTH2; the server takes messages up to
// 150 MB."
static void DescribePassedCheck(MailCheck *check)
{
    const MailSettings *s = &check->settings;
    const SmtpConversation *c = &check->window.conversation;
    char part[600];
    FormatText(check->text, sizeof check->text, kTextCheckConnected, s->server,
               (unsigned)(s->port ? s->port : 25));
    if (c->secure) {
        FormatText(part, sizeof part, kTextCheckTls,
                   check->window.tlsInfo.protocol[0] ? check->window.tlsInfo.protocol : "TLS",
                   s->server);
        AppendText(check->text, sizeof check->text, part);
    } else {
        AppendText(check->text, sizeof check->text, kTextCheckNoTls);
    }
    if (c->loginMethod[0] != '\0') {
        FormatText(part, sizeof part, kTextCheckLogin, s->user, c->loginMethod);
        AppendText(check->text, sizeof check->text, part);
    } else {
        AppendText(check->text, sizeof check->text, kTextCheckNoLogin);
    }
    if (c->sizeLimit > 0) {
        char size[40];
        FormatSize(c->sizeLimit, size, sizeof size);
        FormatText(part, sizeof part, kTextCheckSize, size);
        AppendText(check->text, sizeof check->text, part);
    }
    AppendText(check->text, sizeof check->text, ".");
}

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
    unsigned short granted = 0;
    if (PlatWsaStartup(kWinsockVersion, &granted) != 0) {
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
        check->window.check = true;
        ShowSendingWindow(&check->window);
        const SmtpVerdict *v = &check->window.conversation.verdict;
        if (!check->window.started) {
            MailLogMessageEnds(&check->log, false, "check failed: the window could not be made");
            CopyText(check->text, sizeof check->text, kTextCheckNoWindow);
        } else if (v->kind == kVerdictChecked) {
            DescribePassedCheck(check);
            result = kCheckPassed;
        } else if (v->kind == kVerdictCancelled) {
            CopyText(check->text, sizeof check->text, kTextCheckCancelled);
            result = kCheckCancelled;
        } else {
            // The window's texts speak of a queued message, which a check has not.
            char *queued = strstr(check->window.failureText, "\n\nThe email has been queued in");
            if (queued)
                strcpy(queued, "\n");
            FormatText(check->text, sizeof check->text, kTextCheckFailed,
                       check->window.failureText);
            // Nothing came from the server that spoke for it: it could not be reached.
            bool reached = v->state >= kStateHelo || v->kind == kVerdictRefused ||
                           check->window.conversation.lastStepState >= kStateConnecting;
            result = reached ? kCheckFailed : kCheckUnreachable;
        }
    }
    ForgetMailLogSecrets(&check->log);
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
