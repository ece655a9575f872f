// What a message needs to be read right by its receivers when it holds 8-bit text: the
// charset name of the system's code page, header text as RFC 2047 encoded-words, the body
// as quoted-printable (RFC 2045), and the Date and Message-ID fields (RFC 5322). Pure
// functions over bytes: no platform call.
#pragma once
#include <cstddef>

#include "../../platform/plat_time.h"
#include "code_page.h"

// The IANA charset name of a Windows ANSI code page: 1250 to 1258 "windows-1250" to
// "windows-1258", 874 "windows-874", 932 "shift_jis", 936 "gbk", 949 "ks_c_5601-1987", 950
// "big5", 65001 "utf-8"; any other "unknown-8bit" (RFC 1428).
const char *CharsetOfCodePage(unsigned codePage);

// The length of the character that starts at text[0] in codePage (length bytes available):
// 2 for one of its lead bytes followed by a trail byte, the whole sequence for UTF-8 (65001;
// a malformed byte counts alone), else 1. Never more than length.
size_t CharacterLength(const char *text, size_t length, const CodePage *codePage);

// The length of the well-formed UTF-8 sequence at text[0] (no overlong form, surrogate or
// code point past U+10FFFF), 1 for an ASCII byte and for a byte that starts none.
size_t Utf8SequenceLength(const char *text, size_t length);

// RFC 2047 encoded-words for length bytes of header text in codePage (unfolded: no CR or
// LF). The words ("=?charset?Q?...?=" for single-byte code pages and unknown-8bit,
// "=?charset?B?...?=" for double-byte ones and UTF-8) carry the text exactly, blanks
// included, so that a reader that decodes them gets the very bytes back. Each word is at
// most 75 characters and never splits a character (CharacterLength). *column is the number
// of characters already on the current line (the field's name and ": ", say); words are
// separated by a fold (CR LF and one blank) wherever the next word would take the line past
// 78 characters, also before the first word when it would not fit behind what is there;
// the last word leaves room for trailing more characters that the caller puts after it
// (a ")" or a separator, at most 3). *column is left at the end of the last line. Returns
// the length written into dest (terminated), or (size_t)-1 when dest is too small; with a
// null dest, nothing is written and the length is counted.
size_t EncodeHeaderWords(const char *text, size_t length, const CodePage *codePage,
                         size_t trailing, size_t *column, char *dest, size_t destSize);

// Where a quoted-printable encoding of a body stands between calls.
struct QuotedPrintableState {
    size_t column;  // characters on the output line so far
};

// The longest piece EncodeQuotedPrintable writes in one step: a soft break, an encoded
// byte and a hard break.
const size_t kQuotedPrintableUnitMax = 12;

// Quoted-printable of a body for DATA: every line end (CR LF, a bare CR, a bare LF) goes out
// as CR LF; output lines hold at most 76 characters, longer ones broken with "=" CR LF; "=",
// every byte outside printable ASCII but blank and tab, a blank or tab that ends a line
// (before a line end, or the last byte of the source) and a "." that starts a line are
// written as "=XX" (upper-case hex), so that the output needs no dot-stuffing. Encodes from
// source[*position] on into out until the source ends or out (outSize >=
// kQuotedPrintableUnitMax) has fewer than kQuotedPrintableUnitMax bytes left; returns the
// bytes written and advances *position. state starts as {0}. A source that does not end in
// a line end leaves its last line open: what follows (the end-of-data mark) ends it.
size_t EncodeQuotedPrintable(const char *source, size_t length, size_t *position,
                             QuotedPrintableState *state, char *out, size_t outSize);

// The number of bytes EncodeQuotedPrintable gives for the whole source, without a second
// copy of it.
size_t QuotedPrintableSize(const char *source, size_t length);

// The RFC 5322 date of a local time: "Tue, 08 Dec 2026 14:05:09 +0100" (day of the week
// from the date itself, the offset as sign, hours and minutes). False when dest is too small
// or the time is out of range.
bool FormatMailDate(const PlatLocalTime *time, char *dest, size_t destSize);

// A Message-ID: "<" the 16 random bytes as 32 lower-case hex digits (128 bits) "@" domain
// ">". False when dest is too small.
bool FormatMessageId(const unsigned char random[16], const char *domain, char *dest,
                     size_t destSize);
