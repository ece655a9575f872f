// Queued message files: reading one into the QueuedMessage (claimed for this run), its
// header block read once for the envelope and the description line, what it gets before it
// goes out, its document label, and the transparency encoding for DATA.
#include "message_file.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "../../base/text.h"
#include "../../platform/plat_crypto.h"
#include "../../platform/plat_files.h"
#include "../../platform/plat_locale.h"
#include "../../platform/plat_time.h"
#include "../../platform/plat_work.h"
#include "message_texts.h"
#include "mime_text.h"

// The description is cut so that "Sending: " and it stay within the status text's 255.
static const size_t kDescriptionMax = 246;

// The body's scan, once it has been started: ended before anything reads what it wrote, and
// before the text it reads goes.
static void EndBodyScan(QueuedMessage *message)
{
    if (message->scanWork)
        PlatFinishWork(message->scanWork);
    message->scanWork = 0;
}

// The text goes; the head may point into it, and goes too.
static void UnmapText(QueuedMessage *message)
{
    EndBodyScan(message);
    if (message->headOwned)
        free((void *)message->head);
    message->head = nullptr;
    message->headOwned = false;
    message->headLength = 0;
    PlatUnmapClaimedFile(message->text);
    message->text = nullptr;
    message->textLength = 0;
}

void ReleaseMessageText(QueuedMessage *message)
{
    UnmapText(message);
    PlatReleaseClaim(message->claim);
    message->claim = 0;
}

int DeleteMessageFile(QueuedMessage *message)
{
    if (message->claim) {
        UnmapText(message);
        return PlatDeleteClaimedFile(message->claim);
    }
    return PlatDeleteFile(message->path);
}

int LoadMessageFile(QueuedMessage *message, const char *path)
{
    ReleaseMessageText(message);
    PlatClaim claim = 0;
    PlatClaimResult claimed = PlatClaimFile(path, &claim);
    if (claimed == PLAT_CLAIM_IN_USE)
        return kParseInUse;
    if (claimed != PLAT_CLAIM_OK)
        return kParseCannotOpen;
    message->claim = claim;
    long long size = PlatClaimedFileSize(claim);
    if (size < 0)
        return kParseCannotOpen;
    if (size == 0)
        return kParseEmpty;
    if ((unsigned long long)size > (unsigned long long)(SIZE_MAX / 2))
        return kParseCannotOpen;
    // Mapped, not read: a large message costs no copy, only the pages it touches.
    const char *text = PlatMapClaimedFile(claim, (size_t)size);
    if (!text)
        return kParseCannotOpen;
    message->text = text;
    message->textLength = (size_t)size;
    // The header block's zero bytes now; the body's come with its one scan.
    message->headerEnd = FindHeaderEnd(text, (size_t)size);
    if (memchr(text, '\0', message->headerEnd) != nullptr) {
        UnmapText(message);
        return kParseCannotOpen;
    }
    return kParseReady;
}

// The file's bytes without the end-of-data mark.
static size_t BodyEnd(const QueuedMessage *m) { return m->textLength; }

static const char *FindInRange(const char *text, size_t length, const char *needle)
{
    size_t n = strlen(needle);
    for (size_t i = 0; i + n <= length; i++)
        if (text[i] == needle[0] && memcmp(text + i, needle, n) == 0)
            return text + i;
    return nullptr;
}

void ReadSystemCodePage(CodePage *codePage)
{
    codePage->number = PlatAnsiCodePage();
    PlatGetLeadBytes(codePage->number, codePage->leadBytes);
}

// The length of the first line, without its line end.
static size_t FirstLineLength(const char *text, size_t length)
{
    size_t n = 0;
    while (n < length && text[n] != '\r' && text[n] != '\n')
        n++;
    return n;
}

int ReadMessageHeader(QueuedMessage *m)
{
    size_t end = m->headerEnd;
    // The description line: the first line, when it ends before the first "Subject:" of the
    // header block and is not empty. Its end is the header block's first line end, as the
    // block's reader and the transparency encoding see it, so that the envelope, the labels
    // and what is transmitted all split it off at the same place.
    size_t firstLength = FirstLineLength(m->text, end);
    const char *subject = FindInRange(m->text, end, "Subject:");
    m->hasDescription = firstLength > 0 && firstLength < end && subject &&
                        m->text + firstLength < subject;
    m->headerStart = m->hasDescription
                         ? firstLength + LineEndLength(m->text, end, firstLength)
                         : 0;
    if (!ReadHeaderBlock(m->text, end, m->hasDescription, &m->header))
        return kParseNoRecipient;  // a block this long cannot be trusted to name them all
    return kParseReady;
}

// What one address of an envelope list gives: 1 with the address in dest, 0 for an address
// that cannot be used.
static bool CopyEnvelopeAddress(const AddressItem *item, char *dest)
{
    dest[0] = '\0';
    if (item->addressLength < 4 || item->addressLength >= kFieldSize)
        return false;
    return CopyTextN(dest, kFieldSize, item->address, item->addressLength);
}

static char LowerAsciiChar(char c) { return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c; }

// Domains are compared without case, local parts as they stand.
static bool SameAddress(const char *a, const char *b)
{
    const char *atA = strrchr(a, '@'), *atB = strrchr(b, '@');
    size_t localA = atA ? (size_t)(atA - a) : strlen(a);
    size_t localB = atB ? (size_t)(atB - b) : strlen(b);
    if (localA != localB || memcmp(a, b, localA) != 0)
        return false;
    return strlen(a + localA) == strlen(b + localB) &&
           ContainsTextNoCase(a + localA, b + localB);
}

// The recipients so far, found by a hash of the address as SameAddress compares it: a table
// of twice their limit, so that each address costs one look, not one per recipient.
const int kRecipientSlots = 2048;
static_assert(kRecipientSlots >= 2 * kRecipientsMax, "a table with room to spare");
struct RecipientTable {
    short slots[kRecipientSlots];  // the recipient's index + 1; 0 for a free slot
};

static unsigned AddressHash(const char *address)
{
    const char *at = strrchr(address, '@');
    unsigned hash = 2166136261u;  // FNV-1a
    for (const char *p = address; *p; p++) {
        char c = at && p > at ? LowerAsciiChar(*p) : *p;
        hash = (hash ^ (unsigned char)c) * 16777619u;
    }
    return hash;
}

// Adds the addresses of one field's list. False when one is unusable or there are too many.
static bool AddRecipients(QueuedMessage *m, const HeaderField *f, RecipientTable *table)
{
    AddressCursor cursor;
    StartAddressList(&cursor, m->text + f->valueStart, f->end - f->valueStart, &m->codePage);
    AddressItem item;
    for (;;) {
        AddressItemKind kind = NextAddress(&cursor, &item);
        if (kind == kAddressListEnd)
            return true;
        if (kind == kAddressInvalid)
            return false;
        if (kind != kAddressMailbox)
            continue;
        char address[kFieldSize];
        if (!CopyEnvelopeAddress(&item, address))
            return false;
        unsigned slot = AddressHash(address) & (kRecipientSlots - 1);
        bool repeated = false;
        for (; table->slots[slot] != 0 && !repeated; slot = (slot + 1) & (kRecipientSlots - 1))
            repeated = SameAddress(m->recipients[table->slots[slot] - 1], address);
        if (repeated)
            continue;
        if (m->recipientCount >= kRecipientsMax)
            return false;
        CopyText(m->recipients[m->recipientCount++], kFieldSize, address);
        table->slots[slot] = (short)m->recipientCount;
    }
}

// The envelope's keys: "To: " and "Cc: " exactly; Bcc in every spelling, since a blind copy
// that is not taken for one would go out to everyone.
static bool IsRecipientKey(const char *text, const HeaderField *f, int key)
{
    if (key == 0)
        return IsEnvelopeKey(text, f, "To");
    if (key == 1)
        return IsEnvelopeKey(text, f, "Cc");
    return HasFieldName(text, f, "Bcc");
}

int ExtractRecipients(QueuedMessage *m)
{
    m->recipientCount = 0;
    bool haveTo = false;
    RecipientTable table = {};
    for (int key = 0; key < 3; key++) {
        for (int i = 0; i < m->header.count; i++) {
            const HeaderField *f = &m->header.fields[i];
            if (!IsRecipientKey(m->text, f, key))
                continue;
            haveTo = haveTo || key == 0;
            if (!AddRecipients(m, f, &table)) {
                m->recipientCount = 0;
                return kParseNoRecipient;
            }
        }
    }
    if (!haveTo || m->recipientCount == 0) {
        m->recipientCount = 0;
        return kParseNoRecipient;
    }
    return kParseReady;
}

int ExtractSender(QueuedMessage *m)
{
    m->sender[0] = '\0';
    for (int i = 0; i < m->header.count; i++) {
        const HeaderField *f = &m->header.fields[i];
        if (!IsEnvelopeKey(m->text, f, "From"))
            continue;
        AddressCursor cursor;
        StartAddressList(&cursor, m->text + f->valueStart, f->end - f->valueStart,
                         &m->codePage);
        AddressItem item;
        AddressItemKind kind;
        do
            kind = NextAddress(&cursor, &item);
        while (kind == kAddressGroupStart || kind == kAddressGroupEnd);
        if (kind != kAddressMailbox || !CopyEnvelopeAddress(&item, m->sender))
            return kParseNoSender;
        return kParseReady;
    }
    return kParseNoSender;
}

static bool IsHostNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.';
}

void MakeGreetingName(QueuedMessage *message)
{
    char *out = message->greetingName;
    bool atSeen = false;
    for (const char *p = message->sender; *p; p++) {
        if (*p == ' ')
            continue;
        if (*p == '@' && !atSeen) {
            atSeen = true;
            *out++ = '.';
        } else {
            // Servers that check the name refuse anything a host name cannot hold.
            *out++ = IsHostNameCharacter(*p) ? *p : '-';
        }
    }
    *out = '\0';  // never longer than the sender, which fits the same size
}

// text as a domain's labels into dest (at least as large as text): letters, digits and "-",
// any other character a "-", blanks dropped, full stops only between labels. False when
// no label is left.
static bool CopyDotAtom(const char *text, char *dest)
{
    size_t n = 0;
    bool inLabel = false;
    for (const char *p = text; *p; p++) {
        if (*p == ' ')
            continue;
        if (*p == '.') {
            inLabel = false;
            continue;
        }
        if (!inLabel && n > 0)
            dest[n++] = '.';  // the full stop before this label replaces those skipped
        inLabel = true;
        dest[n++] = IsHostNameCharacter(*p) ? *p : '-';
    }
    dest[n] = '\0';
    return n > 0;
}

void MakeMessageIdDomain(const char *sender, const char *greetingName, char *domain,
                         size_t domainSize)
{
    char labels[kFieldSize];
    const char *at = strrchr(sender, '@');
    bool made = strlen(sender) < sizeof labels && at && CopyDotAtom(at + 1, labels);
    if (!made)
        made = strlen(greetingName) < sizeof labels && CopyDotAtom(greetingName, labels);
    CopyText(domain, domainSize, made ? labels : "localhost");
}

void ExtractDescription(QueuedMessage *message)
{
    if (!message->hasDescription) {
        CopyText(message->statusText, sizeof message->statusText, kStatusSendingEmail);
        return;
    }
    size_t descriptionLength = FirstLineLength(message->text, message->headerStart);
    if (descriptionLength > kDescriptionMax)
        descriptionLength = kDescriptionMax;
    char description[kDescriptionMax + 1];
    CopyTextN(description, sizeof description, message->text, descriptionLength);
    FormatText(message->statusText, sizeof message->statusText, kStatusSendingDescription,
               description);
}

// True when one of the eight bytes of word equals the byte spread over pattern.
static inline bool HasByte(uint64_t word, uint64_t pattern)
{
    uint64_t x = word ^ pattern;
    return ((x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull) != 0;
}

// NormalizedLength that also tells whether a zero byte is there, and with checkUtf8 whether
// a byte of 0x80 or above is outside a well-formed UTF-8 sequence.
static size_t ScanText(const char *text, size_t length, bool checkUtf8, bool *has8bit,
                       bool *hasZero, bool *notUtf8)
{
    // One pass, eight bytes at a time where they hold no line end and no zero (and, while
    // UTF-8 is being checked, no 8-bit byte): every bare CR and bare LF grows by one byte,
    // a CR LF stays as it is.
    const unsigned char *t = (const unsigned char *)text;
    uint64_t high = 0;
    bool zero = false;
    bool badUtf8 = false;
    size_t size = length;
    size_t i = 0;
    while (i < length) {
        if (i + 8 <= length) {
            uint64_t word;
            memcpy(&word, t + i, 8);
            high |= word;
            if (!HasByte(word, 0x0D0D0D0D0D0D0D0Dull) && !HasByte(word, 0x0A0A0A0A0A0A0A0Aull) &&
                !HasByte(word, 0) && (!checkUtf8 || (word & 0x8080808080808080ull) == 0)) {
                i += 8;
                continue;
            }
        }
        // This word (or the tail) byte by byte; a CR LF may span two words, and so may a
        // UTF-8 sequence (whose bytes are never a line end or a zero).
        size_t end = i + 8 < length ? i + 8 : length;
        for (; i < end; i++) {
            unsigned char c = t[i];
            high |= c;
            zero = zero || c == 0;
            if (c == '\r') {
                size += i + 1 < length && t[i + 1] == '\n' ? 0 : 1;
            } else if (c == '\n') {
                size += i > 0 && t[i - 1] == '\r' ? 0 : 1;
            } else if (c >= 0x80 && checkUtf8) {
                size_t k = Utf8SequenceLength(text + i, length - i);
                badUtf8 = k == 1;
                checkUtf8 = !badUtf8;
                i += k - 1;
            }
        }
    }
    *has8bit = (high & 0x8080808080808080ull) != 0;
    *hasZero = zero;
    *notUtf8 = badUtf8;
    return size;
}

size_t NormalizedLength(const char *text, size_t length, bool *has8bit)
{
    bool zero, notUtf8;
    return ScanText(text, length, false, has8bit, &zero, &notUtf8);
}

bool ScanMessageBody(QueuedMessage *m)
{
    m->restSize = ScanText(m->text + m->headerEnd, BodyEnd(m) - m->headerEnd,
                           m->codePage.number == 65001, &m->restHigh, &m->restZero,
                           &m->restNotUtf8);
    return !m->restZero;
}

static void ScanBodyWork(void *context) { ScanMessageBody((QueuedMessage *)context); }

void StartBodyScan(QueuedMessage *m)
{
    EndBodyScan(m);
    m->scanWork = PlatStartWork(ScanBodyWork, m);
    if (!m->scanWork)
        ScanMessageBody(m);  // no thread to spare: here and now
}

void ScanMessage(QueuedMessage *m)
{
    MessageFacts *facts = &m->facts;
    const HeaderBlock *b = &m->header;
    int first = m->hasDescription ? 1 : 0;
    facts->hasDate = FindFieldNoCase(m->text, b, first, b->count, "Date") >= 0;
    facts->hasMessageId = FindFieldNoCase(m->text, b, first, b->count, "Message-ID") >= 0;
    facts->hasMimeFields = FindFieldNoCase(m->text, b, first, b->count, "MIME-Version") >= 0 ||
                           FindFieldNoCase(m->text, b, first, b->count, "Content-Type") >= 0;
    bool headHigh = false, headZero, headNotUtf8;
    ScanText(m->text + m->headerStart, b->end - m->headerStart, m->codePage.number == 65001,
             &headHigh, &headZero, &headNotUtf8);
    facts->has8bit = headHigh || m->restHigh;
    m->notUtf8 = headNotUtf8 || m->restNotUtf8;
}

int PrepareMessageHead(QueuedMessage *m, bool keepBcc)
{
    TransmitPlan plan = PlanTransmission(&m->facts, false, false);
    m->added[0] = '\0';
    m->codingOffset = 0;
    // Text that is no UTF-8 on a UTF-8 system is in no charset a label can name.
    CodePage unknown = {};
    HeadSource source = {};
    source.text = m->text;
    source.block = &m->header;
    source.firstField = m->hasDescription ? 1 : 0;
    source.codePage = m->codePage.number == 65001 && m->notUtf8 ? &unknown : &m->codePage;
    // Nothing to add or change: the head is the file's own header block.
    if (IsHeadAsWritten(&source, &plan)) {
        m->head = m->text + m->headerStart;
        m->headOwned = false;
        m->headLength = m->header.end - m->headerStart;
        return kParseReady;
    }
    if (plan.addDate)
        PlatGetLocalTime(&source.time);
    if (plan.addMessageId && !PlatRandomBytes(source.random, sizeof source.random))
        return kParseNotNow;
    char domain[kFieldSize];
    MakeMessageIdDomain(m->sender, m->greetingName, domain, sizeof domain);
    source.domain = domain;
    source.keepBcc = keepBcc;
    // Counted first: the buffer holds what the head is, however much that is.
    size_t needed = ComposeMessageHead(&source, &plan, nullptr, 0, &m->codingOffset,
                                       m->added, sizeof m->added);
    size_t capacity = needed == (size_t)-1 ? 1 : needed + 1;
    char *head = (char *)malloc(capacity);
    if (!head)
        return kParseNotNow;
    size_t length = ComposeMessageHead(&source, &plan, head, capacity, &m->codingOffset,
                                       m->added, sizeof m->added);
    WipeBytes(source.random, sizeof source.random);
    if (length == (size_t)-1) {
        free(head);
        return kParseCannotOpen;
    }
    m->head = head;
    m->headOwned = true;
    m->headLength = length;
    return kParseReady;
}

size_t DeclaredMessageSize(const QueuedMessage *m, bool quotedPrintable)
{
    if (!m->text || !m->head)
        return 0;
    bool high;
    size_t head = NormalizedLength(m->head, m->headLength, &high);
    size_t rest = m->restSize;
    if (quotedPrintable && m->codingOffset > 0) {
        head += strlen(kCodingQuotedPrintable) - strlen(kCoding8Bit);
        rest = QuotedPrintableSize(m->text + m->header.end, BodyEnd(m) - m->header.end);
    }
    // The CR LF that ends the last line comes with the mark.
    return head + rest + 2;
}

void MakeDocumentLabel(const char *statusText, const char *fileName, char *label,
                       size_t labelSize)
{
    size_t prefix = sizeof "Sending: " - 1;
    if (statusText[0] != '\0' && !ContainsText(statusText, kStatusSendingEmail)) {
        CopyText(label, labelSize, strlen(statusText) >= prefix ? statusText + prefix : "");
        return;
    }
    if (fileName[0] == 'i' || fileName[0] == 'I') {
        char number[kFieldSize];
        CopyTextN(number, sizeof number, fileName + 1, strcspn(fileName + 1, "."));
        if (number[0] != '\0') {
            FormatText(label, labelSize, kLabelInvoice, number);
            return;
        }
        // A name such as "I.txt" carries no number.
        CopyText(label, labelSize, "Invoice");
        return;
    }
    CopyText(label, labelSize, kLabelStatement);
}

int BeginMessageFile(QueuedMessage *message, const char *path)
{
    ReadSystemCodePage(&message->codePage);
    message->sender[0] = message->greetingName[0] = message->statusText[0] = '\0';
    message->recipientCount = 0;
    message->header.count = 0;
    message->hasDescription = false;
    message->added[0] = '\0';
    ReleaseMessageText(message);  // and with it any scan still running
    message->headerStart = message->headerEnd = message->restSize = 0;
    message->restHigh = message->restZero = message->restNotUtf8 = message->notUtf8 = false;
    message->finished = 0;
    if (!CopyText(message->path, sizeof message->path, path))
        return kParseCannotOpen;
    int result = LoadMessageFile(message, path);
    if (result == kParseReady)
        result = ReadMessageHeader(message);
    if (result == kParseReady)
        result = ExtractRecipients(message);
    if (result == kParseReady)
        result = ExtractSender(message);
    if (result == kParseReady) {
        MakeGreetingName(message);
        StartBodyScan(message);
    } else if (message->text && !ScanMessageBody(message)) {
        // Unusable either way: a zero byte in the body counts first, as one in the header.
        UnmapText(message);
        result = kParseCannotOpen;
    }
    message->statusText[0] = '\0';
    if (message->text)
        ExtractDescription(message);
    return result;
}

int FinishMessageFile(QueuedMessage *message, bool keepBcc)
{
    if (message->finished)
        return message->finished;
    EndBodyScan(message);
    int result = kParseCannotOpen;
    if (message->text && !message->restZero) {
        ScanMessage(message);
        result = PrepareMessageHead(message, keepBcc);
    }
    if (result != kParseReady && message->text && message->restZero) {
        // As a zero byte in the header block: no text, and so no description either.
        UnmapText(message);
        message->statusText[0] = '\0';
    }
    message->finished = result;
    return result;
}

int ParseMessageFile(QueuedMessage *message, const char *path, bool keepBcc)
{
    int result = BeginMessageFile(message, path);
    return result == kParseReady ? FinishMessageFile(message, keepBcc) : result;
}

size_t EncodeTransparent(const char *source, size_t length, size_t *position, int *atLineStart,
                         char *out, size_t outSize)
{
    size_t i = *position;
    size_t o = 0;
    int lineStart = *atLineStart;
    while (i < length && outSize - o >= 4) {
        char c = source[i];
        if (c == '\r' || c == '\n') {
            out[o++] = '\r';
            out[o++] = '\n';
            i += (c == '\r' && i + 1 < length && source[i + 1] == '\n') ? 2 : 1;
            lineStart = 1;
            continue;
        }
        if (lineStart && c == '.')
            out[o++] = '.';
        lineStart = 0;
        // The run of ordinary bytes up to the next line end, as far as out has room.
        size_t end = i + (outSize - o);
        if (end > length)
            end = length;
        size_t j = i + 1;
        while (j < end && source[j] != '\r' && source[j] != '\n')
            j++;
        memcpy(out + o, source + i, j - i);
        o += j - i;
        i = j;
    }
    *position = i;
    *atLineStart = lineStart;
    return o;
}
