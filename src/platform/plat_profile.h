// Seam: the private-profile (INI) functions. Each call opens, reads or updates, and
// closes the file; nothing is held open between calls.
#pragma once
#include "plat_types.h"

// GetPrivateProfileStringA. Copies the value of key in section of file into dest, which
// holds destSize characters including the terminator; a missing file, section or key gives
// def (NULL counts as ""). Returns the number of characters stored, without the terminator.
// The platform's rules apply: names compared without regard to case, the value trimmed of
// blanks and of one pair of enclosing quotes, a long value cut to destSize - 1 characters.
int PlatReadProfileString(const char *section, const char *key, const char *def, char *dest,
                          int destSize, const char *file);

// WritePrivateProfileStringA. Creates the file, section or key as needed. Returns nonzero
// on success; 0 when the value could not be written (the file as it was), and then
// PlatGetLastError, asked at once, says why.
int PlatWriteProfileString(const char *section, const char *key, const char *value,
                           const char *file);

// GetLastError of the calling thread: the reason the last failed call gave. Ask it right
// after that call; any other call may change it.
unsigned long PlatGetLastError(void);

// FormatMessageA's text for a system error code (from the system's table, no inserts, the
// user's language), without its line end and trailing blanks, in dest (destSize bytes, cut to
// fit). Returns the number of characters stored; 0 with "" in dest when the system has no
// text for the code.
int PlatSystemErrorText(unsigned long error, char *dest, int destSize);

// WritePrivateProfileStringA with a NULL value: removes key from section, every other line
// of the file left as it was. Returns nonzero on success (also when there was no such key).
int PlatDeleteProfileKey(const char *section, const char *key, const char *file);
