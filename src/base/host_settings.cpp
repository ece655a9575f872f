// The host settings file: every read and write of the utility goes through the four
// operations here, each one private-profile call.
#include "host_settings.h"

#include "../platform/plat_files.h"
#include "../platform/plat_profile.h"
#include "text.h"

const char kHostSettingsRead[] = "tillwick.ini";
const char kHostSettingsWrite[] = "Tillwick.ini";
const char kSectionAccess[] = "Microsoft Access";
const char kSectionEmail[] = "Email Setup";
const char kSectionRunTime[] = "Run-Time Options";

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

void WriteHostSetting(const char *section, const char *key, const char *value,
                      const char *file)
{
    PlatWriteProfileString(section, key, value, file);
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
