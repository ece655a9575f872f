// The open-file dialog and the folder browser the host application has us show for it. The
// answer always goes back as a pair of keys: the short path under the plain key and the full
// path under the key with "Long" appended, or "CANCELLED" in both.
#include "file_dialogs.h"

#include <cstring>

#include "../base/host_settings.h"
#include "../base/paths.h"
#include "../base/text.h"
#include "../platform/plat_dialogs.h"
#include "../platform/plat_files.h"
#include "../platform/plat_ui.h"

// The texts of this job, as the host application expects them.
static const char kCancelled[] = "CANCELLED";
static const char kNotValidPath[] = "This is not a valid path";
static const char kWarningCaption[] = "Tillwick Orvenda";

// The dialog may fill 256 characters of the 260 of the file buffer.
static const unsigned kFileChars = 256;

static char gFilterList[kFilterListSize];
static char gInitialDir[kSettingSize];
static char gDialogTitle[kSettingSize];
static char gChosenPath[kPathSize];
static char gShortPath[kPathSize];

int BuildFilterList(const char *fileSpec, char *list, size_t listSize)
{
    if (listSize < 2) {
        if (listSize == 1)
            list[0] = '\0';
        return 0;
    }
    memset(list, 0, listSize);
    // Two bytes stay zero after the copy: the last field's terminator and the empty string
    // that closes the list, whether or not the value ends with '|'.
    size_t room = listSize - 2;
    size_t n = 0;
    while (fileSpec[n] != '\0' && n < room) {
        list[n] = fileSpec[n] == '|' ? '\0' : fileSpec[n];
        n++;
    }
    return fileSpec[n] == '\0' ? 1 : 0;
}

// The owner of the dialogs and the warning. The handle is not confirmed by its title, but
// a number that names no window any more is dropped: the system refuses to create a window
// owned by a destroyed one, so the dialog would never appear and the host would read
// "CANCELLED" for a choice the user was never offered.
static PlatWindow ReadDialogOwner(void)
{
    PlatWindow owner = GetHostWindow();
    if (owner != 0 && !PlatWindowExists(owner))
        return 0;
    return owner;
}

static void WriteAnswer(SettingKey key, SettingKey longKey, const char *shortForm,
                        const char *longForm)
{
    WriteHostSetting(key, shortForm);
    WriteHostSetting(longKey, longForm);
}

// Writes the chosen path in gChosenPath as the answer pair. When its short form cannot be had
// (the file or folder vanished meanwhile, or the form does not fit), the plain key gets the
// full path, so the host always reads a usable path.
static void WriteChosenPath(SettingKey key, SettingKey longKey)
{
    ShortPathOrSame(gChosenPath, gShortPath, sizeof gShortPath);
    WriteAnswer(key, longKey, gShortPath, gChosenPath);
}

void ShowOpenFileDialog(void)
{
    PlatWindow owner = ReadDialogOwner();
    char programDir[kPathSize];
    GetProgramDirectory(programDir, sizeof programDir);
    ReadHostSettingOr(kKeyInitialDir, programDir, gInitialDir, sizeof gInitialDir);
    char fileSpec[kSettingSize];
    ReadHostSetting(kKeyFileSpec, fileSpec, sizeof fileSpec);
    ReadHostSetting(kKeyDlgTitle, gDialogTitle, sizeof gDialogTitle);

    BuildFilterList(fileSpec, gFilterList, sizeof gFilterList);
    memset(gChosenPath, 0, sizeof gChosenPath);

    PlatOpenFileName info;
    memset(&info, 0, sizeof info);
    info.owner = owner;
    info.instance = owner != 0 ? PlatGetWindowInstance(owner) : 0;
    info.filter = gFilterList;
    info.customFilter = nullptr;
    info.maxCustomFilter = 0;
    info.filterIndex = 0;
    info.file = gChosenPath;
    info.maxFile = kFileChars;
    info.fileTitle = nullptr;
    info.maxFileTitle = 0;
    info.initialDir = gInitialDir;
    info.title = gDialogTitle;
    info.flags = PLAT_OFN_FILEMUSTEXIST | PLAT_OFN_HIDEREADONLY;
    info.fileOffset = 0;
    info.fileExtension = 0;
    info.defExt = nullptr;
    info.custData = 0;
    info.hook = 0;
    info.templateName = nullptr;

    if (PlatGetOpenFileName(&info) != 0 && gChosenPath[0] != '\0') {
        gChosenPath[sizeof gChosenPath - 1] = '\0';
        WriteChosenPath(kKeyFileSelected, kKeyFileSelectedLong);
    } else {
        WriteAnswer(kKeyFileSelected, kKeyFileSelectedLong, kCancelled, kCancelled);
    }
}

void ShowSelectFolderDialog(void)
{
    ReadHostSetting(kKeyDlgTitle, gDialogTitle, sizeof gDialogTitle);
    PlatWindow owner = ReadDialogOwner();

    PlatBrowseInfo info;
    memset(&info, 0, sizeof info);
    info.owner = owner;
    info.root = 0;
    info.displayName = nullptr;
    info.title = gDialogTitle;
    info.flags = PLAT_BIF_RETURNONLYFSDIRS;
    info.callback = 0;
    info.lParam = 0;
    info.image = 0;

    PlatItemList list = PlatBrowseForFolder(&info);
    if (list == 0) {
        WriteAnswer(kKeyFolderSelected, kKeyFolderSelectedLong, kCancelled, kCancelled);
        return;
    }

    memset(gChosenPath, 0, sizeof gChosenPath);
    if (PlatGetPathFromItemList(list, gChosenPath, (int)sizeof gChosenPath) != 0 &&
        gChosenPath[0] != '\0') {
        WriteChosenPath(kKeyFolderSelected, kKeyFolderSelectedLong);
    } else {
        PlatMessageBox(owner, kNotValidPath, kWarningCaption,
                       PLAT_MB_OK | PLAT_MB_ICONEXCLAMATION);
        WriteAnswer(kKeyFolderSelected, kKeyFolderSelectedLong, kCancelled, kCancelled);
    }

    PlatMalloc allocator = PlatGetShellMalloc();
    if (allocator != 0) {
        PlatShellMallocFree(allocator, list);
        PlatShellMallocRelease(allocator);
    }
}
