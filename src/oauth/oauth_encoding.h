// The hashing and encodings of the mail sign-in: SHA-256, base64 (standard and URL-safe),
// percent-encoding, the PKCE pair and the SMTP AUTH XOAUTH2 initial response. No I/O here:
// the random bytes come from the caller.
#pragma once
#include <cstddef>

#include "../base/encoding.h"

const size_t kSha256Size = 32;

// SHA-256 of count bytes into digest.
void Sha256(const void *data, size_t count, unsigned char digest[kSha256Size]);

// Appends text percent-encoded: every byte but the unreserved A-Z a-z 0-9 - . _ ~ becomes
// %XX (upper-case hex), a blank too. False (dest cut at a whole escape) when it does not fit.
bool AppendPercentEncoded(char *dest, size_t destSize, const char *text);

// Decodes count bytes of a query value into dest, terminated: %XX (either case) becomes its
// byte and, with plusIsBlank, '+' a blank. Returns the length; (size_t)-1 when an escape is
// broken or decodes to NUL, or when the result does not fit.
size_t PercentDecode(const char *text, size_t count, bool plusIsBlank, char *dest,
                     size_t destSize);

// The random bytes a PKCE verifier and a state are made of, and the length of their text.
const size_t kPkceRandomBytes = 32;
const size_t kPkceTextSize = 44;  // 43 characters of base64url and the terminator

// PKCE with the S256 method: the verifier is base64url of the random bytes (43 characters),
// the challenge base64url of the verifier's SHA-256.
struct PkcePair {
    char verifier[kPkceTextSize];
    char challenge[kPkceTextSize];
};
void MakePkcePair(const unsigned char random[kPkceRandomBytes], PkcePair *out);

// The SASL XOAUTH2 initial response: base64 of "user=" user ^A "auth=Bearer " token ^A ^A.
// Returns its length, 0 when it does not fit dest.
size_t MakeXoauth2Response(const char *user, const char *token, char *dest, size_t destSize);
