// Seam: shell execution and the HTML browser command in the registry.
#pragma once
#include "plat_types.h"

// ShellExecuteA. NULL params or dir are passed as NULL. Returns the shell's result (a value
// of 32 or less means failure).
intptr_t PlatShellExecute(PlatWindow owner, const char *verb, const char *file,
                          const char *params, const char *dir, int showCommand);
