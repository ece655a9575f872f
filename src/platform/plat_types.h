// Plain types shared by every seam header. Nothing above the seam sees a Windows type:
// windows, sockets, searches and registry keys travel as opaque integers.
#pragma once
#include <cstddef>
#include <cstdint>

typedef uintptr_t PlatWindow;   // a window handle; 0 means none
typedef uintptr_t PlatSocket;   // a socket; PLAT_INVALID_SOCKET when there is none
typedef uintptr_t PlatFind;     // a directory search; 0 when none was started
typedef uintptr_t PlatKey;      // an open registry key; 0 when none
typedef uintptr_t PlatRoot;     // a predefined registry root (PLAT_HKCR, PLAT_HKLM)
typedef uintptr_t PlatFont;     // a font; 0 when none could be made
typedef uintptr_t PlatItemList; // a shell item identifier list; 0 when none

const PlatSocket PLAT_INVALID_SOCKET = ~(PlatSocket)0;

// The registry roots, by the values Windows gives them (so the fake can print them).
const PlatRoot PLAT_HKCR = 0x80000000u;
const PlatRoot PLAT_HKLM = 0x80000002u;

// Window messages and message-box styles, by their Windows numbers.
const unsigned PLAT_WM_INITDIALOG = 0x0110;
const unsigned PLAT_WM_COMMAND = 0x0111;
const unsigned PLAT_WM_TIMER = 0x0113;
const unsigned PLAT_WM_USER = 0x0400;
const unsigned PLAT_MB_OK = 0x0;
const unsigned PLAT_MB_ICONINFORMATION = 0x40;
const unsigned PLAT_MB_ICONEXCLAMATION = 0x30;
const int PLAT_SW_SHOWNORMAL = 1;
const int PLAT_SW_SHOWMAXIMIZED = 3;
