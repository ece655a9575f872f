// Seam: message boxes, other programs' windows, the keyboard, the screen and the help engine.
#pragma once
#include "plat_types.h"

// MessageBoxA. Returns the button pressed.
int PlatMessageBox(PlatWindow owner, const char *text, const char *caption, unsigned style);

// GetWindowTextA into dest (destSize characters with the terminator). A handle that names
// no window gives "" and 0.
int PlatGetWindowText(PlatWindow window, char *dest, int destSize);
void PlatSetForegroundWindow(PlatWindow window);
void PlatShowWindow(PlatWindow window, int showCommand);

void PlatSleep(unsigned milliseconds);

// The keyboard: VkKeyScanA, OemKeyScan, CharToOemA for one character, MapVirtualKeyA,
// keybd_event.
unsigned PlatVkKeyScan(char ch);
unsigned PlatOemKeyScan(unsigned char oemChar);
unsigned char PlatCharToOem(char ch);
unsigned PlatMapVirtualKey(unsigned code, unsigned mapType);
void PlatKeybdEvent(unsigned char virtualKey, unsigned char scanCode, unsigned flags);

// GetActiveWindow of the calling thread.
PlatWindow PlatGetActiveWindow(void);
// GetDC(window) (0: the whole screen), GetDeviceCaps(index), ReleaseDC. 0 when no device
// context can be had.
int PlatGetDeviceCaps(PlatWindow window, int index);

// WinHelpA. data is the command's data word (a number, or a pointer for the key commands).
int PlatWinHelp(PlatWindow owner, const char *helpFile, unsigned command, uintptr_t data);

// The process command line as the system gives it (GetCommandLineA), program name included.
const char *PlatGetCommandLine(void);
