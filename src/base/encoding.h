// Base64 and UTF-8, as the mail login and the sign-in both need them.
#pragma once
#include <cstddef>

// Base64 of count bytes into dest, terminated: the standard alphabet with '=' padding, or
// with url the URL-safe alphabet ('-' and '_') without padding. Returns the length, 0 when
// it does not fit (dest is then "" when it has room for that).
size_t Base64Encode(const unsigned char *bytes, size_t count, bool url, char *dest,
                    size_t destSize);

// Decodes count characters of base64 into dest (destSize bytes, not terminated): the
// standard alphabet, or with url the URL-safe one. '=' padding may be left off; where it is
// given it must complete the last group of four. Returns the number of bytes; (size_t)-1 for
// a character outside the alphabet, a misplaced '=', a last group of one character or with
// bits left over, or a result that does not fit.
size_t Base64Decode(const char *text, size_t count, bool url, unsigned char *dest,
                    size_t destSize);

// The UTF-8 form of one code point (at most U+10FFFF) into out. Returns its length, 1 to 4.
size_t EncodeUtf8(unsigned long codePoint, unsigned char out[4]);
