// A strict reader of JSON (RFC 8259) over bytes, in small steps: the caller walks its own
// document with these and decodes the members it knows, checking and skipping the rest.
#pragma once
#include <cstddef>

// Objects and arrays nest at most this deep.
const int kJsonDepthMax = 32;

// Where the reader stands: p moves on as values are taken; never past end.
struct JsonCursor {
    const unsigned char *p;
    const unsigned char *end;
};

// Where a decoded string goes. dest may be null (the string is only checked); otherwise it
// is kept terminated, and overflow is set (the rest dropped) when the string does not fit.
struct JsonSink {
    char *dest;
    size_t size;
    size_t length;
    bool overflow;
};

// Skips blanks, tabs and line ends.
void JsonSkipSpace(JsonCursor *c);

// Takes the one character or the literal word when it comes next; false (nothing taken)
// otherwise.
bool JsonTake(JsonCursor *c, char expected);
bool JsonTakeWord(JsonCursor *c, const char *word);

// A string from its opening quote on, decoded into sink: every escape (\uXXXX with
// surrogate pairs becomes UTF-8); raw bytes must be UTF-8 without control characters;
// \u0000 is refused. False when it is no such string.
bool JsonReadString(JsonCursor *c, JsonSink *sink);

// A number by the grammar. *whole gets its value when it is a non-negative integer of at
// most 12 digits without fraction or exponent, else -1. False when it is no number.
bool JsonReadNumber(JsonCursor *c, long long *whole);

// Any value, checked and skipped; depth is how deep it stands (0 for the document).
bool JsonSkipValue(JsonCursor *c, int depth);
