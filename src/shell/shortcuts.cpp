// Start-menu shortcuts. Not built yet: the jobs do nothing.
#include "shortcuts.h"

void CreateShortcuts(PlatWindow) {}
void RemoveShortcuts(PlatWindow) {}
