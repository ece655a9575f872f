// Bounded text helpers used everywhere above the platform seam. Every copy is checked:
// a result that does not fit is reported, never written past the buffer.
#pragma once
#include <cstddef>

// Copies src into dest (destSize bytes with the terminator). Returns true when all of src
// fit; otherwise dest holds the first destSize - 1 characters and false is returned.
bool CopyText(char *dest, size_t destSize, const char *src);

// Copies at most count characters of src (fewer if src ends first).
bool CopyTextN(char *dest, size_t destSize, const char *src, size_t count);

// Appends src to the text already in dest. Same result rule as CopyText.
bool AppendText(char *dest, size_t destSize, const char *src);

// snprintf into dest. Returns true when the whole result fit; otherwise dest holds the cut
// result and false is returned.
bool FormatText(char *dest, size_t destSize, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Lower-cases the letters A to Z in place; every other byte stays.
void LowerAscii(char *text);

// True when needle occurs anywhere in haystack (case-sensitive); "" always occurs.
bool ContainsText(const char *haystack, const char *needle);

// True when needle occurs in haystack with the letters A to Z compared without case.
bool ContainsTextNoCase(const char *haystack, const char *needle);

// Overwrites count bytes with zeros in a way the compiler keeps (for secrets).
void WipeBytes(void *bytes, size_t count);

// The standard library's decimal conversion (atoi): leading white space, an optional sign,
// digits up to the first other character; no digits give 0. Values beyond the range of a
// 32-bit integer are clamped instead of overflowing.
long ParseDecimal(const char *text);
