// Seam: the clocks. The wall clock for what must outlast a run (when a token expires), the
// local time for what a person reads (the mail log), a millisecond counter for intervals.
#pragma once

// The current time in seconds since 1970-01-01 00:00 UTC (GetSystemTimeAsFileTime).
long long PlatUnixTime(void);

// Milliseconds since an arbitrary start (GetTickCount64): for intervals within a run only.
unsigned long long PlatTickCount(void);

// The local date and time (GetLocalTime) as "YYYY-MM-DD HH:MM:SS" into dest, which holds at
// least 20 bytes.
void PlatLocalTimeText(char *dest, int destSize);

// A local date and time with the zone's offset from UTC in effect at that moment.
struct PlatLocalTime {
    int year, month, day;     // month 1 to 12
    int hour, minute, second;
    int weekday;              // 0 Sunday to 6 Saturday
    int offsetMinutes;        // local time less UTC: +60 in Paris in winter, -300 in New York
};

// The local time now and its offset: GetSystemTime and SystemTimeToTzSpecificLocalTime (the
// current zone, daylight saving included) of the same moment, the offset their difference.
void PlatGetLocalTime(PlatLocalTime *out);
