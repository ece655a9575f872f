// File types and the uninstall entry: makes this program the open handler of the product's
// data files and backups under both registry roots, and removes all of it again.
#include "file_types.h"

#include <cstring>

#include "../base/host_settings.h"
#include "../base/text.h"
#include "../platform/plat_files.h"
#include "../platform/plat_registry.h"
#include "../platform/plat_shell.h"

struct FileTypeRow {
    const char *extension;
    const char *progId;
    const char *description;
};

static const FileTypeRow kFixedFileTypes[] = {
    {".tw", "twfile", "Tillwick Orvenda"},
    {".001", "001file", "Tillwick Orvenda Backup"},
    {".qif", "qiffile", "Tillwick Orvenda"},
};
// The numbered backups .bk1 to .bk3 follow the fixed rows; .bk4 and higher are not ours.
static const int kNumberedBackups = 3;
static const char kBackupExtensionFormat[] = ".bk%d";
static const char kBackupProgIdFormat[] = "bk%dfile";
static const char kBackupDescription[] = "Tillwick Orvenda Backup File";

struct RootRow {
    PlatRoot root;
    const char *prefix;
};
static const RootRow kRoots[] = {
    {PLAT_HKCR, ""},
    {PLAT_HKLM, "SOFTWARE\\CLASSES\\"},
};

static const char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tillwick Orvenda";
static const char kUninstallDisplayName[] = "Tillwick Orvenda";

// Removal of one file type under one root: one delete per key, children before parents.
// The first path is the extension's, the others are formed from the ProgID.
static const char *const kProgIdRemovalFormats[] = {
    "%s\\Shell\\open\\command", "%s\\Shell\\open", "%s\\Shell", "%s\\DefaultIcon", "%s",
};

// Short key paths; every one is formed from the fixed names above and fits.
static const size_t kKeyPathSize = 260;

static unsigned char const kEditFlags[1] = {0x00};

// dir + suffix, the program's path quoted by the shell's rule when quote is set.
static bool ComposeProgramPath(const char *dir, const char *suffix, bool quote, char *dest,
                               size_t destSize)
{
    if (!FormatText(dest, destSize, "%s%s", dir, suffix) ||
        (quote && !PlatPathQuoteSpaces(dest, (int)destSize))) {
        if (destSize > 0)
            dest[0] = '\0';
        return false;
    }
    return true;
}

bool ComposeIconValue(const char *dir, char *dest, size_t destSize)
{
    return ComposeProgramPath(dir, "\\Tillwick.ico,0", false, dest, destSize);
}

bool ComposeOpenCommand(const char *dir, char *dest, size_t destSize)
{
    // "%1" stays outside the quotes: the dispatcher takes a quoted path for no path at all.
    if (!ComposeProgramPath(dir, "\\Tillwick.exe", true, dest, destSize) ||
        !AppendText(dest, destSize, " %1")) {
        if (destSize > 0)
            dest[0] = '\0';
        return false;
    }
    return true;
}

bool ComposeUninstallString(const char *dir, char *dest, size_t destSize)
{
    return ComposeProgramPath(dir, "\\Uninstal.exe", true, dest, destSize);
}

// A REG_SZ goes in with its terminating zero byte.
static void SetStringValue(PlatKey key, const char *name, const char *text)
{
    PlatRegSetValue(key, name, PLAT_REG_SZ, text, (unsigned)strlen(text) + 1);
}

// Creates or opens prefix + format(name) under root, sets its default value, closes it.
static void WriteDefaultValue(const RootRow &root, const char *format, const char *name,
                              const char *value)
{
    char relative[kKeyPathSize];
    char path[kKeyPathSize];
    if (!FormatText(relative, sizeof relative, format, name) ||
        !FormatText(path, sizeof path, "%s%s", root.prefix, relative))
        return;
    PlatKey key = PlatRegCreateKey(root.root, path);
    if (!key)
        return;
    SetStringValue(key, nullptr, value);
    PlatRegCloseKey(key);
}

void RegisterFileType(const char *extension, const char *progId, const char *description)
{
    char dir[kComposedValueSize];
    char icon[kComposedValueSize];
    char command[kComposedValueSize];
    GetProgramDirectory(dir, sizeof dir);
    bool haveIcon = ComposeIconValue(dir, icon, sizeof icon);
    bool haveCommand = ComposeOpenCommand(dir, command, sizeof command);

    for (const RootRow &root : kRoots) {
        WriteDefaultValue(root, "%s", extension, progId);

        char path[kKeyPathSize];
        if (FormatText(path, sizeof path, "%s%s", root.prefix, progId)) {
            PlatKey key = PlatRegCreateKey(root.root, path);
            if (key) {
                SetStringValue(key, nullptr, description);
                SetStringValue(key, "AlwaysShowExt", "");
                PlatRegSetValue(key, "EditFlags", PLAT_REG_BINARY, kEditFlags, sizeof kEditFlags);
                PlatRegCloseKey(key);
            }
        }

        // A value that did not fit its buffer skips its key: nothing is written cut.
        if (haveIcon)
            WriteDefaultValue(root, "%s\\DefaultIcon", progId, icon);
        WriteDefaultValue(root, "%s\\Shell", progId, "");
        if (haveCommand)
            WriteDefaultValue(root, "%s\\Shell\\open\\command", progId, command);
    }
}

void WriteUninstallEntry(void)
{
    char dir[kComposedValueSize];
    char uninstall[kComposedValueSize];
    GetProgramDirectory(dir, sizeof dir);
    bool haveUninstall = ComposeUninstallString(dir, uninstall, sizeof uninstall);

    PlatKey key = PlatRegCreateKey(PLAT_HKLM, kUninstallKey);
    if (!key)
        return;
    SetStringValue(key, "DisplayName", kUninstallDisplayName);
    if (haveUninstall)
        SetStringValue(key, "UninstallString", uninstall);
    PlatRegCloseKey(key);
}

static void DeleteKey(const RootRow &root, const char *format, const char *name)
{
    char relative[kKeyPathSize];
    char path[kKeyPathSize];
    if (!FormatText(relative, sizeof relative, format, name) ||
        !FormatText(path, sizeof path, "%s%s", root.prefix, relative))
        return;
    PlatRegDeleteKey(root.root, path);
}

void UnregisterFileType(const char *extension, const char *progId)
{
    for (const RootRow &root : kRoots) {
        DeleteKey(root, "%s", extension);
        for (const char *format : kProgIdRemovalFormats)
            DeleteKey(root, format, progId);
    }
}

// Every file type of the product, in order: the fixed rows, then the numbered backups.
static void ForEachFileType(void (*visit)(const FileTypeRow &row))
{
    for (const FileTypeRow &row : kFixedFileTypes)
        visit(row);
    for (int n = 1; n <= kNumberedBackups; n++) {
        char extension[16];
        char progId[16];
        FormatText(extension, sizeof extension, kBackupExtensionFormat, n);
        FormatText(progId, sizeof progId, kBackupProgIdFormat, n);
        visit({extension, progId, kBackupDescription});
    }
}

void RegisterFileTypes(void)
{
    ForEachFileType([](const FileTypeRow &row) {
        RegisterFileType(row.extension, row.progId, row.description);
    });
    WriteUninstallEntry();
    PlatNotifyAssociationsChanged();
}

void UnregisterFileTypes(void)
{
    ForEachFileType([](const FileTypeRow &row) { UnregisterFileType(row.extension, row.progId); });
    PlatRegDeleteKey(PLAT_HKLM, kUninstallKey);
    PlatNotifyAssociationsChanged();
}
