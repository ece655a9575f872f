// The host settings file: the INI file in the Windows directory through which the host
// application and every job of this utility exchange their values.
#pragma once
#include <cstddef>
#include "../platform/plat_types.h"

// Reads name it in lower case, writes capitalised; both are the one file in the Windows
// directory, which the platform finds for a bare file name.
extern const char kHostSettingsRead[];   // "tillwick.ini"
extern const char kHostSettingsWrite[];  // "Tillwick.ini"

extern const char kSectionAccess[];      // "Microsoft Access"
extern const char kSectionEmail[];       // "Email Setup"
extern const char kSectionRunTime[];     // "Run-Time Options"

// Longest value a read returns; longer values arrive cut to this many characters.
const size_t kSettingMax = 254;
// Size of a buffer that holds any value read, with its terminator.
const size_t kSettingSize = 256;

// Reads key of section into dest (destSize bytes, at least 255 to hold any value). def may
// be NULL (no default, the same as ""). Returns the number of characters stored; 0 with ""
// in dest when the key is absent and the default is empty.
int ReadHostSetting(const char *file, const char *section, const char *key, const char *def,
                    char *dest, size_t destSize);

// Writes key of section; the platform creates the file, section or key as needed. Failures
// go unnoticed by design: no caller looks at them.
void WriteHostSetting(const char *section, const char *key, const char *value,
                      const char *file);

// "HelpFile" in "Run-Time Options": the help file's full path, "" when absent.
void GetHelpFile(char *dest, size_t destSize);

// The program directory: the folder of "HelpFile" in "Run-Time Options", "" when that is
// absent. dest holds destSize bytes (260 is enough for any value read).
void GetProgramDirectory(char *dest, size_t destSize);

// The host application's main window as recorded under "hWnd"; 0 when none is recorded.
// The handle may be stale: callers that act on it confirm it by its title first.
PlatWindow GetHostWindow(void);
