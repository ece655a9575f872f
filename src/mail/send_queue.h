// The send-queue batch behind "/email".
#pragma once

// Sends the one queued message file named by argument, or with "" every "*.txt" file of the
// send queue. Returns the exit code: 1 when the run cannot start, otherwise 0.
int SendQueuedEmail(const char *argument);
