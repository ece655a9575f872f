// The decisions for what a message gets, and the transmitted header block that carries them.
#include "message_head.h"

#include <cstdlib>
#include <cstring>

#include "../../base/text.h"
#include "mime_text.h"

const char kCodingQuotedPrintable[] = "quoted-printable";
const char kCoding8Bit[] = "8bit";

TransmitPlan PlanTransmission(const MessageFacts *facts, bool extendedHello,
                              bool offers8BitMime)
{
    TransmitPlan plan = {};
    plan.addDate = !facts->hasDate;
    plan.addMessageId = !facts->hasMessageId;
    // A message that carries its own MIME fields (a multipart one, say) is never relabelled
    // or re-encoded; an ASCII one needs no label.
    plan.label = facts->has8bit && !facts->hasMimeFields;
    plan.coding = kBodyAsWritten;
    if (extendedHello && facts->has8bit) {
        if (offers8BitMime)
            plan.declare8BitMime = true;
        else if (plan.label)
            plan.coding = kBodyQuotedPrintable;
    }
    return plan;
}

// Header lines stay within 78 characters where they can be folded.
static const size_t kLineMax = 78;

// Output into a bounded buffer; once something did not fit, every later put fails too. A
// null dest counts.
struct HeadOut {
    char *dest;
    size_t size, length;
    bool overflow;
    size_t column;  // characters on the current line
    char last;      // the last byte put
};

static void Put(HeadOut *o, const char *bytes, size_t n)
{
    if (o->overflow)
        return;
    if (o->dest) {
        if (o->length + n + 1 > o->size) {
            o->overflow = true;
            return;
        }
        memcpy(o->dest + o->length, bytes, n);
        o->dest[o->length + n] = '\0';
    }
    o->length += n;
    for (size_t i = 0; i < n; i++)
        o->column = bytes[i] == '\n' ? 0 : o->column + 1;
    if (n > 0)
        o->last = bytes[n - 1];
}

static void PutText(HeadOut *o, const char *text) { Put(o, text, strlen(text)); }

static void PutWords(HeadOut *o, const char *text, size_t n, const CodePage *codePage,
                     size_t trailing)
{
    if (o->overflow)
        return;
    size_t column = o->column;
    size_t written = EncodeHeaderWords(text, n, codePage, trailing, &column,
                                       o->dest ? o->dest + o->length : nullptr,
                                       o->dest ? o->size - o->length : 0);
    if (written == (size_t)-1) {
        o->overflow = true;
        return;
    }
    o->length += written;
    o->column = column;
    if (written > 0)
        o->last = '=';  // every word ends in "?="
}

static bool Has8Bit(const char *p, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if ((unsigned char)p[i] >= 0x80)
            return true;
    return false;
}

static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

static const char *const kAddressFields[] = {
    "From",      "Sender",        "Reply-To",  "To",        "Cc",         "Bcc",
    "Resent-From", "Resent-Sender", "Resent-To", "Resent-Cc", "Resent-Bcc",
};

static bool IsAddressField(const char *text, const HeaderField *f)
{
    for (const char *name : kAddressFields)
        if (HasFieldName(text, f, name))
            return true;
    return false;
}

// Blind copies: the envelope has their addresses, and none is shown to the others.
static bool IsLeftOut(const char *text, const HeaderField *f)
{
    return HasFieldName(text, f, "Bcc") || HasFieldName(text, f, "Resent-Bcc");
}

// An address list that goes out written anew although it needs no encoding: one with a line
// too long, or one the cursor reads whole whose separators include a ";".
static bool IsListRewritten(const char *text, const HeaderField *f, const CodePage *codePage)
{
    for (size_t i = f->start, line = f->start; i < f->end; i++) {
        if (text[i] == '\r' || text[i] == '\n')
            line = i + 1;
        else if (i - line >= kLineMax)
            return true;
    }
    AddressCursor cursor;
    StartAddressList(&cursor, text + f->valueStart, f->end - f->valueStart, codePage);
    AddressItem item;
    for (AddressItemKind kind; (kind = NextAddress(&cursor, &item)) != kAddressListEnd;)
        if (kind == kAddressInvalid)
            return false;  // what cannot be read whole goes as it stands
    return cursor.semicolons;
}

// A blank before what follows, or a fold when width more characters would take the line
// past its limit (never on a line that holds only a fold's blank).
static void PutGap(HeadOut *o, size_t width)
{
    PutText(o, o->column > 1 && o->column + 1 + width > kLineMax ? "\r\n " : " ");
}

// ASCII text (or text not to be encoded) after a gap, unfolded and folded anew before any of
// its blank runs where the next word would not fit; the last word keeps room for trailing
// characters after it.
static void PutFoldedText(HeadOut *o, const char *p, size_t n, size_t trailing)
{
    size_t i = 0;
    bool first = true;
    while (i < n) {
        size_t blanks = i;
        while (blanks < n && IsBlank(p[blanks]))
            blanks++;
        size_t end = blanks;
        while (end < n && !IsBlank(p[end]))
            end++;
        size_t word = end - blanks + (end == n ? trailing : 0);
        if (first) {
            PutGap(o, word);
        } else {
            // The blank run without its line ends: a fold before it keeps it as whitespace.
            size_t width = 0;
            for (size_t k = i; k < blanks; k++)
                width += p[k] == ' ' || p[k] == '\t';
            if (o->column > 1 && o->column + (width ? width : 1) + word > kLineMax)
                PutText(o, "\r\n");
            for (size_t k = i; k < blanks; k++)
                if (p[k] == ' ' || p[k] == '\t')
                    Put(o, p + k, 1);
            if (width == 0)
                PutText(o, " ");  // a line end with no blank after it was still a break
        }
        Put(o, p + blanks, end - blanks);
        first = false;
        i = end;
    }
    if (first)
        PutGap(o, trailing);
}

// What a phrase or a comment says: quotes or the comment's parentheses and backslash escapes
// removed, double-byte characters kept whole (a trail byte is never an escape), folds
// unfolded into their blanks. Into dest (n bytes at most, since it never grows).
static size_t UnquoteText(const char *p, size_t n, const CodePage *codePage, bool comment,
                          char *dest)
{
    size_t out = 0;
    bool quoted = false;
    for (size_t i = 0; i < n;) {
        char ch = p[i];
        if (ch == '\r' || ch == '\n') {
            i++;
            continue;
        }
        if (!comment && ch == '"') {
            quoted = !quoted;
            i++;
            continue;
        }
        if ((quoted || comment) && ch == '\\' && i + 1 < n)
            i++;
        size_t k = DoubleByteLength(codePage, p + i, p + n);
        memcpy(dest + out, p + i, k);
        out += k;
        i += k;
    }
    return out;
}

// Text of an item as encoded-words after a gap: the fold comes before the first word
// rather than after a blank, when the shortest word would not fit.
static void PutEncodedText(HeadOut *o, const char *p, size_t n, const CodePage *codePage,
                           bool comment, size_t trailing)
{
    char *plain = (char *)malloc(n + 1);
    if (!plain) {
        o->overflow = true;
        return;
    }
    size_t length = UnquoteText(p, n, codePage, comment, plain);
    // The shortest word: its overhead and one character (at most 8 in base64 or Q).
    size_t shortest = strlen(CharsetOfCodePage(codePage->number)) + 7 + 8;
    PutGap(o, shortest + (comment ? 2 : 0) + trailing);
    if (comment)
        PutText(o, "(");
    PutWords(o, plain, length, codePage, trailing + (comment ? 1 : 0));
    if (comment)
        PutText(o, ")");
    free(plain);
}

// One item of an address list (a mailbox, one that cannot be used, or a group's name),
// written anew: each phrase, comment and angle address a piece of its own after a gap;
// with encode, a phrase or comment with 8-bit text as encoded-words, and an address with
// 8-bit bytes too (it cannot go out otherwise). The last piece keeps room for trailing
// characters after it.
static void PutListItem(HeadOut *o, const char *p, size_t n, const CodePage *codePage,
                        bool encode, size_t trailing)
{
    const char *end = p + n;
    bool any = false;
    while (p < end) {
        while (p < end && IsBlank(*p))
            p++;
        if (p >= end)
            break;
        const char *pieceEnd;
        bool comment = *p == '(';
        bool closed = true;
        if (comment) {
            pieceEnd = SkipQuotedOrComment(p, end, codePage);
            closed = pieceEnd != nullptr;
        } else if (*p == '<') {
            pieceEnd = (const char *)memchr(p, '>', (size_t)(end - p));
            pieceEnd = pieceEnd ? pieceEnd + 1 : end;
        } else {
            // A phrase: words and quoted strings up to a comment or an angle address.
            pieceEnd = p;
            while (pieceEnd && pieceEnd < end && *pieceEnd != '(' && *pieceEnd != '<')
                pieceEnd = *pieceEnd == '"' ? SkipQuotedOrComment(pieceEnd, end, codePage)
                                            : pieceEnd + DoubleByteLength(codePage, pieceEnd, end);
        }
        if (!pieceEnd)
            pieceEnd = end;  // not closed: the rest
        const char *last = pieceEnd;
        while (last > p && IsBlank(last[-1]))
            last--;
        size_t length = (size_t)(last - p);
        bool final = pieceEnd >= end;
        size_t after = final ? trailing : 0;
        if (encode && Has8Bit(p, length)) {
            if (comment) {
                PutEncodedText(o, p + 1, length - (closed ? 2 : 1), codePage, true, after);
            } else {
                PutEncodedText(o, p, length, codePage, false, after);
            }
        } else if (*p == '<') {
            // An address is one piece: never folded inside.
            char *plain = (char *)malloc(length + 1);
            if (!plain) {
                o->overflow = true;
                return;
            }
            size_t k = 0;
            for (size_t i = 0; i < length; i++)
                if (p[i] != '\r' && p[i] != '\n')
                    plain[k++] = p[i];
            PutGap(o, k + after);
            Put(o, plain, k);
            free(plain);
        } else {
            PutFoldedText(o, p, length, after);
        }
        any = true;
        p = pieceEnd;
    }
    if (!any)
        PutGap(o, trailing);
}

// An address field written anew (see ComposeMessageHead), each item after a look at the
// next, so that the separators that follow it count on its line.
static void PutAddressField(HeadOut *o, const char *text, const HeaderField *f,
                            const CodePage *codePage, bool encode)
{
    Put(o, text + f->start, f->nameLength);
    PutText(o, ":");
    AddressCursor cursor;
    StartAddressList(&cursor, text + f->valueStart, f->end - f->valueStart, codePage);
    AddressItem item, next;
    AddressItemKind kind = NextAddress(&cursor, &item);
    while (kind != kAddressListEnd && !o->overflow) {
        AddressItemKind nextKind = NextAddress(&cursor, &next);
        bool itemFollows = nextKind == kAddressMailbox || nextKind == kAddressInvalid ||
                           nextKind == kAddressGroupStart;
        // A group's ";" may have a "," after it.
        size_t trailing = nextKind == kAddressGroupEnd ? 2 : itemFollows ? 1 : 0;
        if (kind == kAddressGroupStart) {
            PutListItem(o, item.raw, item.rawLength, codePage, encode, 1 + (trailing == 2 ? 2 : 0));
            PutText(o, ":");
        } else if (kind == kAddressGroupEnd) {
            PutText(o, itemFollows ? ";," : ";");
        } else {
            PutListItem(o, item.raw, item.rawLength, codePage, encode, trailing);
            if (itemFollows)
                PutText(o, ",");
        }
        item = next;
        kind = nextKind;
    }
    PutText(o, "\r\n");
}

// Any other field that holds 8-bit text: its whole value, unfolded and without the blanks
// around it, as encoded-words.
static void PutTextField(HeadOut *o, const char *text, const HeaderField *f,
                         const CodePage *codePage)
{
    size_t n = f->end - f->valueStart;
    char *value = (char *)malloc(n + 1);
    if (!value) {
        o->overflow = true;
        return;
    }
    size_t length = 0;
    for (size_t i = f->valueStart; i < f->end; i++)
        if (text[i] != '\r' && text[i] != '\n')
            value[length++] = text[i];
    size_t start = 0;
    while (start < length && (value[start] == ' ' || value[start] == '\t'))
        start++;
    while (length > start && (value[length - 1] == ' ' || value[length - 1] == '\t'))
        length--;
    Put(o, text + f->start, f->nameLength);
    PutText(o, ": ");
    PutWords(o, value + start, length - start, codePage, 0);
    PutText(o, "\r\n");
    free(value);
}

// How one field goes out.
enum FieldWay { kFieldAsWritten, kFieldLeftOut, kFieldEncodedLine, kFieldList, kFieldText };

static FieldWay WayOfField(const HeadSource *s, const TransmitPlan *plan, const HeaderField *f)
{
    const char *text = s->text;
    if (IsLeftOut(text, f) && !(s->keepBcc && HasFieldName(text, f, "Bcc")))
        return kFieldLeftOut;
    bool encode = plan->label && Has8Bit(text + f->start, f->end - f->start);
    if (f->nameLength == 0)
        return encode ? kFieldEncodedLine : kFieldAsWritten;
    if (IsAddressField(text, f) && (encode || IsListRewritten(text, f, s->codePage)))
        return kFieldList;
    return encode ? kFieldText : kFieldAsWritten;
}

bool IsHeadAsWritten(const HeadSource *s, const TransmitPlan *plan)
{
    if (plan->addDate || plan->addMessageId || plan->label)
        return false;
    for (int i = s->firstField; i < s->block->count; i++)
        if (WayOfField(s, plan, &s->block->fields[i]) != kFieldAsWritten)
            return false;
    return true;
}

static void AddToList(char *list, size_t listSize, const char *what)
{
    if (list[0] != '\0')
        AppendText(list, listSize, ", ");
    AppendText(list, listSize, what);
}

size_t ComposeMessageHead(const HeadSource *s, const TransmitPlan *plan, char *dest,
                          size_t destSize, size_t *codingOffset, char *added,
                          size_t addedSize)
{
    HeadOut o = {dest, destSize, 0, false, 0, '\0'};
    *codingOffset = 0;
    if (addedSize > 0)
        added[0] = '\0';
    if (dest && destSize == 0)
        return (size_t)-1;
    if (dest)
        dest[0] = '\0';
    const char *text = s->text;
    for (int i = s->firstField; i < s->block->count; i++) {
        const HeaderField *f = &s->block->fields[i];
        switch (WayOfField(s, plan, f)) {
        case kFieldLeftOut:
            break;
        case kFieldEncodedLine: {
            // A line that is no field: its text as encoded-words all the same, so that not
            // one 8-bit byte stands in the header block.
            size_t n = f->end - f->start;
            while (n > 0 && (text[f->start + n - 1] == '\r' || text[f->start + n - 1] == '\n'))
                n--;
            PutWords(&o, text + f->start, n, s->codePage, 0);
            PutText(&o, "\r\n");
            break;
        }
        case kFieldList:
            PutAddressField(&o, text, f, s->codePage, plan->label);
            break;
        case kFieldText:
            PutTextField(&o, text, f, s->codePage);
            break;
        case kFieldAsWritten:
            Put(&o, text + f->start, f->end - f->start);
            break;
        }
    }
    bool adding = plan->addDate || plan->addMessageId || plan->label;
    // The last line may lack its line end (a file that ends there): what is added starts a
    // line of its own.
    if (adding && o.length > 0 && o.last != '\n' && o.last != '\r')
        PutText(&o, "\r\n");
    char value[320];  // a Message-ID with a domain of up to 255 characters
    char list[40] = "";
    if (plan->addDate) {
        if (!FormatMailDate(&s->time, value, sizeof value))
            return (size_t)-1;
        PutText(&o, "Date: ");
        PutText(&o, value);
        PutText(&o, "\r\n");
        AddToList(list, sizeof list, "Date");
    }
    if (plan->addMessageId) {
        if (!FormatMessageId(s->random, s->domain, value, sizeof value))
            return (size_t)-1;
        PutText(&o, "Message-ID: ");
        PutText(&o, value);
        PutText(&o, "\r\n");
        AddToList(list, sizeof list, "Message-ID");
    }
    if (plan->label) {
        const char *charset = CharsetOfCodePage(s->codePage->number);
        PutText(&o, "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=");
        PutText(&o, charset);
        PutText(&o, "\r\nContent-Transfer-Encoding: ");
        *codingOffset = o.length;
        PutText(&o, kCoding8Bit);
        PutText(&o, "\r\n");
    }
    // For the log: "added Date, Message-ID; labelled windows-1252".
    if (list[0] != '\0' && addedSize > 0)
        FormatText(added, addedSize, "added %s", list);
    if (plan->label) {
        if (added[0] != '\0')
            AppendText(added, addedSize, "; ");
        AppendText(added, addedSize, "labelled ");
        AppendText(added, addedSize, CharsetOfCodePage(s->codePage->number));
    }
    if (o.overflow)
        return (size_t)-1;
    return o.length;
}
