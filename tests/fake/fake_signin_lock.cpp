// The recording fake of the mutex in the global namespace that guards the sign-in store. It
// shares the mutex script and record of the batch mutex (fake_tls.h): the test sees
// "global(name)" among the mutex calls.
#include <string>

#include "fake.h"
#include "fake_tls.h"
#include "platform/plat_security.h"

PlatMutex PlatCreateGlobalMutex(const char *name)
{
    gFakeTls.mutexCalls.push_back("global(" + std::string(name) + ")");
    FakeRecord("CreateGlobalMutex");
    return gFakeTls.mutexHandle;
}
