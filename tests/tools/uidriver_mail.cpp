// uidriver.exe status: records every text a control of a dialog shows, for the e-mail tests
// (the "Sending Email" window's status line 1012).
//
//   uidriver.exe status LOGFILE [--caption PART] [--control ID] [--timeout S]
//       Runs until LOGFILE.stop exists or S seconds (default 120) have passed, polling every
//       millisecond, and appends one JSON line per event:
//         {"event":"ready","pid"}                         first
//         {"event":"window","hwnd","pid","caption","t"}   a window with PART in its caption
//         {"event":"status","hwnd","text","t"}            its control ID shows a new text
//         {"event":"gone","hwnd","t"}                     it went away
//         {"event":"stopped","reason","t"}                last
//       Defaults: PART "Sending Email", ID 1012. The texts are read with GetWindowTextA, which
//       the system answers from its own copy for another process's window: it works while the
//       window's thread sleeps (the one-second pause before the window closes) or is busy,
//       when a WM_GETTEXT would wait.
#include "uidriver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tool_json.h"

namespace {

struct Seen {
    HWND window;
    std::string status;
};

struct StatusWatch {
    FILE *log;
    DWORD start;
    std::string captionPart;
    int controlId;
    std::vector<Seen> seen;
};

struct Collect {
    const std::string *part;
    std::vector<HWND> *found;
};

}  // namespace

static std::string SystemText(HWND window)
{
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return ToolAnsiToUtf8(text);
}

static BOOL CALLBACK CollectWindow(HWND window, LPARAM param)
{
    Collect *collect = (Collect *)param;
    if (UiClassName(window) != "#32770")
        return TRUE;
    if (SystemText(window).find(*collect->part) == std::string::npos)
        return TRUE;
    collect->found->push_back(window);
    return TRUE;
}

static void Write(StatusWatch &watch, std::string &out)
{
    ToolJsonAddNumber(out, "t", (long long)(GetTickCount() - watch.start));
    ToolJsonClose(out);
    fputs(out.c_str(), watch.log);
    fputc('\n', watch.log);
    fflush(watch.log);
}

static void Scan(StatusWatch &watch)
{
    std::vector<HWND> now;
    Collect collect = {&watch.captionPart, &now};
    EnumWindows(CollectWindow, (LPARAM)&collect);

    for (size_t i = 0; i < watch.seen.size();) {
        bool present = false;
        for (HWND window : now)
            present = present || window == watch.seen[i].window;
        if (present) {
            i++;
            continue;
        }
        std::string out;
        ToolJsonOpen(out);
        ToolJsonAddText(out, "event", "gone");
        ToolJsonAddNumber(out, "hwnd", (long long)(uintptr_t)watch.seen[i].window);
        Write(watch, out);
        watch.seen.erase(watch.seen.begin() + (long)i);
    }

    for (HWND window : now) {
        Seen *known = nullptr;
        for (Seen &entry : watch.seen)
            if (entry.window == window)
                known = &entry;
        if (!known) {
            watch.seen.push_back({window, std::string("\x01")});  // never a real text
            known = &watch.seen.back();
            std::string out;
            ToolJsonOpen(out);
            ToolJsonAddText(out, "event", "window");
            ToolJsonAddNumber(out, "hwnd", (long long)(uintptr_t)window);
            ToolJsonAddNumber(out, "pid", (long long)UiWindowPid(window));
            ToolJsonAddText(out, "caption", SystemText(window));
            Write(watch, out);
        }
        HWND control = GetDlgItem(window, watch.controlId);
        if (!control)
            continue;
        std::string text = SystemText(control);
        if (text == known->status)
            continue;
        known->status = text;
        std::string out;
        ToolJsonOpen(out);
        ToolJsonAddText(out, "event", "status");
        ToolJsonAddNumber(out, "hwnd", (long long)(uintptr_t)window);
        ToolJsonAddText(out, "text", text);
        Write(watch, out);
    }
}

static int RunStatus(int argc, char **argv)
{
    if (argc < 2)
        return 126;
    StatusWatch watch;
    watch.start = GetTickCount();
    watch.captionPart = "Sending Email";
    watch.controlId = 1012;
    double timeoutSeconds = 120.0;
    for (int i = 2; i < argc; i++) {
        bool hasValue = i + 1 < argc;
        if (strcmp(argv[i], "--caption") == 0 && hasValue)
            watch.captionPart = ToolAnsiToUtf8(argv[++i]);
        else if (strcmp(argv[i], "--control") == 0 && hasValue)
            watch.controlId = atoi(argv[++i]);
        else if (strcmp(argv[i], "--timeout") == 0 && hasValue)
            timeoutSeconds = atof(argv[++i]);
        else
            return 126;
    }
    watch.log = fopen(argv[1], "ab");
    if (!watch.log)
        return 2;
    std::string stopPath = std::string(argv[1]) + ".stop";
    DWORD limitMs = (DWORD)(timeoutSeconds * 1000.0);

    std::string ready;
    ToolJsonOpen(ready);
    ToolJsonAddText(ready, "event", "ready");
    ToolJsonAddNumber(ready, "pid", (long long)GetCurrentProcessId());
    Write(watch, ready);

    const char *reason = "stop";
    for (;;) {
        bool stop = GetFileAttributesA(stopPath.c_str()) != INVALID_FILE_ATTRIBUTES;
        bool expired = GetTickCount() - watch.start >= limitMs;
        Scan(watch);
        if (stop || expired) {
            if (!stop)
                reason = "timeout";
            break;
        }
        Sleep(1);
    }
    std::string out;
    ToolJsonOpen(out);
    ToolJsonAddText(out, "event", "stopped");
    ToolJsonAddText(out, "reason", reason);
    Write(watch, out);
    fclose(watch.log);
    return strcmp(reason, "stop") == 0 ? 0 : 1;
}

static UiCommandHook gStatusHook("status", RunStatus,
                                 "status LOGFILE [--caption PART] [--control ID] [--timeout S]");
