// Win32 side of the dialog-window seam: the modal dialog from a template, its controls,
// timers and fonts.
#include <windows.h>

#include "../plat_window.h"

// The plain procedure of the one modal dialog that runs at a time, and its context.
static PlatDialogProc gDialogProc;
static void *gDialogContext;

static INT_PTR CALLBACK DialogThunk(HWND window, UINT message, WPARAM first, LPARAM second)
{
    if (!gDialogProc)
        return FALSE;
    return (INT_PTR)gDialogProc(gDialogContext, (PlatWindow)window, message, (uintptr_t)first,
                                (intptr_t)second);
}

intptr_t PlatDialogBox(int templateId, PlatWindow owner, PlatDialogProc proc, void *context)
{
    PlatDialogProc outerProc = gDialogProc;
    void *outerContext = gDialogContext;
    gDialogProc = proc;
    gDialogContext = context;
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId),
                                     (HWND)owner, DialogThunk, 0);
    gDialogProc = outerProc;
    gDialogContext = outerContext;
    return (intptr_t)result;
}

void PlatEndDialog(PlatWindow window, intptr_t result) { EndDialog((HWND)window, (INT_PTR)result); }

void PlatSetDlgItemText(PlatWindow window, int controlId, const char *text)
{
    SetDlgItemTextA((HWND)window, controlId, text);
}

void PlatSetTimer(PlatWindow window, uintptr_t timerId, unsigned milliseconds)
{
    SetTimer((HWND)window, (UINT_PTR)timerId, milliseconds, nullptr);
}

void PlatKillTimer(PlatWindow window, uintptr_t timerId) { KillTimer((HWND)window, (UINT_PTR)timerId); }

void PlatSendCommand(PlatWindow window, int commandId)
{
    SendMessageA((HWND)window, WM_COMMAND, (WPARAM)commandId, 0);
}

PlatFont PlatCreateFont(int height, int weight, const char *face)
{
    return (PlatFont)CreateFontA(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, 0,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                 DEFAULT_PITCH, face);
}

void PlatDeleteFont(PlatFont font)
{
    if (font)
        DeleteObject((HGDIOBJ)font);
}

void PlatSetControlFont(PlatWindow window, int controlId, PlatFont font, int redraw)
{
    SendDlgItemMessageA((HWND)window, controlId, WM_SETFONT, (WPARAM)font, MAKELPARAM(redraw, 0));
}
