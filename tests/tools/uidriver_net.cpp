// uidriver.exe answers: whether a dialog's thread takes its messages while it works, for the
// tests of waits that must keep the window responsive.
//
//   uidriver.exe answers CAPTION_PART MS
//       Finds a dialog with CAPTION_PART in its caption (read from the system's copy, which
//       needs nothing of a busy thread), sends it WM_NULL and waits up to MS milliseconds for
//       its thread to handle it. Prints one JSON line {"answered":true|false,"ms":N}; exit
//       code 0 when it answered, 1 when not, 2 when there is no such dialog.
#include "uidriver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

struct Search {
    const char *part;
    HWND found;
};

static BOOL CALLBACK MatchDialog(HWND window, LPARAM param)
{
    Search *search = (Search *)param;
    char caption[512] = "";
    GetWindowTextA(window, caption, sizeof caption);
    if (UiClassName(window) != "#32770" || !strstr(caption, search->part))
        return TRUE;
    search->found = window;
    return FALSE;
}

static int RunAnswers(int argc, char **argv)
{
    if (argc != 3)
        return 126;
    Search search = {argv[1], nullptr};
    EnumWindows(MatchDialog, (LPARAM)&search);
    HWND dialog = search.found;
    if (!dialog)
        return 2;
    DWORD start = GetTickCount();
    DWORD_PTR result = 0;
    bool answered = SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL,
                                        (UINT)atoi(argv[2]), &result) != 0;
    printf("{\"answered\":%s,\"ms\":%lu}\n", answered ? "true" : "false",
           (unsigned long)(GetTickCount() - start));
    return answered ? 0 : 1;
}

static UiCommandHook gAnswersHook("answers", RunAnswers, "answers CAPTION_PART MS");
