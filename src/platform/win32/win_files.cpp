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

PlatClaimResult PlatClaimFile(const char *path, PlatClaim *claim)
{
    *claim = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        *claim = (PlatClaim)file;
        return PLAT_CLAIM_OK;
    }
    // A file already marked for deletion answers ERROR_ACCESS_DENIED on Windows (Wine 8.0:
    // a sharing violation, so IN_USE below): another run has sent it; nobody may have it.
    if (GetLastError() != ERROR_SHARING_VIOLATION)
        return PLAT_CLAIM_CANNOT_OPEN;
    // The probe asks for nothing a claim refuses, and refuses nothing a claim holds (reading
    // and deleting), so it opens beside a claim; beside a writer it does not.
    HANDLE probe = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return PLAT_CLAIM_CANNOT_OPEN;
    CloseHandle(probe);
    return PLAT_CLAIM_IN_USE;
}

long long PlatClaimedFileSize(PlatClaim claim)
{
    LARGE_INTEGER size;
    if (!claim || !GetFileSizeEx((HANDLE)claim, &size))
        return -1;
    return size.QuadPart;
}

const char *PlatMapClaimedFile(PlatClaim claim, size_t size)
{
    if (!claim || size == 0)
        return nullptr;
    unsigned long long wide = size;
    HANDLE section = CreateFileMappingA((HANDLE)claim, nullptr, PAGE_READONLY,
                                        (DWORD)(wide >> 32), (DWORD)wide, nullptr);
    if (!section)
        return nullptr;
    const void *view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, size);
    CloseHandle(section);
    return (const char *)view;
}

void PlatUnmapClaimedFile(const char *view)
{
    if (view)
        UnmapViewOfFile(view);
}

int PlatDeleteClaimedFile(PlatClaim claim)
{
    if (!claim)
        return 0;
    // DeleteFileA by path would open the file again asking to share deletion, which the
    // claim itself refuses; the disposition goes through the claim's own handle instead.
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle((HANDLE)claim, FileDispositionInfo, &disposition,
                                      sizeof disposition)
               ? 1
               : 0;
}

void PlatReleaseClaim(PlatClaim claim)
{
    if (claim)
        CloseHandle((HANDLE)claim);
}

// Upper-cases text in place and drops a trailing backslash, but for a drive's root ("C:\").
static void FinishCanonical(char *text)
{
    size_t n = strlen(text);
    if (n > 1 && text[n - 1] == '\\' && !(n == 3 && text[1] == ':'))
        text[--n] = '\0';
    CharUpperBuffA(text, (DWORD)n);
}

// Copies text into dest when it fits; returns 1 when it did.
static int StoreText(const char *text, char *dest, size_t destSize)
{
    size_t n = strlen(text);
    if (n + 1 > destSize)
        return 0;
    memcpy(dest, text, n + 1);
    return 1;
}

// The final path of a handle to the folder, "\\?\" taken off ("\\?\UNC\host\share" becomes
// "\\host\share"). 1 when work holds it.
static int FinalFolderPath(const char *path, char *work, DWORD workSize)
{
    // FILE_FLAG_BACKUP_SEMANTICS is what lets CreateFileA open a folder; no access is asked
    // for, so a folder the user may not read still gives its name.
    HANDLE folder = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info;
    DWORD n = 0;
    if (GetFileInformationByHandle(folder, &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        n = GetFinalPathNameByHandleA(folder, work, workSize, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(folder);
    if (n == 0 || n >= workSize)
        return 0;
    if (strncmp(work, "\\\\?\\UNC\\", 8) == 0)
        memmove(work + 1, work + 7, strlen(work + 7) + 1);  // keep "\" + "\host\share..."
    else if (strncmp(work, "\\\\?\\", 4) == 0)
        memmove(work, work + 4, strlen(work + 4) + 1);
    return 1;
}

int PlatCanonicalFolderPath(const char *path, char *dest, size_t destSize)
{
    if (destSize == 0)
        return 0;
    dest[0] = '\0';
    char work[1024];
    char full[1024];
    DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
    bool haveFull = n != 0 && n < sizeof full;
    bool found = FinalFolderPath(path, work, sizeof work);
    if (!found && haveFull) {
        // No handle to be had (or no final name from it): the long form of the full path.
        // Wine 8.0's GetLongPathNameA fails for some folders it finds (a path through the
        // prefix's own drive_c by Z:); the full path then stands as it is.
        DWORD attributes = GetFileAttributesA(full);
        found = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        DWORD m = found ? GetLongPathNameA(full, work, sizeof work) : 0;
        if (found && (m == 0 || m >= sizeof work))
            memcpy(work, full, strlen(full) + 1);
    }
    if (found) {
        FinishCanonical(work);
        if (StoreText(work, dest, destSize))
            return 1;
    }
    // Not found, or too long for dest: the full path of the text as given, when it fits.
    if (haveFull) {
        FinishCanonical(full);
        StoreText(full, dest, destSize);
    }
    return 0;
}
