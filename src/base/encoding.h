// Base64, as the mail login and the sign-in both need it.
#pragma once
#include <cstddef>

// Base64 of count bytes into dest, terminated: the standard alphabet with '=' padding, or
// with url the URL-safe alphabet ('-' and '_') without padding. Returns the length, 0 when
// it does not fit (dest is then "" when it has room for that).
size_t Base64Encode(const unsigned char *bytes, size_t count, bool url, char *dest,
                    size_t destSize);
