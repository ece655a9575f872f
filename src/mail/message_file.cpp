// Queued message files: reading one into the QueuedMessage, picking out its envelope, its
// description line and its document label, and the transparency encoding for DATA.
#include "message_file.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "../base/text.h"
#include "../platform/plat_files.h"
#include "mail_texts.h"

// The description is cut so that "Sending: " and it stay within the status text's 255.
static const size_t kDescriptionMax = 246;

void ReleaseMessageText(QueuedMessage *message)
{
    free(message->text);
    message->text = nullptr;
    message->textLength = 0;
}

int LoadMessageFile(QueuedMessage *message, const char *path)
{
    ReleaseMessageText(message);
    long long size = PlatGetFileSizeShared(path);
    if (size < 0)
        return kParseCannotOpen;
    if (size == 0)
        return kParseEmpty;
    // Room for the bytes, up to 4 more should the file grow meanwhile, the mark and a zero.
    if ((unsigned long long)size > (unsigned long long)(SIZE_MAX / 2))
        return kParseCannotOpen;
    char *text = (char *)malloc((size_t)size + 10);
    if (!text)
        return kParseCannotOpen;
    long long n = PlatReadFileBytes(path, text, size + 4);
    // A zero byte would end the text there: the message would go out cut short.
    if (n < 0 || memchr(text, '\0', (size_t)n) != nullptr) {
        free(text);
        return kParseCannotOpen;
    }
    memcpy(text + n, kEndOfDataMark, kEndOfDataMarkLength + 1);
    message->text = text;
    message->textLength = (size_t)n + kEndOfDataMarkLength;
    return kParseReady;
}

// The first occurrence of key that starts a line (the text's start, or just after a CR or
// LF); a "Reply-To: " line is thus never taken for "To: ".
static const char *FindKeyAtLineStart(const char *text, const char *key)
{
    for (const char *p = strstr(text, key); p; p = strstr(p + 1, key))
        if (p == text || p[-1] == '\n' || p[-1] == '\r')
            return p;
    return nullptr;
}

// Copies the address of a "To: " or "Cc: " value that starts at start: the one in angle
// brackets when the line has a "<" (a display name may stand before it), else the value as it
// stands. Either way up to '>', CR, LF or the end of the text. Returns its length, or
// kFieldSize when it does not fit.
static size_t CopyAddress(const char *start, char *dest)
{
    const char *open = (const char *)memchr(start, '<', strcspn(start, "\r\n"));
    if (open)
        start = open + 1;
    size_t n = strcspn(start, ">\r\n");
    if (n >= kFieldSize) {
        dest[0] = '\0';
        return kFieldSize;
    }
    CopyTextN(dest, kFieldSize, start, n);
    return n;
}

int ExtractRecipient(QueuedMessage *message)
{
    message->recipient[0] = '\0';
    const char *key = FindKeyAtLineStart(message->text, "To: ");
    if (!key)
        return kParseNoRecipient;
    size_t n = CopyAddress(key + 4, message->recipient);
    if (n < 4 || n >= kFieldSize) {
        message->recipient[0] = '\0';
        return kParseNoRecipient;
    }
    return kParseReady;
}

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int ExtractSender(QueuedMessage *message)
{
    message->sender[0] = '\0';
    const char *key = FindKeyAtLineStart(message->text, "From: ");
    if (!key)
        return kParseNoSender;
    const char *line = key + 6;
    const char *lineEnd = line + strcspn(line, "\r\n");
    const char *open = (const char *)memchr(line, '<', (size_t)(lineEnd - line));
    const char *start;
    size_t n;
    if (open) {
        start = open + 1;
        n = strcspn(start, ">\r\n");
    } else {
        // No brackets: the bare address on this line, without the blanks around it.
        start = line;
        while (start < lineEnd && IsBlank(*start))
            start++;
        const char *end = lineEnd;
        while (end > start && IsBlank(end[-1]))
            end--;
        n = (size_t)(end - start);
    }
    if (n < 4 || n >= kFieldSize)
        return kParseNoSender;
    CopyTextN(message->sender, sizeof message->sender, start, n);
    return kParseReady;
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

int ExtractCopyRecipient(QueuedMessage *message)
{
    message->copyRecipient[0] = '\0';
    const char *key = FindKeyAtLineStart(message->text, "Cc: ");
    if (!key)
        return kParseReady;
    if (CopyAddress(key + 4, message->copyRecipient) >= kFieldSize)
        return kParseNoRecipient;  // cut, it would name someone else
    return kParseReady;
}

void ExtractDescription(QueuedMessage *message)
{
    char *text = message->text;
    const char *lineFeed = (const char *)memchr(text, '\n', message->textLength);
    const char *subject = strstr(text, "Subject:");
    if (!lineFeed || !subject || lineFeed == text || lineFeed > subject) {
        CopyText(message->statusText, sizeof message->statusText, kStatusSendingEmail);
        return;
    }
    size_t lineLength = (size_t)(lineFeed - text);
    size_t descriptionLength = lineLength;
    if (text[descriptionLength - 1] == '\r')
        descriptionLength--;
    if (descriptionLength > kDescriptionMax)
        descriptionLength = kDescriptionMax;
    char description[kDescriptionMax + 1];
    CopyTextN(description, sizeof description, text, descriptionLength);
    FormatText(message->statusText, sizeof message->statusText, kStatusSendingDescription,
               description);
    // The whole line goes, its line feed included; the rest and its terminator move up.
    size_t removed = lineLength + 1;
    memmove(text, text + removed, message->textLength - removed + 1);
    message->textLength -= removed;
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

int ParseMessageFile(QueuedMessage *message, const char *path)
{
    message->recipient[0] = message->sender[0] = message->copyRecipient[0] = '\0';
    message->greetingName[0] = message->statusText[0] = '\0';
    ReleaseMessageText(message);
    if (!CopyText(message->path, sizeof message->path, path))
        return kParseCannotOpen;
    int result = LoadMessageFile(message, path);
    if (result == kParseReady)
        result = ExtractRecipient(message);
    if (result == kParseReady)
        result = ExtractSender(message);
    if (result == kParseReady) {
        MakeGreetingName(message);
        result = ExtractCopyRecipient(message);
    }
    message->statusText[0] = '\0';
    if (message->text)
        ExtractDescription(message);
    return result;
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
