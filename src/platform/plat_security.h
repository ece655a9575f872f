// Seam: the stored credential of the mail login and the named mutex that lets one e-mail
// batch run at a time.
#pragma once
#include <cstddef>

#include "plat_types.h"

typedef uintptr_t PlatMutex;  // a named mutex; 0 when none could be made

// CredReadA of a generic credential (CRED_TYPE_GENERIC) named target: its blob's bytes are
// copied into blob (blobSize bytes), their number into *blobLength. Returns 1 when found, 0
// when there is none or it does not fit (*blobLength 0).
int PlatReadGenericCredential(const char *target, unsigned char *blob, size_t blobSize,
                              size_t *blobLength);

// CredWriteA of a generic credential named target for the current Windows user
// (CRED_PERSIST_LOCAL_MACHINE), with userName (shown by the Credential Manager, never read
// back) and blob (blobLength bytes, at most 2560): replaces one of the same name. Returns 1
// when stored, 0 when not (the old one, if any, then stays).
int PlatWriteGenericCredential(const char *target, const char *userName,
                               const unsigned char *blob, size_t blobLength);

// CreateMutexA(no security attributes, not owned, name). 0 on failure.
PlatMutex PlatCreateMutex(const char *name);

// CreateMutexA(no security attributes, not owned) named "Global\\" and name, so that every
// session of a terminal server meets the same one; where the global namespace is refused
// (ERROR_ACCESS_DENIED), name alone in the session's own. 0 on failure.
PlatMutex PlatCreateGlobalMutex(const char *name);

// WaitForSingleObject(mutex, INFINITE): returns once the mutex is ours, also when its last
// owner ended without releasing it. 1 when owned, 0 when the wait failed.
int PlatWaitMutex(PlatMutex mutex);

// ReleaseMutex; CloseHandle. Both harmless for 0.
void PlatReleaseMutex(PlatMutex mutex);
void PlatCloseMutex(PlatMutex mutex);
