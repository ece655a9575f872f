// Win32 side of the private-profile seam.
#include <windows.h>

#include "../plat_profile.h"

int PlatReadProfileString(const char *section, const char *key, const char *def, char *dest,
                          int destSize, const char *file)
{
    return (int)GetPrivateProfileStringA(section, key, def, dest, (DWORD)destSize, file);
}

int PlatWriteProfileString(const char *section, const char *key, const char *value,
                           const char *file)
{
    return WritePrivateProfileStringA(section, key, value, file);
}

int PlatDeleteProfileKey(const char *section, const char *key, const char *file)
{
    return WritePrivateProfileStringA(section, key, nullptr, file);
}
