// The recording fake of the clock seam: a clock the test sets and moves by hand.
#pragma once

#include "platform/plat_time.h"

struct FakeTimeState {
    long long unixTime = 1796601600;            // 2026-12-07 00:00:00 UTC
    unsigned long long tickCount = 5000000;     // milliseconds
    const char *localTimeText = "2026-12-07 09:30:00";
    // What PlatGetLocalTime gives: Tuesday 2026-12-08 14:05:09, an hour ahead of UTC.
    PlatLocalTime local = {2026, 12, 8, 14, 5, 9, 2, 60};
};

extern FakeTimeState gFakeTime;
