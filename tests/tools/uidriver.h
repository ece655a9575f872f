// The UI driver's shared parts: subcommand registration and the window helpers every
// subcommand uses. To add a subcommand, write tests/tools/uidriver_<area>.cpp with
//
//     static int RunMine(int argc, char **argv) { ... return 0; }
//     static UiCommandHook hook("mine", RunMine, "mine <args>   what it does");
//
// (argv[0] is the subcommand's name). The build links every uidriver*.cpp into uidriver.exe.
// Exit codes of subcommands: 0 done, 1 the awaited thing did not happen in time, 2 the
// window or control was not found, 126 bad usage.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

typedef int (*UiCommandFn)(int argc, char **argv);

struct UiCommandHook {
    UiCommandHook(const char *name, UiCommandFn run, const char *usage);
};

// --- windows of other processes ---

// The text of a window or control (WM_GETTEXT with a time-out, so a hung target cannot
// hang the driver), as UTF-8.
std::string UiWindowText(HWND window);
std::string UiClassName(HWND window);
DWORD UiWindowPid(HWND window);

// Top-level windows of class #32770 (dialogs and message boxes) whose caption contains
// captionPart (all of them when it is empty), excluding the driver's own windows.
std::vector<HWND> UiFindDialogs(const char *captionPart);

// The first such dialog, waiting up to timeoutMs for it to appear; 0 when none did.
HWND UiWaitDialog(const char *captionPart, DWORD timeoutMs);

// A message box is a dialog with the static text control 0xFFFF.
bool UiIsMessageBox(HWND dialog);

// Presses a button of a dialog of another process: posts WM_COMMAND (id, BN_CLICKED) as a
// click would. Returns false when the dialog is gone.
bool UiPressButton(HWND dialog, int controlId);

// Parses a button id: a number, or ok, cancel, abort, retry, ignore, yes, no, close, help,
// tryagain, continue. Returns -1 when it is neither; 0 for "none".
int UiParseButtonId(const char *text);

// The children of a dialog as a JSON array of {id, class, text, visible} (direct children).
std::string UiControlsJson(HWND dialog);

// Which standard icon a message box shows: "information", "exclamation", "question",
// "error", "none", or "unknown" when there is an icon that matched no standard one. The
// icon is compared pixel by pixel with the standard icons drawn by this process.
std::string UiMessageBoxIcon(HWND box);
