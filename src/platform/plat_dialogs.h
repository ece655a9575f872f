// Seam: the common open-file dialog, the shell's folder browser, item identifier lists and
// the shell's task allocator, and the host window's instance handle.
#pragma once
#include "plat_types.h"

typedef uintptr_t PlatMalloc;  // the shell's task allocator; 0 when none could be had

// The open-file dialog flags, by their Windows numbers.
const unsigned PLAT_OFN_HIDEREADONLY = 0x0004;
const unsigned PLAT_OFN_FILEMUSTEXIST = 0x1000;
// The folder browser's flag that accepts file-system folders only.
const unsigned PLAT_BIF_RETURNONLYFSDIRS = 0x0001;

// The members of OPENFILENAMEA in its first, shorter form (everything up to lpTemplateName).
// The Win32 side copies them into a real record whose size it sets itself, from the SDK's
// macro for that form: the record's size differs between 32-bit and 64-bit builds.
// Strings are borrowed for the call only; file is written by the dialog.
struct PlatOpenFileName {
    PlatWindow owner;             // hwndOwner; 0: no owner
    uintptr_t instance;           // hInstance
    const char *filter;           // lpstrFilter: pairs of strings, closed by an empty one
    char *customFilter;           // lpstrCustomFilter
    unsigned maxCustomFilter;     // nMaxCustFilter
    unsigned filterIndex;         // nFilterIndex
    char *file;                   // lpstrFile: in, the proposed name; out, the chosen path
    unsigned maxFile;             // nMaxFile, in characters with the terminator
    char *fileTitle;              // lpstrFileTitle
    unsigned maxFileTitle;        // nMaxFileTitle
    const char *initialDir;       // lpstrInitialDir
    const char *title;            // lpstrTitle
    unsigned flags;               // Flags
    unsigned short fileOffset;    // nFileOffset
    unsigned short fileExtension; // nFileExtension
    const char *defExt;           // lpstrDefExt
    intptr_t custData;            // lCustData
    uintptr_t hook;               // lpfnHook; 0: none
    const char *templateName;     // lpTemplateName
};

// The members of BROWSEINFOA.
struct PlatBrowseInfo {
    PlatWindow owner;             // hwndOwner; 0: no owner
    PlatItemList root;            // pidlRoot; 0: the desktop, the whole namespace
    char *displayName;            // pszDisplayName; NULL: no display name asked for
    const char *title;            // lpszTitle: the instruction above the tree
    unsigned flags;               // ulFlags
    uintptr_t callback;           // lpfn; 0: none
    intptr_t lParam;              // lParam
    int image;                    // iImage
};

// IsWindow: nonzero when the handle names an existing window (of any process).
int PlatWindowExists(PlatWindow window);

// GetWindowLongPtrA(GWLP_HINSTANCE) of a window: its instance handle, 0 when there is none.
uintptr_t PlatGetWindowInstance(PlatWindow window);

// GetOpenFileNameA: shows the modal dialog. Returns nonzero when a file was chosen, its full
// path then in info->file; 0 when the user cancelled or the dialog failed (info->file is left
// as the dialog left it). Only info->file is written.
int PlatGetOpenFileName(PlatOpenFileName *info);

// SHBrowseForFolderA: shows the modal folder browser. Returns the chosen folder's item
// identifier list, which the caller frees through the shell's task allocator; 0 when the
// user cancelled.
PlatItemList PlatBrowseForFolder(const PlatBrowseInfo *info);

// SHGetPathFromIDListA into dest, which must hold destSize >= 260 characters (the size the
// function requires; a smaller buffer fails without a call). Returns nonzero when the list
// names a file-system path; 0 (dest "") when it has none.
int PlatGetPathFromItemList(PlatItemList list, char *dest, int destSize);

// SHGetMalloc: the shell's task allocator, 0 when it cannot be had. The caller releases it.
PlatMalloc PlatGetShellMalloc(void);
// IMalloc::Free of an item identifier list the shell gave out.
void PlatShellMallocFree(PlatMalloc allocator, PlatItemList list);
// IMalloc::Release.
void PlatShellMallocRelease(PlatMalloc allocator);
