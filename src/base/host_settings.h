// The host settings file: the INI file in the Windows directory through which the host
// application and every job of this utility exchange their values.
#pragma once
#include <cstddef>
#include "../platform/plat_types.h"
#include "settings_table.h"

// Reads name it in lower case, writes capitalised; both are the one file in the Windows
// directory, which the platform finds for a bare file name.
extern const char kHostSettingsRead[];   // "tillwick.ini"
extern const char kHostSettingsWrite[];  // "Tillwick.ini"

// Longest value a read returns; longer values arrive cut to this many characters.
const size_t kSettingMax = 254;
// Size of a buffer that holds any value read, with its terminator.
const size_t kSettingSize = 256;

// Reads key (section and name from the settings table) into dest (destSize bytes, at least
// 255 to hold any value); an absent key gives the table's default. Returns the number of
// characters stored; 0 with "" in dest when the key is absent and the default is empty.
int ReadHostSetting(SettingKey key, char *dest, size_t destSize);
// The same with def (NULL: "") in place of the table's default, for a default known only
// at run time.
int ReadHostSettingOr(SettingKey key, const char *def, char *dest, size_t destSize);
// The same without a default: -1 when the key is absent (dest "" then), else the number of
// characters stored (0 for a key the file holds empty).
int ReadHostSettingIfPresent(SettingKey key, char *dest, size_t destSize);

// Writes key; the platform creates the file, section or key as needed. Returns true when the
// value was written; false also for a key the table does not declare written. A failure is
// also kept (the run's first: its key, file and the system's reason) for
// ReportFailedHostWrite, since the host application would otherwise act on whatever an earlier
// run left under the key.
bool WriteHostSetting(SettingKey key, const char *value);

// Writes key, or removes it (value NULL), for a caller that reports its own failure: nothing
// is kept for ReportFailedHostWrite. False when it failed or the key is not declared written.
bool PutHostSetting(SettingKey key, const char *value);

// When a write has failed since the last report: shows one "Error" box that names the file,
// the key of the first failure and the system's reason, and forgets them, so that a run shows
// one box however many of its writes failed. Returns true when it showed the box (the job
// then ends with exit code 1), false when every write succeeded.
bool ReportFailedHostWrite(PlatWindow owner);

// "HelpFile" in "Run-Time Options": the help file's full path, "" when absent.
void GetHelpFile(char *dest, size_t destSize);

// The program directory: the folder of "HelpFile" in "Run-Time Options", "" when that is
// absent. dest holds destSize bytes (260 is enough for any value read).
void GetProgramDirectory(char *dest, size_t destSize);

// The host application's main window as recorded under "hWnd"; 0 when none is recorded.
// The handle may be stale: callers that act on it confirm it by its title first.
PlatWindow GetHostWindow(void);
