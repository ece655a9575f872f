// Win32 side of the dialog-window seam: the modal dialog from a template, its controls,
// timers and fonts.
#include <windows.h>

#include "../plat_window.h"

// A dialog's plain procedure and its context, on the stack of the PlatDialogBox that runs it.
// Each window keeps its own in DWLP_USER from WM_INITDIALOG on, so that a dialog opened from
// inside another (a sign-in or a check from Email Setup) gets its own messages and timers,
// and the outer one's again once it has ended. What comes before WM_INITDIALOG (WM_SETFONT)
// is left to the dialog manager, as no procedure of ours handles it.
struct DialogBinding {
    PlatDialogProc proc;
    void *context;
};

static INT_PTR CALLBACK DialogThunk(HWND window, UINT message, WPARAM first, LPARAM second)
{
    DialogBinding *binding;
    if (message == WM_INITDIALOG) {
        binding = (DialogBinding *)second;
        SetWindowLongPtrW(window, DWLP_USER, (LONG_PTR)binding);
        second = 0;  // the procedures are given no parameter of their own
    } else {
        binding = (DialogBinding *)GetWindowLongPtrW(window, DWLP_USER);
    }
    if (!binding || !binding->proc)
        return FALSE;
    return (INT_PTR)binding->proc(binding->context, (PlatWindow)window, message,
                                  (uintptr_t)first, (intptr_t)second);
}

intptr_t PlatDialogBox(int templateId, PlatWindow owner, PlatDialogProc proc, void *context)
{
    DialogBinding binding = {proc, context};
    return (intptr_t)DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId),
                                     (HWND)owner, DialogThunk, (LPARAM)&binding);
}

intptr_t PlatDialogBoxUnicode(int templateId, PlatWindow owner, PlatDialogProc proc,
                              void *context)
{
    DialogBinding binding = {proc, context};
    return (intptr_t)DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId),
                                     (HWND)owner, DialogThunk, (LPARAM)&binding);
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
