// Opening a data file: backups refused, QIF files handed to the host application, a
// running host brought to the front, or the host application started on the file.
#pragma once
#include "../platform/plat_types.h"

// The job for a data-file path or an empty command line. path may be "" (start the host
// application without a data file); it is never written to.
void OpenDataFile(const char *path);

// "/demo": starts the host application on its demonstration data.
void StartDemo(void);

// Deletes the stale "*.ldb" and "vdm*.tmp" lock files from the folder of the last data file.
void DeleteLockFiles(void);

// True when the window's title contains text, letters A to Z compared without case.
bool WindowTitleContains(PlatWindow window, const char *text);

// Presses Ctrl+I for the window that has the keyboard focus.
void SendImportKeystroke(void);
