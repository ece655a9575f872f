// SHA-256 (FIPS 180-4) in portable code, the base64 and percent encodings, PKCE S256 and the
// XOAUTH2 initial response. Nothing here can fail other than by a buffer that is too small.
#include "oauth_encoding.h"

#include <cstdint>
#include <cstring>

#include "../base/text.h"

// ---- SHA-256 --------------------------------------------------------------------------

static const uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2,
};

static uint32_t Rotate(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

static void CompressBlock(uint32_t state[8], const unsigned char block[64])
{
    uint32_t w[64];
    for (int i = 0; i < 16; i++)
        w[i] = (uint32_t)block[i * 4] << 24 | (uint32_t)block[i * 4 + 1] << 16 |
               (uint32_t)block[i * 4 + 2] << 8 | (uint32_t)block[i * 4 + 3];
    for (int i = 16; i < 64; i++) {
        uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; i++) {
        uint32_t s1 = Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25);
        uint32_t choice = (e & f) ^ (~e & g);
        uint32_t t1 = h + s1 + choice + kRoundConstants[i] + w[i];
        uint32_t s0 = Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22);
        uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        uint32_t t2 = s0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

void Sha256(const void *data, size_t count, unsigned char digest[kSha256Size])
{
    uint32_t state[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    const unsigned char *bytes = (const unsigned char *)data;
    size_t whole = count / 64 * 64;
    for (size_t i = 0; i < whole; i += 64)
        CompressBlock(state, bytes + i);

    // The tail, the 0x80 marker and the bit length fill one or two more blocks.
    unsigned char tail[128];
    size_t rest = count - whole;
    memset(tail, 0, sizeof tail);
    if (rest)
        memcpy(tail, bytes + whole, rest);
    tail[rest] = 0x80;
    size_t tailLength = rest + 1 + 8 <= 64 ? 64 : 128;
    uint64_t bits = (uint64_t)count * 8;
    for (int i = 0; i < 8; i++)
        tail[tailLength - 1 - i] = (unsigned char)(bits >> (8 * i));
    CompressBlock(state, tail);
    if (tailLength == 128)
        CompressBlock(state, tail + 64);

    for (int i = 0; i < 8; i++) {
        digest[i * 4] = (unsigned char)(state[i] >> 24);
        digest[i * 4 + 1] = (unsigned char)(state[i] >> 16);
        digest[i * 4 + 2] = (unsigned char)(state[i] >> 8);
        digest[i * 4 + 3] = (unsigned char)state[i];
    }
}

// ---- base64 and percent-encoding ---------------------------------------------------------


static bool IsUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.' || c == '_' || c == '~';
}

bool AppendPercentEncoded(char *dest, size_t destSize, const char *text)
{
    static const char kHex[] = "0123456789ABCDEF";
    size_t length = strlen(dest);
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        size_t need = IsUnreserved(*p) ? 1 : 3;
        if (length + need >= destSize) {
            dest[length] = '\0';
            return false;
        }
        if (need == 1) {
            dest[length++] = (char)*p;
        } else {
            dest[length++] = '%';
            dest[length++] = kHex[*p >> 4];
            dest[length++] = kHex[*p & 15];
        }
    }
    dest[length] = '\0';
    return true;
}

static int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

size_t PercentDecode(const char *text, size_t count, bool plusIsBlank, char *dest,
                     size_t destSize)
{
    if (destSize == 0)
        return (size_t)-1;
    size_t out = 0;
    for (size_t i = 0; i < count; i++) {
        char c = text[i];
        if (c == '%') {
            int high = i + 1 < count ? HexValue(text[i + 1]) : -1;
            int low = i + 2 < count ? HexValue(text[i + 2]) : -1;
            if (high < 0 || low < 0 || (high == 0 && low == 0))
                return (size_t)-1;
            c = (char)(high * 16 + low);
            i += 2;
        } else if (c == '+' && plusIsBlank) {
            c = ' ';
        } else if (c == '\0') {
            return (size_t)-1;
        }
        if (out + 1 >= destSize)
            return (size_t)-1;
        dest[out++] = c;
    }
    dest[out] = '\0';
    return out;
}

// ---- PKCE and XOAUTH2 ---------------------------------------------------------------------

void MakePkcePair(const unsigned char random[kPkceRandomBytes], PkcePair *out)
{
    Base64Encode(random, kPkceRandomBytes, true, out->verifier, sizeof out->verifier);
    unsigned char digest[kSha256Size];
    Sha256(out->verifier, strlen(out->verifier), digest);
    Base64Encode(digest, sizeof digest, true, out->challenge, sizeof out->challenge);
}

size_t MakeXoauth2Response(const char *user, const char *token, char *dest, size_t destSize)
{
    size_t userLength = strlen(user);
    size_t tokenLength = strlen(token);
    size_t rawLength = 5 + userLength + 1 + 12 + tokenLength + 2;
    size_t encodedLength = (rawLength + 2) / 3 * 4;
    if (destSize == 0 || encodedLength > destSize - 1) {
        if (destSize)
            dest[0] = '\0';
        return 0;
    }
    // No second buffer as large as a token: the raw text is put together in the tail of
    // dest and encoded forward into its head. The four characters of each group are written
    // after its three bytes were read and end before the next group's bytes begin, since the
    // raw text starts more than a third of its length after the encoding.
    unsigned char *raw = (unsigned char *)dest + (encodedLength + 1 - rawLength);
    size_t n = 0;
    memcpy(raw + n, "user=", 5);
    n += 5;
    memcpy(raw + n, user, userLength);
    n += userLength;
    raw[n++] = 1;
    memcpy(raw + n, "auth=Bearer ", 12);
    n += 12;
    memcpy(raw + n, token, tokenLength);
    n += tokenLength;
    raw[n++] = 1;
    raw[n++] = 1;
    return Base64Encode(raw, rawLength, false, dest, destSize);
}

