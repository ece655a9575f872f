// Fuzz target: any bytes as the process command line, through the start-up rule and the
// dispatcher. AddressSanitizer proves that no command line writes past a buffer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/dispatcher.h"
#include "platform/plat_entry.h"
#include "fake/fake.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FakeReset();
    // Every run's jobs see a plausible installation, so the jobs behind the switches run too.
    FakeSetSetting("Run-Time Options", "HelpFile", "C:\\Program Files\\Tillwick Orvenda\\Tillwick.hlp");
    gFake.commandLine.assign((const char *)data, size);
    gFake.commandLine = gFake.commandLine.c_str();  // the system's command line has no NULs
    RunProgram();
    std::string line((const char *)data, size);
    RunCommandLine(line.c_str());
    return 0;
}
