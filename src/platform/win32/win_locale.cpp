// Win32 side of the locale seam: the system's ANSI code page, in which the host application
// writes its files.
#include <windows.h>

#include "../plat_locale.h"

unsigned PlatAnsiCodePage(void) { return GetACP(); }
