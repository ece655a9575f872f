// Seam: the modal dialog windows made from the program's dialog templates, their controls,
// their timers and their fonts.
#pragma once
#include "plat_types.h"

// A dialog procedure in plain types: context is what PlatDialogBox was given (the state the
// window works on, owned by the caller). Returns nonzero when the message was handled (for
// WM_INITDIALOG: nonzero lets the platform give the default focus).
typedef intptr_t (*PlatDialogProc)(void *context, PlatWindow window, unsigned message,
                                   uintptr_t first, intptr_t second);

// DialogBoxParamA with the program's template templateId: runs the dialog modally and returns
// the result given to PlatEndDialog (-1 also when the window cannot be made). Every message of
// the window from WM_INITDIALOG on reaches proc with context (second is 0 for WM_INITDIALOG).
// A dialog may run another from inside: each window's messages reach its own proc; an owner
// given is disabled while the dialog runs.
intptr_t PlatDialogBox(int templateId, PlatWindow owner, PlatDialogProc proc, void *context);

// DialogBoxParamW: as PlatDialogBox, but the window and its controls are Unicode windows, so
// that an edit control keeps every character typed, also one outside the ANSI code page (read
// it with PlatGetDlgItemTextUtf16); the A calls below convert through the code page as ever.
intptr_t PlatDialogBoxUnicode(int templateId, PlatWindow owner, PlatDialogProc proc,
                              void *context);

// EndDialog: the modal loop ends once the current message has been handled.
void PlatEndDialog(PlatWindow window, intptr_t result);

// SetDlgItemTextA: the control shows text at once.
void PlatSetDlgItemText(PlatWindow window, int controlId, const char *text);

// SetTimer / KillTimer of the window's timer timerId. Killing a stopped timer is harmless.
void PlatSetTimer(PlatWindow window, uintptr_t timerId, unsigned milliseconds);
void PlatKillTimer(PlatWindow window, uintptr_t timerId);

// SendMessageA(window, WM_COMMAND, commandId, 0): returns once the window has handled it.
void PlatSendCommand(PlatWindow window, int commandId);

// CreateFontA(height, 0, 0, 0, weight, no italic, underline or strike-out, character set 0,
// default output and clipping precision, default quality and pitch, face). 0 on failure. The
// caller deletes it with PlatDeleteFont once no window uses it.
PlatFont PlatCreateFont(int height, int weight, const char *face);
void PlatDeleteFont(PlatFont font);

// WM_SETFONT to a control of the window; redraw 0 leaves the redrawing for later.
void PlatSetControlFont(PlatWindow window, int controlId, PlatFont font, int redraw);

// The controls of a form. GetDlgItemTextA into dest (destSize bytes with the terminator; a
// longer text is cut): returns the number of bytes stored. GetDlgItemTextW the same in UTF-16
// units (destUnits with the terminator).
int PlatGetDlgItemText(PlatWindow window, int controlId, char *dest, int destSize);
int PlatGetDlgItemTextUtf16(PlatWindow window, int controlId, unsigned short *dest,
                            int destUnits);
// EM_LIMITTEXT: the edit control takes at most maxChars characters, typed or pasted.
void PlatLimitDlgItemText(PlatWindow window, int controlId, int maxChars);
// EnableWindow of the control: 0 greys it out; it stays visible.
void PlatEnableDlgItem(PlatWindow window, int controlId, int enabled);
// BM_SETCHECK and BM_GETCHECK of a radio button or check box: 1 checked, 0 not.
void PlatCheckDlgButton(PlatWindow window, int controlId, int checked);
int PlatIsDlgButtonChecked(PlatWindow window, int controlId);
// CB_ADDSTRING, CB_SETCURSEL and CB_GETCURSEL of a combo box; -1 is no selection.
void PlatAddComboItem(PlatWindow window, int controlId, const char *text);
void PlatSelectComboItem(PlatWindow window, int controlId, int index);
int PlatGetComboSelection(PlatWindow window, int controlId);
// WM_NEXTDLGCTL: the keyboard focus goes to the control.
void PlatFocusDlgItem(PlatWindow window, int controlId);
