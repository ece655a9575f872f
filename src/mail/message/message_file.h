// Queued message files: one file of the send queue read into a QueuedMessage, its envelope
// addresses, greeting name, status text and document label, and the transparency encoding
// with which its text goes out after DATA.
#pragma once
#include <cstddef>

#include "../../base/paths.h"
#include "../../platform/plat_files.h"
#include "../../platform/plat_work.h"
#include "code_page.h"
#include "header_block.h"
#include "message_head.h"

// Parse results; every operation gives kParseReady on success.
enum {
    kParseReady = 1,
    kParseCannotOpen = 10,
    kParseEmpty = 20,
    kParseNoRecipient = 30,
    kParseNoSender = 40,
    kParseInUse = 50,  // another run holds the file: left alone, never reported
    kParseNotNow = 60, // valid, but it cannot be composed now (no randomness, no memory):
                       // it stays queued and the batch stops with a box that says so
};

// Each address, the greeting name and the status text hold 255 characters and a terminator.
const size_t kFieldSize = 256;
// The envelope holds at most this many recipients (To, Cc and Bcc together, each once).
const int kRecipientsMax = 1000;

// The end-of-data mark that follows the file's bytes in the message text.
const char kEndOfDataMark[] = "\r\n.\r\n";
const size_t kEndOfDataMarkLength = 5;

struct QueuedMessage {
    char path[kPathSize];  // the message file, as the batch found it
    PlatClaim claim;       // the file, held by this run while it is worked on; 0 when not
    // The file's bytes, mapped from the claimed file (no copy, no terminator); NULL while
    // absent. The end-of-data mark that follows them on the wire is kEndOfDataMark.
    const char *text;
    size_t textLength;
    CodePage codePage;   // the system's, read once for the message
    HeaderBlock header;  // its header block, read once
    bool hasDescription; // the first line is the description line, not transmitted
    size_t headerStart;  // the first transmitted byte of the file (after the description)
    char sender[kFieldSize];
    char recipients[kRecipientsMax][kFieldSize];  // To, Cc, Bcc in order, each once
    int recipientCount;
    char greetingName[kFieldSize];
    char statusText[kFieldSize];

    // What goes out after DATA: the head (the transmitted header block with what is added),
    // then the file's bytes from the header block's end (its empty line and the body).
    MessageFacts facts;
    const char *head;           // on the heap, or pointing into text when it is the file's own
    bool headOwned;
    size_t headLength;
    size_t codingOffset;   // where the head's "8bit" may become "quoted-printable"; 0: none
    size_t headerEnd;      // where the header block ends: its empty line, or the file's end
    // The one scan of the rest, on a thread of its own while the window is made: these three
    // are the scan's until FinishMessageFile has waited for it.
    PlatWork scanWork;     // 0 when no scan is running
    size_t restSize;       // the rest's bytes with every line end as CR LF (for SIZE)
    bool restHigh;         // the rest holds a byte of 0x80 or above
    bool restZero;         // the rest holds a zero byte
    bool restNotUtf8;      // on a UTF-8 system: the rest holds 8-bit bytes that are no UTF-8
    bool notUtf8;          // ... and so does what is transmitted (ScanMessage)
    int finished;          // FinishMessageFile's result once it has run; 0 before
    char added[120];       // for the log: what was added and labelled ("" for nothing)
};

// Each operation below fills its part of message; the text ones read message->text.

// Claims the file at path and maps it as message->text (the path is not recorded), and finds
// where its header block ends: 1; 10 when it cannot be opened or mapped, or its header block
// holds a zero byte (a text that the host never writes, and that could not go out as such;
// the body's are found by its scan); 20 when it is empty; kParseInUse when another run holds
// it (it is left alone). On 1 (and 20) the claim stays held until ReleaseMessageText.
int LoadMessageFile(QueuedMessage *message, const char *path);

// The system's ANSI code page and its lead bytes, from the locale seam.
void ReadSystemCodePage(CodePage *codePage);

// Reads the header block: where it ends, whether the first line is the description line
// (when the first line ends, by CR LF, a bare CR or a bare LF as every line of the block,
// before the first "Subject:" of the header block, and is not empty), its fields (the
// description line the first, on its own). 1, or 30 when it has more fields than can be
// read.
int ReadMessageHeader(QueuedMessage *message);

// The recipients from the header block's "To: " and "Cc: " fields (those keys exactly) and
// every field named Bcc (in any case, with or without blanks around its ":"), in that order,
// each address once (the local part as it stands, the domain without case): bare, in angle
// brackets, or with a display name, separated by "," or ";". Quoted strings and comments
// are read in message->codePage. 1, or 30 when there is no "To: " field, no address at all,
// more than kRecipientsMax, or an address that is unusable (fewer than 4 or more than 255
// characters, a bracket or a control character in it, something after its closing
// bracket). The time grows with the number of addresses, not with that times the limit.
int ExtractRecipients(QueuedMessage *message);

// The sender from the header block's first "From: " field: its first address, as for the
// recipients. 1, or 40 when there is none or it is unusable.
int ExtractSender(QueuedMessage *message);

// The greeting name: the sender, its first at sign made a full stop, every blank removed, and
// every other character a host name cannot hold (all but letters, digits, "-" and ".") a "-".
void MakeGreetingName(QueuedMessage *message);

// Sets the status text: "Sending: %s" with the description line (cut to 246 characters), or
// "Sending Email" when there is none.
void ExtractDescription(QueuedMessage *message);

// The domain a Message-ID names, as a dot-atom: the sender's domain with its empty labels
// (a trailing full stop, two in a row) dropped and every character a domain cannot hold
// (all but letters, digits and "-") a "-"; when nothing is left of it, the greeting name
// the same way; when nothing is left of that either, "localhost".
void MakeMessageIdDomain(const char *sender, const char *greetingName, char *domain,
                         size_t domainSize);

// The one pass over the rest of the file (from the header block's end): its size with CR LF
// line ends, whether it holds 8-bit bytes or a zero byte, and on a UTF-8 system whether
// they are all UTF-8. False on a zero byte.
bool ScanMessageBody(QueuedMessage *message);

// Starts that scan beside the caller (or makes it at once when no thread can be had).
void StartBodyScan(QueuedMessage *message);

// What the message is, for the decisions of its transmission: its fields, and the 8-bit bytes
// of what it transmits (the header block's here, the rest's from ScanMessageBody), and on a
// UTF-8 system whether they are UTF-8 (notUtf8).
void ScanMessage(QueuedMessage *message);

// Composes the head the message goes out with, in a buffer of the size it needs; the
// platform's facts it needs (the local time for a Date, random bytes for a Message-ID) are
// taken here, only when needed. A label names the code page's charset, but "unknown-8bit"
// on a UTF-8 system for text that is no UTF-8. 1; kParseNotNow when the random source or
// memory fails (the file is valid and stays queued); 10 when it cannot be made at all.
// With keepBcc its Bcc fields stay in it (for a mail API, which reads the recipients from
// the head and delivers no Bcc field); otherwise none goes out.
int PrepareMessageHead(QueuedMessage *message, bool keepBcc = false);

// The document label of an invalid message: its description, else "Invoice number %s" or
// "Statement" from the file name (without folder).
void MakeDocumentLabel(const char *statusText, const char *fileName, char *label,
                       size_t labelSize);

// Runs the parse in the order the batch needs: the code page, load, header block,
// recipients, sender and greeting name while the results are 1, then starts the body's scan
// (on another result the scan is made at once, and a zero byte gives 10); the status text is
// set afresh when the text is still loaded. The path is kept in message->path; a path that
// does not fit gives 10. Returns the first result other than 1, or 1. Whatever the result, the message
// is released with ReleaseMessageText once it is done with.
int BeginMessageFile(QueuedMessage *message, const char *path);

// Waits for the body's scan, then reads the facts and composes the head (keepBcc as for
// PrepareMessageHead): 1, or 10 when the body holds a zero byte (the text is then released
// and the status text emptied, as for one in the header block) or the head cannot be made.
// Runs once; later calls give the same.
int FinishMessageFile(QueuedMessage *message, bool keepBcc = false);

// BeginMessageFile, and FinishMessageFile when it gave 1: the whole parse at once.
int ParseMessageFile(QueuedMessage *message, const char *path, bool keepBcc = false);

// Deletes the message file: through the claim when the run holds one (the text is unmapped
// first, since a mapped file cannot be deleted; the file goes when the claim is released),
// else by its path. Nonzero on success.
int DeleteMessageFile(QueuedMessage *message);

// Unmaps the message text, frees the head and gives the claim up; harmless when absent.
void ReleaseMessageText(QueuedMessage *message);

// The size of the message as SIZE declares it: its octets with every line end as CR LF,
// without the dots that transparency adds and without the end-of-data mark's final ".\r\n";
// with quotedPrintable as the body goes out in that encoding.
size_t DeclaredMessageSize(const QueuedMessage *message, bool quotedPrintable);

// The number of bytes of text[0..length) with every line end (CR LF, bare CR, bare LF) as
// CR LF; *has8bit is set when one is 0x80 or above.
size_t NormalizedLength(const char *text, size_t length, bool *has8bit);

// Transparency encoding of a message body for the DATA phase: a line that starts with "."
// gets a second "."; a bare LF, a bare CR and CR LF all go out as CR LF. Encodes from
// source[*position] on into out until the source ends or out (outSize >= 4) has fewer than 4
// bytes left; returns the bytes written and advances *position. *atLineStart carries the
// line state from one call to the next (1 at the start of a message).
size_t EncodeTransparent(const char *source, size_t length, size_t *position, int *atLineStart,
                         char *out, size_t outSize);
