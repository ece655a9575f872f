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

// Turns the registered command into the browser's path, in place. A program in quotes is
// that quoted path, and whatever follows it ("%1", "-nohome", more switches) is not part of
// it: the form Windows 10 and 11 register. Any other value loses a trailing "-nohome", then
// one blank; the rest is the path as it stands.
static void ReadBrowserProgram(char *command)
{
    char *closing = command[0] == '"' ? strchr(command + 1, '"') : nullptr;
    if (closing) {
        size_t n = (size_t)(closing - command - 1);
        memmove(command, command + 1, n);
        command[n] = '\0';
        return;
    }
    size_t n = strlen(command);
    if (EndsWith(command, "-nohome"))
        command[n -= 7] = '\0';
    if (n > 0 && command[n - 1] == ' ')
        command[--n] = '\0';
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

    ReadBrowserProgram(command);

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
