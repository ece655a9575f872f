// The recording fake of the clock seam: a clock the test sets and moves by hand.
#pragma once

struct FakeTimeState {
    long long unixTime = 1796601600;            // 2026-12-07 00:00:00 UTC
    unsigned long long tickCount = 5000000;     // milliseconds
    const char *localTimeText = "2026-12-07 09:30:00";
};

extern FakeTimeState gFakeTime;
