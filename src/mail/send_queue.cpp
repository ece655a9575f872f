// The send-queue batch behind "/email": every "*.txt" file of the send queue (or the files
// the argument names), one after the other, each valid one in its own sending window; the
// first one that fails to go out stops the batch and the rest stays queued.
#include "send_queue.h"

#include <cstring>

#include "../app/dispatcher.h"
#include "../base/host_settings.h"
#include "../base/error_box.h"
#include "../base/paths.h"
#include "../base/text.h"
#include "../platform/plat_files.h"
#include "../platform/plat_net.h"
#include "../platform/plat_security.h"
#include "login.h"
#include "mail_texts.h"
#include "message_file.h"
#include "sending_window.h"

static const unsigned short kWinsockVersion = 0x0101;

void MakeBatchMutexName(const char *folder, char *name, size_t nameSize)
{
    // A mutex name holds no backslash and at most MAX_PATH characters: the folder goes in as
    // a 64-bit FNV-1a hash of its folded form.
    unsigned long long hash = 14695981039346656037ull;
    for (const char *p = folder; *p; p++) {
        unsigned char c = (unsigned char)*p;
        if (c == '/')
            c = '\\';
        if (c >= 'A' && c <= 'Z')
            c = (unsigned char)(c - 'A' + 'a');
        hash = (hash ^ c) * 1099511628211ull;
    }
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

// Reports an invalid file and deletes it: it could never be sent as it stands.
static void ReportInvalidFile(int result, const char *path, const char *fileName)
{
    char reason[kCommandArgumentSize + 100];
    FormatText(reason, sizeof reason, ReasonText(result), path);
    char label[kFieldSize];
    MakeDocumentLabel(gMessage.statusText, fileName, label, sizeof label);
    char text[1000];
    FormatText(text, sizeof text, kTextCouldNotSend, label, reason);
    ShowErrorBox(0, text);
    if (!PlatDeleteFile(path)) {
        FormatText(text, sizeof text, kTextCouldNotDelete, path);
        ShowErrorBox(0, text);
    }
}

// One file whose path is in gCommandArgument; fileName is its name without folder.
static void SendOneFile(const char *fileName)
{
    gSelfClose = 0;
    int result = ParseMessageFile(gCommandArgument);
    if (result == kParseReady)
        ShowSendingWindow();
    else
        ReportInvalidFile(result, gCommandArgument, fileName);
    ReleaseMessageText();
}

int SendQueuedEmail(const char *argument)
{
    if (!ReadSmtpSettings())
        return 1;
    unsigned short granted = 0;
    if (PlatWsaStartup(kWinsockVersion, &granted) != 0) {
        ShowErrorBox(0, kTextWinsockStart);
        ForgetLogin();
        return 1;
    }
    if (granted != kWinsockVersion) {
        ShowErrorBox(0, kTextWinsockVersion);
        PlatWsaCleanup();
        ForgetLogin();
        return 1;
    }

    // The pattern to search and, where each match needs one, the folder to put before it.
    char pattern[kCommandArgumentSize];
    char folder[kCommandArgumentSize] = "";
    bool joinFolder = true;
    bool usable = true;
    if (argument[0] == '\0') {
        char directory[kCommandArgumentSize];
        GetProgramDirectory(directory, sizeof directory);
        usable = FormatText(folder, sizeof folder, "%s\\Email\\", directory) &&
                 FormatText(pattern, sizeof pattern, "%s*.txt", folder);
    } else {
        usable = CopyText(pattern, sizeof pattern, argument);
        // The argument's folder. With wildcards each match goes by its own full path, that
        // folder and its name; a single file goes by the argument as it stands.
        const char *cut = nullptr;
        for (const char *p = pattern; *p; p++)
            if (*p == '\\' || *p == '/' || *p == ':')
                cut = p + 1;
        CopyTextN(folder, sizeof folder, pattern, cut ? (size_t)(cut - pattern) : 0);
        joinFolder = strpbrk(pattern, "*?") != nullptr;
    }

    // Held around the batch: a second "/email" on the same folder started while one runs
    // waits for it, then searches and sends what is left, so that no file goes out twice.
    char mutexName[100];
    MakeBatchMutexName(folder, mutexName, sizeof mutexName);

    PlatMutex mutex = PlatCreateMutex(mutexName);
    bool owned = mutex != 0 && PlatWaitMutex(mutex);

    gBatchContinue = 1;
    char name[kCommandArgumentSize];
    PlatFind find = usable ? PlatFindFirst(pattern, name, (int)sizeof name) : 0;
    if (find) {
        do {
            if (joinFolder) {
                // A path that would not fit is skipped and stays where it is.
                if (name[0] == '\0' ||
                    !FormatText(gCommandArgument, kCommandArgumentSize, "%s%s", folder, name))
                    continue;
            } else if (!CopyText(gCommandArgument, kCommandArgumentSize, pattern)) {
                continue;
            }
            SendOneFile(name);
        } while (gBatchContinue == 1 && PlatFindNext(find, name, (int)sizeof name));
        PlatFindClose(find);
    }
    if (owned)
        PlatReleaseMutex(mutex);
    PlatCloseMutex(mutex);
    PlatWsaCleanup();
    ForgetLogin();
    return 0;
}
