// The open-file dialog and the folder browser shown for the host application.
#pragma once

void ShowOpenFileDialog(void);
void ShowSelectFolderDialog(void);
