// Win32 side of the user-interface seam.
#include <windows.h>

#include "../plat_ui.h"

int PlatMessageBox(PlatWindow owner, const char *text, const char *caption, unsigned style)
{
    return MessageBoxA((HWND)owner, text, caption, style);
}

int PlatGetWindowText(PlatWindow window, char *dest, int destSize)
{
    if (destSize > 0)
        dest[0] = '\0';
    if (!window || !IsWindow((HWND)window))
        return 0;
    return GetWindowTextA((HWND)window, dest, destSize);
}

void PlatSetForegroundWindow(PlatWindow window) { SetForegroundWindow((HWND)window); }

void PlatShowWindow(PlatWindow window, int showCommand) { ShowWindow((HWND)window, showCommand); }

void PlatSleep(unsigned milliseconds) { Sleep(milliseconds); }

unsigned PlatVkKeyScan(char ch) { return (unsigned)(unsigned short)VkKeyScanA(ch); }

unsigned PlatOemKeyScan(unsigned char oemChar) { return (unsigned)OemKeyScan(oemChar); }

unsigned char PlatCharToOem(char ch)
{
    char in[2] = {ch, '\0'};
    char out[2] = {0, 0};
    CharToOemA(in, out);
    return (unsigned char)out[0];
}

unsigned PlatMapVirtualKey(unsigned code, unsigned mapType) { return MapVirtualKeyA(code, mapType); }

void PlatKeybdEvent(unsigned char virtualKey, unsigned char scanCode, unsigned flags)
{
    keybd_event(virtualKey, scanCode, flags, 0);
}

PlatWindow PlatGetActiveWindow(void) { return (PlatWindow)GetActiveWindow(); }

int PlatGetDeviceCaps(PlatWindow window, int index)
{
    HDC dc = GetDC((HWND)window);
    if (!dc)
        return 0;
    int value = GetDeviceCaps(dc, index);
    ReleaseDC((HWND)window, dc);
    return value;
}

int PlatWinHelp(PlatWindow owner, const char *helpFile, unsigned command, uintptr_t data)
{
    return WinHelpA((HWND)owner, helpFile, command, (ULONG_PTR)data);
}

const char *PlatGetCommandLine(void) { return GetCommandLineA(); }
