// The recording fake of the clock seam.
#include "fake_time.h"

#include <cstdio>

#include "fake.h"
#include "platform/plat_time.h"

FakeTimeState gFakeTime;

static void ResetTime() { gFakeTime = FakeTimeState(); }
static FakeResetHook gTimeReset(ResetTime);

long long PlatUnixTime(void) { return gFakeTime.unixTime; }

unsigned long long PlatTickCount(void) { return gFakeTime.tickCount; }

void PlatLocalTimeText(char *dest, int destSize)
{
    if (destSize > 0)
        snprintf(dest, (size_t)destSize, "%s", gFakeTime.localTimeText);
}

void PlatGetLocalTime(PlatLocalTime *out)
{
    FakeRecord("GetLocalTime");
    *out = gFakeTime.local;
}
