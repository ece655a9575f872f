// Win32 side of the dialogs seam: the common open-file dialog, the shell's folder browser,
// item identifier lists and the shell's task allocator.
#include <windows.h>
#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>

#include "../plat_dialogs.h"

int PlatWindowExists(PlatWindow window) { return window != 0 && IsWindow((HWND)window); }

uintptr_t PlatGetWindowInstance(PlatWindow window)
{
    return (uintptr_t)GetWindowLongPtrA((HWND)window, GWLP_HINSTANCE);
}

int PlatGetOpenFileName(PlatOpenFileName *info)
{
    OPENFILENAMEA ofn;
    ZeroMemory(&ofn, sizeof ofn);
    // The record in its first, shorter form (up to lpTemplateName): 76 bytes in a 32-bit
    // build, 136 in a 64-bit one, so only the SDK's macro gives it.
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = (HWND)info->owner;
    ofn.hInstance = (HINSTANCE)info->instance;
    ofn.lpstrFilter = info->filter;
    ofn.lpstrCustomFilter = info->customFilter;
    ofn.nMaxCustFilter = info->maxCustomFilter;
    ofn.nFilterIndex = info->filterIndex;
    ofn.lpstrFile = info->file;
    ofn.nMaxFile = info->maxFile;
    ofn.lpstrFileTitle = info->fileTitle;
    ofn.nMaxFileTitle = info->maxFileTitle;
    ofn.lpstrInitialDir = info->initialDir;
    ofn.lpstrTitle = info->title;
    ofn.Flags = info->flags;
    ofn.nFileOffset = info->fileOffset;
    ofn.nFileExtension = info->fileExtension;
    ofn.lpstrDefExt = info->defExt;
    ofn.lCustData = (LPARAM)info->custData;
    ofn.lpfnHook = (LPOFNHOOKPROC)info->hook;
    ofn.lpTemplateName = info->templateName;
    return GetOpenFileNameA(&ofn) ? 1 : 0;
}

PlatItemList PlatBrowseForFolder(const PlatBrowseInfo *info)
{
    BROWSEINFOA bi;
    ZeroMemory(&bi, sizeof bi);
    bi.hwndOwner = (HWND)info->owner;
    bi.pidlRoot = (PCIDLIST_ABSOLUTE)info->root;
    bi.pszDisplayName = info->displayName;
    bi.lpszTitle = info->title;
    bi.ulFlags = info->flags;
    bi.lpfn = (BFFCALLBACK)info->callback;
    bi.lParam = (LPARAM)info->lParam;
    bi.iImage = info->image;
    // The browser needs a single-threaded apartment on this thread for the namespace
    // extensions it loads. The list it returns is plain task-allocator memory and stays valid
    // after the apartment is left.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    PIDLIST_ABSOLUTE list = SHBrowseForFolderA(&bi);
    if (SUCCEEDED(com))
        CoUninitialize();
    return (PlatItemList)list;
}

int PlatGetPathFromItemList(PlatItemList list, char *dest, int destSize)
{
    if (destSize < MAX_PATH) {
        if (destSize > 0)
            dest[0] = '\0';
        return 0;
    }
    if (!SHGetPathFromIDListA((PCIDLIST_ABSOLUTE)list, dest)) {
        dest[0] = '\0';
        return 0;
    }
    return 1;
}

PlatMalloc PlatGetShellMalloc(void)
{
    IMalloc *allocator = nullptr;
    if (FAILED(SHGetMalloc(&allocator)) || !allocator)
        return 0;
    return (PlatMalloc)allocator;
}

void PlatShellMallocFree(PlatMalloc allocator, PlatItemList list)
{
    ((IMalloc *)allocator)->Free((void *)list);
}

void PlatShellMallocRelease(PlatMalloc allocator) { ((IMalloc *)allocator)->Release(); }
