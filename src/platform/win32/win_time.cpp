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

// 100 ns units since 1601 of a SYSTEMTIME; 0 when it is no valid date.
static long long FileTimeOf(const SYSTEMTIME *t)
{
    FILETIME f;
    if (!SystemTimeToFileTime(t, &f))
        return 0;
    ULARGE_INTEGER ticks;
    ticks.LowPart = f.dwLowDateTime;
    ticks.HighPart = f.dwHighDateTime;
    return (long long)ticks.QuadPart;
}

void PlatGetLocalTime(PlatLocalTime *out)
{
    // One moment read once and turned into local time, so that the offset is that of the
    // moment (GetLocalTime beside GetSystemTime could straddle a second or a zone change).
    SYSTEMTIME utc, local;
    GetSystemTime(&utc);
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        local = utc;
    long long difference = FileTimeOf(&local) - FileTimeOf(&utc);
    const long long minute = 600000000LL;
    // Rounded to the nearest minute, in either direction.
    long long minutes = difference >= 0 ? (difference + minute / 2) / minute
                                        : -((-difference + minute / 2) / minute);
    out->year = local.wYear;
    out->month = local.wMonth;
    out->day = local.wDay;
    out->hour = local.wHour;
    out->minute = local.wMinute;
    out->second = local.wSecond;
    out->weekday = local.wDayOfWeek;
    out->offsetMinutes = (int)minutes;
}
