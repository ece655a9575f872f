// Open-file and select-folder dialogs. Not built yet: the jobs do nothing.
#include "file_dialogs.h"

void ShowOpenFileDialog(void) {}
void ShowSelectFolderDialog(void) {}
