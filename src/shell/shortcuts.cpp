// Start-menu shortcuts: the program group "Tillwick Orvenda" with its six shortcuts, the
// two desktop copies, and their removal.
#include "shortcuts.h"

#include <cstring>

#include "../base/host_settings.h"
#include "../base/text.h"
#include "../platform/plat_files.h"
#include "../platform/plat_shelllink.h"

struct ShortcutRow {
    const char *linkFile;   // in the program group
    const char *target;     // the rest in the program directory
    const char *arguments;
    const char *iconFile;
};

static const ShortcutRow kShortcuts[] = {
    {"%s\\Tillwick Orvenda.lnk", "%s\\Tillwick.exe", "", "%s\\Tillwick.ico"},
    {"%s\\Tillwick Demo.lnk", "%s\\Tillwick.exe", "/Demo", "%s\\Demo.ico"},
    {"%s\\Help.lnk", "%s\\Tillwick.hlp", "", "%s\\Tillwick.hlp"},
    {"%s\\Make Installation Disks.lnk", "%s\\Disk1\\Setup.exe", "/M", "%s\\Disk.ico"},
    {"%s\\UnInstall.lnk", "%s\\UnInstal.exe", "", "%s\\UnInstal.ico"},
    {"%s\\Email Setup.lnk", "%s\\Tillwick.exe", "/emailsetup", "%s\\Tillwick.ico"},
};

static const char kGroupFormat[] = "%s\\Programs\\Tillwick Orvenda";
// The group's first two shortcuts, copied to the desktop under the same names.
static const char *const kDesktopCopies[] = {"Tillwick Orvenda.lnk", "Tillwick Demo.lnk"};
// Names of earlier installations, deleted from the desktop before anything is made.
static const char *const kOldDesktopNames[] = {"Tillwick.lnk", "TW_Demo.lnk"};

static void GetFolder(PlatWindow owner, int commonCsidl, int userCsidl, char *dest,
                      size_t destSize)
{
    if (PlatGetSpecialFolderPath(owner, commonCsidl, dest, (int)destSize) && dest[0] != '\0')
        return;
    if (!PlatGetSpecialFolderPath(0, userCsidl, dest, (int)destSize))
        dest[0] = '\0';
}

void GetDesktopFolder(PlatWindow owner, char *dest, size_t destSize)
{
    GetFolder(owner, PLAT_CSIDL_COMMON_DESKTOPDIRECTORY, PLAT_CSIDL_DESKTOPDIRECTORY, dest,
              destSize);
}

void GetStartMenuFolder(PlatWindow owner, char *dest, size_t destSize)
{
    GetFolder(owner, PLAT_CSIDL_COMMON_STARTMENU, PLAT_CSIDL_STARTMENU, dest, destSize);
}

// The program group below the Start-menu folder. False when there is no Start-menu folder
// (the group would land in the root of the current drive) or the path would not fit.
static bool GetGroupFolder(const char *startMenu, char *dest, size_t destSize)
{
    if (startMenu[0] == '\0' || !FormatText(dest, destSize, kGroupFormat, startMenu)) {
        dest[0] = '\0';
        return false;
    }
    return true;
}

// folder + "\" + name; false when there is no folder or the path would not fit.
static bool PathInFolder(const char *folder, const char *name, char *dest, size_t destSize)
{
    return folder[0] != '\0' && FormatText(dest, destSize, "%s\\%s", folder, name);
}

void MakeShortcut(const char *target, const char *arguments, const char *iconFile,
                  const char *linkFile)
{
    int units = PlatLinkPathUnits(linkFile);
    if (units <= 0 || units > kLinkPathUnits)
        return;
    PlatSaveShellLink(target, arguments, iconFile, 0, linkFile);
}

void CreateShortcuts(PlatWindow owner)
{
    char desktop[kShortcutPathSize];
    char startMenu[kShortcutPathSize];
    char group[kShortcutPathSize];
    char dir[kShortcutPathSize];
    char path[kShortcutPathSize];
    GetDesktopFolder(owner, desktop, sizeof desktop);
    GetStartMenuFolder(owner, startMenu, sizeof startMenu);
    bool haveGroup = GetGroupFolder(startMenu, group, sizeof group);
    GetProgramDirectory(dir, sizeof dir);

    for (const char *name : kOldDesktopNames)
        if (PathInFolder(desktop, name, path, sizeof path))
            PlatDeleteFile(path);

    if (!haveGroup)
        return;
    PlatCreateDirectory(group);

    for (const ShortcutRow &row : kShortcuts) {
        char target[kShortcutPathSize];
        char iconFile[kShortcutPathSize];
        if (FormatText(path, sizeof path, row.linkFile, group) &&
            FormatText(target, sizeof target, row.target, dir) &&
            FormatText(iconFile, sizeof iconFile, row.iconFile, dir))
            MakeShortcut(target, row.arguments, iconFile, path);
    }

    for (const char *name : kDesktopCopies) {
        char source[kShortcutPathSize];
        if (PathInFolder(group, name, source, sizeof source) &&
            PathInFolder(desktop, name, path, sizeof path))
            PlatCopyFile(source, path, 0);
    }
}

// True when name ends in ".lnk", without regard to case. The search also matches a file
// whose short name ends so ("notes.lnkx" is NOTES~1.LNK): such a file is not a shortcut.
static bool IsLinkName(const char *name)
{
    size_t n = strlen(name);
    if (n < 4)
        return false;
    char ending[5];
    CopyText(ending, sizeof ending, name + n - 4);
    LowerAscii(ending);
    return strcmp(ending, ".lnk") == 0;
}

void RemoveShortcuts(PlatWindow owner)
{
    char desktop[kShortcutPathSize];
    char startMenu[kShortcutPathSize];
    char group[kShortcutPathSize];
    char path[kShortcutPathSize];
    GetDesktopFolder(owner, desktop, sizeof desktop);
    GetStartMenuFolder(owner, startMenu, sizeof startMenu);

    if (GetGroupFolder(startMenu, group, sizeof group)) {
        char name[kShortcutPathSize];
        PlatFind find = 0;
        if (PathInFolder(group, "*.lnk", path, sizeof path))
            find = PlatFindFirst(path, name, sizeof name);
        if (find) {
            do {
                char match[kShortcutPathSize];
                if (IsLinkName(name) && PathInFolder(group, name, match, sizeof match))
                    PlatDeleteFile(match);
            } while (PlatFindNext(find, name, sizeof name));
            PlatFindClose(find);
        }
        PlatRemoveDirectory(group);
    }

    for (const char *name : kDesktopCopies)
        if (PathInFolder(desktop, name, path, sizeof path))
            PlatDeleteFile(path);
}
