// Base64, standard and URL-safe, and UTF-8.
#include "encoding.h"

size_t Base64Encode(const unsigned char *bytes, size_t count, bool url, char *dest,
                    size_t destSize)
{
    static const char kStandard[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    static const char kUrlSafe[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    const char *digits = url ? kUrlSafe : kStandard;
    size_t need = url ? (count * 4 + 2) / 3 : (count + 2) / 3 * 4;
    if (destSize == 0)
        return 0;
    if (need > destSize - 1) {
        dest[0] = '\0';
        return 0;
    }
    size_t out = 0;
    for (size_t i = 0; i < count; i += 3) {
        unsigned long group = (unsigned long)bytes[i] << 16;
        if (i + 1 < count)
            group |= (unsigned long)bytes[i + 1] << 8;
        if (i + 2 < count)
            group |= bytes[i + 2];
        dest[out++] = digits[(group >> 18) & 63];
        dest[out++] = digits[(group >> 12) & 63];
        if (i + 1 < count)
            dest[out++] = digits[(group >> 6) & 63];
        else if (!url)
            dest[out++] = '=';
        if (i + 2 < count)
            dest[out++] = digits[group & 63];
        else if (!url)
            dest[out++] = '=';
    }
    dest[out] = '\0';
    return out;
}

static int Base64Digit(char c, bool url)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == (url ? '-' : '+'))
        return 62;
    if (c == (url ? '_' : '/'))
        return 63;
    return -1;
}

size_t Base64Decode(const char *text, size_t count, bool url, unsigned char *dest,
                    size_t destSize)
{
    const size_t kFailed = (size_t)-1;
    size_t digits = count;
    while (digits > 0 && text[digits - 1] == '=')
        digits--;
    size_t padding = count - digits;
    // Padding fills the last group to four characters, or is absent.
    if (padding > 0 && (padding > 2 || count % 4 != 0))
        return kFailed;
    if (digits % 4 == 1)
        return kFailed;
    size_t need = digits / 4 * 3 + (digits % 4 == 0 ? 0 : digits % 4 - 1);
    if (need > destSize)
        return kFailed;
    size_t out = 0;
    unsigned long group = 0;
    for (size_t i = 0; i < digits; i++) {
        int d = Base64Digit(text[i], url);
        if (d < 0)
            return kFailed;
        group = (group << 6) | (unsigned long)d;
        if (i % 4 == 3) {
            dest[out++] = (unsigned char)(group >> 16);
            dest[out++] = (unsigned char)(group >> 8);
            dest[out++] = (unsigned char)group;
            group = 0;
        }
    }
    // A last group of two or three characters carries one or two bytes; the bits beyond
    // them must be zero, so that each byte string has one encoding only.
    size_t rest = digits % 4;
    if (rest == 2) {
        if (group & 0xF)
            return kFailed;
        dest[out++] = (unsigned char)(group >> 4);
    } else if (rest == 3) {
        if (group & 0x3)
            return kFailed;
        dest[out++] = (unsigned char)(group >> 10);
        dest[out++] = (unsigned char)(group >> 2);
    }
    return out;
}

size_t EncodeUtf8(unsigned long c, unsigned char out[4])
{
    if (c < 0x80) {
        out[0] = (unsigned char)c;
        return 1;
    }
    if (c < 0x800) {
        out[0] = (unsigned char)(0xC0 | (c >> 6));
        out[1] = (unsigned char)(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = (unsigned char)(0xE0 | (c >> 12));
        out[1] = (unsigned char)(0x80 | ((c >> 6) & 0x3F));
        out[2] = (unsigned char)(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = (unsigned char)(0xF0 | (c >> 18));
    out[1] = (unsigned char)(0x80 | ((c >> 12) & 0x3F));
    out[2] = (unsigned char)(0x80 | ((c >> 6) & 0x3F));
    out[3] = (unsigned char)(0x80 | (c & 0x3F));
    return 4;
}
