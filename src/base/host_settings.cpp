// The host settings file: every read and write of the utility goes through the operations
// here, each one private-profile call; a write that fails is kept until it is reported.
#include "host_settings.h"

#include <cstring>

#include "../platform/plat_files.h"
#include "../platform/plat_profile.h"
#include "error_box.h"
#include "text.h"

const char kHostSettingsRead[] = "tillwick.ini";
const char kHostSettingsWrite[] = "Tillwick.ini";

// What a read gives for a key that is absent: no value holds this byte.
static const char kAbsent[] = "\x7f";

// The box for a lost answer: the key, the file, the system's reason and its code.
static const char kWriteFailedMessage[] = "Could not write %s to %s: %s (error %lu)";
static const char kNoReasonText[] = "the system gives no reason.";

// The run's first failed write, until it is reported.
static struct {
    bool failed;
    char key[kSettingSize];
    char file[kSettingSize];
    unsigned long error;
} gFailedWrite;

int ReadHostSettingOr(SettingKey key, const char *def, char *dest, size_t destSize)
{
    const SettingDef *d = GetSettingDef(key);
    char work[kSettingSize];
    // The platform is allowed 255 characters, so at most 254 of value and a terminator.
    int n = PlatReadProfileString(d->section, d->name, def ? def : "", work,
                                  (int)kSettingSize - 1, kHostSettingsRead);
    if (n > 0) {
        CopyTextN(dest, destSize, work, (size_t)n);
    } else if (destSize > 0) {
        dest[0] = '\0';
    }
    return n;
}

int ReadHostSetting(SettingKey key, char *dest, size_t destSize)
{
    return ReadHostSettingOr(key, GetSettingDef(key)->def, dest, destSize);
}

int ReadHostSettingIfPresent(SettingKey key, char *dest, size_t destSize)
{
    int n = ReadHostSettingOr(key, kAbsent, dest, destSize);
    if (strcmp(dest, kAbsent) != 0)
        return n;
    if (destSize > 0)
        dest[0] = '\0';
    return -1;
}

bool PutHostSetting(SettingKey key, const char *value)
{
    const SettingDef *d = GetSettingDef(key);
    if (!(d->use & kUseWritten))
        return false;
    if (!value)
        return PlatDeleteProfileKey(d->section, d->name, kHostSettingsWrite) != 0;
    return PlatWriteProfileString(d->section, d->name, value, kHostSettingsWrite) != 0;
}

bool WriteHostSetting(SettingKey key, const char *value)
{
    if (!(GetSettingDef(key)->use & kUseWritten))
        return false;  // a slip of ours, not a lost answer: the platform was not asked
    if (PutHostSetting(key, value))
        return true;
    unsigned long error = PlatGetLastError();
    if (!gFailedWrite.failed) {
        gFailedWrite.failed = true;
        gFailedWrite.error = error;
        CopyText(gFailedWrite.key, sizeof gFailedWrite.key, GetSettingDef(key)->name);
        CopyText(gFailedWrite.file, sizeof gFailedWrite.file, kHostSettingsWrite);
    }
    return false;
}

bool ReportFailedHostWrite(PlatWindow owner)
{
    if (!gFailedWrite.failed)
        return false;
    gFailedWrite.failed = false;
    char reason[kSettingSize];
    if (PlatSystemErrorText(gFailedWrite.error, reason, (int)sizeof reason) == 0)
        CopyText(reason, sizeof reason, kNoReasonText);
    char text[3 * kSettingSize + 64];
    FormatText(text, sizeof text, kWriteFailedMessage, gFailedWrite.key, gFailedWrite.file,
               reason, gFailedWrite.error);
    ShowErrorBox(owner, text);
    return true;
}

void GetHelpFile(char *dest, size_t destSize)
{
    ReadHostSetting(kKeyHelpFile, dest, destSize);
}

void GetProgramDirectory(char *dest, size_t destSize)
{
    GetHelpFile(dest, destSize);
    if (dest[0] != '\0')
        PlatPathRemoveFileSpec(dest);
}

PlatWindow GetHostWindow(void)
{
    char text[kSettingSize];
    ReadHostSetting(kKeyHostWindow, text, sizeof text);
    return (PlatWindow)(intptr_t)ParseDecimal(text);
}
