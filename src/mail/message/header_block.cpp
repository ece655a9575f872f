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

// The length of a field name at the line's start: printable ASCII but blank, up to a ":"
// or to the blanks before one; 0 when the line has none. *colon gets the ":"'s place.
static size_t NameLength(const char *text, size_t lineEnd, size_t start, size_t *colon)
{
    size_t i = start;
    while (i < lineEnd) {
        unsigned char c = (unsigned char)text[i];
        if (c == ':' || c == ' ' || c == '\t')
            break;
        if (c < ' ' || c >= 0x7F)
            return 0;
        i++;
    }
    size_t length = i - start;
    while (i < lineEnd && (text[i] == ' ' || text[i] == '\t'))
        i++;
    if (length == 0 || i >= lineEnd || text[i] != ':')
        return 0;
    *colon = i;
    return length;
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
            size_t colon = i;
            f->start = i;
            f->nameLength = NameLength(text, contentEnd, i, &colon);
            f->valueStart = f->nameLength > 0 ? colon + 1 : i;
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
           field->valueStart == field->start + n + 1 && field->valueStart < field->end &&
           text[field->valueStart] == ' ';
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

void StartAddressList(AddressCursor *cursor, const char *value, size_t length,
                      const CodePage *codePage)
{
    cursor->p = value;
    cursor->end = value + length;
    cursor->codePage = codePage;
    cursor->inGroup = false;
    cursor->semicolons = false;
}

const char *SkipQuotedOrComment(const char *p, const char *end, const CodePage *codePage)
{
    bool comment = *p == '(';
    int depth = 1;
    for (p++; p < end;) {
        char ch = *p;
        if (ch == '\\' && p + 1 < end) {
            p += 1 + DoubleByteLength(codePage, p + 1, end);
            continue;
        }
        if (!comment && ch == '"')
            return p + 1;
        if (comment && ch == '(')
            depth++;
        else if (comment && ch == ')' && --depth == 0)
            return p + 1;
        p += DoubleByteLength(codePage, p, end);
    }
    return nullptr;
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
            c->semicolons = true;  // a separator as the host writes lists
            continue;
        }
        // One item: up to a "," or ";" outside quotes, comments and brackets. A flaw does
        // not end it early, so that the walk can go on after it.
        const char *start = c->p;
        const char *open = nullptr, *close = nullptr, *colon = nullptr;
        bool flawed = false;
        const char *p = start;
        while (p < c->end) {
            char ch = *p;
            if (ch == '"' || ch == '(') {
                p = SkipQuotedOrComment(p, c->end, c->codePage);
                if (!p) {
                    flawed = true;
                    p = c->end;
                }
            } else if (ch == '<') {
                flawed = flawed || open != nullptr;  // a second address in one item
                const char *q = p + 1;
                while (q < c->end && *q != '>') {
                    flawed = flawed || *q == '<';
                    q++;
                }
                if (!open) {
                    open = p;
                    close = q;
                }
                flawed = flawed || q >= c->end;
                p = q < c->end ? q + 1 : q;
            } else if (ch == ':' && !open && !c->inGroup) {
                colon = p;
                break;
            } else if (ch == ',' || ch == ';') {
                break;
            } else {
                p++;
            }
        }
        const char *itemEnd = colon ? colon : p;
        Trim(&start, &itemEnd);
        item->raw = start;
        item->rawLength = (size_t)(itemEnd - start);
        c->p = colon ? colon + 1 : p;
        if (flawed)
            return item->kind = kAddressInvalid;
        if (colon) {
            item->name = start;
            item->nameLength = item->rawLength;
            c->inGroup = true;
            return item->kind = kAddressGroupStart;
        }
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
        } else if (memchr(start, '>', (size_t)(itemEnd - start))) {
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
