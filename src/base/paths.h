// Windows paths as every job handles them: the size of a path buffer, short (8.3) forms, and
// the folder of queued e-mail below the program directory.
#pragma once
#include <cstddef>

// A Windows path buffer (MAX_PATH), with its terminator.
const size_t kPathSize = 260;

// The short (8.3) form of path into dest; the path unchanged when the short form cannot be
// had (no such file) or does not fit. path must fit dest.
void ShortPathOrSame(const char *path, char *dest, size_t destSize);

// "%s\Email\" with the program directory: the send queue, as the e-mail boxes name it and
// as the batch searches it. False (dest cut) when it does not fit.
bool MakeQueueFolderText(char *dest, size_t destSize);
