// Win32 side of the registry seam.
#include <windows.h>

#include "../plat_registry.h"

// The predefined roots are 32-bit values that Windows sign-extends in a 64-bit handle
// (HKEY_LOCAL_MACHINE is 0xFFFFFFFF80000002 there); the seam carries them unextended.
static HKEY RootKey(PlatRoot root)
{
    return (HKEY)(LONG_PTR)(LONG)(DWORD)root;
}

int PlatRegReadString(PlatRoot root, const char *path, const char *name, char *dest,
                      int destSize)
{
    if (destSize <= 0)
        return 0;
    dest[0] = '\0';
    HKEY key;
    if (RegOpenKeyExA(RootKey(root), path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0;
    DWORD size = (DWORD)destSize;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, (BYTE *)dest, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        dest[0] = '\0';
        return 0;
    }
    // A stored string need not carry its terminator: end it within the buffer.
    if (size >= (DWORD)destSize && dest[destSize - 1] != '\0') {
        dest[0] = '\0';
        return 0;
    }
    dest[size < (DWORD)destSize ? size : (DWORD)destSize - 1] = '\0';
    return 1;
}

PlatKey PlatRegCreateKey(PlatRoot root, const char *path)
{
    HKEY key;
    if (RegCreateKeyA(RootKey(root), path, &key) != ERROR_SUCCESS)
        return 0;
    return (PlatKey)key;
}

int PlatRegSetValue(PlatKey key, const char *name, unsigned type, const void *data,
                    unsigned size)
{
    return RegSetValueExA((HKEY)key, name, 0, type, (const BYTE *)data, size) == ERROR_SUCCESS;
}

void PlatRegCloseKey(PlatKey key) { RegCloseKey((HKEY)key); }

int PlatRegDeleteKey(PlatRoot root, const char *path)
{
    return RegDeleteKeyA(RootKey(root), path) == ERROR_SUCCESS;
}
