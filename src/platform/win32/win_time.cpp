// Win32 side of the clock seam.
#include <windows.h>

#include <cstdio>

#include "../plat_time.h"

long long PlatUnixTime(void)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    // 100 ns units since 1601-01-01; 11644473600 s lie between that and 1970-01-01.
    return (long long)(ticks.QuadPart / 10000000ULL) - 11644473600LL;
}

unsigned long long PlatTickCount(void) { return GetTickCount64(); }

void PlatLocalTimeText(char *dest, int destSize)
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    if (destSize > 0)
        snprintf(dest, (size_t)destSize, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth,
                 t.wDay, t.wHour, t.wMinute, t.wSecond);
}
