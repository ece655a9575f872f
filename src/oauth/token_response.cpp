// The strict JSON reader of token responses (RFC 8259 grammar), reduced to what a flat
// object needs: members of the top level are decoded where the reader knows them and checked
// and skipped where it does not.
#include "token_response.h"

#include <cstring>

#include "../base/encoding.h"
#include "../base/text.h"

namespace {

const int kDepthMax = 32;
const size_t kNameSize = 256;
const int kMembersMax = 64;

struct Cursor {
    const unsigned char *p;
    const unsigned char *end;
};

void SkipSpace(Cursor *c)
{
    while (c->p < c->end && (*c->p == ' ' || *c->p == '\t' || *c->p == '\n' || *c->p == '\r'))
        c->p++;
}

bool Take(Cursor *c, char expected)
{
    if (c->p < c->end && *c->p == (unsigned char)expected) {
        c->p++;
        return true;
    }
    return false;
}

bool TakeWord(Cursor *c, const char *word)
{
    size_t n = strlen(word);
    if ((size_t)(c->end - c->p) < n || memcmp(c->p, word, n) != 0)
        return false;
    c->p += n;
    return true;
}

// Length of the well-formed UTF-8 sequence at p (no overlong forms, no surrogates, nothing
// above U+10FFFF), or 0.
size_t Utf8SequenceLength(const unsigned char *p, const unsigned char *end)
{
    unsigned char b = *p;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0)
            low = 0xA0;
        if (b == 0xED)
            high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0)
            low = 0x90;
        if (b == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if ((size_t)(end - p) < length)
        return 0;
    if (p[1] < low || p[1] > high)
        return 0;
    for (size_t i = 2; i < length; i++)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return length;
}

int HexDigit(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool ReadHex4(Cursor *c, unsigned long *value)
{
    if (c->end - c->p < 4)
        return false;
    *value = 0;
    for (int i = 0; i < 4; i++) {
        int d = HexDigit(c->p[i]);
        if (d < 0)
            return false;
        *value = *value * 16 + (unsigned long)d;
    }
    c->p += 4;
    return true;
}

// Where a decoded string goes: dest may be null (checked only). overflow is set, and the
// rest dropped, when it does not fit.
struct StringSink {
    char *dest;
    size_t size;
    size_t length;
    bool overflow;
};

void Put(StringSink *sink, const unsigned char *bytes, size_t n)
{
    if (!sink->dest || sink->overflow)
        return;
    if (sink->length + n >= sink->size) {
        sink->overflow = true;
        return;
    }
    memcpy(sink->dest + sink->length, bytes, n);
    sink->length += n;
    sink->dest[sink->length] = '\0';
}

void PutCodePoint(StringSink *sink, unsigned long cp)
{
    unsigned char out[4];
    Put(sink, out, EncodeUtf8(cp, out));
}

// A string from its opening quote on.
bool ReadString(Cursor *c, StringSink *sink)
{
    if (sink->dest && sink->size)
        sink->dest[0] = '\0';
    if (!Take(c, '"'))
        return false;
    while (c->p < c->end) {
        unsigned char b = *c->p;
        if (b == '"') {
            c->p++;
            return true;
        }
        if (b < 0x20)
            return false;
        if (b != '\\') {
            size_t n = Utf8SequenceLength(c->p, c->end);
            if (n == 0)
                return false;
            Put(sink, c->p, n);
            c->p += n;
            continue;
        }
        c->p++;
        if (c->p >= c->end)
            return false;
        unsigned char e = *c->p++;
        static const char kEscapes[] = "\"\\/bfnrt";
        static const char kMeanings[] = "\"\\/\b\f\n\r\t";
        const char *known = e ? strchr(kEscapes, e) : nullptr;
        if (known) {
            unsigned char meaning = (unsigned char)kMeanings[known - kEscapes];
            Put(sink, &meaning, 1);
            continue;
        }
        if (e != 'u')
            return false;
        unsigned long cp;
        if (!ReadHex4(c, &cp) || cp == 0 || (cp >= 0xDC00 && cp <= 0xDFFF))
            return false;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            unsigned long low;
            if (!TakeWord(c, "\\u") || !ReadHex4(c, &low) || low < 0xDC00 || low > 0xDFFF)
                return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        PutCodePoint(sink, cp);
    }
    return false;
}

// A number by the grammar. *whole gets its value when it is a non-negative integer of at
// most 12 digits without fraction or exponent, else -1.
bool ReadNumber(Cursor *c, long long *whole)
{
    *whole = -1;
    bool negative = Take(c, '-');
    const unsigned char *digits = c->p;
    if (c->p >= c->end || *c->p < '0' || *c->p > '9')
        return false;
    if (*c->p == '0') {
        c->p++;
    } else {
        while (c->p < c->end && *c->p >= '0' && *c->p <= '9')
            c->p++;
    }
    size_t digitCount = (size_t)(c->p - digits);
    bool integer = true;
    if (Take(c, '.')) {
        integer = false;
        if (c->p >= c->end || *c->p < '0' || *c->p > '9')
            return false;
        while (c->p < c->end && *c->p >= '0' && *c->p <= '9')
            c->p++;
    }
    if (c->p < c->end && (*c->p == 'e' || *c->p == 'E')) {
        integer = false;
        c->p++;
        if (!Take(c, '+'))
            Take(c, '-');
        if (c->p >= c->end || *c->p < '0' || *c->p > '9')
            return false;
        while (c->p < c->end && *c->p >= '0' && *c->p <= '9')
            c->p++;
    }
    if (integer && !negative && digitCount <= 12) {
        long long value = 0;
        for (size_t i = 0; i < digitCount; i++)
            value = value * 10 + (digits[i] - '0');
        *whole = value;
    }
    return true;
}

bool SkipValue(Cursor *c, int depth);

// An object or array from its opening bracket on, checked and skipped.
bool SkipContainer(Cursor *c, int depth)
{
    if (depth >= kDepthMax)
        return false;
    bool object = *c->p == '{';
    char close = object ? '}' : ']';
    c->p++;
    SkipSpace(c);
    if (Take(c, close))
        return true;
    for (;;) {
        if (object) {
            StringSink none = {nullptr, 0, 0, false};
            if (!ReadString(c, &none))
                return false;
            SkipSpace(c);
            if (!Take(c, ':'))
                return false;
            SkipSpace(c);
        }
        if (!SkipValue(c, depth + 1))
            return false;
        SkipSpace(c);
        if (Take(c, close))
            return true;
        if (!Take(c, ','))
            return false;
        SkipSpace(c);
    }
}

bool SkipValue(Cursor *c, int depth)
{
    if (c->p >= c->end)
        return false;
    switch (*c->p) {
    case '{':
    case '[':
        return SkipContainer(c, depth);
    case '"': {
        StringSink none = {nullptr, 0, 0, false};
        return ReadString(c, &none);
    }
    case 't':
        return TakeWord(c, "true");
    case 'f':
        return TakeWord(c, "false");
    case 'n':
        return TakeWord(c, "null");
    default: {
        long long ignored;
        return ReadNumber(c, &ignored);
    }
    }
}

// 1*VSCHAR: what RFC 6749 allows in a token.
bool IsTokenText(const char *text)
{
    if (!*text)
        return false;
    for (const unsigned char *p = (const unsigned char *)text; *p; p++)
        if (*p < 0x20 || *p > 0x7E)
            return false;
    return true;
}

enum Member {
    kMemberAccessToken,
    kMemberRefreshToken,
    kMemberTokenType,
    kMemberExpiresIn,
    kMemberError,
    kMemberDescription,
    kMemberCount,
};

const char *const kMemberNames[kMemberCount] = {
    "access_token", "refresh_token", "token_type", "expires_in", "error", "error_description",
};

// A known member's value: a string into its field (expires_in: a number or a numeric
// string), or null. *present says whether it counts.
bool ReadKnownMember(Cursor *c, int which, TokenResponse *out, bool *present)
{
    *present = false;
    if (TakeWord(c, "null"))
        return true;
    if (which == kMemberExpiresIn) {
        long long value = -1;
        if (c->p < c->end && *c->p == '"') {
            char text[16];
            StringSink sink = {text, sizeof text, 0, false};
            if (!ReadString(c, &sink) || sink.overflow || sink.length == 0 || sink.length > 12)
                return false;
            value = 0;
            for (size_t i = 0; i < sink.length; i++) {
                if (text[i] < '0' || text[i] > '9')
                    return false;
                value = value * 10 + (text[i] - '0');
            }
        } else if (!ReadNumber(c, &value) || value < 0) {
            return false;
        }
        out->expiresIn = value;
        *present = true;
        return true;
    }
    StringSink sink = {nullptr, 0, 0, false};
    switch (which) {
    case kMemberAccessToken:
        sink = {out->accessToken, sizeof out->accessToken, 0, false};
        break;
    case kMemberRefreshToken:
        sink = {out->refreshToken, sizeof out->refreshToken, 0, false};
        break;
    case kMemberTokenType:
        sink = {out->tokenType, sizeof out->tokenType, 0, false};
        break;
    case kMemberError:
        sink = {out->error, sizeof out->error, 0, false};
        break;
    default:
        sink = {out->errorDescription, sizeof out->errorDescription, 0, false};
        break;
    }
    if (c->p >= c->end || *c->p != '"' || !ReadString(c, &sink))
        return false;
    // A description is only shown: a long one is cut. Anything else must fit whole.
    if (sink.overflow && which != kMemberDescription)
        return false;
    if ((which == kMemberAccessToken || which == kMemberRefreshToken) &&
        !IsTokenText(sink.dest))
        return false;
    if (which == kMemberError && sink.length == 0)
        return false;
    *present = true;
    return true;
}

// The id_token as it came, and its payload decoded; one response at a time.
char gIdToken[kTokenSize];
unsigned char gPayload[kTokenSize];

// A claim's value, or "" when it is not a string of 1 or more bytes without control
// characters that fits dest. False when the claim's JSON is broken.
bool ReadClaim(Cursor *c, char *dest, size_t destSize)
{
    dest[0] = '\0';
    if (c->p >= c->end || *c->p != '"')
        return SkipValue(c, 1);
    StringSink sink = {dest, destSize, 0, false};
    if (!ReadString(c, &sink))
        return false;
    bool usable = !sink.overflow;
    for (const unsigned char *p = (const unsigned char *)dest; usable && *p; p++)
        usable = *p >= 0x20 && *p != 0x7F;
    if (!usable)
        dest[0] = '\0';
    return true;
}

// The claims "email" and "preferred_username" of an id_token's payload: one JSON object and
// nothing else; each of the two at most once. False when it is not such an object.
bool ReadClaims(const unsigned char *bytes, size_t count, char *email, char *username)
{
    email[0] = username[0] = '\0';
    Cursor c = {bytes, bytes + count};
    bool seenEmail = false, seenUsername = false;
    SkipSpace(&c);
    if (!Take(&c, '{'))
        return false;
    SkipSpace(&c);
    if (!Take(&c, '}')) {
        for (;;) {
            char name[kNameSize];
            StringSink sink = {name, sizeof name, 0, false};
            if (c.p >= c.end || *c.p != '"' || !ReadString(&c, &sink))
                return false;
            SkipSpace(&c);
            if (!Take(&c, ':'))
                return false;
            SkipSpace(&c);
            bool isEmail = !sink.overflow && strcmp(name, "email") == 0;
            bool isUsername = !sink.overflow && strcmp(name, "preferred_username") == 0;
            if ((isEmail && seenEmail) || (isUsername && seenUsername))
                return false;
            seenEmail = seenEmail || isEmail;
            seenUsername = seenUsername || isUsername;
            bool read = isEmail      ? ReadClaim(&c, email, kSignedInAsSize)
                        : isUsername ? ReadClaim(&c, username, kSignedInAsSize)
                                     : SkipValue(&c, 1);
            if (!read)
                return false;
            SkipSpace(&c);
            if (Take(&c, '}'))
                break;
            if (!Take(&c, ','))
                return false;
            SkipSpace(&c);
        }
    }
    SkipSpace(&c);
    return c.p == c.end;
}

// Who the id_token says signed in, into dest ("" when it says nothing usable). Its three
// parts are header, payload and signature; five would be an encrypted token, not readable.
void ReadSignedInAs(const char *idToken, size_t length, char *dest, size_t destSize)
{
    dest[0] = '\0';
    const char *end = idToken + length;
    const char *payload = (const char *)memchr(idToken, '.', length);
    if (!payload)
        return;
    payload++;
    const char *payloadEnd = (const char *)memchr(payload, '.', (size_t)(end - payload));
    if (!payloadEnd || memchr(payloadEnd + 1, '.', (size_t)(end - payloadEnd - 1)))
        return;
    size_t payloadLength = (size_t)(payloadEnd - payload);
    size_t count = Base64Decode(payload, payloadLength, true, gPayload, sizeof gPayload);
    char email[kSignedInAsSize], username[kSignedInAsSize];
    if (count != (size_t)-1 && ReadClaims(gPayload, count, email, username))
        CopyText(dest, destSize, email[0] ? email : username);
    // The decoder writes fewer bytes than it reads, also when it gives up.
    WipeBytes(gPayload, payloadLength < sizeof gPayload ? payloadLength : sizeof gPayload);
}

void Clear(TokenResponse *out)
{
    out->accessToken[0] = '\0';
    out->refreshToken[0] = '\0';
    out->expiresIn = -1;
    out->tokenType[0] = '\0';
    out->error[0] = '\0';
    out->errorDescription[0] = '\0';
    out->signedInAs[0] = '\0';
}

TokenResponseResult Refuse(TokenResponse *out)
{
    Clear(out);
    return kTokenResponseMalformed;
}

// The document; an id_token that came as a string that fits is left in gIdToken,
// *idTokenLength bytes (0 when none did), and *idTokenSeen says whether gIdToken was written.
TokenResponseResult ReadDocument(const char *bytes, size_t count, TokenResponse *out,
                                 size_t *idTokenLength, bool *idTokenSeen)
{
    Cursor c = {(const unsigned char *)bytes, (const unsigned char *)bytes + count};
    char names[kMembersMax][kNameSize];
    int nameCount = 0;
    bool present[kMemberCount] = {false, false, false, false, false, false};

    SkipSpace(&c);
    if (!Take(&c, '{'))
        return Refuse(out);
    SkipSpace(&c);
    if (!Take(&c, '}')) {
        for (;;) {
            if (nameCount == kMembersMax)
                return Refuse(out);
            char *name = names[nameCount];
            StringSink sink = {name, kNameSize, 0, false};
            if (c.p >= c.end || *c.p != '"' || !ReadString(&c, &sink) || sink.overflow)
                return Refuse(out);
            // Names are compared as decoded, so "\u0061" and "a" are the same name (no name
            // holds NUL: \u0000 is refused).
            for (int i = 0; i < nameCount; i++)
                if (strcmp(names[i], name) == 0)
                    return Refuse(out);
            nameCount++;
            SkipSpace(&c);
            if (!Take(&c, ':'))
                return Refuse(out);
            SkipSpace(&c);
            int which = -1;
            for (int i = 0; i < kMemberCount; i++)
                if (strcmp(name, kMemberNames[i]) == 0)
                    which = i;
            if (which >= 0) {
                if (!ReadKnownMember(&c, which, out, &present[which]))
                    return Refuse(out);
            } else if (strcmp(name, "id_token") == 0 && c.p < c.end && *c.p == '"') {
                StringSink sink = {gIdToken, sizeof gIdToken, 0, false};
                *idTokenSeen = true;
                if (!ReadString(&c, &sink))
                    return Refuse(out);
                *idTokenLength = sink.overflow ? 0 : sink.length;
            } else if (!SkipValue(&c, 1)) {
                return Refuse(out);
            }
            SkipSpace(&c);
            if (Take(&c, '}'))
                break;
            if (!Take(&c, ','))
                return Refuse(out);
            SkipSpace(&c);
        }
    }
    SkipSpace(&c);
    if (c.p != c.end)
        return Refuse(out);

    if (present[kMemberError]) {
        char error[sizeof out->error];
        char description[sizeof out->errorDescription];
        CopyText(error, sizeof error, out->error);
        CopyText(description, sizeof description,
                 present[kMemberDescription] ? out->errorDescription : "");
        Clear(out);
        CopyText(out->error, sizeof out->error, error);
        CopyText(out->errorDescription, sizeof out->errorDescription, description);
        return kTokenResponseError;
    }
    char type[sizeof out->tokenType];
    CopyText(type, sizeof type, present[kMemberTokenType] ? out->tokenType : "");
    LowerAscii(type);
    if (!present[kMemberAccessToken] || strcmp(type, "bearer") != 0)
        return Refuse(out);
    if (!present[kMemberRefreshToken])
        out->refreshToken[0] = '\0';
    if (!present[kMemberExpiresIn])
        out->expiresIn = -1;
    out->error[0] = '\0';
    out->errorDescription[0] = '\0';
    return kTokenResponseOk;
}

}  // namespace

TokenResponseResult ReadTokenResponse(const char *bytes, size_t count, TokenResponse *out)
{
    Clear(out);
    size_t idTokenLength = 0;
    bool idTokenSeen = false;
    TokenResponseResult result = ReadDocument(bytes, count, out, &idTokenLength, &idTokenSeen);
    if (result == kTokenResponseOk && idTokenLength > 0)
        ReadSignedInAs(gIdToken, idTokenLength, out->signedInAs, sizeof out->signedInAs);
    if (idTokenSeen)
        WipeBytes(gIdToken, sizeof gIdToken);
    return result;
}
