// The program group in the Start menu and the desktop shortcuts.
#pragma once
#include "../platform/plat_types.h"

void CreateShortcuts(PlatWindow owner);
void RemoveShortcuts(PlatWindow owner);
