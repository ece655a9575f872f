// The open-file dialog and the folder browser shown for the host application.
#pragma once
#include <cstddef>

// "/opendialog": shows the open-file dialog owned by the host window and writes "FileSelected"
// and "FileSelectedLong" (the short and the full path, or "CANCELLED" in both).
void ShowOpenFileDialog(void);

// "/selectfolderdialog": shows the folder browser and writes "FolderSelected" and
// "FolderSelectedLong" the same way.
void ShowSelectFolderDialog(void);

// Size of the filter list handed to the open-file dialog.
const size_t kFilterListSize = 256;

// Turns a "FileSpec" value (description and pattern fields, each closed by '|') into the
// dialog's filter list in list (listSize bytes): every '|' becomes a NUL and the list always
// ends with an empty string, also when the value's last field has no closing '|'. Returns 1
// when the whole value fit; 0 when it had to be cut (the list is closed all the same).
int BuildFilterList(const char *fileSpec, char *list, size_t listSize);
