// Win32 side of the private-profile seam, with the system's reason for a failed write.
#include <windows.h>

#include <cstring>

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

unsigned long PlatGetLastError(void) { return GetLastError(); }

int PlatSystemErrorText(unsigned long error, char *dest, int destSize)
{
    if (destSize <= 0)
        return 0;
    dest[0] = '\0';
    // The system allocates the text: a fixed buffer too small for it would give nothing.
    char *text = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, (DWORD)error, 0, (LPSTR)&text, 0, nullptr);
    if (n == 0 || !text)
        return 0;
    while (n > 0 && (unsigned char)text[n - 1] <= ' ')
        n--;
    if (n > (DWORD)destSize - 1)
        n = (DWORD)destSize - 1;
    memcpy(dest, text, n);
    dest[n] = '\0';
    LocalFree(text);
    return (int)n;
}

int PlatDeleteProfileKey(const char *section, const char *key, const char *file)
{
    return WritePrivateProfileStringA(section, key, nullptr, file);
}
