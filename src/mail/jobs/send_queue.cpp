// The send-queue batch behind "/email": every "*.txt" file of the send queue (or the files
// the argument names), one after the other, each valid one in its own sending window; the
// first one that fails to go out stops the batch and the rest stays queued.
#include "send_queue.h"

#include <cstring>

#include "../../base/error_box.h"
#include "../../base/paths.h"
#include "../../base/text.h"
#include "../../platform/plat_files.h"
#include "../../platform/plat_net.h"
#include "../../platform/plat_security.h"
#include "../../platform/plat_tls.h"
#include "../../oauth/access_token.h"
#include "../../oauth/oauth_encoding.h"
#include "api_sending.h"
#include "mail_log.h"
#include "../settings/mail_settings.h"
#include "mail_texts.h"
#include "../message/message_file.h"
#include "mail_token.h"
#include "sending_window.h"
#include "outcome_text.h"

static const unsigned short kWinsockVersion = 0x0101;

void MakeBatchMutexName(const char *folder, char *name, size_t nameSize)
{
    // Every way of naming the folder comes to one canonical text, so every run on it meets
    // the same mutex. A mutex name holds no backslash and at most MAX_PATH characters: the
    // folder goes in as a 64-bit FNV-1a hash of that text.
    char canonical[kPathSize * 2];
    PlatCanonicalFolderPath(folder[0] ? folder : ".", canonical, sizeof canonical);
    unsigned long long hash = 14695981039346656037ull;
    for (const char *p = canonical; *p; p++)
        hash = (hash ^ (unsigned char)*p) * 1099511628211ull;
    FormatText(name, nameSize, "Tillwick Orvenda e-mail batch %016llx", hash);
}

static const char *ReasonText(int result)
{
    switch (result) {
    case kParseCannotOpen:
        return kReasonCannotOpen;
    case kParseEmpty:
        return kReasonEmpty;
    case kParseNoRecipient:
        return kReasonNoRecipient;
    default:
        return kReasonNoSender;
    }
}

// One batch: its settings, its log, the message being worked on and its window, owned here
// and handed down explicitly.
struct SendBatch {
    MailSettings settings;
    MailLog log;
    QueuedMessage message;
    SendingWindow window;
    AccessToken token;  // xoauth2: fetched once, before the first message
    bool tokenReady;
    bool tokenRetried;  // a refused token has been renewed once this batch
    int exitCode;       // 1 when the batch could not send at all
};

// The access token of the sign-in, renewed first when it is about to end (or, with force,
// because the server refused it); once per batch otherwise. False after the box that says
// why there is none (nothing has been connected for it).
static bool ObtainAccessToken(SendBatch *batch, bool force)
{
    MailSettings *s = &batch->settings;
    if (s->auth != kAuthXoauth2 || (batch->tokenReady && !force))
        return true;
    AccessTokenStatus status = TakeMailAccessToken(s, &batch->log, force, &batch->token);
    if (status != kAccessTokenReady) {
        char text[2048];
        FormatAccessTokenFailure(status, &batch->token, &s->oauth, s->user, text, sizeof text);
        ShowErrorBox(0, text);
        return false;
    }
    batch->tokenReady = true;
    return true;
}

// One window for the message; its outcome is the window's. A token the server (or the mail
// API) refuses is renewed once a batch and the message tried again; when the renewal fails,
// the refusal is shown as it came and the message is kept. After that renewal, a mail API's
// refusal of the token is final.
static void SendInWindow(SendBatch *batch)
{
    SendingWindow *w = &batch->window;
    PrepareSendingWindow(w, &batch->settings, &batch->message, &batch->log);
    w->wayOut = WayOutFor(&batch->settings);
    w->renewOnRefusedToken = batch->settings.auth == kAuthXoauth2 && !batch->tokenRetried;
    w->api.tokenRenewed = batch->tokenRetried;
    ShowSendingWindow(w);
    if (w->outcome.fate != kFateRenewToken)
        return;
    batch->tokenRetried = true;
    MailSettings *s = &batch->settings;
    AccessTokenStatus status = TakeMailAccessToken(s, &batch->log, true, &batch->token);
    if (status != kAccessTokenReady) {
        char why[2048];
        FormatAccessTokenFailure(status, &batch->token, &s->oauth, s->user, why, sizeof why);
        MailLogText(&batch->log, '*', why);
        char text[kBoxTextSize + kFieldSize];
        FormatOutcomeText(&w->outcome, &batch->message, s, kWithQueueSentence, text,
                          sizeof text);
        MailLogText(&batch->log, '*', text);
        ShowErrorBox(0, text);
        w->outcome.fate = kFateKept;
        return;
    }
    MailLogText(&batch->log, '*', "the token was renewed: the message is sent again");
    PrepareSendingWindow(w, s, &batch->message, &batch->log);
    w->wayOut = WayOutFor(s);
    w->api.tokenRenewed = true;
    ShowSendingWindow(w);
}

// A valid file that could not be composed now: it stays queued, the box says so.
static void ReportNotNow(SendBatch *batch)
{
    char text[kBoxTextSize + kPathSize];
    FormatOutcomeText(&batch->window.outcome, &batch->message, &batch->settings,
                      kWithQueueSentence, text, sizeof text);
    ShowErrorBox(0, text);
    MailLogMessageEnds(&batch->log, false, "kept: the message could not be prepared now");
}

// Reports an invalid file and deletes it: it could never be sent as it stands.
static void ReportInvalidFile(SendBatch *batch, int result, const char *fileName)
{
    const QueuedMessage *message = &batch->message;
    char reason[kPathSize + 100];
    FormatText(reason, sizeof reason, ReasonText(result), message->path);
    char label[kFieldSize];
    MakeDocumentLabel(message->statusText, fileName, label, sizeof label);
    char text[kBoxTextSize];
    FormatText(text, sizeof text, kTextCouldNotSend, label, reason);
    ShowErrorBox(0, text);
    bool deleted = DeleteMessageFile(&batch->message) != 0;
    MailLogInvalidFile(&batch->log, fileName, reason, deleted);
    if (!deleted) {
        FormatText(text, sizeof text, kTextCouldNotDelete, message->path);
        ShowErrorBox(0, text);
    }
}

// One file at path; fileName is its name without folder. False when the batch must stop.
static bool SendOneFile(SendBatch *batch, const char *path, const char *fileName)
{
    QueuedMessage *message = &batch->message;
    // The body's scan goes on beside the window's making; the window finishes the parse.
    int result = BeginMessageFile(message, path);
    bool goOn = true;
    // Another run is sending it (named some other way): it is that run's to finish.
    if (result == kParseInUse) {
        MailLogText(&batch->log, '*', "a message file another run is sending was left to it");
        ReleaseMessageText(message);
        return true;
    }
    if (result == kParseReady && !ObtainAccessToken(batch, false)) {
        batch->exitCode = 1;  // every file stays queued
        ReleaseMessageText(message);
        return false;
    }
    if (result == kParseReady) {
        MailLogMessageStarts(&batch->log, &batch->settings, fileName);
        SendInWindow(batch);
        const MailOutcome *outcome = &batch->window.outcome;
        if (outcome->fate == kFateInvalidFile)
            ReportInvalidFile(batch, outcome->fileResult, fileName);
        else if (outcome->fate == kFateNoWindow)
            MailLogMessageEnds(&batch->log, false, "kept: the sending window could not be made");
        else if (outcome->failure == kFailureNotNow)
            ReportNotNow(batch);
        goOn = !OutcomeStopsBatch(outcome);
    } else if (result >= kParseCannotOpen && result <= kParseNoSender) {
        ReportInvalidFile(batch, result, fileName);
    } else {
        goOn = false;  // no result of an invalid file: it stays, and so does the rest
    }
    ReleaseMessageText(message);
    return goOn;
}

// The pattern a batch searches and, where each match needs one, the folder put before its
// name.
struct QueuePattern {
    char pattern[kPathSize];
    char folder[kPathSize];
    bool joinFolder;  // each match goes by folder and name; else by the argument itself
};

// False when the argument or the program directory makes a path that does not fit.
static bool MakeQueuePattern(const char *argument, QueuePattern *q)
{
    q->pattern[0] = q->folder[0] = '\0';
    q->joinFolder = true;
    if (argument[0] == '\0')
        return MakeQueueFolderText(q->folder, sizeof q->folder) &&
               FormatText(q->pattern, sizeof q->pattern, "%s*.txt", q->folder);
    bool usable = CopyText(q->pattern, sizeof q->pattern, argument);
    // The argument's folder. With wildcards each match goes by its own full path, that
    // folder and its name; a single file goes by the argument as it stands.
    const char *cut = nullptr;
    for (const char *p = q->pattern; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':')
            cut = p + 1;
    CopyTextN(q->folder, sizeof q->folder, q->pattern, cut ? (size_t)(cut - q->pattern) : 0);
    q->joinFolder = strpbrk(q->pattern, "*?") != nullptr;
    return usable;
}

// Every match of the pattern, one after the other, while the batch may go on.
static void SendMatches(SendBatch *batch, const QueuePattern *q)
{
    char name[kPathSize];
    PlatFind find = PlatFindFirst(q->pattern, name, (int)sizeof name);
    if (!find)
        return;
    bool goOn = true;
    do {
        char path[kPathSize];
        if (q->joinFolder) {
            // A path that would not fit is skipped and stays where it is.
            if (name[0] == '\0' || !FormatText(path, sizeof path, "%s%s", q->folder, name))
                continue;
        } else if (!CopyText(path, sizeof path, q->pattern)) {
            continue;
        }
        goOn = SendOneFile(batch, path, name);
    } while (goOn && PlatFindNext(find, name, (int)sizeof name));
    PlatFindClose(find);
}

// The batch proper: the settings, Windows Sockets (over SMTP: a mail API goes through the
// system's HTTP client), the batch mutex, the files. Returns the exit code.
static int RunBatch(SendBatch *batch, const char *argument)
{
    SettingsResult settings = ReadSmtpSettings(&batch->settings);
    if (settings != kSettingsReady) {
        char text[kBoxTextSize];
        MakeSettingsFailureText(settings, &batch->settings, text, sizeof text);
        ShowErrorBox(0, text);
        return 1;
    }
    if (SettingsUseTls(&batch->settings))
        PlatTlsWarmUp();
    bool sockets = batch->settings.way == kWaySmtp;
    unsigned short granted = 0;
    if (sockets && PlatWsaStartup(kWinsockVersion, &granted) != 0) {
        ShowErrorBox(0, kTextWinsockStart);
        return 1;
    }
    if (sockets && granted != kWinsockVersion) {
        ShowErrorBox(0, kTextWinsockVersion);
        PlatWsaCleanup();
        return 1;
    }

    batch->tokenReady = batch->tokenRetried = false;
    batch->exitCode = 0;
    QueuePattern q;
    bool usable = MakeQueuePattern(argument, &q);
    // Held around the batch: a second "/email" on the same folder started while one runs
    // waits for it, then searches and sends what is left, so that no file goes out twice.
    char mutexName[100];
    MakeBatchMutexName(q.folder, mutexName, sizeof mutexName);
    PlatMutex mutex = PlatCreateGlobalMutex(mutexName);
    bool owned = mutex != 0 && PlatWaitMutex(mutex);
    OpenMailLog(&batch->log);
    HideLoginInLog(&batch->log, &batch->settings);
    MailLogBatchStarts(&batch->log);
    if (usable)
        SendMatches(batch, &q);
    MailLogBatchEnds(&batch->log);
    if (owned)
        PlatReleaseMutex(mutex);
    PlatCloseMutex(mutex);
    if (sockets)
        PlatWsaCleanup();
    return batch->exitCode;
}

// The one batch of a run. The window's buffers make it large, so it is not on the stack; the
// functions above are handed it.
static SendBatch gBatch;

int SendQueuedEmail(const char *argument)
{
    int exitCode = RunBatch(&gBatch, argument);
    ForgetMailSettings(&gBatch.settings);
    WipeBytes(&gBatch.token, sizeof gBatch.token);
    ReleaseMessageText(&gBatch.message);
    return exitCode;
}
