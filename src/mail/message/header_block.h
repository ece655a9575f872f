// The header block of a queued message read once into fields, and the address lists of its
// To, Cc, Bcc and From fields read into addresses. Everything the envelope, the additions and
// the labels need comes from this one reading, never from a search through the whole file.
// Pure functions over the loaded text: no platform call (the code page comes in).
#pragma once
#include <cstddef>

#include "code_page.h"

// One field of the header block: from its name to the line end of its last continuation
// line. A line that is no field (no name before a ":") has nameLength 0. The name may be
// followed by blanks before its ":" (the obsolete syntax): nameLength leaves them out.
struct HeaderField {
    size_t start;       // its first byte in the text
    size_t nameLength;  // the name before the ":"
    size_t valueStart;  // just after the ":" (start for a line that is no field)
    size_t end;         // just past the line end of its last line; the text's end without one
};

// A header block holds at most this many fields (lines that are no field count too).
const int kHeaderFieldsMax = 1024;

struct HeaderBlock {
    HeaderField fields[kHeaderFieldsMax];
    int count;
    size_t end;  // where it ends: the start of its empty line, or the text's end
    bool full;   // there were more fields than it can hold: the block cannot be trusted
};

// The length of the line end at text[i] (CR LF 2, a bare CR or LF 1), 0 for none: the line
// ends that the transparency encoding turns into CR LF.
size_t LineEndLength(const char *text, size_t length, size_t i);

// Where the header block of text[0..length) ends: the start of its first empty line, or
// length when it has none.
size_t FindHeaderEnd(const char *text, size_t length);

// Reads the fields of text[0..end) (end as FindHeaderEnd gave it). A line that starts with a
// blank or a tab continues the field before it; with firstLineAlone the first line is a
// field of its own whatever follows (the description line). False when the block has more
// fields than it can hold (block->full).
bool ReadHeaderBlock(const char *text, size_t end, bool firstLineAlone, HeaderBlock *block);

// True when the field's name is name: exactly, with the ":" right after it and a blank after
// that (the envelope's keys "To: ", "From: ", "Cc: "), or without regard to case (and with
// any blanks around the ":").
bool IsEnvelopeKey(const char *text, const HeaderField *field, const char *name);
bool HasFieldName(const char *text, const HeaderField *field, const char *name);

// The index of the first field at or after from (to block->count) with the name, compared
// without case; -1 when there is none.
int FindFieldNoCase(const char *text, const HeaderBlock *block, int from, int to,
                    const char *name);

// What an address list yields, item by item.
enum AddressItemKind {
    kAddressMailbox,     // an address, perhaps with a display name
    kAddressGroupStart,  // "name:" that opens a group (name is the group's)
    kAddressGroupEnd,    // the ";" that closes it
    kAddressListEnd,     // nothing more
    kAddressInvalid,     // an unclosed quote, comment or bracket; "<", ">" or a control
                         // character in an address; something after its closing bracket;
                         // the walk goes on after it with the next item
};

struct AddressItem {
    AddressItemKind kind;
    const char *name;     // the display name (a phrase, quotes included) or the group's
    size_t nameLength;    // 0 when there is none
    const char *address;  // the address alone, without brackets
    size_t addressLength;
    bool bracketed;       // the address stood in angle brackets
    const char *raw;      // the whole item as written, without the blanks around it (a
    size_t rawLength;     // mailbox or an invalid one; a group's name)
};

// Walks the value of an address field (with its folds: CR and LF count as blanks). Items
// are separated by "," or ";" outside quotes, comments and brackets; an empty item is
// skipped. Quoted strings and comments are read a character at a time in the code page
// (codePage may be null: no double-byte characters), so that a trail byte is never taken
// for a backslash or a quote.
struct AddressCursor {
    const char *p, *end;
    const CodePage *codePage;
    bool inGroup;
    bool semicolons;  // a ";" stood where RFC 5322 has a "," (not one that ends a group)
};

void StartAddressList(AddressCursor *cursor, const char *value, size_t length,
                      const CodePage *codePage);
AddressItemKind NextAddress(AddressCursor *cursor, AddressItem *item);

// The quoted string or comment that starts at p (a '"' or a '('): just past its closing
// quote or parenthesis, nested comments, backslash escapes and double-byte characters
// stepped over whole; NULL when it is not closed before end.
const char *SkipQuotedOrComment(const char *p, const char *end, const CodePage *codePage);
