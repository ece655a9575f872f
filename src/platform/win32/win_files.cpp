// Win32 side of the files seam.
#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstring>

#include "../plat_files.h"

long long PlatGetFileSizeShared(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    LARGE_INTEGER size;
    long long result = GetFileSizeEx(file, &size) ? size.QuadPart : -1;
    CloseHandle(file);
    return result;
}

long long PlatReadFileBytes(const char *path, char *buf, long long max)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return -1;
    long long total = 0;
    while (total < max) {
        size_t chunk = (size_t)((max - total) > (1 << 20) ? (1 << 20) : (max - total));
        size_t got = fread(buf + total, 1, chunk, f);
        total += (long long)got;
        if (got < chunk)
            break;
    }
    fclose(f);
    return total;
}

int PlatDeleteFile(const char *path) { return DeleteFileA(path); }

int PlatCopyFile(const char *source, const char *dest, int failIfExists)
{
    return CopyFileA(source, dest, failIfExists);
}

int PlatCreateDirectory(const char *path) { return CreateDirectoryA(path, nullptr); }

int PlatRemoveDirectory(const char *path) { return RemoveDirectoryA(path); }

static void StoreName(const WIN32_FIND_DATAA &data, char *name, int nameSize)
{
    size_t n = strlen(data.cFileName);
    if (nameSize <= 0)
        return;
    if (n + 1 > (size_t)nameSize)
        n = 0;
    memcpy(name, data.cFileName, n);
    name[n] = '\0';
}

PlatFind PlatFindFirst(const char *pattern, char *name, int nameSize)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern, &data);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    StoreName(data, name, nameSize);
    return (PlatFind)find;
}

int PlatFindNext(PlatFind find, char *name, int nameSize)
{
    WIN32_FIND_DATAA data;
    if (!FindNextFileA((HANDLE)find, &data))
        return 0;
    StoreName(data, name, nameSize);
    return 1;
}

void PlatFindClose(PlatFind find) { FindClose((HANDLE)find); }

int PlatGetShortPathName(const char *longPath, char *dest, int destSize)
{
    DWORD n = GetShortPathNameA(longPath, dest, (DWORD)destSize);
    if (n == 0 || n >= (DWORD)destSize) {
        if (destSize > 0)
            dest[0] = '\0';
    }
    return (int)n;
}

void PlatPathRemoveFileSpec(char *path)
{
    // PathRemoveFileSpecA expects a MAX_PATH buffer; every caller's text is shorter.
    PathRemoveFileSpecA(path);
}

int PlatPathQuoteSpaces(char *path, int size)
{
    char work[MAX_PATH];
    size_t n = strlen(path);
    if (n >= MAX_PATH)
        return 0;
    memcpy(work, path, n + 1);
    if (!strchr(work, ' '))
        return 1;  // nothing to quote
    if (n + 3 > MAX_PATH)
        return 0;  // the quoted text would not fit the function's MAX_PATH buffer
    PathQuoteSpacesA(work);
    size_t m = strlen(work);
    if (m + 1 > (size_t)size)
        return 0;
    memcpy(path, work, m + 1);
    return 1;
}

int PlatWriteFileFlushed(const char *path, const void *data, size_t count)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    const char *bytes = (const char *)data;
    bool written = true;
    while (written && count > 0) {
        DWORD chunk = count > (1u << 20) ? (1u << 20) : (DWORD)count;
        DWORD done = 0;
        written = WriteFile(file, bytes, chunk, &done, nullptr) && done == chunk;
        bytes += done;
        count -= done;
    }
    written = written && FlushFileBuffers(file);
    return CloseHandle(file) && written ? 1 : 0;
}

int PlatReplaceFile(const char *source, const char *dest)
{
    return MoveFileExA(source, dest, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

int PlatAppendFile(const char *path, const void *data, size_t count)
{
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD done = 0;
    BOOL written = count <= 0xFFFFFFFFu && WriteFile(file, data, (DWORD)count, &done, nullptr) &&
                   done == count;
    CloseHandle(file);
    return written ? 1 : 0;
}
