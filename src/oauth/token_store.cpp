// The token store on disk. The plain record exists only in memory, in buffers wiped after
// each use; the file holds the DPAPI blob.
#include "token_store.h"

#include <cstring>

#include "../base/paths.h"
#include "../base/text.h"
#include "../platform/plat_crypto.h"
#include "../platform/plat_files.h"
#include "../platform/plat_shelllink.h"
#include "oauth_encoding.h"

static const char kStoreFolder[] = "Tillwick Orvenda";
static const char kStoreName[] = "mail-signin.dat";
static const char kStoreNewName[] = "mail-signin.new";
static const char kStoreLockName[] = "Tillwick Orvenda mail sign-in";

// The protected blob is the record and a few hundred bytes of DPAPI's own.
static const size_t kBlobSize = kTokenRecordTextSize + 4096;

// The record's byte form and its blob; one store operation at a time.
static char gRecordText[kTokenRecordTextSize];
static unsigned char gBlob[kBlobSize + 1];

static bool MakeStoreFolder(char *dest, size_t destSize)
{
    char appData[kPathSize];
    if (!PlatGetSpecialFolderPath(0, PLAT_CSIDL_APPDATA, appData, (int)sizeof appData) ||
        appData[0] == '\0')
        return false;
    return FormatText(dest, destSize, "%s\\%s", appData, kStoreFolder);
}

static bool MakeStoreFile(const char *name, char *dest, size_t destSize)
{
    char folder[kPathSize];
    return MakeStoreFolder(folder, sizeof folder) &&
           FormatText(dest, destSize, "%s\\%s", folder, name);
}

bool MakeTokenStorePath(char *dest, size_t destSize)
{
    return MakeStoreFile(kStoreName, dest, destSize);
}

TokenStoreResult LoadTokenRecord(TokenRecord *out)
{
    memset(out, 0, sizeof *out);
    char path[kPathSize];
    if (!MakeTokenStorePath(path, sizeof path))
        return kStoreAbsent;
    long long read = PlatReadFileBytes(path, (char *)gBlob, (long long)sizeof gBlob);
    if (read < 0)
        return kStoreAbsent;
    if ((size_t)read > kBlobSize)
        return kStoreUnreadable;
    size_t textLength = 0;
    TokenStoreResult result = kStoreUnreadable;
    if (PlatUnprotectData(gBlob, (size_t)read, (unsigned char *)gRecordText,
                          sizeof gRecordText, &textLength) &&
        ReadTokenRecord(gRecordText, textLength, out))
        result = kStoreOk;
    WipeBytes(gRecordText, sizeof gRecordText);
    if (result != kStoreOk)
        memset(out, 0, sizeof *out);
    return result;
}

TokenStoreResult SaveTokenRecord(const TokenRecord *record)
{
    char folder[kPathSize], path[kPathSize], newPath[kPathSize];
    if (!MakeStoreFolder(folder, sizeof folder) ||
        !MakeStoreFile(kStoreName, path, sizeof path) ||
        !MakeStoreFile(kStoreNewName, newPath, sizeof newPath))
        return kStoreFailed;
    size_t textLength = WriteTokenRecord(record, gRecordText, sizeof gRecordText);
    size_t blobLength = 0;
    bool protectedOk = textLength > 0 &&
                       PlatProtectData(gRecordText, textLength, gBlob, kBlobSize, &blobLength);
    WipeBytes(gRecordText, sizeof gRecordText);
    if (!protectedOk)
        return kStoreFailed;
    // The folder usually exists already; whether it does shows in the write.
    PlatCreateDirectory(folder);
    if (!PlatWriteFileFlushed(newPath, gBlob, blobLength)) {
        PlatDeleteFile(newPath);
        return kStoreFailed;
    }
    if (!PlatReplaceFile(newPath, path)) {
        PlatDeleteFile(newPath);
        return kStoreFailed;
    }
    return kStoreOk;
}

TokenStoreResult DeleteTokenRecord(void)
{
    char path[kPathSize], newPath[kPathSize];
    if (!MakeStoreFile(kStoreName, path, sizeof path) ||
        !MakeStoreFile(kStoreNewName, newPath, sizeof newPath))
        return kStoreAbsent;
    PlatDeleteFile(newPath);
    if (PlatDeleteFile(path))
        return kStoreOk;
    // A file that is there (a search finds it even while it is open) but stays: failed.
    char name[kPathSize];
    PlatFind find = PlatFindFirst(path, name, (int)sizeof name);
    if (!find)
        return kStoreAbsent;
    PlatFindClose(find);
    return kStoreFailed;
}

PlatMutex LockSignInStore(void)
{
    PlatMutex lock = PlatCreateGlobalMutex(kStoreLockName);
    if (lock != 0 && !PlatWaitMutex(lock)) {
        PlatCloseMutex(lock);
        return 0;
    }
    return lock;
}

void UnlockSignInStore(PlatMutex lock)
{
    PlatReleaseMutex(lock);
    PlatCloseMutex(lock);
}
