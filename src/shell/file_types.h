// The product's file types and its uninstall entry in the registry.
#pragma once
#include <cstddef>

// Size of a composed value (program directory and suffix) with its terminator; a value that
// would not fit skips its key.
const size_t kComposedValueSize = 260;

// Makes this program the open handler of the six file types under both roots, then writes
// the uninstall entry and tells the shell that file types changed (so their icons are
// fresh at once). Nothing is reported.
void RegisterFileTypes(void);
// Deletes the fixed list of keys of the six file types under both roots, child before
// parent, then the uninstall entry's key, and tells the shell. Does not read the host
// settings file.
void UnregisterFileTypes(void);

// The parts of the two jobs above, one file type or the uninstall entry at a time.
void RegisterFileType(const char *extension, const char *progId, const char *description);
void UnregisterFileType(const char *extension, const char *progId);
void WriteUninstallEntry(void);

// The composed values, from the program directory dir. Each returns false (dest "") when
// the value would not fit destSize. The program's path is quoted when it holds a blank.
bool ComposeIconValue(const char *dir, char *dest, size_t destSize);
bool ComposeOpenCommand(const char *dir, char *dest, size_t destSize);
bool ComposeUninstallString(const char *dir, char *dest, size_t destSize);
