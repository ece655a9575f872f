// msgbox.exe: shows one message box, for the harness's own tests of the UI driver.
//
//   msgbox.exe STYLE CAPTION TEXT [OWNER_TITLE]
//   msgbox.exe --texts CAPTION TEXT1 TEXT2 ...
//
// The second form makes a dialog-class window with a static control (id 1012), gives the
// control each text in turn without pausing, then waits 300 ms and ends (exit code 0).
//
// STYLE is the MessageBoxA style (decimal or 0x hex). With OWNER_TITLE the box is owned by
// a visible top-level window of that title, made for the purpose. "\n" in TEXT stands for
// a line break. The exit code is the button that closed the box (0 on failure).
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

static LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

static int ShowTexts(int argc, char **argv)
{
    HWND dialog = CreateWindowExA(0, "#32770", argv[2], WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0,
                                  300, 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!dialog)
        return 1;
    HWND status = CreateWindowExA(0, "Static", "", WS_CHILD | WS_VISIBLE, 5, 5, 280, 20, dialog,
                                  (HMENU)(INT_PTR)1012, GetModuleHandleA(nullptr), nullptr);
    for (int i = 3; i < argc; i++)
        SetWindowTextA(status, argv[i]);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 300) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(10);
    }
    DestroyWindow(dialog);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc >= 3 && strcmp(argv[1], "--texts") == 0)
        return ShowTexts(argc, argv);
    if (argc < 4)
        return 0;
    unsigned style = (unsigned)strtoul(argv[1], nullptr, 0);
    std::string text;
    for (const char *p = argv[3]; *p; p++) {
        if (p[0] == '\\' && p[1] == 'n') {
            text += '\n';
            p++;
        } else {
            text += *p;
        }
    }
    HWND owner = nullptr;
    if (argc >= 5) {
        WNDCLASSA cls;
        ZeroMemory(&cls, sizeof cls);
        cls.lpfnWndProc = OwnerProc;
        cls.hInstance = GetModuleHandleA(nullptr);
        cls.lpszClassName = "TillwickTestOwner";
        RegisterClassA(&cls);
        owner = CreateWindowA("TillwickTestOwner", argv[4], WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                              0, 300, 200, nullptr, nullptr, cls.hInstance, nullptr);
    }
    int result = MessageBoxA(owner, text.c_str(), argv[2], style);
    if (owner)
        DestroyWindow(owner);
    return result;
}
