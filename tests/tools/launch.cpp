// launch.exe: starts a program with a byte-exact command line, waits for it with a time-out
// and returns its exit code. The end-to-end tests need this because wine (like any argv
// based starter) quotes arguments that contain blanks and so cannot pass a raw line.
//
//   launch.exe [--timeout SECONDS] [--cwd DIR] [--show N] [--pidfile FILE] --hex HEXLINE
//   launch.exe [options] --raw REST-OF-LINE
//
// --hex gives the command line as hexadecimal bytes (exact, any byte but NUL); --raw takes
// everything after "--raw " of launch.exe's own command line, unchanged. The program to
// start is found by CreateProcessA from the command line itself (application name NULL).
// --show passes STARTF_USESHOWWINDOW with that show state. --pidfile receives the child's
// process id as soon as it runs.
// Exit code: the child's; 124 when the time-out (default 60 s) ran out and the child was
// terminated; 125 when it could not be started; 126 on bad usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tool_json.h"

static bool DecodeHex(const char *hex, std::string &out)
{
    size_t n = strlen(hex);
    if (n % 2 != 0)
        return false;
    for (size_t i = 0; i < n; i += 2) {
        int hi = ToolHexDigit(hex[i]), lo = ToolHexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0 || (hi == 0 && lo == 0))
            return false;
        out += (char)(hi * 16 + lo);
    }
    return true;
}

static int Usage(void)
{
    fprintf(stderr, "usage: launch.exe [--timeout S] [--cwd DIR] [--show N] [--pidfile FILE] "
                    "(--hex HEXLINE | --raw LINE)\n");
    return 126;
}

int main(int argc, char **argv)
{
    double timeoutSeconds = 60.0;
    const char *cwd = nullptr;
    const char *pidFile = nullptr;
    int show = -1;
    std::string line;
    bool haveLine = false;

    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        bool hasValue = i + 1 < argc;
        if (strcmp(a, "--timeout") == 0 && hasValue) {
            timeoutSeconds = atof(argv[++i]);
        } else if (strcmp(a, "--cwd") == 0 && hasValue) {
            cwd = argv[++i];
        } else if (strcmp(a, "--show") == 0 && hasValue) {
            show = atoi(argv[++i]);
        } else if (strcmp(a, "--pidfile") == 0 && hasValue) {
            pidFile = argv[++i];
        } else if (strcmp(a, "--hex") == 0 && hasValue) {
            if (!DecodeHex(argv[++i], line)) {
                fprintf(stderr, "launch: bad --hex value\n");
                return 126;
            }
            haveLine = true;
            break;
        } else if (strcmp(a, "--raw") == 0) {
            const char *own = GetCommandLineA();
            const char *at = strstr(own, " --raw");
            if (!at)
                return Usage();
            at += 6;
            if (*at == ' ')
                at++;
            line = at;
            haveLine = true;
            break;
        } else {
            return Usage();
        }
    }
    if (!haveLine || line.empty())
        return Usage();

    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (show >= 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = (WORD)show;
    }
    PROCESS_INFORMATION info;
    ZeroMemory(&info, sizeof info);
    std::string mutableLine = line;  // CreateProcessA may write into its command line
    if (!CreateProcessA(nullptr, &mutableLine[0], nullptr, nullptr, FALSE, 0, nullptr, cwd,
                        &startup, &info)) {
        fprintf(stderr, "launch: CreateProcess failed, error %lu\n", GetLastError());
        return 125;
    }
    if (pidFile) {
        FILE *f = fopen(pidFile, "w");
        if (f) {
            fprintf(f, "%lu\n", info.dwProcessId);
            fclose(f);
        }
    }

    DWORD waitMs = timeoutSeconds <= 0 ? INFINITE : (DWORD)(timeoutSeconds * 1000.0);
    DWORD waited = WaitForSingleObject(info.hProcess, waitMs);
    int result;
    if (waited == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        result = (int)code;
    } else {
        fprintf(stderr, "launch: time-out, terminating process %lu\n", info.dwProcessId);
        TerminateProcess(info.hProcess, 124);
        WaitForSingleObject(info.hProcess, 5000);
        result = 124;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return result;
}
