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

size_t MessageHeadCapacity(size_t headerLength)
{
    // A line of one 8-bit byte and its line end becomes a whole encoded-word of its own
    // (its charset name, markers and CR LF: at most 27 bytes for 2); longer text takes at
    // most three bytes for one and a word's overhead every 18. The additions stay well
    // within the constant.
    return headerLength * 16 + 1024;
}

// Output into a bounded buffer; once something did not fit, every later put fails too.
struct HeadOut {
    char *dest;
    size_t size, length;
    bool overflow;
    size_t column;  // characters on the current line
};

static void Put(HeadOut *o, const char *bytes, size_t n)
{
    if (o->overflow || o->length + n + 1 > o->size) {
        o->overflow = true;
        return;
    }
    memcpy(o->dest + o->length, bytes, n);
    o->length += n;
    o->dest[o->length] = '\0';
    for (size_t i = 0; i < n; i++)
        o->column = bytes[i] == '\n' ? 0 : o->column + 1;
}

static void PutText(HeadOut *o, const char *text) { Put(o, text, strlen(text)); }

static void PutWords(HeadOut *o, const char *text, size_t n, unsigned codePage)
{
    if (o->overflow)
        return;
    size_t column = o->column;
    size_t written = EncodeHeaderWords(text, n, codePage, &column, o->dest + o->length,
                                       o->size - o->length);
    if (written == (size_t)-1) {
        o->overflow = true;
        return;
    }
    o->length += written;
    o->column = column;
}

static bool Has8Bit(const char *p, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if ((unsigned char)p[i] >= 0x80)
            return true;
    return false;
}

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

// A phrase as its words say it: a quoted string without its quotes and escapes; anything
// else as it stands. Into dest (n bytes at most, since it never grows).
static size_t UnquotePhrase(const char *p, size_t n, char *dest)
{
    size_t out = 0;
    bool quoted = false;
    for (size_t i = 0; i < n; i++) {
        if (p[i] == '"') {
            quoted = !quoted;
            continue;
        }
        if (quoted && p[i] == '\\' && i + 1 < n)
            i++;
        dest[out++] = p[i];
    }
    return out;
}

// A phrase: as it stands when it is ASCII, else as encoded-words.
static void PutPhrase(HeadOut *o, const char *p, size_t n, unsigned codePage)
{
    if (!Has8Bit(p, n)) {
        if (o->column + n > 78 && o->column > 1)
            PutText(o, "\r\n ");
        Put(o, p, n);
        return;
    }
    char *plain = (char *)malloc(n + 1);
    if (!plain) {
        o->overflow = true;
        return;
    }
    size_t length = UnquotePhrase(p, n, plain);
    PutWords(o, plain, length, codePage);
    free(plain);
}

// An address field whose display names hold 8-bit text: the names as encoded-words, every
// address as it stands. False when the value is no address list (the caller encodes it as
// text).
static bool PutAddressField(HeadOut *o, const char *text, const HeaderField *f,
                            unsigned codePage)
{
    size_t mark = o->length;
    Put(o, text + f->start, f->nameLength);
    PutText(o, ":");
    AddressCursor cursor;
    StartAddressList(&cursor, text + f->valueStart, f->end - f->valueStart);
    AddressItem item;
    bool first = true;
    for (;;) {
        AddressItemKind kind = NextAddress(&cursor, &item);
        if (kind == kAddressListEnd)
            break;
        if (kind == kAddressInvalid) {
            o->length = mark;
            o->dest[mark] = '\0';
            o->column = 0;
            return false;
        }
        if (kind == kAddressGroupEnd) {
            PutText(o, ";");
            first = false;
            continue;
        }
        PutText(o, first ? " " : ", ");
        if (!first && o->column + item.nameLength + item.addressLength + 3 > 78) {
            o->length--;  // the blank after the comma becomes the fold
            PutText(o, "\r\n ");
        }
        first = kind == kAddressGroupStart;
        if (item.nameLength > 0)
            PutPhrase(o, item.name, item.nameLength, codePage);
        if (kind == kAddressGroupStart) {
            PutText(o, ":");
            continue;
        }
        // An address is never changed: one with 8-bit bytes leaves the whole value to be
        // encoded as text.
        if (Has8Bit(item.address, item.addressLength)) {
            o->length = mark;
            o->dest[mark] = '\0';
            o->column = 0;
            return false;
        }
        if (item.bracketed) {
            if (item.nameLength > 0)
                PutText(o, o->column + item.addressLength + 3 > 78 ? "\r\n " : " ");
            PutText(o, "<");
            Put(o, item.address, item.addressLength);
            PutText(o, ">");
        } else {
            Put(o, item.address, item.addressLength);
        }
    }
    PutText(o, "\r\n");
    return true;
}

// Any other field that holds 8-bit text: its whole value, unfolded and without the blanks
// around it, as encoded-words.
static void PutTextField(HeadOut *o, const char *text, const HeaderField *f,
                         unsigned codePage)
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
    PutWords(o, value + start, length - start, codePage);
    PutText(o, "\r\n");
    free(value);
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
    HeadOut o = {dest, destSize, 0, false, 0};
    *codingOffset = 0;
    if (addedSize > 0)
        added[0] = '\0';
    if (destSize == 0)
        return (size_t)-1;
    dest[0] = '\0';
    const char *text = s->text;
    for (int i = s->firstField; i < s->block->count; i++) {
        const HeaderField *f = &s->block->fields[i];
        // Blind: the envelope has the addresses of "Bcc: ", and no field of that name is
        // ever shown to the others, whatever its case.
        if (!s->keepBcc && HasFieldName(text, f, "Bcc"))
            continue;
        bool encode = plan->label && Has8Bit(text + f->start, f->end - f->start);
        if (encode && f->nameLength == 0) {
            // A line that is no field: its text as encoded-words all the same, so that not
            // one 8-bit byte stands in the header block.
            size_t n = f->end - f->start;
            while (n > 0 && (text[f->start + n - 1] == '\r' || text[f->start + n - 1] == '\n'))
                n--;
            PutWords(&o, text + f->start, n, s->codePage);
            PutText(&o, "\r\n");
        } else if (encode) {
            if (!IsAddressField(text, f) || !PutAddressField(&o, text, f, s->codePage))
                PutTextField(&o, text, f, s->codePage);
        } else {
            Put(&o, text + f->start, f->end - f->start);
        }
    }
    bool adding = plan->addDate || plan->addMessageId || plan->label;
    // The last line may lack its line end (a file that ends there): what is added starts a
    // line of its own.
    if (adding && o.length > 0 && dest[o.length - 1] != '\n' && dest[o.length - 1] != '\r')
        PutText(&o, "\r\n");
    char value[160];
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
        const char *charset = CharsetOfCodePage(s->codePage);
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
        AppendText(added, addedSize, CharsetOfCodePage(s->codePage));
    }
    if (o.overflow)
        return (size_t)-1;
    return o.length;
}
