// help_engine.cpp, built as winhlp32.exe: a stand-in for the Windows help engine. WinHelpA
// looks for a window of class "MS_WINHELP", starts "winhlp32.exe -x" when there is none,
// and hands each request over in a WM_COPYDATA message holding a WINHELP record. This
// stand-in creates that window and logs every request as one JSON line:
//   command   the help command (1 context, 2 quit, 0x105 partial key, ...)
//   file      the help file's path as given
//   data      the data word, a number (context commands, quit), or for the key
//             commands "key": the text the data word pointed at
//   size, ofsFilename, ofsData, recordData: the raw record, for diagnosis
//   cmdline   how this engine was started
// The log is TW_HELP_LOG, or "help_engine.log" beside the executable. The engine ends on
// HELP_QUIT or after TW_HELP_LIFETIME_MS (default 20000) without a request.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "tool_json.h"

// The record WinHelpA sends, as the help engine receives it.
#pragma pack(push, 1)
struct HelpRecord {
    WORD size;
    WORD command;
    LONG data;
    LONG reserved;
    WORD ofsFilename;
    WORD ofsData;
};
#pragma pack(pop)

static const ULONG_PTR kHelpCopyDataId = 0xA1DE505;
static const UINT_PTR kLifetimeTimer = 1;
static std::string gLogPath;
static UINT gLifetimeMs = 20000;

// A text inside the record at offset, bounded by the record's end.
static std::string RecordText(const char *record, size_t size, size_t offset)
{
    if (offset < sizeof(HelpRecord) || offset >= size)
        return std::string();
    return std::string(record + offset, strnlen(record + offset, size - offset));
}

static void LogRequest(const COPYDATASTRUCT *copy)
{
    const char *bytes = (const char *)copy->lpData;
    size_t size = copy->cbData;
    std::string line;
    ToolJsonOpen(line);
    ToolJsonAddText(line, "event", "request");
    ToolJsonAddNumber(line, "tick", (long long)GetTickCount());
    if (copy->dwData != kHelpCopyDataId || size < sizeof(HelpRecord)) {
        ToolJsonAddText(line, "error", "not a help record");
    } else {
        HelpRecord record;
        memcpy(&record, bytes, sizeof record);
        ToolJsonAddNumber(line, "command", record.command);
        ToolJsonAddText(line, "file", ToolAnsiToUtf8(
                                          RecordText(bytes, size, record.ofsFilename).c_str()));
        bool keyed = record.command == HELP_KEY || record.command == HELP_PARTIALKEY ||
                     record.command == HELP_COMMAND;
        if (keyed) {
            ToolJsonAddBool(line, "hasKey", record.ofsData >= sizeof(HelpRecord) &&
                                                record.ofsData < size);
            ToolJsonAddText(line, "key",
                            ToolAnsiToUtf8(RecordText(bytes, size, record.ofsData).c_str()));
        } else {
            ToolJsonAddNumber(line, "data", (long long)record.data);
        }
        ToolJsonAddNumber(line, "size", record.size);
        ToolJsonAddNumber(line, "ofsFilename", record.ofsFilename);
        ToolJsonAddNumber(line, "ofsData", record.ofsData);
        ToolJsonAddNumber(line, "recordData", (long long)record.data);
    }
    ToolJsonClose(line);
    line += '\n';
    ToolAppendLine(gLogPath, line);
}

static LRESULT CALLBACK HelpProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COPYDATA: {
        const COPYDATASTRUCT *copy = (const COPYDATASTRUCT *)lParam;
        LogRequest(copy);
        SetTimer(window, kLifetimeTimer, gLifetimeMs, nullptr);
        if (copy->cbData >= sizeof(HelpRecord) &&
            ((const HelpRecord *)copy->lpData)->command == HELP_QUIT)
            PostMessageA(window, WM_CLOSE, 0, 0);
        return TRUE;
    }
    case WM_TIMER:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    char modulePath[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, modulePath, sizeof modulePath);
    gLogPath = ToolEnvValue("TW_HELP_LOG");
    if (gLogPath.empty()) {
        gLogPath = modulePath;
        size_t slash = gLogPath.find_last_of("\\/");
        gLogPath = gLogPath.substr(0, slash + 1) + "help_engine.log";
    }
    std::string lifetime = ToolEnvValue("TW_HELP_LIFETIME_MS");
    if (!lifetime.empty())
        gLifetimeMs = (UINT)strtoul(lifetime.c_str(), nullptr, 10);

    std::string line;
    ToolJsonOpen(line);
    ToolJsonAddText(line, "event", "start");
    ToolJsonAddNumber(line, "tick", (long long)GetTickCount());
    ToolJsonAddText(line, "cmdline", ToolAnsiToUtf8(GetCommandLineA()));
    ToolJsonAddText(line, "path", ToolAnsiToUtf8(modulePath));
    ToolJsonClose(line);
    line += '\n';
    ToolAppendLine(gLogPath, line);

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HelpProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "MS_WINHELP";
    RegisterClassA(&windowClass);
    // Created before the message loop: the starter waits for this process to go idle and
    // then looks for the window at once.
    HWND window = CreateWindowA("MS_WINHELP", "Help stand-in", WS_OVERLAPPED, 0, 0, 10, 10,
                                nullptr, nullptr, instance, nullptr);
    if (!window)
        return 2;
    SetTimer(window, kLifetimeTimer, gLifetimeMs, nullptr);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
