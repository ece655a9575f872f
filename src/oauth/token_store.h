// The token store: the token record in a file of its own under the user's application data
// folder, protected for the current Windows user (DPAPI) and replaced in one step.
#pragma once
#include <cstddef>

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
