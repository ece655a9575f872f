// The Email Setup window. The DNS lookups of "Find settings" run on a thread of their own,
// which shares one block with the window; the window looks at it on a timer, and gives up on
// it after kFindTimeoutMilliseconds, so that a resolver that does not answer never holds the
// window. "Sign in" and "Test" run the sign-in and the settings check on the window's values,
// in windows of their own that this one owns (it is disabled until they end).
#include "email_setup.h"

#include <atomic>
#include <cstring>
#include <new>

#include "../base/text.h"
#include "../mail/jobs/mail_check.h"
#include "../mail/jobs/mail_texts.h"
#include "../mail/jobs/mail_token.h"
#include "../oauth/oauth_texts.h"
#include "../oauth/signin.h"
#include "../platform/plat_dns.h"
#include "../platform/plat_ui.h"
#include "../platform/plat_tls.h"
#include "../platform/plat_window.h"
#include "../platform/plat_work.h"
#include "../res/resource.h"
#include "setup_settings.h"
#include "setup_texts.h"

namespace {

const int kMaxDnsRecords = 32;
const uintptr_t kFindPollTimer = 1;
const uintptr_t kFindTimeoutTimer = 2;
const unsigned kFindPollMilliseconds = 20;
// The buttons the dialog manager sends for Enter (Save, the default button) and for Esc and
// the close box (Cancel).
const int kSetupSave = 1;
const int kSetupCancel = 2;

// The lookups of one "Find settings", shared by the window and the thread that makes them;
// whichever lets go last frees it, so a late answer lands in memory nobody else reads.
struct FindJob {
    std::atomic<int> holders;
    std::atomic<bool> done;
    FindProgress progress;  // the thread's alone until done
    PlatDnsRecord records[kMaxDnsRecords];
};

struct SetupWindow {
    PlatWindow handle;
    FindJob *find;  // the lookups under way, or null
    PlatWork findWork;
    FindProgress findStart;  // where they started: the answer when they are given up
    bool passwordStored;
};

// The security drop-down's items, in their order.
const char *const kSecurityItems[] = {"STARTTLS", "SSL/TLS", "None"};
const MailSecurity kSecurityByItem[] = {kSecurityStartTls, kSecurityTls, kSecurityNone};

const int kWayButtons[] = {IDC_SETUP_MICROSOFT, IDC_SETUP_GOOGLE, IDC_SETUP_OTHER};

// Another mail server's fields, their labels and the note: greyed out for the two providers.
const int kServerControls[] = {
    IDC_SETUP_SERVER_LABEL,   IDC_SETUP_SERVER,   IDC_SETUP_PORT_LABEL, IDC_SETUP_PORT,
    IDC_SETUP_SECURITY_LABEL, IDC_SETUP_SECURITY, IDC_SETUP_USER_LABEL, IDC_SETUP_USER,
    IDC_SETUP_PASSWORD_LABEL, IDC_SETUP_PASSWORD, IDC_SETUP_PASSWORD_NOTE,
};

}  // namespace

static void ReleaseFindJob(FindJob *job)
{
    if (job->holders.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete job;
}

static void RunFindLookups(void *context)
{
    FindJob *job = (FindJob *)context;
    FindProgress *p = &job->progress;
    PlatDnsRecord *records = job->records;
    char name[300];
    unsigned short type = 0;
    while (NextFindQuestion(p, name, sizeof name, &type)) {
        int count = 0, total = 0;
        long error = 0;
        int result = PlatDnsQuery(name, type, records, kMaxDnsRecords, &count, &total, &error);
        TakeFindAnswer(p, result, records, count);
    }
    job->done.store(true, std::memory_order_release);
    ReleaseFindJob(job);
}

static SetupWay CheckedWay(PlatWindow window)
{
    for (int i = 0; i < 3; i++)
        if (PlatIsDlgButtonChecked(window, kWayButtons[i]))
            return (SetupWay)i;
    return kWayServer;
}

static void ShowWay(PlatWindow window, SetupWay way)
{
    for (int i = 0; i < 3; i++)
        PlatCheckDlgButton(window, kWayButtons[i], i == (int)way);
    bool server = way == kWayServer;
    for (int id : kServerControls)
        PlatEnableDlgItem(window, id, server);
    PlatEnableDlgItem(window, IDC_SETUP_SIGN_IN, !server);
}

static void ShowSecurity(PlatWindow window, MailSecurity security)
{
    for (int i = 0; i < 3; i++)
        if (kSecurityByItem[i] == security)
            PlatSelectComboItem(window, IDC_SETUP_SECURITY, i);
}

// The text of a field, blanks trimmed at both ends.
static void ReadField(PlatWindow window, int id, char *dest, size_t destSize)
{
    char raw[kSetupFieldSize];
    PlatGetDlgItemText(window, id, raw, (int)sizeof raw);
    const char *start = raw;
    while (*start == ' ' || *start == '\t')
        start++;
    size_t n = strlen(start);
    while (n > 0 && (start[n - 1] == ' ' || start[n - 1] == '\t'))
        n--;
    CopyTextN(dest, destSize, start, n);
}

static void ReadWindowValues(PlatWindow window, SetupValues *values)
{
    memset(values, 0, sizeof *values);
    values->way = CheckedWay(window);
    ReadField(window, IDC_SETUP_ADDRESS, values->address, sizeof values->address);
    ReadField(window, IDC_SETUP_SERVER, values->server, sizeof values->server);
    ReadField(window, IDC_SETUP_PORT, values->port, sizeof values->port);
    ReadField(window, IDC_SETUP_USER, values->user, sizeof values->user);
    int item = PlatGetComboSelection(window, IDC_SETUP_SECURITY);
    values->security = item >= 0 && item < 3 ? kSecurityByItem[item] : kSecurityNone;
}

static void StopFind(SetupWindow *w)
{
    if (!w->find)
        return;
    PlatKillTimer(w->handle, kFindPollTimer);
    PlatKillTimer(w->handle, kFindTimeoutTimer);
    ReleaseFindJob(w->find);
    w->find = nullptr;
}

// Lets go of lookups still under way: their answer will find nobody.
static void AbandonFind(SetupWindow *w)
{
    if (w->find && w->findWork) {
        PlatDetachWork(w->findWork);
        w->findWork = 0;
    }
    StopFind(w);
}

// The window filled in from what the lookups found (or the server left empty when nothing
// was found); the user name is the address.
static void ShowFound(SetupWindow *w, const FindProgress *p, bool timedOut)
{
    PlatWindow window = w->handle;
    ShowWay(window, p->way);
    if (p->way == kWayServer) {
        PlatSetDlgItemText(window, IDC_SETUP_SERVER, p->server);
        if (p->source != kFoundNothing) {
            char port[8];
            FormatText(port, sizeof port, "%u", (unsigned)p->port);
            PlatSetDlgItemText(window, IDC_SETUP_PORT, port);
            ShowSecurity(window, p->security);
        }
    }
    char address[kSetupFieldSize];
    ReadField(window, IDC_SETUP_ADDRESS, address, sizeof address);
    PlatSetDlgItemText(window, IDC_SETUP_USER, address);
    char line[600];
    FormatFindLine(p, timedOut, kFindTimeoutMilliseconds / 1000, line, sizeof line);
    PlatSetDlgItemText(window, IDC_SETUP_STATUS, line);
}

static void RefuseField(SetupWindow *w, SetupField field, const SetupValues *values)
{
    static const int kFieldControls[] = {0,              IDC_SETUP_ADDRESS,  IDC_SETUP_SERVER,
                                         IDC_SETUP_PORT, IDC_SETUP_USER,     IDC_SETUP_SECURITY,
                                         IDC_SETUP_PASSWORD};
    char text[600];
    MakeFieldCheckText(field, values, text, sizeof text);
    PlatMessageBox(w->handle, text, kTextSetupCaption, PLAT_MB_OK | PLAT_MB_ICONEXCLAMATION);
    PlatFocusDlgItem(w->handle, kFieldControls[field]);
}

// The window's values, and for a login to another mail server the password typed, read as
// UTF-16 so that no character is lost to the ANSI code page (*units of it). False, with the
// password wiped, when a field check stops them: its box has said why.
static bool ReadCheckedForm(SetupWindow *w, SetupValues *values, unsigned short *password,
                            size_t passwordUnits, size_t *units)
{
    ReadWindowValues(w->handle, values);
    int read = 0;
    if (values->way == kWayServer && values->user[0] != '\0')
        read = PlatGetDlgItemTextUtf16(w->handle, IDC_SETUP_PASSWORD, password,
                                       (int)passwordUnits);
    *units = read > 0 ? (size_t)read : 0;
    values->passwordGiven = *units > 0 || w->passwordStored;
    SetupField field = CheckSetupValues(values);
    if (field == kFieldNone)
        return true;
    WipeBytes(password, passwordUnits * sizeof *password);
    RefuseField(w, field, values);
    return false;
}

// Pressed again while it looks, it starts over for the address in the window.
static void HandleFind(SetupWindow *w)
{
    SetupValues values;
    ReadWindowValues(w->handle, &values);
    values.way = kWayMicrosoft;  // the address alone is checked
    SetupField field = CheckSetupValues(&values);
    if (field != kFieldNone) {
        RefuseField(w, field, &values);
        return;
    }
    AbandonFind(w);
    FindJob *job = new (std::nothrow) FindJob();
    if (!job)
        return;
    job->holders.store(1);
    job->done.store(false);
    StartFindSettings(&job->progress, values.address);
    w->findStart = job->progress;
    char name[300];
    unsigned short type;
    if (!NextFindQuestion(&w->findStart, name, sizeof name, &type)) {
        delete job;
        ShowFound(w, &w->findStart, false);  // the table's answer, or nothing to look up
        return;
    }
    job->holders.store(2);
    PlatWork work = PlatStartWork(RunFindLookups, job);
    if (!work) {
        delete job;  // no thread ran: no lookup was made
        FindProgress none = w->findStart;
        while (NextFindQuestion(&none, name, sizeof name, &type))
            TakeFindAnswer(&none, PLAT_DNS_FAILED, nullptr, 0);
        ShowFound(w, &none, false);
        return;
    }
    w->find = job;
    w->findWork = work;
    char line[400];
    FormatText(line, sizeof line, kTextLooking, w->findStart.domain);
    PlatSetDlgItemText(w->handle, IDC_SETUP_STATUS, line);
    PlatSetTimer(w->handle, kFindPollTimer, kFindPollMilliseconds);
    PlatSetTimer(w->handle, kFindTimeoutTimer, kFindTimeoutMilliseconds);
}

static void HandleTimer(SetupWindow *w, uintptr_t timer)
{
    if (!w->find)
        return;
    if (timer == kFindPollTimer) {
        if (!w->find->done.load(std::memory_order_acquire))
            return;
        FindProgress found = w->find->progress;
        PlatFinishWork(w->findWork);  // it has ended, or is about to
        w->findWork = 0;
        StopFind(w);
        ShowFound(w, &found, false);
    } else if (timer == kFindTimeoutTimer) {
        PlatDetachWork(w->findWork);
        w->findWork = 0;
        StopFind(w);
        ShowFound(w, &w->findStart, true);
    }
}

static void HandleSave(SetupWindow *w)
{
    SetupValues values;
    unsigned short password[kSetupPasswordUnits + 1];
    size_t units = 0;
    if (!ReadCheckedForm(w, &values, password, sizeof password / sizeof password[0], &units))
        return;
    SaveResult result = SaveSetupValues(&values, password, units);
    WipeBytes(password, sizeof password);
    if (result != kSaveDone) {
        PlatMessageBox(w->handle,
                       result == kSaveCredentialRefused ? kTextSaveCredential : kTextSaveSettings,
                       kTextSetupCaption, PLAT_MB_OK | PLAT_MB_ICONEXCLAMATION);
        return;
    }
    AbandonFind(w);
    PlatEndDialog(w->handle, 0);
}

// ---- Sign in and Test ------------------------------------------------------------------------

// One at a time (the window is disabled while either runs); the check's state is large.
static MailCheck gSetupCheck;
static OAuthSettings gSignInSettings;

static void ShowBox(SetupWindow *w, const char *text, const char *caption, bool passed)
{
    PlatMessageBox(w->handle, text, caption,
                   PLAT_MB_OK | (passed ? PLAT_MB_ICONINFORMATION : PLAT_MB_ICONEXCLAMATION));
}

// Lookups still under way would change the values being used: they are given up.
static void StopFindForAction(SetupWindow *w)
{
    if (!w->find)
        return;
    AbandonFind(w);
    PlatSetDlgItemText(w->handle, IDC_SETUP_STATUS, kTextSetupHint);
}

// Microsoft or Google: the sign-in of the address for the provider's API, with the
// registration the settings file holds. Nothing is saved but the tokens.
static void HandleSignIn(SetupWindow *w)
{
    SetupValues values;
    ReadWindowValues(w->handle, &values);
    if (values.way == kWayServer)
        return;  // the button is disabled then
    SetupField field = CheckSetupValues(&values);
    if (field != kFieldNone) {
        RefuseField(w, field, &values);
        return;
    }
    StopFindForAction(w);
    bool microsoft = values.way == kWayMicrosoft;
    OAuthSettings *settings = &gSignInSettings;
    OAuthSettingsResult read =
        ReadOAuthSettingsFor(microsoft ? kWayGraph : kWayGmail,
                             microsoft ? kProviderMicrosoft : kProviderGoogle, settings);
    char text[2000];
    if (read != kOAuthSettingsOk) {
        if (read == kOAuthSettingsNoClientId)
            CopyText(text, sizeof text, kTextNoRegistration);
        else
            FormatOAuthSettingsFailure(read, settings, text, sizeof text);
        ShowBox(w, text, kTextSetupCaption, false);
        return;
    }
    SignInResult outcome;
    SignInMailAccountAs(settings, values.address, w->handle, &outcome);
    WipeBytes(settings, sizeof *settings);
    if (!outcome.signedIn)
        return;  // its box has said why
    FormatText(text, sizeof text, kTextSignedIn,
               outcome.signedInAs[0] ? outcome.signedInAs : outcome.user);
    ShowBox(w, text, kSignInCaption, true);
}

// Microsoft or Google: the stored sign-in for the way out in the window (renewed when it is
// about to end). False with the box's text in check->text when there is none to use; a
// missing one says to press Sign in.
static bool HasUsableSignIn(MailCheck *check)
{
    MailSettings *s = &check->settings;
    const char *api = s->way == kWayGraph ? kTextApiGraph : kTextApiGmail;
    OpenMailLog(&check->log);
    AccessTokenStatus status = TakeMailAccessToken(s, &check->log, false, &check->token);
    ForgetMailLogSecrets(&check->log);
    if (status == kAccessTokenNotSignedIn || status == kAccessTokenOtherWay)
        FormatText(check->text, sizeof check->text, kTextTestNotSignedIn, s->user, api);
    else if (status != kAccessTokenReady)
        FormatAccessTokenFailure(status, &check->token, &s->oauth, s->user, check->text,
                                 sizeof check->text);
    return status == kAccessTokenReady;
}

// The settings check on the window's values, before anything is saved; its box.
static void HandleTest(SetupWindow *w)
{
    SetupValues values;
    unsigned short password[kSetupPasswordUnits + 1];
    size_t units = 0;
    if (!ReadCheckedForm(w, &values, password, sizeof password / sizeof password[0], &units))
        return;
    StopFindForAction(w);
    MailCheck *check = &gSetupCheck;
    SettingsResult made = MakeTestSettings(&values, password, units, &check->settings);
    WipeBytes(password, sizeof password);
    bool passed = false;
    if (made != kSettingsReady) {
        if (made == kSettingsSignInProvider &&
            check->settings.oauthResult == kOAuthSettingsNoClientId)
            CopyText(check->text, sizeof check->text, kTextNoRegistration);
        else
            MakeSettingsFailureText(made, &check->settings, check->text, sizeof check->text);
    } else if (values.way == kWayServer || HasUsableSignIn(check)) {
        // The check of "/emailcheck" on these values: the server up to the login, or the
        // sign-in proven and the API's host reached; nothing is sent.
        passed = CheckMailSettings(check, w->handle) == kCheckPassed;
    }
    ForgetMailSettings(&check->settings);
    WipeBytes(&check->token, sizeof check->token);
    ShowBox(w, check->text, kCheckCaption, passed);
}

static void HandleInitDialog(SetupWindow *w, PlatWindow window)
{
    w->handle = window;
    // Test and Sign in check certificates: the check is readied while the window is filled in.
    PlatTlsWarmUp();
    for (const char *item : kSecurityItems)
        PlatAddComboItem(window, IDC_SETUP_SECURITY, item);
    static const int kTextFields[] = {IDC_SETUP_ADDRESS, IDC_SETUP_SERVER, IDC_SETUP_PORT,
                                      IDC_SETUP_USER};
    for (int id : kTextFields)
        PlatLimitDlgItemText(window, id, (int)kSettingMax);
    PlatLimitDlgItemText(window, IDC_SETUP_PASSWORD, (int)kSetupPasswordUnits);

    SetupValues values;
    ReadSetupValues(&values);
    PlatSetDlgItemText(window, IDC_SETUP_ADDRESS, values.address);
    PlatSetDlgItemText(window, IDC_SETUP_SERVER, values.server);
    PlatSetDlgItemText(window, IDC_SETUP_PORT, values.port);
    PlatSetDlgItemText(window, IDC_SETUP_USER, values.user);
    ShowSecurity(window, values.security);
    ShowWay(window, values.way);
    PlatSetDlgItemText(window, IDC_SETUP_STATUS, kTextSetupHint);
    w->passwordStored = IsPasswordStored();
    PlatSetDlgItemText(window, IDC_SETUP_PASSWORD_NOTE, w->passwordStored ? kTextPasswordStored : "");
}

static intptr_t EmailSetupDlgProc(void *context, PlatWindow window, unsigned message,
                                  uintptr_t first, intptr_t)
{
    SetupWindow *w = (SetupWindow *)context;
    switch (message) {
    case PLAT_WM_INITDIALOG:
        HandleInitDialog(w, window);
        return 1;
    case PLAT_WM_TIMER:
        HandleTimer(w, first);
        return 1;
    case PLAT_WM_COMMAND:
        if (((first >> 16) & 0xFFFF) != 0)
            return 0;  // notifications other than a click
        switch ((int)(first & 0xFFFF)) {
        case IDC_SETUP_MICROSOFT:
        case IDC_SETUP_GOOGLE:
        case IDC_SETUP_OTHER:
            ShowWay(window, CheckedWay(window));
            return 1;
        case IDC_SETUP_FIND:
            HandleFind(w);
            return 1;
        case IDC_SETUP_SIGN_IN:
            HandleSignIn(w);
            return 1;
        case IDC_SETUP_TEST:
            HandleTest(w);
            return 1;
        case kSetupSave:
            HandleSave(w);
            return 1;
        case kSetupCancel:
            AbandonFind(w);
            PlatEndDialog(window, 1);
            return 1;
        default:
            return 0;
        }
    default:
        return 0;
    }
}

int RunEmailSetup(void)
{
    SetupWindow w = {};
    intptr_t result = PlatDialogBoxUnicode(IDD_EMAIL_SETUP, 0, EmailSetupDlgProc, &w);
    AbandonFind(&w);
    return result == 0 ? 0 : 1;
}
