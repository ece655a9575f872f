// Win32 side of the shell-execution seam.
#include <windows.h>
#include <shellapi.h>

#include "../plat_shell.h"

intptr_t PlatShellExecute(PlatWindow owner, const char *verb, const char *file,
                          const char *params, const char *dir, int showCommand)
{
    return (intptr_t)ShellExecuteA((HWND)owner, verb, file, params, dir, showCommand);
}
