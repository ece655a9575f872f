// uihook.dll: a window-procedure hook that the UI driver installs system-wide, so that it
// runs inside the program under test and sees every text a dialog's control is given, even
// texts replaced a moment later (which polling from outside cannot see).
//
// In every process it is loaded into, the hook looks at WM_SETTEXT sent to a window whose
// top-level window is a dialog (#32770). When that process has the environment variable
// TW_UI_TEXT_LOG (a Windows path; the tests give it to the program they start), it appends
// one JSON line there, with the text the control holds once it has taken it:
//   {"event":"settext","tick":N,"pid":N,"top":HWND,"hwnd":HWND,"id":N,"text":"..."}
// Processes without the variable are left alone.
#include <windows.h>

#include <string>

#include "tool_json.h"

static bool ReadLogPath(char *path, DWORD size)
{
    DWORD n = GetEnvironmentVariableA("TW_UI_TEXT_LOG", path, size);
    return n > 0 && n < size;
}

// A WH_CALLWNDPROCRET hook: it runs after the control has taken the text, and reads it back
// from the control itself (in this process, so the text is exact whatever form, ANSI or
// wide, the sender used).
extern "C" __declspec(dllexport) LRESULT CALLBACK TwCallWndProcRet(int code, WPARAM wParam,
                                                                   LPARAM lParam)
{
    if (code == HC_ACTION) {
        const CWPRETSTRUCT *message = (const CWPRETSTRUCT *)lParam;
        char path[MAX_PATH];
        if (message->message == WM_SETTEXT && ReadLogPath(path, sizeof path)) {
            HWND top = GetAncestor(message->hwnd, GA_ROOT);
            char cls[64] = "";
            GetClassNameA(top, cls, sizeof cls);
            if (lstrcmpA(cls, "#32770") == 0) {
                wchar_t text[4096];
                int n = GetWindowTextW(message->hwnd, text, sizeof text / sizeof text[0]);
                std::string line;
                ToolJsonOpen(line);
                ToolJsonAddText(line, "event", "settext");
                ToolJsonAddNumber(line, "tick", (long long)GetTickCount());
                ToolJsonAddNumber(line, "pid", (long long)GetCurrentProcessId());
                ToolJsonAddNumber(line, "top", (long long)(uintptr_t)top);
                ToolJsonAddNumber(line, "hwnd", (long long)(uintptr_t)message->hwnd);
                ToolJsonAddNumber(line, "id", (long long)(GetDlgCtrlID(message->hwnd) & 0xFFFF));
                ToolJsonAddText(line, "text", ToolWideToUtf8(text, n > 0 ? n : 0));
                ToolJsonClose(line);
                line += '\n';
                ToolAppendLine(path, line, 1);  // inside the program under test: never wait
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
