// The "/open" job: a ".htm" page goes to the browser registered for HTML files, anything
// else to the program its type is associated with.
#include "open_document.h"

#include <cstring>

#include "../base/text.h"
#include "../platform/plat_registry.h"
#include "../platform/plat_shell.h"
#include "../platform/plat_ui.h"

static const char kHtmlCommandKey[] = "SOFTWARE\\Classes\\htmlfile\\shell\\open\\command";

static bool EndsWith(const char *text, const char *tail)
{
    size_t n = strlen(text), m = strlen(tail);
    return n >= m && memcmp(text + n - m, tail, m) == 0;
}

// Opens target through its own association, maximised.
static void OpenByAssociation(const char *target)
{
    PlatShellExecute(0, "open", target, nullptr, nullptr, PLAT_SW_SHOWMAXIMIZED);
}

void OpenDocument(const char *target)
{
    if (target[0] == '\0')
        return;
    if (!EndsWith(target, ".htm")) {
        OpenByAssociation(target);
        return;
    }

    char command[256];
    if (!PlatRegReadString(PLAT_HKLM, kHtmlCommandKey, nullptr, command, sizeof command)) {
        // No browser is registered: the page still opens by its own association.
        OpenByAssociation(target);
        return;
    }

    size_t n = strlen(command);
    if (EndsWith(command, "-nohome"))
        command[n -= 7] = '\0';
    if (n > 0 && command[n - 1] == ' ')
        command[--n] = '\0';
    if (n >= 2 && command[0] == '"' && command[n - 1] == '"') {
        command[--n] = '\0';
        memmove(command, command + 1, n);
        n--;
    }

    char directory[256] = "";
    const char *program = command;
    char *lastBackslash = strrchr(command, '\\');
    if (lastBackslash) {
        *lastBackslash = '\0';
        CopyText(directory, sizeof directory, command);
        program = lastBackslash + 1;
    }
    PlatShellExecute(PlatGetActiveWindow(), "open", program, target, directory,
                     PLAT_SW_SHOWMAXIMIZED);
}
