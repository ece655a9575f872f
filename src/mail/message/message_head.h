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
    const CodePage *codePage;  // what the text is labelled and encoded in
    PlatLocalTime time;
    unsigned char random[16];
    const char *domain;  // for the Message-ID
    bool keepBcc;        // the Bcc fields stay: a mail API reads the recipients from the head
};

// The transmitted header block for plan: its fields from firstField on, every field named Bcc
// (unless source->keepBcc) or Resent-Bcc (in any case) left out, then what is added ("Date",
// "Message-ID", "MIME-Version", "Content-Type", "Content-Transfer-Encoding" with "8bit", in
// that order) at its end. A field goes as it stands unless it is an address field (From,
// Sender, Reply-To, To, Cc, Bcc and their Resent- forms) whose list has a ";" where a ","
// belongs or a line of more than 78 characters, or it holds 8-bit bytes and the message is
// labelled. Such an address field is written anew: its items separated by ",", folded between
// its words so that no line passes 78 characters (a word longer than a line stands alone), and
// when labelled each phrase and each comment that holds 8-bit text as encoded-words (RFC 2047
// section 5), the addresses and the parentheses as they are. Any other labelled field with
// 8-bit text goes as encoded-words, unfolded. Folds are whitespace: unfolding gives back the
// text of every item. The empty line and the body are not part of it. *codingOffset is where
// the value "8bit" starts (0 when not labelled), for the caller to send "quoted-printable"
// there instead. added gets what the log says of it ("Date, Message-ID; labelled windows-1252";
// "" for nothing). Returns the length, or (size_t)-1 when dest is too small or the date cannot
// be written; with a null dest nothing is written and the length it needs (without a
// terminator) is counted.
size_t ComposeMessageHead(const HeadSource *source, const TransmitPlan *plan, char *dest,
                          size_t destSize, size_t *codingOffset, char *added,
                          size_t addedSize);

// True when ComposeMessageHead would give the header block from firstField on as it stands:
// nothing added, left out or written anew.
bool IsHeadAsWritten(const HeadSource *source, const TransmitPlan *plan);

// "quoted-printable" and "8bit" as the Content-Transfer-Encoding says them.
extern const char kCodingQuotedPrintable[];
extern const char kCoding8Bit[];
