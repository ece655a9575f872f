// The program group in the Start menu and the desktop shortcuts.
#pragma once
#include <cstddef>
#include "../platform/plat_types.h"

// Every path here holds 260 characters with its terminator; the link file's path must also
// become at most 260 UTF-16 units. A row whose path would not fit is skipped.
const size_t kShortcutPathSize = 260;
const int kLinkPathUnits = 260;

// Deletes the two old desktop names, makes the program group with its five shortcuts and
// copies the first two to the desktop. Nothing is reported.
void CreateShortcuts(PlatWindow owner);
// Deletes every ".lnk" of the program group, the group folder if it is then empty, and the
// two desktop shortcuts. Does not read the host settings file.
void RemoveShortcuts(PlatWindow owner);

// Writes one shortcut file through the shell link object (icon index 0), unless the link
// file's path would not fit 260 UTF-16 units.
void MakeShortcut(const char *target, const char *arguments, const char *iconFile,
                  const char *linkFile);

// The desktop folder and the Start-menu folder: the all-users folder asked with owner,
// else the user's own asked with no owner. dest is "" when neither has a path.
void GetDesktopFolder(PlatWindow owner, char *dest, size_t destSize);
void GetStartMenuFolder(PlatWindow owner, char *dest, size_t destSize);
