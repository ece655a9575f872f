// The send-queue batch behind "/email".
#pragma once
#include <cstddef>

// Sends the one queued message file named by argument, or with "" every "*.txt" file of the
// send queue. Returns the exit code: 1 when the run cannot start, otherwise 0.
int SendQueuedEmail(const char *argument);

// The name of the mutex that one batch holds: one per folder of message files, by its
// canonical path (PlatCreateGlobalMutex puts it in the global namespace), so that two runs
// that could take the same file never run at once while runs on other folders go their own
// way.
void MakeBatchMutexName(const char *folder, char *name, size_t nameSize);
