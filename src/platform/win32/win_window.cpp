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

intptr_t PlatDialogBoxUnicode(int templateId, PlatWindow owner, PlatDialogProc proc,
                              void *context)
{
    PlatDialogProc outerProc = gDialogProc;
    void *outerContext = gDialogContext;
    gDialogProc = proc;
    gDialogContext = context;
    INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId),
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

int PlatGetDlgItemText(PlatWindow window, int controlId, char *dest, int destSize)
{
    if (destSize <= 0)
        return 0;
    dest[0] = '\0';
    return (int)GetDlgItemTextA((HWND)window, controlId, dest, destSize);
}

int PlatGetDlgItemTextUtf16(PlatWindow window, int controlId, unsigned short *dest,
                            int destUnits)
{
    if (destUnits <= 0)
        return 0;
    dest[0] = 0;
    return (int)GetDlgItemTextW((HWND)window, controlId, (LPWSTR)dest, destUnits);
}

void PlatLimitDlgItemText(PlatWindow window, int controlId, int maxChars)
{
    SendDlgItemMessageA((HWND)window, controlId, EM_LIMITTEXT, (WPARAM)maxChars, 0);
}

void PlatEnableDlgItem(PlatWindow window, int controlId, int enabled)
{
    EnableWindow(GetDlgItem((HWND)window, controlId), enabled ? TRUE : FALSE);
}

void PlatCheckDlgButton(PlatWindow window, int controlId, int checked)
{
    CheckDlgButton((HWND)window, controlId, checked ? BST_CHECKED : BST_UNCHECKED);
}

int PlatIsDlgButtonChecked(PlatWindow window, int controlId)
{
    return IsDlgButtonChecked((HWND)window, controlId) == BST_CHECKED ? 1 : 0;
}

void PlatAddComboItem(PlatWindow window, int controlId, const char *text)
{
    SendDlgItemMessageA((HWND)window, controlId, CB_ADDSTRING, 0, (LPARAM)text);
}

void PlatSelectComboItem(PlatWindow window, int controlId, int index)
{
    SendDlgItemMessageA((HWND)window, controlId, CB_SETCURSEL, (WPARAM)index, 0);
}

int PlatGetComboSelection(PlatWindow window, int controlId)
{
    LRESULT index = SendDlgItemMessageA((HWND)window, controlId, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : (int)index;
}

void PlatFocusDlgItem(PlatWindow window, int controlId)
{
    HWND control = GetDlgItem((HWND)window, controlId);
    if (control)
        SendMessageA((HWND)window, WM_NEXTDLGCTL, (WPARAM)control, TRUE);
}
