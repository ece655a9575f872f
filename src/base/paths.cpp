// Windows paths as every job handles them: short forms and the send queue's folder.
#include "paths.h"

#include "../platform/plat_files.h"
#include "host_settings.h"
#include "text.h"

void ShortPathOrSame(const char *path, char *dest, size_t destSize)
{
    int n = PlatGetShortPathName(path, dest, (int)destSize);
    if (n <= 0 || (size_t)n >= destSize)
        CopyText(dest, destSize, path);
}

bool MakeQueueFolderText(char *dest, size_t destSize)
{
    char directory[kPathSize];
    GetProgramDirectory(directory, sizeof directory);
    return FormatText(dest, destSize, "%s\\Email\\", directory);
}
