// Bounded text helpers: copies, formatting, case folding and searches on 8-bit text.
#include "text.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

bool CopyTextN(char *dest, size_t destSize, const char *src, size_t count)
{
    if (destSize == 0)
        return false;
    size_t n = 0;
    while (n < count && src[n] != '\0' && n + 1 < destSize) {
        dest[n] = src[n];
        n++;
    }
    dest[n] = '\0';
    return n == count || src[n] == '\0';
}

bool CopyText(char *dest, size_t destSize, const char *src)
{
    return CopyTextN(dest, destSize, src, (size_t)-1);
}

bool AppendText(char *dest, size_t destSize, const char *src)
{
    size_t used = strnlen(dest, destSize);
    if (used >= destSize)
        return false;
    return CopyText(dest + used, destSize - used, src);
}

bool FormatText(char *dest, size_t destSize, const char *format, ...)
{
    if (destSize == 0)
        return false;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(dest, destSize, format, args);
    va_end(args);
    if (n < 0) {
        dest[0] = '\0';
        return false;
    }
    return (size_t)n < destSize;
}

void LowerAscii(char *text)
{
    for (; *text; text++)
        if (*text >= 'A' && *text <= 'Z')
            *text = (char)(*text - 'A' + 'a');
}

bool ContainsText(const char *haystack, const char *needle)
{
    return strstr(haystack, needle) != nullptr;
}

static char LowerChar(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

bool ContainsTextNoCase(const char *haystack, const char *needle)
{
    if (*needle == '\0')
        return true;
    for (; *haystack; haystack++) {
        size_t i = 0;
        while (needle[i] && haystack[i] && LowerChar(haystack[i]) == LowerChar(needle[i]))
            i++;
        if (needle[i] == '\0')
            return true;
    }
    return false;
}

long ParseDecimal(const char *text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        text++;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = (*text++ == '-');
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        value = value * 10 + (*text - '0');
        if (value > (long long)INT_MAX + 1)
            value = (long long)INT_MAX + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        value = INT_MAX;
    return (long)value;
}

void WipeBytes(void *bytes, size_t count)
{
    memset(bytes, 0, count);
    // The compiler must assume the zeros are read: the stores are not left out.
    __asm__ __volatile__("" : : "r"(bytes) : "memory");
}
