// Seam: shell execution and the shell's notifications.
#pragma once
#include "plat_types.h"

// ShellExecuteA. NULL params or dir are passed as NULL. Returns the shell's result (a value
// of 32 or less means failure).
intptr_t PlatShellExecute(PlatWindow owner, const char *verb, const char *file,
                          const char *params, const char *dir, int showCommand);

// SHChangeNotify(SHCNE_ASSOCCHANGED, flushed): tells the shell that file types and their icons
// changed, so that Explorer shows them at once. Returns when the shell has been told.
void PlatNotifyAssociationsChanged(void);
