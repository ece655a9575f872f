// Seam: where the platform's start-up code hands over to the program.
#pragma once

// The program proper, defined above the seam: takes the process command line and runs its
// one job. The Win32 entry point returns its result as the process exit code.
int RunProgram(void);
