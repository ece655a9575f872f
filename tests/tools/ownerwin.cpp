// ownerwin.exe: a stand-in for the host application's main window, for tests of what the
// utility shows owned by that window. It opens one top-level window, records its handle
// under "hWnd" in section "Microsoft Access" of Tillwick.ini (as the host does before it
// starts the utility), prints the handle as a decimal number on a line of its own, and runs
// until it is closed, a stop file appears or its time is up.
//
//   ownerwin.exe <title> [seconds] [stopfile]
//
// seconds defaults to 60. The window is visible but never made foreground on purpose.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

static LRESULT CALLBACK OwnerWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: ownerwin.exe <title> [seconds] [stopfile]\n");
        return 2;
    }
    const char *title = argv[1];
    int seconds = argc > 2 ? atoi(argv[2]) : 60;
    const char *stopFile = argc > 3 ? argv[3] : nullptr;
    if (seconds <= 0)
        seconds = 60;

    WNDCLASSA wc = {};
    wc.lpfnWndProc = OwnerWndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = "TillwickOwnerStandIn";
    if (!RegisterClassA(&wc))
        return 3;
    HWND hwnd = CreateWindowExA(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW, 40, 40, 480,
                                320, nullptr, nullptr, wc.hInstance, nullptr);
    if (!hwnd)
        return 4;
    ShowWindow(hwnd, SW_SHOWNOACTIVATE);

    char number[32];
    snprintf(number, sizeof number, "%llu", (unsigned long long)(uintptr_t)hwnd);
    WritePrivateProfileStringA("Microsoft Access", "hWnd", number, "Tillwick.ini");
    printf("%s\n", number);
    fflush(stdout);

    SetTimer(hwnd, 1, 100, nullptr);
    DWORD deadline = GetTickCount() + (DWORD)seconds * 1000u;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == hwnd) {
            bool stop = (int)(GetTickCount() - deadline) >= 0;
            if (stopFile && GetFileAttributesA(stopFile) != INVALID_FILE_ATTRIBUTES)
                stop = true;
            if (stop)
                DestroyWindow(hwnd);
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
