// The token endpoint's answer: a flat JSON object, read by a small strict reader. Anything
// that is not exactly JSON is refused, never guessed at.
#pragma once
#include <cstddef>

// Room for a token and its terminator. Access tokens of Microsoft's run to a few KB.
const size_t kTokenSize = 16384;

// Room for the name the id_token gives the signed-in account (an address is 254 at most).
const size_t kSignedInAsSize = 256;

struct TokenResponse {
    char accessToken[kTokenSize];
    char refreshToken[kTokenSize];  // "" when none was sent: the caller keeps the old one
    long long expiresIn;            // seconds; -1 when none was sent
    char tokenType[32];
    char error[128];                // kTokenResponseError: the error code
    char errorDescription[1024];    // and its description when sent ("" otherwise)
    char signedInAs[kSignedInAsSize];  // kTokenResponseOk: the id_token's "email", else its
                                       // "preferred_username"; "" when it named neither
};

enum TokenResponseResult {
    kTokenResponseOk = 0,    // an access token of type Bearer, and what else was sent
    kTokenResponseError,     // the endpoint said "error": no token is kept from it
    kTokenResponseMalformed, // not JSON, not one object, or unusable (see below)
};

// Reads count bytes. The document must be one JSON object and nothing else but white space.
// Its strings may use every escape (\uXXXX with surrogate pairs becomes UTF-8); raw bytes
// must be UTF-8 without control characters; \u0000 is refused. Members the reader does not
// know may hold anything (nested objects and arrays are checked and skipped, 32 levels at
// most); a member name may not come twice and may not be longer than 255 bytes. Known
// members: access_token and refresh_token (1 or more characters from blank to '~', and
// each must fit kTokenSize), token_type, expires_in (a whole number of at most 12 digits,
// or such a number as a string, as some servers send it), error, error_description; null
// counts as absent, any other type is refused. Ok needs an access token and token_type
// "Bearer" (any case); error present gives Error whatever else came. *out holds only what
// the result names; every field is cleared otherwise.
// An id_token (a string of at most kTokenSize - 1 bytes, else ignored) gives signedInAs: its
// payload, the second of three dot-separated parts, is base64url (padded or not) of a JSON
// object read by the same rules, whose claim "email", else "preferred_username", is taken
// when it is a string of 1 or more bytes without control characters that fits. Anything else
// about the id_token leaves signedInAs "" and never changes the result. Its signature is not
// checked: it came straight from the token endpoint over TLS.
TokenResponseResult ReadTokenResponse(const char *bytes, size_t count, TokenResponse *out);
