// The token store: the token record in a file of its own under the user's application data
// folder, protected for the current Windows user (DPAPI) and replaced in one step.
#pragma once
#include <cstddef>

#include "../platform/plat_security.h"
#include "token_record.h"

// "%APPDATA%\Tillwick Orvenda\mail-signin.dat" (the folder is CSIDL_APPDATA). False when
// the folder has no path or the result does not fit.
bool MakeTokenStorePath(char *dest, size_t destSize);

enum TokenStoreResult {
    kStoreOk = 0,
    kStoreAbsent,      // no file (or no application data folder): not signed in
    kStoreUnreadable,  // not this user's, damaged, or not a record: not signed in either
    kStoreFailed,      // could not be written or deleted
};

// Reads and unprotects the record. Ok, Absent or Unreadable (*out cleared unless Ok).
TokenStoreResult LoadTokenRecord(TokenRecord *out);

// Protects the record and writes it as a new file beside the store, flushed, which then
// replaces the store in one step with the move written through: a crash leaves the old
// record or the new one, never a part. Ok or Failed (the old record stays then).
TokenStoreResult SaveTokenRecord(const TokenRecord *record);

// Deletes the store (and a new file a failed save left beside it). Ok when a record was
// deleted, Absent when there was none, Failed when it could not be deleted.
TokenStoreResult DeleteTokenRecord(void);

// The sign-in store's lock: a mutex named "Tillwick Orvenda mail sign-in" in the global
// namespace (every session of a terminal server meets it), held by whoever loads, renews and
// saves the record, or saves or deletes it after a sign-in, so that a renewal never writes
// its older record over a newer one. Waits until the lock is ours and returns it; 0 when
// the mutex could not be made or waited for (the caller then goes on without it, as a run
// alone would). UnlockSignInStore releases and closes it; harmless for 0.
PlatMutex LockSignInStore(void);
void UnlockSignInStore(PlatMutex lock);
