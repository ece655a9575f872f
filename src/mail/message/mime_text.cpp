// Text for messages that hold 8-bit bytes: the charset of the ANSI code page, header text
// as RFC 2047 encoded-words, bodies as quoted-printable, and the Date and Message-ID fields.
#include "mime_text.h"

#include <cstdint>
#include <cstring>

#include "../../base/encoding.h"
#include "../../base/text.h"

static const char kHexDigits[] = "0123456789ABCDEF";

const char *CharsetOfCodePage(unsigned codePage)
{
    static const struct {
        unsigned codePage;
        const char *name;
    } kCharsets[] = {
        {874, "windows-874"},     {932, "shift_jis"},       {936, "gbk"},
        {949, "ks_c_5601-1987"},  {950, "big5"},            {1250, "windows-1250"},
        {1251, "windows-1251"},   {1252, "windows-1252"},   {1253, "windows-1253"},
        {1254, "windows-1254"},   {1255, "windows-1255"},   {1256, "windows-1256"},
        {1257, "windows-1257"},   {1258, "windows-1258"},   {65001, "utf-8"},
    };
    for (const auto &charset : kCharsets)
        if (charset.codePage == codePage)
            return charset.name;
    return "unknown-8bit";
}

static bool IsDoubleByteCodePage(unsigned codePage)
{
    return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

size_t Utf8SequenceLength(const char *text, size_t length)
{
    const unsigned char *p = (const unsigned char *)text;
    unsigned char b = p[0];
    if (b < 0xC2 || b > 0xF4)
        return 1;
    size_t need = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    unsigned char low = 0x80, high = 0xBF;
    if (b == 0xE0)
        low = 0xA0;
    else if (b == 0xED)
        high = 0x9F;
    else if (b == 0xF0)
        low = 0x90;
    else if (b == 0xF4)
        high = 0x8F;
    if (length < need || p[1] < low || p[1] > high)
        return 1;
    for (size_t k = 2; k < need; k++)
        if ((p[k] & 0xC0) != 0x80)
            return 1;
    return need;
}

size_t CharacterLength(const char *text, size_t length, const CodePage *codePage)
{
    if (length == 0)
        return 0;
    if (codePage->number == 65001)
        return Utf8SequenceLength(text, length);
    return DoubleByteLength(codePage, text, text + length);
}

// Header lines stay within 78 characters; an encoded-word within 75.
static const size_t kHeaderLineMax = 78;
static const size_t kEncodedWordMax = 75;

// The bytes that go into a Q word as they are: those RFC 2047 allows in a phrase, so that
// the words also serve as display names.
static bool IsQLiteral(unsigned char b)
{
    return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
           b == '!' || b == '*' || b == '+' || b == '-' || b == '/';
}

static size_t QWidth(unsigned char b) { return (IsQLiteral(b) || b == ' ') ? 1 : 3; }

// The bytes of the whole characters from text on that one word's payload of at most
// capacity characters carries.
static size_t FitWord(const char *text, size_t length, const CodePage *codePage, bool base64,
                      size_t capacity)
{
    size_t byteLimit = base64 ? capacity / 4 * 3 : SIZE_MAX;
    size_t used = 0;
    size_t n = 0;
    while (n < length) {
        size_t k = CharacterLength(text + n, length - n, codePage);
        if (base64) {
            if (n + k > byteLimit)
                break;
        } else {
            size_t width = 0;
            for (size_t b = 0; b < k; b++)
                width += QWidth((unsigned char)text[n + b]);
            if (used + width > capacity)
                break;
            used += width;
        }
        n += k;
    }
    return n;
}

// Output into a caller's buffer that notes what does not fit instead of writing past it;
// one byte is always kept for the terminator.
struct HeaderOutput {
    char *dest;
    size_t capacity;
    size_t used;
    bool full;
};

// A null dest only counts.
static void PutBytes(HeaderOutput *out, const char *bytes, size_t count)
{
    if (out->full || count > out->capacity - out->used) {
        out->full = true;
        return;
    }
    if (out->dest)
        memcpy(out->dest + out->used, bytes, count);
    out->used += count;
}

// One encoded-word for count bytes of text; returns its length.
static size_t PutWord(HeaderOutput *out, const char *charset, bool base64, const char *text,
                      size_t count)
{
    size_t start = out->used;
    PutBytes(out, "=?", 2);
    PutBytes(out, charset, strlen(charset));
    PutBytes(out, base64 ? "?B?" : "?Q?", 3);
    if (base64) {
        char payload[kEncodedWordMax + 1];
        size_t n = Base64Encode((const unsigned char *)text, count, false, payload, sizeof payload);
        PutBytes(out, payload, n);
    } else {
        for (size_t i = 0; i < count; i++) {
            unsigned char b = (unsigned char)text[i];
            char encoded[3] = {'=', kHexDigits[b >> 4], kHexDigits[b & 15]};
            if (b == ' ')
                PutBytes(out, "_", 1);
            else if (IsQLiteral(b))
                PutBytes(out, (const char *)&b, 1);
            else
                PutBytes(out, encoded, 3);
        }
    }
    PutBytes(out, "?=", 2);
    return out->used - start;
}

// The width of the word that carries n bytes of text (its payload and overhead).
static size_t WordWidth(const char *text, size_t n, bool base64, size_t overhead)
{
    if (base64)
        return overhead + (n + 2) / 3 * 4;
    size_t width = overhead;
    for (size_t b = 0; b < n; b++)
        width += QWidth((unsigned char)text[b]);
    return width;
}

// The text that EncodeHeaderWords cuts into words, and how.
struct WordText {
    const char *text;
    size_t length;
    const CodePage *codePage;
    bool base64;
    size_t overhead;  // "=?" charset "?Q?" and "?="
    size_t trailing;  // what follows the last word on its line
};

// The bytes from text[from] on of the next word when it starts at column before: as many as
// fit the line (and a word's limit); the last one keeps room for what follows it. 0: none
// fits there.
static size_t FitLine(const WordText *w, size_t from, size_t before)
{
    size_t room = before < kHeaderLineMax ? kHeaderLineMax - before : 0;
    if (room > kEncodedWordMax)
        room = kEncodedWordMax;
    if (room <= w->overhead)
        return 0;
    const char *text = w->text + from;
    size_t left = w->length - from;
    size_t take = FitWord(text, left, w->codePage, w->base64, room - w->overhead);
    if (take > 0 && take == left &&
        before + WordWidth(text, take, w->base64, w->overhead) + w->trailing > kHeaderLineMax)
        take = room > w->overhead + w->trailing
                   ? FitWord(text, left, w->codePage, w->base64,
                             room - w->overhead - w->trailing)
                   : 0;
    return take;
}

size_t EncodeHeaderWords(const char *text, size_t length, const CodePage *codePage,
                         size_t trailing, size_t *column, char *dest, size_t destSize)
{
    if (dest && destSize == 0)
        return (size_t)-1;
    HeaderOutput out = {dest, dest ? destSize - 1 : SIZE_MAX, 0, false};
    const char *charset = CharsetOfCodePage(codePage->number);
    bool base64 = IsDoubleByteCodePage(codePage->number) || codePage->number == 65001;
    WordText words = {text, length, codePage, base64, strlen(charset) + 7, trailing};
    size_t col = *column;
    size_t i = 0;
    bool first = true;
    while (i < length && !out.full) {
        // The first word may fill what is left of the current line; every other one needs
        // a blank before it.
        size_t take = FitLine(&words, i, first ? col : col + 1);
        if (take == 0) {
            PutBytes(&out, "\r\n ", 3);
            col = 1;
            take = FitLine(&words, i, col);
            if (take == 0)
                return (size_t)-1;  // cannot happen: a whole word holds the longest character
        } else if (!first) {
            PutBytes(&out, " ", 1);
            col++;
        }
        col += PutWord(&out, charset, base64, text + i, take);
        i += take;
        first = false;
    }
    if (out.full) {
        if (dest)
            dest[0] = '\0';
        return (size_t)-1;
    }
    if (dest)
        dest[out.used] = '\0';
    *column = col;
    return out.used;
}

// Quoted-printable lines hold 76 characters, a soft break's "=" included.
static const size_t kQuotedLineMax = 76;

static bool IsQuotedLiteral(unsigned char b) { return b >= 33 && b <= 126 && b != '='; }

size_t EncodeQuotedPrintable(const char *source, size_t length, size_t *position,
                             QuotedPrintableState *state, char *out, size_t outSize)
{
    const unsigned char *s = (const unsigned char *)source;
    size_t i = *position;
    size_t o = 0;
    size_t col = state->column;
    while (i < length && outSize - o >= kQuotedPrintableUnitMax) {
        unsigned char c = s[i];
        if (c == '\r' || c == '\n') {
            out[o++] = '\r';
            out[o++] = '\n';
            i += (c == '\r' && i + 1 < length && s[i + 1] == '\n') ? 2 : 1;
            col = 0;
            continue;
        }
        // A run of bytes that go out as they are, as far as the line keeps room for a soft
        // break and out has room.
        if (IsQuotedLiteral(c) && (col > 0 || c != '.') && col < kQuotedLineMax - 1) {
            size_t room = kQuotedLineMax - 1 - col;
            if (room > outSize - o)
                room = outSize - o;
            size_t end = length - i < room ? length : i + room;
            size_t j = i + 1;
            while (j < end && IsQuotedLiteral(s[j]))
                j++;
            memcpy(out + o, s + i, j - i);
            o += j - i;
            col += j - i;
            i = j;
            continue;
        }
        // One byte on its own. The last one on a line may take the line's 76th column, as
        // no soft break follows it; a blank there is encoded, as a relay may strip it.
        bool lastOnLine = i + 1 == length || s[i + 1] == '\r' || s[i + 1] == '\n';
        bool blank = c == ' ' || c == '\t';
        bool encode = !(IsQuotedLiteral(c) || blank) || (blank && lastOnLine) ||
                      (c == '.' && col == 0);
        size_t width = encode ? 3 : 1;
        if (col + width > (lastOnLine ? kQuotedLineMax : kQuotedLineMax - 1)) {
            out[o++] = '=';
            out[o++] = '\r';
            out[o++] = '\n';
            col = 0;
            if (c == '.') {
                encode = true;
                width = 3;
            }
        }
        if (encode) {
            out[o++] = '=';
            out[o++] = kHexDigits[c >> 4];
            out[o++] = kHexDigits[c & 15];
        } else {
            out[o++] = (char)c;
        }
        col += width;
        i++;
    }
    *position = i;
    state->column = col;
    return o;
}

size_t QuotedPrintableSize(const char *source, size_t length)
{
    // The encoder itself into a small scratch buffer: the count cannot drift from it.
    char scratch[4096];
    QuotedPrintableState state = {0};
    size_t position = 0;
    size_t total = 0;
    while (position < length)
        total += EncodeQuotedPrintable(source, length, &position, &state, scratch, sizeof scratch);
    return total;
}

static bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

static int DaysInMonth(int year, int month)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// 0 Sunday to 6 Saturday, in the Gregorian calendar.
static int DayOfWeek(int year, int month, int day)
{
    static const int kMonthShift[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3)
        year--;
    return (year + year / 4 - year / 100 + year / 400 + kMonthShift[month - 1] + day) % 7;
}

bool FormatMailDate(const PlatLocalTime *time, char *dest, size_t destSize)
{
    static const char *const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (destSize > 0)
        dest[0] = '\0';
    // RFC 5322 years from 1900, a leap second allowed; an offset beyond a day is no zone.
    const PlatLocalTime &t = *time;
    if (t.year < 1900 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > DaysInMonth(t.year, t.month) || t.hour < 0 || t.hour > 23 || t.minute < 0 ||
        t.minute > 59 || t.second < 0 || t.second > 60 || t.offsetMinutes <= -24 * 60 ||
        t.offsetMinutes >= 24 * 60)
        return false;
    int offset = t.offsetMinutes < 0 ? -t.offsetMinutes : t.offsetMinutes;
    if (!FormatText(dest, destSize, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d",
                    kDayNames[DayOfWeek(t.year, t.month, t.day)], t.day,
                    kMonthNames[t.month - 1], t.year, t.hour, t.minute, t.second,
                    t.offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60)) {
        if (destSize > 0)
            dest[0] = '\0';
        return false;
    }
    return true;
}

bool FormatMessageId(const unsigned char random[16], const char *domain, char *dest,
                     size_t destSize)
{
    char hex[33];
    for (int k = 0; k < 16; k++) {
        hex[2 * k] = "0123456789abcdef"[random[k] >> 4];
        hex[2 * k + 1] = "0123456789abcdef"[random[k] & 15];
    }
    hex[32] = '\0';
    if (!FormatText(dest, destSize, "<%s@%s>", hex, domain)) {
        if (destSize > 0)
            dest[0] = '\0';
        return false;
    }
    return true;
}
