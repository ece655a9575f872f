// Queued message files: one file of the send queue read into a QueuedMessage, its envelope
// addresses, greeting name, status text and document label, and the transparency encoding
// with which its text goes out after DATA.
#pragma once
#include <cstddef>

#include "../base/paths.h"

// Parse results; every operation gives kParseReady on success.
enum {
    kParseReady = 1,
    kParseCannotOpen = 10,
    kParseEmpty = 20,
    kParseNoRecipient = 30,
    kParseNoSender = 40,
};

// Each address, the greeting name and the status text hold 255 characters and a terminator.
const size_t kFieldSize = 256;

// The end-of-data mark that follows the file's bytes in the message text.
const char kEndOfDataMark[] = "\r\n.\r\n";
const size_t kEndOfDataMarkLength = 5;

struct QueuedMessage {
    char path[kPathSize];  // the message file, as the batch found it
    // The file's bytes (less the description line once ExtractDescription has run), then the
    // end-of-data mark and a zero byte. On the heap; NULL while absent.
    char *text;
    size_t textLength;  // bytes before the terminator, the mark included
    char recipient[kFieldSize];
    char sender[kFieldSize];
    char copyRecipient[kFieldSize];  // "" when the file has none
    char greetingName[kFieldSize];
    char statusText[kFieldSize];
};

// Each operation below fills its part of message; the text ones read message->text.

// Reads the file at path into message->text (the path is not recorded). 1; 10 when it cannot be opened or read, or holds a zero
// byte (such a text could never go out whole); 20 when it is empty.
int LoadMessageFile(QueuedMessage *message, const char *path);

// The recipient from the first line that starts with "To: ": the address in angle brackets
// when the line has one ("Joe Bloggs <joe@example.com>"), else the line's text. 1, or 30 when
// there is none or it has fewer than 4 or more than 255 characters.
int ExtractRecipient(QueuedMessage *message);

// The sender from the first line that starts with "From: ": the address between "<" and ">"
// on that line, or the line's bare text when it has no "<". 1, or 40 when there is none or it
// has fewer than 4 or more than 255 characters.
int ExtractSender(QueuedMessage *message);

// The greeting name: the sender, its first at sign made a full stop, every blank removed, and
// every other character a host name cannot hold (all but letters, digits, "-" and ".") a "-".
void MakeGreetingName(QueuedMessage *message);

// The copy recipient from the first line that starts with "Cc: " (its bracketed address as
// for the recipient), "" when there is none.
// 1, or 30 when it has more than 255 characters.
int ExtractCopyRecipient(QueuedMessage *message);

// Sets the status text and removes the description line from the message text (when the
// first line feed comes before the first "Subject:" and not at the very start).
void ExtractDescription(QueuedMessage *message);

// The document label of an invalid message: its description, else "Invoice number %s" or
// "Statement" from the file name (without folder).
void MakeDocumentLabel(const char *statusText, const char *fileName, char *label,
                       size_t labelSize);

// Runs the parse in the order the batch needs: load, recipient, sender, greeting name, copy
// recipient while the results are 1; then the status text is emptied and, when the text was
// loaded, the description line taken off. The path is kept in message->path; a path that does
// not fit gives 10. Returns the first result other than 1, or 1. Whatever the result, the
// message text is released with ReleaseMessageText once the message is done with.
int ParseMessageFile(QueuedMessage *message, const char *path);

// Frees the message text; harmless when it is absent.
void ReleaseMessageText(QueuedMessage *message);

// Transparency encoding of a message body for the DATA phase: a line that starts with "."
// gets a second "."; a bare LF, a bare CR and CR LF all go out as CR LF. Encodes from
// source[*position] on into out until the source ends or out (outSize >= 4) has fewer than 4
// bytes left; returns the bytes written and advances *position. *atLineStart carries the
// line state from one call to the next (1 at the start of a message).
size_t EncodeTransparent(const char *source, size_t length, size_t *position, int *atLineStart,
                         char *out, size_t outSize);
