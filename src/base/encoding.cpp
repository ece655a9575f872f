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
