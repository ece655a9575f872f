// Seam: the system's cryptographic random generator and the data protection of the current
// Windows user (DPAPI), for the sign-in's secrets.
#pragma once
#include <cstddef>

// count bytes from the system's cryptographic generator into dest. Returns 1 on success, 0
// when the generator failed (dest is then unusable).
int PlatRandomBytes(unsigned char *dest, size_t count);

// CryptProtectData of count bytes for the current user, with no prompt
// (CRYPTPROTECT_UI_FORBIDDEN): the protected blob is copied into dest (destSize bytes), its
// length into *destLength. Only the same Windows user can unprotect it. Returns 1 on success;
// 0 when the call failed or the blob does not fit (*destLength 0).
int PlatProtectData(const void *data, size_t count, unsigned char *dest, size_t destSize,
                    size_t *destLength);

// CryptUnprotectData of a blob PlatProtectData made, with no prompt: the plain bytes into
// dest as above. The system's copy is wiped before it is freed. Returns 1 on success; 0 when
// the blob is not one of this user's, is damaged, or does not fit.
int PlatUnprotectData(const void *data, size_t count, unsigned char *dest, size_t destSize,
                      size_t *destLength);
