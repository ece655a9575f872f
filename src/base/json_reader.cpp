// The strict JSON reader: the grammar of RFC 8259, one value at a time.
#include "json_reader.h"

#include <cstring>

#include "encoding.h"

void JsonSkipSpace(JsonCursor *c)
{
    while (c->p < c->end && (*c->p == ' ' || *c->p == '\t' || *c->p == '\n' || *c->p == '\r'))
        c->p++;
}

bool JsonTake(JsonCursor *c, char expected)
{
    if (c->p < c->end && *c->p == (unsigned char)expected) {
        c->p++;
        return true;
    }
    return false;
}

bool JsonTakeWord(JsonCursor *c, const char *word)
{
    size_t n = strlen(word);
    if ((size_t)(c->end - c->p) < n || memcmp(c->p, word, n) != 0)
        return false;
    c->p += n;
    return true;
}

// Length of the well-formed UTF-8 sequence at p (no overlong forms, no surrogates, nothing
// above U+10FFFF), or 0.
static size_t Utf8SequenceLength(const unsigned char *p, const unsigned char *end)
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

static int HexDigit(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

static bool ReadHex4(JsonCursor *c, unsigned long *value)
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

static void Put(JsonSink *sink, const unsigned char *bytes, size_t n)
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

static void PutCodePoint(JsonSink *sink, unsigned long cp)
{
    unsigned char out[4];
    Put(sink, out, EncodeUtf8(cp, out));
}

// A string from its opening quote on.
bool JsonReadString(JsonCursor *c, JsonSink *sink)
{
    if (sink->dest && sink->size)
        sink->dest[0] = '\0';
    if (!JsonTake(c, '"'))
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
            if (!JsonTakeWord(c, "\\u") || !ReadHex4(c, &low) || low < 0xDC00 || low > 0xDFFF)
                return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        PutCodePoint(sink, cp);
    }
    return false;
}

// A number by the grammar. *whole gets its value when it is a non-negative integer of at
// most 12 digits without fraction or exponent, else -1.
bool JsonReadNumber(JsonCursor *c, long long *whole)
{
    *whole = -1;
    bool negative = JsonTake(c, '-');
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
    if (JsonTake(c, '.')) {
        integer = false;
        if (c->p >= c->end || *c->p < '0' || *c->p > '9')
            return false;
        while (c->p < c->end && *c->p >= '0' && *c->p <= '9')
            c->p++;
    }
    if (c->p < c->end && (*c->p == 'e' || *c->p == 'E')) {
        integer = false;
        c->p++;
        if (!JsonTake(c, '+'))
            JsonTake(c, '-');
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

// An object or array from its opening bracket on, checked and skipped.
static bool SkipContainer(JsonCursor *c, int depth)
{
    if (depth >= kJsonDepthMax)
        return false;
    bool object = *c->p == '{';
    char close = object ? '}' : ']';
    c->p++;
    JsonSkipSpace(c);
    if (JsonTake(c, close))
        return true;
    for (;;) {
        if (object) {
            JsonSink none = {nullptr, 0, 0, false};
            if (!JsonReadString(c, &none))
                return false;
            JsonSkipSpace(c);
            if (!JsonTake(c, ':'))
                return false;
            JsonSkipSpace(c);
        }
        if (!JsonSkipValue(c, depth + 1))
            return false;
        JsonSkipSpace(c);
        if (JsonTake(c, close))
            return true;
        if (!JsonTake(c, ','))
            return false;
        JsonSkipSpace(c);
    }
}

bool JsonSkipValue(JsonCursor *c, int depth)
{
    if (c->p >= c->end)
        return false;
    switch (*c->p) {
    case '{':
    case '[':
        return SkipContainer(c, depth);
    case '"': {
        JsonSink none = {nullptr, 0, 0, false};
        return JsonReadString(c, &none);
    }
    case 't':
        return JsonTakeWord(c, "true");
    case 'f':
        return JsonTakeWord(c, "false");
    case 'n':
        return JsonTakeWord(c, "null");
    default: {
        long long ignored;
        return JsonReadNumber(c, &ignored);
    }
    }
}

