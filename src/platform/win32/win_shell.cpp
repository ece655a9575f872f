// Win32 side of the shell seam: shell execution and the shell's notifications.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "../plat_shell.h"

intptr_t PlatShellExecute(PlatWindow owner, const char *verb, const char *file,
                          const char *params, const char *dir, int showCommand)
{
    return (intptr_t)ShellExecuteA((HWND)owner, verb, file, params, dir, showCommand);
}

void PlatNotifyAssociationsChanged(void)
{
    // Flushed: the run ends right after, and a notification still queued could be lost.
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST | SHCNF_FLUSH, nullptr, nullptr);
}
