// The command-line dispatcher: tells a data-file path from a switch, matches the switch
// against the table in order and runs its job.
#include "dispatcher.h"

#include <cstring>

#include "../base/error_box.h"
#include "../base/host_settings.h"
#include "../base/text.h"
#include "../dialogs/file_dialogs.h"
#include "../launch/aux_launch.h"
#include "../launch/data_file.h"
#include "../launch/font_probe.h"
#include "../launch/open_document.h"
#include "../mail/jobs/mail_check.h"
#include "../mail/jobs/send_queue.h"
#include "../mail/jobs/mail_signin.h"
#include "../oauth/signin.h"
#include "../platform/plat_entry.h"
#include "../platform/plat_ui.h"
#include "../setup/email_setup.h"
#include "../shell/file_types.h"
#include "../shell/shortcuts.h"

char gCommandArgument[kCommandArgumentSize];

static const char kSharedDriveMessage[] =
    "Cannot load a datafile from a shared drive.  Please map this as a network drive and "
    "try again.";

// The switch table, in the order the switch word is compared.
static const char *const kSwitches[] = {
    "/open",        "/checklargefonts", "/register",     "/unregister",
    "/email",       "/opendialog",      "/selectfolderdialog", "/demo",
    "/word",        "/wordpad",         "/copyfile",     "/helpcontents",
    "/helpindex",   "/helpcontext",     "/helpquitanddeleteldbfiles",
    "/emailsignin", "/emailsignout",    "/emailcheck",   "/emailsetup",
};

enum {
    kRowOpen = 1, kRowCheckLargeFonts, kRowRegister, kRowUnregister, kRowEmail,
    kRowOpenDialog, kRowSelectFolderDialog, kRowDemo, kRowWord, kRowWordPad, kRowCopyFile,
    kRowHelpContents, kRowHelpIndex, kRowHelpContext, kRowHelpQuitAndDeleteLdbFiles,
    kRowEmailSignIn, kRowEmailSignOut, kRowEmailCheck, kRowEmailSetup,
};

const char *SkipProgramName(const char *line)
{
    const unsigned char *p = (const unsigned char *)line;
    if (*p == '"') {
        p++;
        while (*p && *p != '"')
            p++;
        if (*p == '"')
            p++;
    } else {
        while (*p > ' ')
            p++;
    }
    while (*p >= 1 && *p <= ' ')
        p++;
    return (const char *)p;
}

int MatchSwitch(const char *word)
{
    for (size_t i = 0; i < sizeof kSwitches / sizeof kSwitches[0]; i++)
        if (strcmp(word, kSwitches[i]) == 0)
            return (int)i + 1;
    return 0;
}

static int RunSwitch(int row)
{
    switch (row) {
    case kRowOpen:
        OpenDocument(gCommandArgument);
        break;
    case kRowCheckLargeFonts:
        RecordScreenDpi();
        break;
    case kRowRegister:
        RegisterFileTypes();
        CreateShortcuts(0);
        break;
    case kRowUnregister:
        UnregisterFileTypes();
        RemoveShortcuts(0);
        break;
    case kRowEmail:
        return SendQueuedEmail(gCommandArgument);
    case kRowOpenDialog:
        ShowOpenFileDialog();
        break;
    case kRowSelectFolderDialog:
        ShowSelectFolderDialog();
        break;
    case kRowDemo:
        StartDemo();
        break;
    case kRowWord:
        OpenInWord(gCommandArgument);
        break;
    case kRowWordPad:
        OpenInWordPad(gCommandArgument);
        break;
    case kRowCopyFile:
        CopyFileFromArgument(gCommandArgument);
        break;
    case kRowHelpContents:
        ShowHelp(kHelpContext, 0);
        break;
    case kRowHelpIndex:
        ShowHelp(kHelpPartialKey, 0);
        break;
    case kRowHelpContext:
        ShowHelp(kHelpContext, ParseDecimal(gCommandArgument));
        break;
    case kRowHelpQuitAndDeleteLdbFiles:
        ShowHelp(kHelpQuit, 0);
        DeleteLockFiles();
        break;
    case kRowEmailSignIn:
        return RunEmailSignIn();
    case kRowEmailSignOut:
        return RunEmailSignOut();
    case kRowEmailCheck:
        return RunEmailCheck();
    case kRowEmailSetup:
        return RunEmailSetup();
    }
    return 0;
}

int RunCommandLine(const char *commandLine)
{
    gCommandArgument[0] = '\0';

    // A line that does not fit is refused whole: a cut line could name another file.
    if (strlen(commandLine) > kCommandLineMax)
        return 0;
    char line[kCommandLineMax + 1];
    CopyText(line, sizeof line, commandLine);

    if (line[0] == '\\' || (line[0] != '\0' && line[1] == '\\')) {
        ShowErrorBox(0, kSharedDriveMessage);
        return 0;
    }

    char word[kCommandLineMax + 1];
    size_t length = strlen(line);
    bool pathForm = (length >= 2 && line[1] == ':') || (length >= 3 && line[2] == '\\');
    if (pathForm) {
        CopyText(word, sizeof word, line);
    } else {
        const char *blank = strchr(line, ' ');
        if (blank) {
            CopyTextN(word, sizeof word, line, (size_t)(blank - line));
            CopyText(gCommandArgument, sizeof gCommandArgument, blank + 1);
        } else {
            CopyText(word, sizeof word, line);
        }
        LowerAscii(word);
    }

    int row = MatchSwitch(word);
    int exitCode = 0;
    if (row != 0)
        exitCode = RunSwitch(row);
    else if (pathForm || word[0] == '\0')
        OpenDataFile(word);

    // An answer for the host application that could not be written is told once, after the
    // job, whichever job wrote it, and the run ends with 1.
    if (ReportFailedHostWrite(0))
        exitCode = 1;
    return exitCode;
}

int RunProgram(void)
{
    return RunCommandLine(SkipProgramName(PlatGetCommandLine()));
}
