// The host settings file: every read and write of the utility goes through the operations
// here, each one private-profile call; a write that fails is kept until it is reported.
#include "host_settings.h"

#include "../platform/plat_files.h"
#include "../platform/plat_profile.h"
#include "error_box.h"
#include "text.h"

const char kHostSettingsRead[] = "tillwick.ini";
const char kHostSettingsWrite[] = "Tillwick.ini";
const char kSectionAccess[] = "Microsoft Access";
const char kSectionEmail[] = "Email Setup";
const char kSectionRunTime[] = "Run-Time Options";

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

int ReadHostSetting(const char *file, const char *section, const char *key, const char *def,
                    char *dest, size_t destSize)
{
    char work[kSettingSize];
    // The platform is allowed 255 characters, so at most 254 of value and a terminator.
    int n = PlatReadProfileString(section, key, def ? def : "", work, (int)kSettingSize - 1,
                                  file);
    if (n > 0) {
        CopyTextN(dest, destSize, work, (size_t)n);
    } else if (destSize > 0) {
        dest[0] = '\0';
    }
    return n;
}

bool WriteHostSetting(const char *section, const char *key, const char *value,
                      const char *file)
{
    if (PlatWriteProfileString(section, key, value, file) != 0)
        return true;
    unsigned long error = PlatGetLastError();
    if (!gFailedWrite.failed) {
        gFailedWrite.failed = true;
        gFailedWrite.error = error;
        CopyText(gFailedWrite.key, sizeof gFailedWrite.key, key);
        CopyText(gFailedWrite.file, sizeof gFailedWrite.file, file);
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
    ReadHostSetting(kHostSettingsRead, kSectionRunTime, "HelpFile", "", dest, destSize);
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
    ReadHostSetting(kHostSettingsRead, kSectionAccess, "hWnd", nullptr, text, sizeof text);
    return (PlatWindow)(intptr_t)ParseDecimal(text);
}
