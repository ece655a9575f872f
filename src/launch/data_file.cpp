// Data-file open and host launch: refuses backups, hands QIF files to the host application,
// brings a running host to the front or starts it through the Access runtime launcher, and
// cleans up the lock files the last session may have left behind.
#include "data_file.h"

#include <cstring>

#include "../base/error_box.h"
#include "../base/host_settings.h"
#include "../base/text.h"
#include "../launch/font_probe.h"
#include "../platform/plat_files.h"
#include "../platform/plat_shell.h"
#include "../platform/plat_ui.h"

// The texts a user sees, side by side.
static const char kBackupMessage[] =
    "You have tried to load a Tillwick Orvenda backup file.\n\nPlease read help in Tillwick "
    "Orvenda for more details on how to restore this file (Search for Restore).";
static const char kNumberedBackupMessage[] =
    "You have tried to load a Tillwick Orvenda backup file.\n\nTo restore this file, please use "
    "the Restore from Backup feature in Tillwick Orvenda.";
static const char kDemoOpenMessage[] =
    "The demo is currently open, please close the demo and then open Tillwick Orvenda.";
static const char kDemoOpenCaption[] = "Demo is Open";
static const char kHostOpenMessage[] =
    "Tillwick Orvenda is currently open, please close Tillwick Orvenda and then open the Demo.";
static const char kHostOpenCaption[] = "Tillwick Orvenda is Open";

static const char kProductName[] = "Tillwick Orvenda";
static const char kHostParameters[] = "tillwick.mdb /ini tillwick.ini";
static const char kOpenCommand[] = " /cmd ";
static const char kDemoCommand[] = " /cmd Demo";

static const unsigned kBoxStyle = PLAT_MB_OK | PLAT_MB_ICONINFORMATION;
static const unsigned kKeyUp = 2;          // KEYEVENTF_KEYUP
static const unsigned char kVkControl = 0x11;
static const unsigned kImportDelayMs = 250;

// Directory and program of the host launch: the program directory (at most 254 characters
// as read), the launcher's name and a pair of quotes all fit.
static const size_t kLaunchPathSize = kSettingSize + 32;
// Parameters: the fixed text, " /cmd " and a path of up to kDataPathMax characters.
static const size_t kParametersSize = sizeof kHostParameters + sizeof kOpenCommand + kDataPathMax;

size_t LockFolderLength(const char *lastDataFile)
{
    size_t length = strlen(lastDataFile);
    if (length < 3)
        return 0;
    const char *last = strrchr(lastDataFile, '\\');
    // A file in a drive's root (C:\Shop.tw) or without a folder leaves nothing to clean.
    if (!last || last - lastDataFile <= 2)
        return 0;
    return (size_t)(last - lastDataFile) + 1;
}

// The directory search matches 8.3 names as well, so "*.ldb" also finds Shop.ldbak (short
// name SHOP~1.LDB). Only a name that itself has the lock-file form may be deleted.
bool IsLockFileName(const char *name)
{
    size_t n = strlen(name);
    char lower[kPathSize];
    if (!CopyText(lower, sizeof lower, name))
        return false;
    LowerAscii(lower);
    if (n >= 4 && strcmp(lower + n - 4, ".ldb") == 0)
        return true;
    return n >= 7 && strncmp(lower, "vdm", 3) == 0 && strcmp(lower + n - 4, ".tmp") == 0;
}

// Deletes every lock file of folder (ending in a backslash) that pattern finds.
static void DeleteMatching(const char *folder, const char *mask)
{
    char pattern[kPathSize + 16];
    if (!FormatText(pattern, sizeof pattern, "%s%s", folder, mask))
        return;
    char name[kPathSize];
    PlatFind find = PlatFindFirst(pattern, name, (int)sizeof name);
    if (!find)
        return;
    do {
        // A cut path could name another file: such an entry is passed over.
        char file[2 * kPathSize];
        if (name[0] != '\0' && IsLockFileName(name) &&
            FormatText(file, sizeof file, "%s%s", folder, name))
            PlatDeleteFile(file);
    } while (PlatFindNext(find, name, (int)sizeof name));
    PlatFindClose(find);
}

void DeleteLockFiles(void)
{
    char last[kPathSize];
    if (ReadHostSetting(kKeyLastDataFile, last, sizeof last) == 0)
        return;
    size_t folderLength = LockFolderLength(last);
    if (folderLength == 0)
        return;
    char folder[kPathSize];
    CopyTextN(folder, sizeof folder, last, folderLength);
    DeleteMatching(folder, "*.ldb");
    DeleteMatching(folder, "vdm*.tmp");
}

bool WindowTitleContains(PlatWindow window, const char *text)
{
    char title[kSettingSize];
    PlatGetWindowText(window, title, (int)kSettingMax + 1);
    return ContainsTextNoCase(title, text);
}

void SendImportKeystroke(void)
{
    PlatSleep(kImportDelayMs);
    unsigned char letter = (unsigned char)(PlatVkKeyScan('i') & 0xFF);
    unsigned char letterScan = (unsigned char)(PlatOemKeyScan(PlatCharToOem('i')) & 0xFF);
    unsigned char controlScan = (unsigned char)(PlatMapVirtualKey(kVkControl, 0) & 0xFF);
    PlatKeybdEvent(kVkControl, controlScan, 0);
    PlatKeybdEvent(letter, letterScan, 0);
    PlatKeybdEvent(letter, letterScan, kKeyUp);
    PlatKeybdEvent(kVkControl, controlScan, kKeyUp);
}

bool QuoteIfBlank(char *text, size_t size)
{
    size_t n = strlen(text);
    if (!strchr(text, ' '))
        return true;
    if (n + 3 > size)
        return false;
    memmove(text + 1, text, n);
    text[0] = '"';
    text[n + 1] = '"';
    text[n + 2] = '\0';
    return true;
}

// Starts the host application through the Access runtime launcher, on the fixed parameters
// and then, when given, the command and its argument. The program is quoted when it holds a
// blank; the directory is not: the shell takes it as the working directory whole, and a
// quoted one names no folder, so the host would start elsewhere and miss "tillwick.mdb".
// False, nothing started, when anything would not fit.
static bool LaunchHost(const char *command, const char *argument)
{
    char directory[kLaunchPathSize];
    char program[kLaunchPathSize];
    GetProgramDirectory(directory, sizeof directory);
    if (!FormatText(program, sizeof program, "%s\\msarn200.exe", directory) ||
        !QuoteIfBlank(program, sizeof program))
        return false;
    char parameters[kParametersSize];
    if (!FormatText(parameters, sizeof parameters, "%s%s%s", kHostParameters, command, argument))
        return false;
    PlatShellExecute(0, "open", program, parameters, directory, PLAT_SW_SHOWNORMAL);
    return true;
}

// Brings the running host to the front, maximised.
static void ShowHost(PlatWindow host)
{
    PlatSetForegroundWindow(host);
    PlatShowWindow(host, PLAT_SW_SHOWMAXIMIZED);
}

void OpenDataFile(const char *dataPath)
{
    // The dispatcher passes at most 255 characters; anything longer cannot be a path.
    if (strlen(dataPath) > kDataPathMax)
        return;
    const char *path = dataPath;
    bool refused = false;
    bool importing = false;
    if (path[0] != '\0') {
        if (ContainsTextNoCase(path, ".bk")) {
            ShowErrorBox(0, kBackupMessage);
            refused = true;
        }
        if (ContainsTextNoCase(path, ".001")) {
            ShowErrorBox(0, kNumberedBackupMessage);
            refused = true;
        }
        if (ContainsTextNoCase(path, ".qif")) {
            char shortPath[kPathSize];
            ShortPathOrSame(path, shortPath, sizeof shortPath);
            bool written = WriteHostSetting(kKeyQifFile, shortPath);
            written = WriteHostSetting(kKeyQifFileLong, path) && written;
            // The host would import whatever file an earlier hand-over left named there.
            if (!written)
                return;
            path = "";
            importing = true;
        }
    }
    if (refused)
        return;

    PlatWindow host = GetHostWindow();
    if (WindowTitleContains(host, kProductName)) {
        ShowHost(host);
        if (WindowTitleContains(host, "demo.dat")) {
            PlatMessageBox(host, kDemoOpenMessage, kDemoOpenCaption, kBoxStyle);
            return;
        }
        if (importing)
            SendImportKeystroke();
        // A data file is not handed to a running host: it is only brought to the front.
        return;
    }

    RecordScreenDpi();
    DeleteLockFiles();
    if (path[0] == '\0') {
        LaunchHost("", "");
        return;
    }
    char shortPath[kPathSize];
    ShortPathOrSame(path, shortPath, sizeof shortPath);
    WriteHostSetting(kKeyFileSelected, shortPath);
    WriteHostSetting(kKeyFileSelectedLong, path);
    LaunchHost(kOpenCommand, shortPath);
}

void StartDemo(void)
{
    PlatWindow host = GetHostWindow();
    if (WindowTitleContains(host, kProductName)) {
        ShowHost(host);
        if (WindowTitleContains(host, ".tw"))
            PlatMessageBox(host, kHostOpenMessage, kHostOpenCaption, kBoxStyle);
        return;
    }
    RecordScreenDpi();
    LaunchHost(kDemoCommand, "");
}
