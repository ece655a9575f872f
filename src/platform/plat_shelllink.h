// Seam: the shell's special folders and the shell link object. Which folder to ask for,
// what to do when there is none and whether a path fits are decided above the seam.
#pragma once
#include "plat_types.h"

// Special-folder numbers, by their Windows values.
const int PLAT_CSIDL_STARTMENU = 0x000B;
const int PLAT_CSIDL_DESKTOPDIRECTORY = 0x0010;
const int PLAT_CSIDL_APPDATA = 0x001A;
const int PLAT_CSIDL_COMMON_STARTMENU = 0x0016;
const int PLAT_CSIDL_COMMON_DESKTOPDIRECTORY = 0x0019;

// SHGetSpecialFolderLocation(owner, csidl) and SHGetPathFromIDListA; the item list is freed
// with the shell's allocator (SHGetMalloc, Free, Release) before returning. The path goes to
// dest, which holds destSize characters with the terminator. Returns 1 when a path was read
// (it may be empty); 0 when the folder has no path or the path does not fit (dest is then "").
int PlatGetSpecialFolderPath(PlatWindow owner, int csidl, char *dest, int destSize);

// MultiByteToWideChar(CP_ACP) without a destination: the number of UTF-16 units that
// linkFile becomes, terminator included; 0 when it cannot be converted.
int PlatLinkPathUnits(const char *linkFile);

// Writes one shortcut file: CoInitialize, CoCreateInstance(CLSID_ShellLink, IID_IShellLinkA),
// QueryInterface(IID_IPersistFile), SetPath(target), SetArguments(arguments),
// SetIconLocation(iconFile, iconIndex), linkFile converted to UTF-16 with CP_ACP into 260
// units, Save(path, TRUE), both interfaces released, CoUninitialize. Nothing else is set.
// An existing file is replaced. Returns 1 when the file was saved, 0 when any step failed
// (also when linkFile needs more than 260 units).
int PlatSaveShellLink(const char *target, const char *arguments, const char *iconFile,
                      int iconIndex, const char *linkFile);
