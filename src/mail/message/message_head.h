// What a queued message gets before it goes out, decided from its header block and its
// bytes: a Date and a Message-ID when it has none, and for 8-bit text without MIME fields of
// its own the MIME labels, the header text as encoded-words and a body encoding the server
// can take. Pure: the platform's facts (time, random bytes, code page) come in as values.
#pragma once
#include <cstddef>

#include "../../platform/plat_time.h"
#include "header_block.h"

// What the header block and the message's bytes say (the description line left out).
struct MessageFacts {
    bool hasDate, hasMessageId;  // a Date or Message-ID field, in any case
    bool hasMimeFields;          // a MIME-Version or Content-Type field, in any case
    bool has8bit;                // a byte of 0x80 or above in what is transmitted
};

enum BodyCoding {
    kBodyAsWritten,        // the bytes as they are (dot-stuffed, line ends CR LF)
    kBodyQuotedPrintable,  // quoted-printable: not one 8-bit byte on the wire
};

struct TransmitPlan {
    bool addDate, addMessageId;
    bool label;            // MIME-Version, Content-Type and Content-Transfer-Encoding are
                           // added, the header text goes as encoded-words
    BodyCoding coding;
    bool declare8BitMime;  // MAIL FROM carries BODY=8BITMIME
};

// The decisions for a message with these facts sent after EHLO (extendedHello) to a server
// that does or does not offer 8BITMIME, or after HELO. The first three members do not
// depend on the server.
TransmitPlan PlanTransmission(const MessageFacts *facts, bool extendedHello,
                              bool offers8BitMime);

// What ComposeMessageHead works from: the loaded text, its header block, the first field
// that is transmitted (1 after a description line) and the platform's facts.
struct HeadSource {
    const char *text;
    const HeaderBlock *block;
    int firstField;
    unsigned codePage;
    PlatLocalTime time;
    unsigned char random[16];
    const char *domain;  // for the Message-ID: the sender's domain, or the greeting name
    bool keepBcc;        // the Bcc fields stay: a mail API reads the recipients from the head
};

// The transmitted header block for plan: its fields from firstField on, each as it stands
// or (when labelled and it holds 8-bit bytes) with its text as encoded-words, every field
// named Bcc (in any case) left out unless source->keepBcc, then what is added ("Date", "Message-ID", "MIME-Version",
// "Content-Type", "Content-Transfer-Encoding" with "8bit", in that order) at its end. The
// empty line and the body are not part of it. *codingOffset is where the value "8bit"
// starts (0 when not labelled), for the caller to send "quoted-printable" there instead.
// added gets what the log says of it ("Date, Message-ID; labelled windows-1252"; "" for
// nothing). Returns the length, or (size_t)-1 when dest is too small.
size_t ComposeMessageHead(const HeadSource *source, const TransmitPlan *plan, char *dest,
                          size_t destSize, size_t *codingOffset, char *added,
                          size_t addedSize);

// Room ComposeMessageHead may need for a header block of headerLength bytes.
size_t MessageHeadCapacity(size_t headerLength);

// "quoted-printable" and "8bit" as the Content-Transfer-Encoding says them.
extern const char kCodingQuotedPrintable[];
extern const char kCoding8Bit[];
