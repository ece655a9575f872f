// Data-file open and host launch. Not built yet: the jobs do nothing.
#include "data_file.h"

void OpenDataFile(const char *) {}
void StartDemo(void) {}
void DeleteLockFiles(void) {}
bool WindowTitleContains(PlatWindow, const char *) { return false; }
void SendImportKeystroke(void) {}
