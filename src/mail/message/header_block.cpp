// The header block reader and the address lists. Lines end as the transparency encoding
// sees them (CR LF, a bare CR, a bare LF), so that what is read is what goes out.
#include "header_block.h"

#include <cstring>

size_t LineEndLength(const char *text, size_t length, size_t i)
{
    if (i >= length)
        return 0;
    if (text[i] == '\r')
        return i + 1 < length && text[i + 1] == '\n' ? 2 : 1;
    return text[i] == '\n' ? 1 : 0;
}

// The end of the line that starts at i: its line end's first byte, or length.
static size_t LineContentEnd(const char *text, size_t length, size_t i)
{
    while (i < length && text[i] != '\r' && text[i] != '\n')
        i++;
    return i;
}

size_t FindHeaderEnd(const char *text, size_t length)
{
    size_t i = 0;
    while (i < length) {
        size_t contentEnd = LineContentEnd(text, length, i);
        if (contentEnd == i && contentEnd < length)
            return i;  // an empty line
        i = contentEnd + LineEndLength(text, length, contentEnd);
    }
    return length;
}

// The length of a field name at the line's start: printable ASCII but blank, up to a ":";
// 0 when the line has none.
static size_t NameLength(const char *text, size_t lineEnd, size_t start)
{
    for (size_t i = start; i < lineEnd; i++) {
        unsigned char c = (unsigned char)text[i];
        if (c == ':')
            return i - start;
        if (c <= ' ' || c >= 0x7F)
            return 0;
    }
    return 0;
}

bool ReadHeaderBlock(const char *text, size_t end, bool firstLineAlone, HeaderBlock *block)
{
    block->count = 0;
    block->end = end;
    block->full = false;
    size_t i = 0;
    while (i < end) {
        size_t contentEnd = LineContentEnd(text, end, i);
        size_t next = contentEnd + LineEndLength(text, end, contentEnd);
        bool continues = (text[i] == ' ' || text[i] == '\t') && block->count > 0 &&
                         !(firstLineAlone && block->count == 1);
        if (continues) {
            block->fields[block->count - 1].end = next;
        } else {
            if (block->count >= kHeaderFieldsMax) {
                block->full = true;
                return false;
            }
            HeaderField *f = &block->fields[block->count++];
            f->start = i;
            f->nameLength = NameLength(text, contentEnd, i);
            f->valueStart = f->nameLength > 0 ? i + f->nameLength + 1 : i;
            f->end = next;
        }
        i = next;
    }
    return true;
}

bool IsEnvelopeKey(const char *text, const HeaderField *field, const char *name)
{
    size_t n = strlen(name);
    return field->nameLength == n && memcmp(text + field->start, name, n) == 0 &&
           field->valueStart < field->end && text[field->valueStart] == ' ';
}

static char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

bool HasFieldName(const char *text, const HeaderField *field, const char *name)
{
    size_t n = strlen(name);
    if (field->nameLength != n)
        return false;
    for (size_t i = 0; i < n; i++)
        if (FoldCase(text[field->start + i]) != FoldCase(name[i]))
            return false;
    return true;
}

int FindFieldNoCase(const char *text, const HeaderBlock *block, int from, int to,
                    const char *name)
{
    for (int i = from; i < to && i < block->count; i++)
        if (HasFieldName(text, &block->fields[i], name))
            return i;
    return -1;
}

// ---- address lists ----------------------------------------------------------------------

static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void StartAddressList(AddressCursor *cursor, const char *value, size_t length)
{
    cursor->p = value;
    cursor->end = value + length;
    cursor->inGroup = false;
}

static void Trim(const char **start, const char **end)
{
    while (*start < *end && IsSpace(**start))
        (*start)++;
    while (*end > *start && IsSpace((*end)[-1]))
        (*end)--;
}

// An address may hold blanks (the server judges them) but no bracket and no control byte.
static bool IsCleanAddress(const char *p, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)p[i];
        if (c == '<' || c == '>' || c < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

AddressItemKind NextAddress(AddressCursor *c, AddressItem *item)
{
    memset(item, 0, sizeof *item);
    for (;;) {
        while (c->p < c->end && (IsSpace(*c->p) || *c->p == ','))
            c->p++;
        if (c->p >= c->end)
            return item->kind = kAddressListEnd;
        if (*c->p == ';') {
            c->p++;
            if (c->inGroup) {
                c->inGroup = false;
                return item->kind = kAddressGroupEnd;
            }
            continue;  // a separator as the host writes lists
        }
        // One item: up to a "," or ";" outside quotes, comments and brackets.
        const char *start = c->p;
        const char *open = nullptr, *close = nullptr, *colon = nullptr;
        bool quoted = false, inBrackets = false;
        int comment = 0;
        const char *p = start;
        for (; p < c->end; p++) {
            char ch = *p;
            if (quoted) {
                if (ch == '\\' && p + 1 < c->end)
                    p++;
                else if (ch == '"')
                    quoted = false;
                continue;
            }
            if (comment > 0) {
                if (ch == '\\' && p + 1 < c->end)
                    p++;
                else if (ch == '(')
                    comment++;
                else if (ch == ')')
                    comment--;
                continue;
            }
            if (inBrackets) {
                if (ch == '>') {
                    inBrackets = false;
                    close = p;
                } else if (ch == '<') {
                    return item->kind = kAddressInvalid;
                }
                continue;
            }
            if (ch == '"') {
                quoted = true;
            } else if (ch == '(') {
                comment = 1;
            } else if (ch == '<') {
                if (open)
                    return item->kind = kAddressInvalid;  // a second address in one item
                open = p;
                inBrackets = true;
            } else if (ch == ':' && !open && !c->inGroup && !colon) {
                colon = p;
                break;
            } else if (ch == ',' || ch == ';') {
                break;
            }
        }
        if (quoted || comment > 0 || inBrackets)
            return item->kind = kAddressInvalid;
        if (colon) {
            const char *nameEnd = colon;
            Trim(&start, &nameEnd);
            item->name = start;
            item->nameLength = (size_t)(nameEnd - start);
            c->p = colon + 1;
            c->inGroup = true;
            return item->kind = kAddressGroupStart;
        }
        c->p = p;
        const char *itemEnd = p;
        Trim(&start, &itemEnd);
        if (start == itemEnd)
            continue;
        if (open) {
            // Nothing but blanks may follow the closing bracket.
            for (const char *q = close + 1; q < itemEnd; q++)
                if (!IsSpace(*q))
                    return item->kind = kAddressInvalid;
            const char *nameEnd = open;
            const char *nameStart = start;
            Trim(&nameStart, &nameEnd);
            item->name = nameStart;
            item->nameLength = (size_t)(nameEnd - nameStart);
            item->address = open + 1;
            item->addressLength = (size_t)(close - open - 1);
            item->bracketed = true;
        } else if (*start == '>' || memchr(start, '>', (size_t)(itemEnd - start))) {
            return item->kind = kAddressInvalid;
        } else {
            item->address = start;
            item->addressLength = (size_t)(itemEnd - start);
        }
        if (!IsCleanAddress(item->address, item->addressLength))
            return item->kind = kAddressInvalid;
        return item->kind = kAddressMailbox;
    }
}
