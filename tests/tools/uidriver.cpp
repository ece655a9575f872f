// uidriver.exe: watches, records and answers the dialogs and message boxes of other
// processes, for the end-to-end tests under Wine. It finds windows by class (#32770) and
// caption and acts on them through control ids only, never through screen positions.
//
//   uidriver.exe watch LOGFILE [--answer CAPTION_PART=BUTTON]... [--answer-text TEXT_PART=BUTTON]...
//                              [--timeout S] [--delay MS] [--hook]
//       Runs until LOGFILE.stop exists or S seconds (default 60) have passed, appending one
//       JSON line per event to LOGFILE, flushed line by line:
//         {"event":"ready"}                       the driver watches (written first)
//         {"event":"msgbox", caption, text, icon, buttons, button_texts, owner, owner_title,
//          owner_class, owner_pid, pid, hwnd, answered, t}
//         {"event":"dialog", caption, controls:[{id,class,text,visible}], owner..., pid, hwnd,
//          answered, t}                           any other #32770 window, once
//         {"event":"change", hwnd, caption, controls, t}   a dialog's caption or a control
//                                                 text changed
//         {"event":"closed", hwnd, caption, t}    a recorded window went away
//         {"event":"stopped", reason, t}          last line ("stop" or "timeout")
//       A message box is answered with OK (else Cancel, else its first button) unless a rule
//       says otherwise; other dialogs are answered only by a rule. The first rule whose part
//       occurs in the caption (--answer) or in the text (--answer-text: the message text, or
//       any control text of a dialog) decides; BUTTON is a number, a name (ok, cancel, yes,
//       no, ...) or none (leave it open). --delay waits that long before pressing.
//       "icon" is "information", "exclamation", "question", "error", "none" or "unknown".
//       --hook installs uihook.dll for the watch's duration: programs started with
//       TW_UI_TEXT_LOG set then log every text their dialogs' controls are given (uihook.cpp).
//   uidriver.exe click CAPTION_PART CONTROL_ID [--timeout S]   press a button (default 10 s)
//   uidriver.exe text CAPTION_PART CONTROL_ID [--timeout S]    print a control's text (id 0:
//                                                              the caption)
//   uidriver.exe settext CAPTION_PART CONTROL_ID TEXT [--timeout S]
//   uidriver.exe close CAPTION_PART [--timeout S]              send WM_CLOSE
//   uidriver.exe wait CAPTION_PART SECONDS                     0 once such a dialog shows
//   uidriver.exe gone CAPTION_PART SECONDS                     0 once none is left
//   uidriver.exe list                                          every visible top-level window
//   uidriver.exe procs                                         every process: pid, ppid, exe
// Captions are matched as substrings (case-sensitive); exit codes as in uidriver.h.
#include "uidriver.h"

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tool_json.h"

// ---------------------------------------------------------------- registration

struct UiCommandEntry {
    const char *name;
    UiCommandFn run;
    const char *usage;
};

static std::vector<UiCommandEntry> &Commands(void)
{
    static std::vector<UiCommandEntry> commands;
    return commands;
}

UiCommandHook::UiCommandHook(const char *name, UiCommandFn run, const char *usage)
{
    Commands().push_back({name, run, usage});
}

// ---------------------------------------------------------------- window helpers

static const DWORD kMessageTimeoutMs = 2000;

std::string UiWindowText(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                             kMessageTimeoutMs, &length))
        return std::string();
    std::vector<wchar_t> buffer(length + 2, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, (WPARAM)buffer.size(), (LPARAM)buffer.data(),
                             SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied))
        return std::string();
    buffer[buffer.size() - 1] = L'\0';
    return ToolWideToUtf8(buffer.data());
}

std::string UiClassName(HWND window)
{
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

DWORD UiWindowPid(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

struct FindContext {
    const char *captionPart;
    std::vector<HWND> *found;
};

static BOOL CALLBACK CollectDialog(HWND window, LPARAM param)
{
    FindContext *context = (FindContext *)param;
    if (!IsWindowVisible(window) || UiWindowPid(window) == GetCurrentProcessId())
        return TRUE;
    if (UiClassName(window) != "#32770")
        return TRUE;
    if (context->captionPart[0] != '\0' &&
        UiWindowText(window).find(context->captionPart) == std::string::npos)
        return TRUE;
    context->found->push_back(window);
    return TRUE;
}

std::vector<HWND> UiFindDialogs(const char *captionPart)
{
    std::vector<HWND> found;
    // Captions given on the command line are ANSI; compare in UTF-8 like the window texts.
    std::string part = ToolAnsiToUtf8(captionPart ? captionPart : "");
    FindContext context = {part.c_str(), &found};
    EnumWindows(CollectDialog, (LPARAM)&context);
    return found;
}

HWND UiWaitDialog(const char *captionPart, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<HWND> found = UiFindDialogs(captionPart);
        if (!found.empty())
            return found[0];
        if (GetTickCount() - start >= timeoutMs)
            return 0;
        Sleep(20);
    }
}

static bool IsStandardButtonId(int id) { return id >= IDOK && id <= 11; }

struct ChildList {
    std::vector<HWND> children;
};

static BOOL CALLBACK CollectChild(HWND child, LPARAM param)
{
    ChildList *list = (ChildList *)param;
    list->children.push_back(child);
    return TRUE;
}

static std::vector<HWND> DirectChildren(HWND parent)
{
    ChildList list;
    EnumChildWindows(parent, CollectChild, (LPARAM)&list);
    std::vector<HWND> direct;
    for (HWND child : list.children)
        if (GetAncestor(child, GA_PARENT) == parent)
            direct.push_back(child);
    return direct;
}

bool UiIsMessageBox(HWND dialog)
{
    // The message text is static 0xFFFF; besides it a box holds only statics (the icon)
    // and buttons with the standard ids. A dialog with an unnamed static (also 0xFFFF)
    // among other controls is not a box.
    bool hasText = false;
    for (HWND child : DirectChildren(dialog)) {
        int id = GetDlgCtrlID(child) & 0xFFFF;
        std::string cls = UiClassName(child);
        if (id == 0xFFFF && _stricmp(cls.c_str(), "Static") == 0) {
            hasText = true;
            continue;
        }
        if (_stricmp(cls.c_str(), "Static") == 0)
            continue;
        if (_stricmp(cls.c_str(), "Button") == 0 && IsStandardButtonId(id))
            continue;
        return false;
    }
    return hasText;
}

bool UiPressButton(HWND dialog, int controlId)
{
    if (!IsWindow(dialog))
        return false;
    HWND button = GetDlgItem(dialog, controlId);
    return PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED), (LPARAM)button) !=
           0;
}

int UiParseButtonId(const char *text)
{
    static const struct {
        const char *name;
        int id;
    } kNames[] = {
        {"none", 0},   {"ok", IDOK},       {"cancel", IDCANCEL},  {"abort", IDABORT},
        {"retry", IDRETRY}, {"ignore", IDIGNORE}, {"yes", IDYES}, {"no", IDNO},
        {"close", 8},  {"help", 9},        {"tryagain", 10},      {"continue", 11},
    };
    for (const auto &entry : kNames)
        if (_stricmp(text, entry.name) == 0)
            return entry.id;
    char *end = nullptr;
    long value = strtol(text, &end, 0);
    if (end == text || *end != '\0' || value < 0 || value > 0xFFFF)
        return -1;
    return (int)value;
}

std::string UiControlsJson(HWND dialog)
{
    std::string out = "[";
    bool first = true;
    for (HWND child : DirectChildren(dialog)) {
        if (!first)
            out += ',';
        first = false;
        ToolJsonOpen(out);
        ToolJsonAddNumber(out, "id", GetDlgCtrlID(child) & 0xFFFF);
        ToolJsonAddText(out, "class", UiClassName(child));
        ToolJsonAddText(out, "text", UiWindowText(child));
        ToolJsonAddBool(out, "visible", IsWindowVisible(child) != 0);
        ToolJsonClose(out);
    }
    out += ']';
    return out;
}

// ---------------------------------------------------------------- icon recognition

// A 32-bit top-down DIB section of w x h, selected into a memory DC.
struct Canvas {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    DWORD *bits;
};

static bool MakeCanvas(Canvas &canvas, int w, int h)
{
    BITMAPINFO info;
    ZeroMemory(&info, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    canvas.dc = CreateCompatibleDC(nullptr);
    void *bits = nullptr;
    canvas.bitmap = CreateDIBSection(canvas.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!canvas.dc || !canvas.bitmap) {
        if (canvas.bitmap)
            DeleteObject(canvas.bitmap);
        if (canvas.dc)
            DeleteDC(canvas.dc);
        return false;
    }
    canvas.bits = (DWORD *)bits;
    canvas.old = SelectObject(canvas.dc, canvas.bitmap);
    return true;
}

static void FreeCanvas(Canvas &canvas)
{
    SelectObject(canvas.dc, canvas.old);
    DeleteObject(canvas.bitmap);
    DeleteDC(canvas.dc);
}

static bool SameColour(DWORD a, DWORD b)
{
    for (int shift = 0; shift < 24; shift += 8) {
        int d = (int)((a >> shift) & 0xFF) - (int)((b >> shift) & 0xFF);
        if (d < -24 || d > 24)
            return false;
    }
    return true;
}

// Fraction of the icon's opaque pixels that the captured pixels show unchanged.
static double IconScore(const Canvas &shot, int w, int h, LPCSTR iconId)
{
    HICON icon = LoadIconA(nullptr, iconId);
    if (!icon)
        return 0.0;
    Canvas black, white;
    if (!MakeCanvas(black, w, h))
        return 0.0;
    if (!MakeCanvas(white, w, h)) {
        FreeCanvas(black);
        return 0.0;
    }
    RECT all = {0, 0, w, h};
    FillRect(black.dc, &all, (HBRUSH)GetStockObject(BLACK_BRUSH));
    FillRect(white.dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    DrawIconEx(black.dc, 0, 0, icon, w, h, 0, nullptr, DI_NORMAL);
    DrawIconEx(white.dc, 0, 0, icon, w, h, 0, nullptr, DI_NORMAL);
    GdiFlush();
    int opaque = 0, same = 0;
    for (int i = 0; i < w * h; i++) {
        DWORD b = black.bits[i] & 0xFFFFFF, x = white.bits[i] & 0xFFFFFF;
        if (b != x)
            continue;  // transparent or blended with the background
        opaque++;
        if (SameColour(b, shot.bits[i] & 0xFFFFFF))
            same++;
    }
    FreeCanvas(black);
    FreeCanvas(white);
    return opaque > 0 ? (double)same / opaque : 0.0;
}

std::string UiMessageBoxIcon(HWND box)
{
    HWND iconControl = 0;
    for (HWND child : DirectChildren(box)) {
        if (_stricmp(UiClassName(child).c_str(), "Static") != 0)
            continue;
        LONG style = GetWindowLongW(child, GWL_STYLE);
        if ((style & SS_TYPEMASK) == SS_ICON) {
            iconControl = child;
            break;
        }
    }
    DWORD_PTR iconHandle = 0;
    if (!iconControl || !IsWindowVisible(iconControl) ||
        !SendMessageTimeoutW(iconControl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG,
                             kMessageTimeoutMs, &iconHandle) ||
        iconHandle == 0)
        return "none";

    static const struct {
        LPCSTR id;
        const char *name;
    } kIcons[] = {
        {IDI_ASTERISK, "information"},
        {IDI_EXCLAMATION, "exclamation"},
        {IDI_QUESTION, "question"},
        {IDI_HAND, "error"},
    };
    // The box may not be painted yet when it first shows (later on a busy machine): look
    // again for a while.
    for (int attempt = 0; attempt < 50; attempt++) {
        RECT rect;
        if (!IsWindow(iconControl) || !GetWindowRect(iconControl, &rect))
            return "unknown";
        int w = rect.right - rect.left, h = rect.bottom - rect.top;
        if (w <= 0 || h <= 0 || w > 256 || h > 256)
            return "unknown";
        Canvas shot;
        if (!MakeCanvas(shot, w, h))
            return "unknown";
        HDC screen = GetDC(nullptr);
        BitBlt(shot.dc, 0, 0, w, h, screen, rect.left, rect.top, SRCCOPY);
        ReleaseDC(nullptr, screen);
        GdiFlush();
        double best = 0.0;
        const char *bestName = nullptr;
        for (const auto &candidate : kIcons) {
            double score = IconScore(shot, w, h, candidate.id);
            if (score > best) {
                best = score;
                bestName = candidate.name;
            }
        }
        FreeCanvas(shot);
        if (bestName && best >= 0.9)
            return bestName;
        Sleep(60);
    }
    return "unknown";
}

// ---------------------------------------------------------------- watch

namespace {

struct AnswerRule {
    std::string part;  // UTF-8
    bool onText;
    int id;
};

struct Tracked {
    HWND window;
    bool isBox;
    std::string caption;
    std::string controls;
};

struct Watch {
    FILE *log;
    DWORD start;
    std::vector<AnswerRule> rules;
    DWORD delayMs;
    std::vector<Tracked> tracked;
};

}  // namespace

static void WriteLine(Watch &watch, const std::string &json)
{
    fputs(json.c_str(), watch.log);
    fputc('\n', watch.log);
    fflush(watch.log);
}

static void AddCommon(Watch &watch, std::string &out, const char *event, HWND window)
{
    ToolJsonAddText(out, "event", event);
    ToolJsonAddNumber(out, "t", (long long)(GetTickCount() - watch.start));
    ToolJsonAddNumber(out, "hwnd", (long long)(uintptr_t)window);
}

static void AddOwner(std::string &out, HWND window)
{
    HWND owner = GetWindow(window, GW_OWNER);
    ToolJsonAddNumber(out, "owner", (long long)(uintptr_t)owner);
    ToolJsonAddText(out, "owner_title", owner ? UiWindowText(owner) : std::string());
    ToolJsonAddText(out, "owner_class", owner ? UiClassName(owner) : std::string());
    ToolJsonAddNumber(out, "owner_pid", owner ? (long long)UiWindowPid(owner) : 0);
    ToolJsonAddNumber(out, "pid", (long long)UiWindowPid(window));
}

// The rule for this window, or -1 when none matches.
static int RuleAnswer(const Watch &watch, const std::string &caption,
                      const std::vector<std::string> &texts)
{
    for (const AnswerRule &rule : watch.rules) {
        if (!rule.onText) {
            if (caption.find(rule.part) != std::string::npos)
                return rule.id;
            continue;
        }
        for (const std::string &text : texts)
            if (text.find(rule.part) != std::string::npos)
                return rule.id;
    }
    return -1;
}

static int Answer(Watch &watch, HWND window, int id)
{
    if (id <= 0)
        return 0;
    if (watch.delayMs)
        Sleep(watch.delayMs);
    return UiPressButton(window, id) ? id : 0;
}

static void RecordMessageBox(Watch &watch, HWND box, Tracked &entry)
{
    std::string text = UiWindowText(GetDlgItem(box, 0xFFFF));
    std::string icon = UiMessageBoxIcon(box);

    std::string buttons = "[", buttonTexts = "{";
    std::vector<int> ids;
    for (HWND child : DirectChildren(box)) {
        int id = GetDlgCtrlID(child) & 0xFFFF;
        if (_stricmp(UiClassName(child).c_str(), "Button") != 0 || !IsWindowVisible(child))
            continue;
        ids.push_back(id);
        if (buttons.size() > 1)
            buttons += ',';
        buttons += std::to_string(id);
        if (buttonTexts.size() > 1)
            buttonTexts += ',';
        ToolJsonQuote(buttonTexts, std::to_string(id));
        buttonTexts += ':';
        ToolJsonQuote(buttonTexts, UiWindowText(child));
    }
    buttons += ']';
    buttonTexts += '}';

    int id = RuleAnswer(watch, entry.caption, {text});
    if (id < 0) {
        id = 0;
        for (int preferred : {IDOK, IDCANCEL})
            for (int present : ids)
                if (present == preferred && id == 0)
                    id = preferred;
        if (id == 0 && !ids.empty())
            id = ids[0];
    }
    // Everything is read before pressing: the box and its owner may be gone right after.
    std::string out;
    ToolJsonOpen(out);
    AddCommon(watch, out, "msgbox", box);
    ToolJsonAddText(out, "caption", entry.caption);
    ToolJsonAddText(out, "text", text);
    ToolJsonAddText(out, "icon", icon);
    ToolJsonAddRaw(out, "buttons", buttons);
    ToolJsonAddRaw(out, "button_texts", buttonTexts);
    AddOwner(out, box);
    int answered = Answer(watch, box, id);
    ToolJsonAddNumber(out, "answered", answered);
    ToolJsonClose(out);
    WriteLine(watch, out);
}

static std::vector<std::string> ControlTexts(HWND dialog)
{
    std::vector<std::string> texts;
    for (HWND child : DirectChildren(dialog))
        texts.push_back(UiWindowText(child));
    return texts;
}

static void RecordDialog(Watch &watch, HWND dialog, Tracked &entry)
{
    int id = RuleAnswer(watch, entry.caption, ControlTexts(dialog));
    std::string out;
    ToolJsonOpen(out);
    AddCommon(watch, out, "dialog", dialog);
    ToolJsonAddText(out, "caption", entry.caption);
    ToolJsonAddRaw(out, "controls", entry.controls);
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(dialog, &rect);
    ToolJsonAddRaw(out, "rect",
                   "[" + std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
                       std::to_string(rect.right) + "," + std::to_string(rect.bottom) + "]");
    AddOwner(out, dialog);
    // The controls were read before pressing, so the line shows the dialog as it appeared.
    int answered = id > 0 ? Answer(watch, dialog, id) : 0;
    ToolJsonAddNumber(out, "answered", answered);
    ToolJsonClose(out);
    WriteLine(watch, out);
}

static void ScanOnce(Watch &watch)
{
    std::vector<HWND> now = UiFindDialogs("");

    // Windows that went away (or were hidden) since the last scan.
    for (size_t i = 0; i < watch.tracked.size();) {
        Tracked &entry = watch.tracked[i];
        bool present = false;
        for (HWND window : now)
            if (window == entry.window)
                present = true;
        if (present) {
            i++;
            continue;
        }
        std::string out;
        ToolJsonOpen(out);
        AddCommon(watch, out, "closed", entry.window);
        ToolJsonAddText(out, "caption", entry.caption);
        ToolJsonClose(out);
        WriteLine(watch, out);
        watch.tracked.erase(watch.tracked.begin() + (long)i);
    }

    for (HWND window : now) {
        Tracked *known = nullptr;
        for (Tracked &entry : watch.tracked)
            if (entry.window == window)
                known = &entry;
        if (!known) {
            // Let a window that just showed finish painting before it is read.
            Sleep(50);
            if (!IsWindow(window) || !IsWindowVisible(window))
                continue;
            Tracked entry;
            entry.window = window;
            entry.isBox = UiIsMessageBox(window);
            entry.caption = UiWindowText(window);
            entry.controls = entry.isBox ? std::string() : UiControlsJson(window);
            watch.tracked.push_back(entry);
            Tracked &added = watch.tracked.back();
            if (added.isBox)
                RecordMessageBox(watch, window, added);
            else
                RecordDialog(watch, window, added);
            continue;
        }
        if (known->isBox)
            continue;
        std::string caption = UiWindowText(window);
        std::string controls = UiControlsJson(window);
        if (caption == known->caption && controls == known->controls)
            continue;
        // A dialog being destroyed loses its caption and controls first: that is its
        // closing (reported by the next scan), not a change.
        if (!IsWindow(window) || !IsWindowVisible(window))
            continue;
        known->caption = caption;
        known->controls = controls;
        std::string out;
        ToolJsonOpen(out);
        AddCommon(watch, out, "change", window);
        ToolJsonAddText(out, "caption", caption);
        ToolJsonAddRaw(out, "controls", controls);
        ToolJsonClose(out);
        WriteLine(watch, out);
    }
}

// Installs uihook.dll (beside this program) as a window-procedure hook of every thread, so
// that it runs inside the program under test (see uihook.cpp).
static HHOOK InstallTextHook(void)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return nullptr;
    char *slash = strrchr(path, '\\');
    if (!slash || (size_t)(slash + 1 - path) + sizeof "uihook.dll" > sizeof path)
        return nullptr;
    strcpy(slash + 1, "uihook.dll");
    HMODULE module = LoadLibraryA(path);
    if (!module)
        return nullptr;
    HOOKPROC proc = (HOOKPROC)(void *)GetProcAddress(module, "TwCallWndProcRet");
    if (!proc)
        return nullptr;
    return SetWindowsHookExW(WH_CALLWNDPROCRET, proc, module, 0);
}

// Hooks of other threads may be delivered through this thread's queue.
static void PumpMessages(void)
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

static bool ParseRule(const char *ruleText, bool onText, AnswerRule &rule)
{
    const char *equals = strrchr(ruleText, '=');
    if (!equals)
        return false;
    std::string part(ruleText, (size_t)(equals - ruleText));
    int id = UiParseButtonId(equals + 1);
    if (id < 0)
        return false;
    rule.part = ToolAnsiToUtf8(part.c_str());
    rule.onText = onText;
    rule.id = id;
    return true;
}

static int RunWatch(int argc, char **argv)
{
    if (argc < 2)
        return 126;
    Watch watch;
    watch.start = GetTickCount();
    watch.delayMs = 0;
    double timeoutSeconds = 60.0;
    bool hookTexts = false;
    const char *logPath = argv[1];
    for (int i = 2; i < argc; i++) {
        bool hasValue = i + 1 < argc;
        AnswerRule rule;
        if (strcmp(argv[i], "--answer") == 0 && hasValue && ParseRule(argv[i + 1], false, rule)) {
            watch.rules.push_back(rule);
            i++;
        } else if (strcmp(argv[i], "--answer-text") == 0 && hasValue &&
                   ParseRule(argv[i + 1], true, rule)) {
            watch.rules.push_back(rule);
            i++;
        } else if (strcmp(argv[i], "--timeout") == 0 && hasValue) {
            timeoutSeconds = atof(argv[++i]);
        } else if (strcmp(argv[i], "--hook") == 0) {
            hookTexts = true;
        } else if (strcmp(argv[i], "--delay") == 0 && hasValue) {
            watch.delayMs = (DWORD)strtoul(argv[++i], nullptr, 10);
        } else {
            fprintf(stderr, "uidriver watch: bad argument %s\n", argv[i]);
            return 126;
        }
    }
    HHOOK hook = hookTexts ? InstallTextHook() : nullptr;
    if (hookTexts && !hook) {
        fprintf(stderr, "uidriver watch: cannot install the text hook (uihook.dll)\n");
        return 2;
    }
    watch.log = fopen(logPath, "ab");
    if (!watch.log) {
        fprintf(stderr, "uidriver watch: cannot open %s\n", logPath);
        return 2;
    }
    std::string stopPath = std::string(logPath) + ".stop";
    DWORD limitMs = (DWORD)(timeoutSeconds * 1000.0);

    ScanOnce(watch);
    std::string ready;
    ToolJsonOpen(ready);
    ToolJsonAddText(ready, "event", "ready");
    ToolJsonAddNumber(ready, "pid", (long long)GetCurrentProcessId());
    ToolJsonClose(ready);
    WriteLine(watch, ready);

    const char *reason = "stop";
    for (;;) {
        bool stop = GetFileAttributesA(stopPath.c_str()) != INVALID_FILE_ATTRIBUTES;
        bool expired = GetTickCount() - watch.start >= limitMs;
        ScanOnce(watch);  // one last look after the stop request too
        if (stop || expired) {
            if (!stop)
                reason = "timeout";
            break;
        }
        PumpMessages();
        Sleep(15);
    }
    if (hook)
        UnhookWindowsHookEx(hook);
    std::string out;
    ToolJsonOpen(out);
    ToolJsonAddText(out, "event", "stopped");
    ToolJsonAddText(out, "reason", reason);
    ToolJsonAddNumber(out, "t", (long long)(GetTickCount() - watch.start));
    ToolJsonClose(out);
    WriteLine(watch, out);
    fclose(watch.log);
    return strcmp(reason, "stop") == 0 ? 0 : 1;
}

// ---------------------------------------------------------------- small subcommands

// Reads "--timeout S" from the arguments after the fixed ones; default 10 s.
static DWORD TimeoutArg(int argc, char **argv, int first)
{
    for (int i = first; i + 1 < argc; i++)
        if (strcmp(argv[i], "--timeout") == 0)
            return (DWORD)(atof(argv[i + 1]) * 1000.0);
    return 10000;
}

static bool ControlIdArg(const char *text, int &id)
{
    char *end = nullptr;
    long value = strtol(text, &end, 0);
    if (end == text || *end != '\0' || value < 0 || value > 0xFFFF)
        return false;
    id = (int)value;
    return true;
}

static int RunClick(int argc, char **argv)
{
    int id;
    if (argc < 3 || !ControlIdArg(argv[2], id))
        return 126;
    HWND dialog = UiWaitDialog(argv[1], TimeoutArg(argc, argv, 3));
    if (!dialog)
        return 2;
    return UiPressButton(dialog, id) ? 0 : 2;
}

static int RunText(int argc, char **argv)
{
    int id;
    if (argc < 3 || !ControlIdArg(argv[2], id))
        return 126;
    HWND dialog = UiWaitDialog(argv[1], TimeoutArg(argc, argv, 3));
    if (!dialog)
        return 2;
    HWND control = id == 0 ? dialog : GetDlgItem(dialog, id);
    if (!control)
        return 2;
    std::string text = UiWindowText(control);
    fwrite(text.data(), 1, text.size(), stdout);
    fputc('\n', stdout);
    return 0;
}

static int RunSetText(int argc, char **argv)
{
    int id;
    if (argc < 4 || !ControlIdArg(argv[2], id))
        return 126;
    HWND dialog = UiWaitDialog(argv[1], TimeoutArg(argc, argv, 4));
    if (!dialog)
        return 2;
    HWND control = id == 0 ? dialog : GetDlgItem(dialog, id);
    if (!control)
        return 2;
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(control, WM_SETTEXT, 0, (LPARAM)argv[3], SMTO_ABORTIFHUNG,
                               kMessageTimeoutMs, &result)
               ? 0
               : 2;
}

static int RunClose(int argc, char **argv)
{
    if (argc < 2)
        return 126;
    HWND dialog = UiWaitDialog(argv[1], TimeoutArg(argc, argv, 2));
    if (!dialog)
        return 2;
    return PostMessageW(dialog, WM_CLOSE, 0, 0) ? 0 : 2;
}

static int RunWait(int argc, char **argv)
{
    if (argc < 3)
        return 126;
    return UiWaitDialog(argv[1], (DWORD)(atof(argv[2]) * 1000.0)) ? 0 : 1;
}

static int RunGone(int argc, char **argv)
{
    if (argc < 3)
        return 126;
    DWORD start = GetTickCount(), limit = (DWORD)(atof(argv[2]) * 1000.0);
    for (;;) {
        if (UiFindDialogs(argv[1]).empty())
            return 0;
        if (GetTickCount() - start >= limit)
            return 1;
        Sleep(20);
    }
}

static BOOL CALLBACK ListWindow(HWND window, LPARAM)
{
    if (!IsWindowVisible(window))
        return TRUE;
    std::string out;
    ToolJsonOpen(out);
    ToolJsonAddNumber(out, "hwnd", (long long)(uintptr_t)window);
    ToolJsonAddText(out, "class", UiClassName(window));
    ToolJsonAddText(out, "caption", UiWindowText(window));
    AddOwner(out, window);
    if (UiClassName(window) == "#32770") {
        ToolJsonAddBool(out, "msgbox", UiIsMessageBox(window));
        ToolJsonAddRaw(out, "controls", UiControlsJson(window));
    }
    ToolJsonClose(out);
    puts(out.c_str());
    return TRUE;
}

static int RunList(int, char **)
{
    EnumWindows(ListWindow, 0);
    return 0;
}

static int RunProcs(int, char **)
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return 2;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32First(snap, &entry); ok; ok = Process32Next(snap, &entry)) {
        std::string out;
        ToolJsonOpen(out);
        ToolJsonAddNumber(out, "pid", (long long)entry.th32ProcessID);
        ToolJsonAddNumber(out, "ppid", (long long)entry.th32ParentProcessID);
        ToolJsonAddText(out, "exe", ToolAnsiToUtf8(entry.szExeFile));
        ToolJsonClose(out);
        puts(out.c_str());
    }
    CloseHandle(snap);
    return 0;
}

static UiCommandHook gWatchHook("watch", RunWatch,
                                "watch LOGFILE [--answer CAPTION_PART=BUTTON]... "
                                "[--answer-text TEXT_PART=BUTTON]... [--timeout S] [--delay MS] [--hook]");
static UiCommandHook gClickHook("click", RunClick, "click CAPTION_PART CONTROL_ID [--timeout S]");
static UiCommandHook gTextHook("text", RunText, "text CAPTION_PART CONTROL_ID [--timeout S]");
static UiCommandHook gSetTextHook("settext", RunSetText,
                                  "settext CAPTION_PART CONTROL_ID TEXT [--timeout S]");
static UiCommandHook gCloseHook("close", RunClose, "close CAPTION_PART [--timeout S]");
static UiCommandHook gWaitHook("wait", RunWait, "wait CAPTION_PART SECONDS");
static UiCommandHook gGoneHook("gone", RunGone, "gone CAPTION_PART SECONDS");
static UiCommandHook gListHook("list", RunList, "list");
static UiCommandHook gProcsHook("procs", RunProcs, "procs");

int main(int argc, char **argv)
{
    if (argc >= 2) {
        for (const UiCommandEntry &entry : Commands()) {
            if (strcmp(argv[1], entry.name) == 0) {
                int result = entry.run(argc - 1, argv + 1);
                fflush(stdout);
                if (result == 126)
                    fprintf(stderr, "usage: uidriver.exe %s\n", entry.usage);
                return result;
            }
        }
    }
    fprintf(stderr, "usage: uidriver.exe COMMAND ...\n");
    for (const UiCommandEntry &entry : Commands())
        fprintf(stderr, "  %s\n", entry.usage);
    return 126;
}
