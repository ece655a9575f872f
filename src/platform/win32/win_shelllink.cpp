// Win32 side of the special-folder and shell link seam.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>

#include "../plat_shelllink.h"

int PlatGetSpecialFolderPath(PlatWindow owner, int csidl, char *dest, int destSize)
{
    if (destSize <= 0)
        return 0;
    dest[0] = '\0';
    LPITEMIDLIST list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation((HWND)owner, csidl, &list)) || !list)
        return 0;
    char path[MAX_PATH];
    path[0] = '\0';
    BOOL read = SHGetPathFromIDListA(list, path);
    IMalloc *allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
        allocator->Free(list);
        allocator->Release();
    }
    if (!read)
        return 0;
    path[MAX_PATH - 1] = '\0';
    size_t n = strlen(path);
    if (n + 1 > (size_t)destSize)
        return 0;
    memcpy(dest, path, n + 1);
    return 1;
}

int PlatLinkPathUnits(const char *linkFile)
{
    return MultiByteToWideChar(CP_ACP, 0, linkFile, -1, nullptr, 0);
}

int PlatSaveShellLink(const char *target, const char *arguments, const char *iconFile,
                      int iconIndex, const char *linkFile)
{
    int saved = 0;
    // S_FALSE (already initialised) must be balanced too; a failure must not be.
    HRESULT init = CoInitialize(nullptr);
    IShellLinkA *link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IShellLinkA, (void **)&link)) && link) {
        IPersistFile *file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file)) && file) {
            link->SetPath(target);
            link->SetArguments(arguments);
            link->SetIconLocation(iconFile, iconIndex);
            WCHAR widePath[MAX_PATH];
            if (MultiByteToWideChar(CP_ACP, 0, linkFile, -1, widePath, MAX_PATH) > 0)
                saved = SUCCEEDED(file->Save(widePath, TRUE)) ? 1 : 0;
            file->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(init))
        CoUninitialize();
    return saved;
}
