// host_window.exe: a stand-in for the host application's main window. It takes its title
// from its command line (one pair of enclosing quotes removed), records its own handle as "hWnd" in section "Microsoft Access" of
// Tillwick.ini (as the host application does), and logs what happens to it, one JSON line
// per event, so a test can tell that it was brought to the front, maximised, and which keys
// arrived when.
//
// The log is the file named by TW_HOST_LOG, or "host_window.log" beside the executable.
// Events ("event" field), each with "tick" (GetTickCount):
//   ready       the window exists and "hWnd" is written; "hwnd", "title", "zoomed", "foreground"
//   activated   WM_ACTIVATE with the window becoming active
//   foreground  the window became the foreground window (checked every 20 ms)
//   maximized   WM_SIZE with SIZE_MAXIMIZED
//   key         WM_KEYDOWN, WM_KEYUP or WM_CHAR: "msg" (down/up/char), "vk" (the wParam),
//               "ctrl" (Ctrl held, GetKeyState), and "QIFFile"/"QIFFileLong" as they stand in
//               Tillwick.ini at that moment
//   box         a message box owned by this window appeared: "caption", "text", "owner";
//               unless TW_HOST_KEEP_BOXES is set, it is answered with OK at once
//   exit        the window is closing; "zoomed", "foreground"
// The window starts minimised without activation when TW_HOST_SHOW is "minimized" (so that
// bringing it to the front can be seen), shown normally otherwise. It closes by itself after
// TW_HOST_LIFETIME_MS (default 30000) or when it receives WM_CLOSE.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "tool_json.h"

static std::string gLogPath;
static HWND gWindow;
static bool gWasForeground;
static bool gKeepBoxes;
static const UINT_PTR kPollTimer = 1;
static const UINT_PTR kLifetimeTimer = 2;

static std::string Begin(const char *event)
{
    std::string line;
    ToolJsonOpen(line);
    ToolJsonAddText(line, "event", event);
    ToolJsonAddNumber(line, "tick", (long long)GetTickCount());
    return line;
}

static void End(std::string &line)
{
    ToolJsonClose(line);
    line += '\n';
    ToolAppendLine(gLogPath, line);
}

static std::string Setting(const char *key)
{
    char value[512] = "";
    GetPrivateProfileStringA("Microsoft Access", key, "", value, sizeof value, "tillwick.ini");
    return value;
}

static std::string WindowText(HWND window)
{
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

static void LogState(const char *event)
{
    std::string line = Begin(event);
    ToolJsonAddBool(line, "zoomed", IsZoomed(gWindow) != 0);
    ToolJsonAddBool(line, "foreground", GetForegroundWindow() == gWindow);
    End(line);
}

// Message boxes of other processes that this window owns: logged once, then answered.
static BOOL CALLBACK FindOwnedBox(HWND window, LPARAM)
{
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, "#32770") != 0 || GetWindow(window, GW_OWNER) != gWindow)
        return TRUE;
    if (!IsWindowVisible(window) || GetPropA(window, "TwHostSeen"))
        return TRUE;
    SetPropA(window, "TwHostSeen", (HANDLE)1);
    char text[2048] = "";
    GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
    std::string line = Begin("box");
    ToolJsonAddText(line, "caption", ToolAnsiToUtf8(WindowText(window).c_str()));
    ToolJsonAddText(line, "text", ToolAnsiToUtf8(text));
    ToolJsonAddNumber(line, "owner", (long long)(UINT_PTR)GetWindow(window, GW_OWNER));
    End(line);
    if (!gKeepBoxes)
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     (LPARAM)GetDlgItem(window, IDOK));
    return TRUE;
}

static void LogKey(const char *kind, WPARAM key)
{
    std::string line = Begin("key");
    ToolJsonAddText(line, "msg", kind);
    ToolJsonAddNumber(line, "vk", (long long)key);
    ToolJsonAddBool(line, "ctrl", (GetKeyState(VK_CONTROL) & 0x8000) != 0);
    ToolJsonAddText(line, "QIFFile", ToolAnsiToUtf8(Setting("QIFFile").c_str()));
    ToolJsonAddText(line, "QIFFileLong", ToolAnsiToUtf8(Setting("QIFFileLong").c_str()));
    End(line);
}

static LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) {
            std::string line = Begin("activated");
            End(line);
        }
        break;
    case WM_SIZE:
        if (wParam == SIZE_MAXIMIZED) {
            std::string line = Begin("maximized");
            End(line);
        }
        break;
    case WM_KEYDOWN:
        LogKey("down", wParam);
        return 0;
    case WM_KEYUP:
        LogKey("up", wParam);
        return 0;
    case WM_CHAR:
        LogKey("char", wParam);
        return 0;
    case WM_TIMER:
        if (wParam == kLifetimeTimer) {
            DestroyWindow(window);
            return 0;
        }
        if (GetForegroundWindow() == window && !gWasForeground) {
            std::string line = Begin("foreground");
            End(line);
        }
        gWasForeground = GetForegroundWindow() == window;
        EnumWindows(FindOwnedBox, 0);
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        LogState("exit");
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    char modulePath[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, modulePath, sizeof modulePath);
    gLogPath = ToolEnvValue("TW_HOST_LOG");
    if (gLogPath.empty()) {
        gLogPath = modulePath;
        size_t slash = gLogPath.find_last_of("\\/");
        gLogPath = gLogPath.substr(0, slash + 1) + "host_window.log";
    }
    gKeepBoxes = !ToolEnvValue("TW_HOST_KEEP_BOXES").empty();

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "TillwickHostStandIn";
    RegisterClassA(&windowClass);

    // A starter that quotes an argument with blanks (wine does) gives the title in quotes.
    std::string title = ToolSkipProgramName(GetCommandLineA());
    if (title.size() >= 2 && title.front() == '"' && title.back() == '"')
        title = title.substr(1, title.size() - 2);
    gWindow = CreateWindowA("TillwickHostStandIn", title.c_str(), WS_OVERLAPPEDWINDOW, 40, 40, 400,
                            300, nullptr, nullptr, instance, nullptr);
    if (!gWindow)
        return 2;
    bool minimized = ToolEnvValue("TW_HOST_SHOW") == "minimized";
    ShowWindow(gWindow, minimized ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL);
    UpdateWindow(gWindow);

    char handle[32];
    snprintf(handle, sizeof handle, "%llu", (unsigned long long)(UINT_PTR)gWindow);
    WritePrivateProfileStringA("Microsoft Access", "hWnd", handle, "Tillwick.ini");

    gWasForeground = GetForegroundWindow() == gWindow;
    std::string line = Begin("ready");
    ToolJsonAddNumber(line, "hwnd", (long long)(UINT_PTR)gWindow);
    ToolJsonAddText(line, "title", ToolAnsiToUtf8(title.c_str()));
    ToolJsonAddBool(line, "zoomed", IsZoomed(gWindow) != 0);
    ToolJsonAddBool(line, "foreground", gWasForeground);
    ToolJsonAddBool(line, "minimized", IsIconic(gWindow) != 0);
    End(line);

    std::string lifetime = ToolEnvValue("TW_HOST_LIFETIME_MS");
    SetTimer(gWindow, kPollTimer, 20, nullptr);
    SetTimer(gWindow, kLifetimeTimer,
             lifetime.empty() ? 30000 : (UINT)strtoul(lifetime.c_str(), nullptr, 10), nullptr);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
