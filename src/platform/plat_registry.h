// Seam: the registry. Keys are opened, written or deleted one call at a time; the callers
// never look at the results of writes and deletions.
#pragma once
#include "plat_types.h"

const unsigned PLAT_REG_SZ = 1;
const unsigned PLAT_REG_BINARY = 3;

// Reads the string value name (NULL: the default value) of root\path into dest, which holds
// destSize bytes with the terminator. Returns 1 when a string value was read whole, 0 when
// the key or value is missing, is not a string, or does not fit (dest is then "").
int PlatRegReadString(PlatRoot root, const char *path, const char *name, char *dest,
                      int destSize);

// RegCreateKeyA: creates root\path with any missing parents, or opens it. 0 on failure.
PlatKey PlatRegCreateKey(PlatRoot root, const char *path);
// RegSetValueExA with the bytes as given (a REG_SZ caller passes its terminator in size).
int PlatRegSetValue(PlatKey key, const char *name, unsigned type, const void *data,
                    unsigned size);
void PlatRegCloseKey(PlatKey key);
// RegDeleteKeyA: deletes one key that has no subkeys.
int PlatRegDeleteKey(PlatRoot root, const char *path);
