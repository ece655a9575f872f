// Seam: files, folders, directory searches and path functions.
#pragma once
#include "plat_types.h"

// Opens an existing file for reading, sharing read access only (so a file another program
// holds open for writing fails), takes its size and closes it again.
// Returns the size in bytes, or -1 when the file cannot be opened.
long long PlatGetFileSizeShared(const char *path);

// Reads a whole file through the C runtime in binary mode (no line-end or end-of-file
// translation) into buf, at most max bytes. Returns the number of bytes read, or -1 when the
// file cannot be opened.
long long PlatReadFileBytes(const char *path, char *buf, long long max);

// DeleteFileA, CopyFileA, CreateDirectoryA (default security), RemoveDirectoryA.
// Each returns nonzero on success.
int PlatDeleteFile(const char *path);
int PlatCopyFile(const char *source, const char *dest, int failIfExists);
int PlatCreateDirectory(const char *path);
int PlatRemoveDirectory(const char *path);

// FindFirstFileA / FindNextFileA / FindClose over a wildcard pattern. The matched entry's
// name (no folder) goes to name, which holds nameSize characters; a name that does not fit
// is stored empty. PlatFindFirst returns 0 when nothing matches.
PlatFind PlatFindFirst(const char *pattern, char *name, int nameSize);
int PlatFindNext(PlatFind find, char *name, int nameSize);
void PlatFindClose(PlatFind find);

// GetShortPathNameA. Returns the length stored in dest (without terminator); 0 when the
// short form cannot be had (dest is then left empty), or the size needed when it does not
// fit destSize (dest is then left empty too).
int PlatGetShortPathName(const char *longPath, char *dest, int destSize);

// PathRemoveFileSpecA, in place: cuts the last path element and the backslash before it,
// keeping the backslash of a drive's root ("C:\x" gives "C:\"); no backslash gives "".
void PlatPathRemoveFileSpec(char *path);

// PathQuoteSpacesA, in place: encloses path in double quotes when it contains a blank.
// path holds size characters; returns 0 (and leaves path alone) when the quoted text would
// not fit, nonzero otherwise.
int PlatPathQuoteSpaces(char *path, int size);

// Writes a whole new file: CreateFileA(path, GENERIC_WRITE, no sharing, CREATE_ALWAYS), all
// count bytes, FlushFileBuffers, CloseHandle. Returns 1 when every byte was written and
// flushed; 0 otherwise (a partly written file may remain).
int PlatWriteFileFlushed(const char *path, const void *data, size_t count);

// MoveFileExA(source, dest, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH): source
// takes dest's place in one step, and the call returns once that is on the disk. Nonzero on
// success; on failure both files stay as they were.
int PlatReplaceFile(const char *source, const char *dest);

// Appends count bytes to path: CreateFileA(FILE_APPEND_DATA, shared for reading and writing,
// OPEN_ALWAYS), one write, CloseHandle. Returns 1 when every byte was written; 0 otherwise.
int PlatAppendFile(const char *path, const void *data, size_t count);

// A queued message file claimed by this run: open for reading and deleting, sharing read
// access only. While a claim is held no other run can claim the file, whatever path it
// names the file by, and nobody can open it for writing; a program that already holds it
// open for writing keeps it from being claimed. 0 when none.
typedef uintptr_t PlatClaim;

enum PlatClaimResult {
    PLAT_CLAIM_OK = 0,       // *claim holds the file
    PLAT_CLAIM_IN_USE,       // another run holds its claim (the file can be read, not claimed)
    PLAT_CLAIM_CANNOT_OPEN,  // no such file, no access, or open elsewhere for writing
};

// CreateFileA(path, GENERIC_READ | DELETE, FILE_SHARE_READ, OPEN_EXISTING). On a sharing
// violation, a second open for reading alone (sharing read and delete) tells a claim of
// another run (it succeeds: IN_USE) from a writer (it fails: CANNOT_OPEN).
PlatClaimResult PlatClaimFile(const char *path, PlatClaim *claim);

// The claimed file's size in bytes, or -1.
long long PlatClaimedFileSize(PlatClaim claim);

// The claimed file's first size bytes (size > 0), mapped for reading without a copy
// (CreateFileMappingA PAGE_READONLY, MapViewOfFile FILE_MAP_READ; the section handle is
// closed at once, the view keeps it). NULL when it cannot be mapped. Nobody can write the
// file while the claim is held, so the view stays whole. A mapped file cannot be deleted:
// unmap it first.
const char *PlatMapClaimedFile(PlatClaim claim, size_t size);

// UnmapViewOfFile; harmless for NULL.
void PlatUnmapClaimedFile(const char *view);

// Marks the claimed file for deletion through its own handle (FileDispositionInfo): it is
// gone once the claim is released, and no other run can take it meanwhile. Nonzero on
// success.
int PlatDeleteClaimedFile(PlatClaim claim);

// Gives the claim up (CloseHandle); harmless for 0.
void PlatReleaseClaim(PlatClaim claim);

// The canonical form of the path of an existing folder, the same for every way of naming
// it (relative, with "." or "..", short names, another case, a subst'ed or mapped drive):
// the final path of a handle to it (GetFinalPathNameByHandleA, without a "\\?\" prefix),
// else its full long path (GetFullPathNameA, GetLongPathNameA), upper-cased; no trailing
// backslash but for a drive's root. Returns 1 when dest holds it; 0 when the folder cannot
// be found or the result does not fit (dest then holds the full path of the text as given,
// upper-cased, or "").
int PlatCanonicalFolderPath(const char *path, char *dest, size_t destSize);
