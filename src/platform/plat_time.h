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
