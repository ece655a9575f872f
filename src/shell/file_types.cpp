// File types and uninstall entry. Not built yet: the jobs do nothing.
#include "file_types.h"

void RegisterFileTypes(void) {}
void UnregisterFileTypes(void) {}
