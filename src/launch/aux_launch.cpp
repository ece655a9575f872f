// Auxiliary launches for the host application: Word and WordPad on a document, a file copy,
// and the Windows help engine on the product's help file.
#include "aux_launch.h"

#include <cstring>

#include "../base/error_box.h"
#include "../base/host_settings.h"
#include "../base/paths.h"
#include "../base/text.h"
#include "../platform/plat_files.h"
#include "../platform/plat_shell.h"
#include "../platform/plat_ui.h"

static const char kWordMessage[] =
    "Could not load Word.  It is possible that Word is not installed, or is not installed "
    "correctly.\n\nTo fix it, please re-install Word.";
static const char kWordPadMessage[] =
    "Could not load WordPad.  It is possible that WordPad is not installed, or is not "
    "installed correctly.\n\nTo fix it, please re-install WordPad.";

// ShellExecuteA reports failure with a value of 32 or less.
static const intptr_t kShellFailureMax = 32;

// Starts program (named without a path, for the shell to find) on the document, in the
// document's folder; tells the user when the program cannot be started.
static void OpenInProgram(const char *program, const char *document, const char *failure)
{
    // The working directory comes from a 260-character copy: a longer argument is refused
    // whole rather than started in a directory cut from it.
    char directory[kPathSize];
    if (!CopyText(directory, sizeof directory, document))
        return;
    PlatPathRemoveFileSpec(directory);
    intptr_t result = PlatShellExecute(0, "open", program, document, directory,
                                       PLAT_SW_SHOWNORMAL);
    if (result <= kShellFailureMax)
        ShowErrorBox(0, failure);
}

void OpenInWord(const char *argument)
{
    OpenInProgram("winword.exe", argument, kWordMessage);
}

void OpenInWordPad(const char *argument)
{
    OpenInProgram("wordpad.exe", argument, kWordPadMessage);
}

void CopyFileFromArgument(const char *argument)
{
    const char *space = strchr(argument, ' ');
    if (!space)
        return;
    char source[kPathSize] = "";
    char destination[kPathSize] = "";
    // Only the first space separates; a path that does not fit is refused, never cut.
    if (!CopyTextN(source, sizeof source, argument, (size_t)(space - argument)) ||
        !CopyText(destination, sizeof destination, space + 1))
        return;
    if (source[0] == '\0' || destination[0] == '\0')
        return;
    PlatCopyFile(source, destination, 0);
}

uintptr_t HelpDataWord(unsigned command, long context, const char *emptyKey)
{
    if (command == kHelpContext)
        return (uintptr_t)(intptr_t)(context == 0 ? 1 : context);
    if (command == kHelpPartialKey)
        return (uintptr_t)emptyKey;
    return 0;
}

void ShowHelp(unsigned command, long context)
{
    static const char emptyKey[] = "";
    char helpFile[kPathSize];
    GetHelpFile(helpFile, sizeof helpFile);
    PlatWinHelp(0, helpFile, command, HelpDataWord(command, context, emptyKey));
}
