// Win32 side of the crypto seam: the CryptoAPI's random generator and DPAPI for the current
// user.
#include <windows.h>
#include <wincrypt.h>

#include <cstring>

#include "../plat_crypto.h"

int PlatRandomBytes(unsigned char *dest, size_t count)
{
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
        return 0;
    BOOL made = count <= 0xFFFFFFFFu && CryptGenRandom(provider, (DWORD)count, dest);
    CryptReleaseContext(provider, 0);
    return made ? 1 : 0;
}

// Copies a blob the system allocated into the caller's buffer, then wipes and frees it.
static int TakeBlob(DATA_BLOB *out, unsigned char *dest, size_t destSize, size_t *destLength)
{
    int taken = 0;
    if (out->cbData <= destSize) {
        if (out->cbData)
            memcpy(dest, out->pbData, out->cbData);
        *destLength = out->cbData;
        taken = 1;
    }
    if (out->pbData) {
        SecureZeroMemory(out->pbData, out->cbData);
        LocalFree(out->pbData);
    }
    return taken;
}

int PlatProtectData(const void *data, size_t count, unsigned char *dest, size_t destSize,
                    size_t *destLength)
{
    *destLength = 0;
    if (count > 0xFFFFFFFFu)
        return 0;
    DATA_BLOB in = {(DWORD)count, (BYTE *)data};
    DATA_BLOB out = {0, nullptr};
    if (!CryptProtectData(&in, L"Tillwick Orvenda mail sign-in", nullptr, nullptr, nullptr,
                          CRYPTPROTECT_UI_FORBIDDEN, &out))
        return 0;
    return TakeBlob(&out, dest, destSize, destLength);
}

int PlatUnprotectData(const void *data, size_t count, unsigned char *dest, size_t destSize,
                      size_t *destLength)
{
    *destLength = 0;
    if (count > 0xFFFFFFFFu)
        return 0;
    DATA_BLOB in = {(DWORD)count, (BYTE *)data};
    DATA_BLOB out = {0, nullptr};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            &out))
        return 0;
    return TakeBlob(&out, dest, destSize, destLength);
}
