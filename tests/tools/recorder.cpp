// recorder.exe: a stand-in for any program the utility starts (a browser, a document's
// handler, the host application). Copies of it under other names are registered where the
// real program would be; each start appends one JSON line saying how it was started.
//
// The log is the file named by the environment variable TW_RECORD_LOG (a Windows path), or
// "recorder.log" beside the executable when that is unset. One line, fields:
//   exe      the executable's file name as started (e.g. "browse.exe")
//   path     its full path
//   cmdline  the whole command line (GetCommandLineA)
//   tail     the command line after the program name and the blanks/tabs that follow it
//   argv     the command line split the usual way (CommandLineToArgvW)
//   cwd      the working directory (GetCurrentDirectoryA)
//   flags    STARTUPINFO dwFlags, show: STARTUPINFO wShowWindow (the show state the
//            starter passed; meaningful when flags has STARTF_USESHOWWINDOW, 1)
//   pid, ppid, tick (GetTickCount at start)
// Optional behaviour, from the environment: TW_RECORD_SLEEP_MS keeps the process alive that
// long after writing (to prove the starter does not wait), TW_RECORD_EXIT is the exit code.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <string>

#include "tool_json.h"

static DWORD ParentProcessId(void)
{
    DWORD self = GetCurrentProcessId(), parent = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32First(snap, &entry); ok; ok = Process32Next(snap, &entry)) {
        if (entry.th32ProcessID == self) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    CloseHandle(snap);
    return parent;
}

static std::string ArgvJson(void)
{
    std::string out = "[";
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 0; argv && i < argc; i++) {
        if (i > 0)
            out += ',';
        ToolJsonQuote(out, ToolWideToUtf8(argv[i]));
    }
    if (argv)
        LocalFree(argv);
    out += ']';
    return out;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char modulePath[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, modulePath, sizeof modulePath);
    const char *exeName = modulePath;
    for (const char *p = modulePath; *p; p++)
        if (*p == '\\' || *p == '/')
            exeName = p + 1;

    char cwd[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof cwd, cwd);

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);

    const char *commandLine = GetCommandLineA();

    std::string line;
    ToolJsonOpen(line);
    ToolJsonAddText(line, "exe", ToolAnsiToUtf8(exeName));
    ToolJsonAddText(line, "path", ToolAnsiToUtf8(modulePath));
    ToolJsonAddText(line, "cmdline", ToolAnsiToUtf8(commandLine));
    ToolJsonAddText(line, "tail", ToolAnsiToUtf8(ToolSkipProgramName(commandLine)));
    ToolJsonAddRaw(line, "argv", ArgvJson());
    ToolJsonAddText(line, "cwd", ToolAnsiToUtf8(cwd));
    ToolJsonAddNumber(line, "flags", (long long)startup.dwFlags);
    ToolJsonAddNumber(line, "show", (long long)startup.wShowWindow);
    ToolJsonAddNumber(line, "pid", (long long)GetCurrentProcessId());
    ToolJsonAddNumber(line, "ppid", (long long)ParentProcessId());
    ToolJsonAddNumber(line, "tick", (long long)GetTickCount());
    ToolJsonClose(line);
    line += '\n';

    std::string logPath = ToolEnvValue("TW_RECORD_LOG");
    if (logPath.empty()) {
        std::string dir(modulePath, (size_t)(exeName - modulePath));
        logPath = dir + "recorder.log";
    }
    bool written = ToolAppendLine(logPath, line);

    std::string sleepMs = ToolEnvValue("TW_RECORD_SLEEP_MS");
    if (!sleepMs.empty())
        Sleep((DWORD)strtoul(sleepMs.c_str(), nullptr, 10));
    std::string exitCode = ToolEnvValue("TW_RECORD_EXIT");
    if (!exitCode.empty())
        return (int)strtol(exitCode.c_str(), nullptr, 10);
    return written ? 0 : 3;
}
