// Win32 side of the security seam: the mail login's stored credential (Credential Manager)
// and the named mutex that keeps a second e-mail batch waiting for the first.
#include <windows.h>
#include <wincred.h>

#include <cstring>

#include "../plat_security.h"

int PlatReadGenericCredential(const char *target, unsigned char *blob, size_t blobSize,
                              size_t *blobLength)
{
    *blobLength = 0;
    PCREDENTIALA credential = nullptr;
    if (!CredReadA(target, CRED_TYPE_GENERIC, 0, &credential))
        return 0;
    int found = 0;
    DWORD size = credential->CredentialBlobSize;
    if (size <= blobSize && (size == 0 || credential->CredentialBlob)) {
        if (size)
            memcpy(blob, credential->CredentialBlob, size);
        *blobLength = size;
        found = 1;
    }
    // It is a password: leave no copy behind in the freed block.
    if (credential->CredentialBlob && size)
        SecureZeroMemory(credential->CredentialBlob, size);
    CredFree(credential);
    return found;
}

int PlatWriteGenericCredential(const char *target, const char *userName,
                               const unsigned char *blob, size_t blobLength)
{
    if (blobLength > CRED_MAX_CREDENTIAL_BLOB_SIZE)
        return 0;
    CREDENTIALA credential = {};
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = (LPSTR)target;
    credential.UserName = (LPSTR)userName;
    credential.CredentialBlobSize = (DWORD)blobLength;
    credential.CredentialBlob = (LPBYTE)blob;
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    return CredWriteA(&credential, 0) ? 1 : 0;
}

PlatMutex PlatCreateMutex(const char *name)
{
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    return (PlatMutex)mutex;  // NULL on failure, which is 0
}

PlatMutex PlatCreateGlobalMutex(const char *name)
{
    char global[MAX_PATH];
    size_t n = strlen(name);
    if (n + 8 > sizeof global)
        return 0;  // longer than any mutex name may be
    memcpy(global, "Global\\", 7);
    memcpy(global + 7, name, n + 1);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, global);
    // A session whose user may not create objects in the global namespace.
    if (!mutex && GetLastError() == ERROR_ACCESS_DENIED)
        mutex = CreateMutexA(nullptr, FALSE, name);
    return (PlatMutex)mutex;
}

int PlatWaitMutex(PlatMutex mutex)
{
    if (!mutex)
        return 0;
    // WAIT_ABANDONED: the last owner ended without releasing; the mutex is ours all the same.
    DWORD result = WaitForSingleObject((HANDLE)mutex, INFINITE);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED ? 1 : 0;
}

void PlatReleaseMutex(PlatMutex mutex)
{
    if (mutex)
        ReleaseMutex((HANDLE)mutex);
}

void PlatCloseMutex(PlatMutex mutex)
{
    if (mutex)
        CloseHandle((HANDLE)mutex);
}
