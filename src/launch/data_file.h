// Opening a data file: backups refused, QIF files handed to the host application, a
// running host brought to the front, or the host application started on the file.
#pragma once
#include <cstddef>
#include "../base/paths.h"
#include "../platform/plat_types.h"

// Longest data-file path OpenDataFile acts on (the dispatcher passes at most 255).
const size_t kDataPathMax = kPathSize - 1;

// The job for a data-file path or an empty command line. path may be "" (start the host
// application without a data file); it is never written to. A path longer than
// kDataPathMax is ignored. A QIF file whose keys could not be written is not handed over
// (no Ctrl+I, no start): the failed write waits for ReportFailedHostWrite.
void OpenDataFile(const char *path);

// "/demo": starts the host application on its demonstration data.
void StartDemo(void);

// Deletes the stale "*.ldb" and "vdm*.tmp" lock files from the folder of the last data file.
void DeleteLockFiles(void);

// True when the window's title contains text, letters A to Z compared without case.
bool WindowTitleContains(PlatWindow window, const char *text);

// Presses Ctrl+I for the window that has the keyboard focus.
void SendImportKeystroke(void);

// The pieces of the above, exposed for the unit tests.

// Length of the lock-file folder of lastDataFile, its last backslash included; 0 when there
// is nothing to clean (shorter than 3 characters, no backslash, or the last one at
// position 0, 1 or 2, as for a file in a drive's root).
size_t LockFolderLength(const char *lastDataFile);

// True for a file name of the lock-file form: "*.ldb" or "vdm*.tmp", without case.
bool IsLockFileName(const char *name);

// Encloses text in double quotes when it holds a blank (the shell's rule for a path).
// text holds size bytes; false, text unchanged, when the quoted text would not fit.
bool QuoteIfBlank(char *text, size_t size);
