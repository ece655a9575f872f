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
// on success (callers do not rely on it).
int PlatWriteProfileString(const char *section, const char *key, const char *value,
                           const char *file);

// WritePrivateProfileStringA with a NULL value: removes key from section, every other line
// of the file left as it was. Returns nonzero on success (also when there was no such key).
int PlatDeleteProfileKey(const char *section, const char *key, const char *file);
