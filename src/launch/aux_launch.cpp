// Auxiliary launches. Not built yet: the jobs do nothing.
#include "aux_launch.h"

void OpenInWord(const char *) {}
void OpenInWordPad(const char *) {}
void CopyFileFromArgument(const char *) {}
void ShowHelp(unsigned, long) {}
