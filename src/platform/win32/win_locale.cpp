// Win32 side of the locale seam: the system's ANSI code page, in which the host application
// writes its files, and its lead bytes.
#include <windows.h>

#include "../plat_locale.h"

unsigned PlatAnsiCodePage(void) { return GetACP(); }

void PlatGetLeadBytes(unsigned codePage, bool leadBytes[256])
{
    for (int b = 0; b < 256; b++)
        leadBytes[b] = IsDBCSLeadByteEx(codePage, (BYTE)b) != FALSE;
}
