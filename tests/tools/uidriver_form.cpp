// uidriver.exe form: fills in and works a dialog of another process by control ids, in one
// run, for the Email Setup tests.
//
//   uidriver.exe form CAPTION_PART ACTION...
//       Waits up to 10 s for the dialog, then carries out each action in order and prints
//       one JSON line for each that reports:
//         click=ID            posts BM_CLICK to the control, as a mouse click would (a radio
//                             button is checked, a push button pressed; a disabled one ignores it)
//         text=ID:TEXT        WM_SETTEXT, the text as given (the ANSI code page)
//         textw=ID:HEX        WM_SETTEXT of UTF-16LE given in hex digits (any character)
//         select=ID:INDEX     CB_SETCURSEL, then CBN_SELCHANGE to the dialog
//         sleep=MS
//         state               {"action":"state","controls":[{id,class,text,enabled,checked,
//                             selection}]} (checked for buttons, selection for combo boxes)
//         waittext=ID:PART:MS until the control's text contains PART (MS at most):
//                             {"action":"waittext","found","ms","text","slowest_ms"}, ms since
//                             the last click, slowest_ms the longest the window took to answer
//                             one WM_GETTEXT meanwhile (a window whose thread is held answers
//                             none until it is free again)
//         waitbox=MS          until a message box is up: {"action":"waitbox","found","text"}
//         nobox=MS            until no message box is up
//         gone=MS             until the dialog has gone: {"action":"gone","found","ms"}
//       Exit code 0, 2 when the dialog was not found, 126 for an action not understood.
#include "uidriver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tool_json.h"

static const DWORD kAnswerTimeoutMs = 5000;

// The text of a control, and how long the window took to give it (-1: it did not, in time).
static std::string TimedText(HWND control, long long *tookMs)
{
    wchar_t text[2048] = L"";
    DWORD_PTR length = 0;
    DWORD start = GetTickCount();
    LRESULT ok = SendMessageTimeoutW(control, WM_GETTEXT, sizeof text / sizeof text[0],
                                     (LPARAM)text, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &length);
    *tookMs = ok ? (long long)(GetTickCount() - start) : -1;
    return ToolWideToUtf8(text);
}

static bool AnyMessageBox(DWORD pid)
{
    for (HWND dialog : UiFindDialogs(""))
        if (UiIsMessageBox(dialog) && UiWindowPid(dialog) == pid)
            return true;
    return false;
}

static std::string MessageBoxText(DWORD pid)
{
    for (HWND dialog : UiFindDialogs(""))
        if (UiIsMessageBox(dialog) && UiWindowPid(dialog) == pid)
            return UiWindowText(GetDlgItem(dialog, 0xFFFF));
    return std::string();
}

static void PrintState(HWND dialog)
{
    std::string out;
    ToolJsonOpen(out);
    ToolJsonAddText(out, "action", "state");
    std::string controls = "[";
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        std::string one;
        ToolJsonOpen(one);
        ToolJsonAddNumber(one, "id", GetDlgCtrlID(child) & 0xFFFF);
        std::string cls = UiClassName(child);
        ToolJsonAddText(one, "class", cls);
        ToolJsonAddText(one, "text", UiWindowText(child));
        ToolJsonAddBool(one, "enabled", IsWindowEnabled(child) != 0);
        DWORD_PTR answer = 0;
        if (_stricmp(cls.c_str(), "Button") == 0) {
            SendMessageTimeoutW(child, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs,
                                &answer);
            ToolJsonAddBool(one, "checked", answer == BST_CHECKED);
        } else if (_stricmp(cls.c_str(), "ComboBox") == 0) {
            SendMessageTimeoutW(child, CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs,
                                &answer);
            ToolJsonAddNumber(one, "selection", (long long)(LRESULT)answer);
        }
        ToolJsonClose(one);
        if (controls.size() > 1)
            controls += ",";
        controls += one;
    }
    controls += "]";
    ToolJsonAddRaw(out, "controls", controls);
    ToolJsonClose(out);
    puts(out.c_str());
}

// "ID:REST" into id and rest.
static bool SplitId(const char *arg, int &id, const char **rest)
{
    char *end = nullptr;
    long value = strtol(arg, &end, 0);
    if (end == arg || value < 0 || value > 0xFFFF)
        return false;
    id = (int)value;
    *rest = *end == ':' ? end + 1 : end;
    return *end == ':' || *end == '\0';
}

static std::wstring FromHex(const char *hex)
{
    std::wstring out;
    size_t n = strlen(hex);
    for (size_t i = 0; i + 4 <= n; i += 4) {
        int b[4];
        for (int k = 0; k < 4; k++)
            b[k] = ToolHexDigit(hex[i + k]);
        out += (wchar_t)((b[0] << 4 | b[1]) | (b[2] << 4 | b[3]) << 8);
    }
    return out;
}

static int RunForm(int argc, char **argv)
{
    if (argc < 2)
        return 126;
    HWND dialog = UiWaitDialog(argv[1], 10000);
    if (!dialog)
        return 2;
    DWORD pid = UiWindowPid(dialog);
    DWORD lastClick = GetTickCount();
    for (int i = 2; i < argc; i++) {
        const char *arg = argv[i];
        const char *eq = strchr(arg, '=');
        std::string verb = eq ? std::string(arg, (size_t)(eq - arg)) : std::string(arg);
        const char *value = eq ? eq + 1 : "";
        int id = 0;
        const char *rest = "";
        DWORD_PTR answer = 0;
        std::string out;
        ToolJsonOpen(out);
        ToolJsonAddText(out, "action", verb);
        if (verb == "click" && SplitId(value, id, &rest)) {
            lastClick = GetTickCount();
            PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
            continue;
        } else if (verb == "text" && SplitId(value, id, &rest)) {
            SendMessageTimeoutA(GetDlgItem(dialog, id), WM_SETTEXT, 0, (LPARAM)rest,
                                SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &answer);
            continue;
        } else if (verb == "textw" && SplitId(value, id, &rest)) {
            std::wstring text = FromHex(rest);
            SendMessageTimeoutW(GetDlgItem(dialog, id), WM_SETTEXT, 0, (LPARAM)text.c_str(),
                                SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &answer);
            continue;
        } else if (verb == "select" && SplitId(value, id, &rest)) {
            HWND combo = GetDlgItem(dialog, id);
            SendMessageTimeoutW(combo, CB_SETCURSEL, (WPARAM)atoi(rest), 0, SMTO_ABORTIFHUNG,
                                kAnswerTimeoutMs, &answer);
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), (LPARAM)combo);
            continue;
        } else if (verb == "sleep") {
            Sleep((DWORD)atoi(value));
            continue;
        } else if (verb == "state") {
            PrintState(dialog);
            continue;
        } else if (verb == "waittext" && SplitId(value, id, &rest)) {
            const char *colon = strrchr(rest, ':');
            std::string part = colon ? std::string(rest, (size_t)(colon - rest)) : rest;
            DWORD limit = colon ? (DWORD)atoi(colon + 1) : 10000;
            DWORD start = GetTickCount();
            long long slowest = 0, took = 0;
            bool found = false;
            std::string text;
            while (GetTickCount() - start < limit) {
                text = TimedText(GetDlgItem(dialog, id), &took);
                if (took < 0 || took > slowest)
                    slowest = took < 0 ? (long long)kAnswerTimeoutMs : took;
                if (text.find(part) != std::string::npos) {
                    found = true;
                    break;
                }
                Sleep(1);
            }
            ToolJsonAddBool(out, "found", found);
            ToolJsonAddNumber(out, "ms", (long long)(GetTickCount() - lastClick));
            ToolJsonAddText(out, "text", text);
            ToolJsonAddNumber(out, "slowest_ms", slowest);
        } else if (verb == "waitbox" || verb == "nobox" || verb == "gone") {
            DWORD start = GetTickCount(), limit = (DWORD)atoi(value);
            bool found = false;
            while (!found) {
                found = verb == "waitbox" ? AnyMessageBox(pid)
                        : verb == "nobox" ? !AnyMessageBox(pid)
                                          : !IsWindow(dialog);
                if (found || GetTickCount() - start >= limit)
                    break;
                Sleep(5);
            }
            ToolJsonAddBool(out, "found", found);
            ToolJsonAddNumber(out, "ms", (long long)(GetTickCount() - lastClick));
            if (verb == "waitbox")
                ToolJsonAddText(out, "text", MessageBoxText(pid));
        } else {
            return 126;
        }
        ToolJsonClose(out);
        puts(out.c_str());
        fflush(stdout);
    }
    return 0;
}

static UiCommandHook gFormHook("form", RunForm, "form CAPTION_PART ACTION...   see uidriver_form.cpp");
