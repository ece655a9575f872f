// The command-line dispatcher: every run enters here and does exactly one job.
#pragma once
#include <cstddef>

// What follows the first blank of the command line, unchanged. The dispatcher's alone: jobs
// are handed what they need of it.
const size_t kCommandArgumentSize = 260;
extern char gCommandArgument[kCommandArgumentSize];

// Longest command line the utility acts on; a longer one is refused as a whole.
const size_t kCommandLineMax = 255;

// Skips the program's own name in the process command line (a quoted name up to its closing
// quote, else up to the first character of code 32 or below) and then every character of
// code 1 to 32. Returns a pointer into line.
const char *SkipProgramName(const char *line);

// Row of the switch table that word matches (whole, case-sensitive), counted from 1;
// 0 when none does.
int MatchSwitch(const char *word);

// Runs the one job of the command line (program name already removed) and returns the
// process exit code.
int RunCommandLine(const char *commandLine);

