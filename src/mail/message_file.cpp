// Queued message files: reading one into the QueuedMessage, picking out its envelope, its
// description line and its document label, and the transparency encoding for DATA.
#include "message_file.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "../base/text.h"
#include "../platform/plat_files.h"
#include "mail_texts.h"

QueuedMessage gMessage;

// The description is cut so that "Sending: " and it stay within the status text's 255.
static const size_t kDescriptionMax = 246;

void ReleaseMessageText(void)
{
    free(gMessage.text);
    gMessage.text = nullptr;
    gMessage.textLength = 0;
}

int LoadMessageFile(const char *path)
{
    ReleaseMessageText();
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
    gMessage.text = text;
    gMessage.textLength = (size_t)n + kEndOfDataMarkLength;
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

// Copies the address that starts at start up to '>', CR, LF or the end of the text, one
// leading "<" skipped. Returns its length, or kFieldSize when it does not fit.
static size_t CopyAddress(const char *start, char *dest)
{
    if (*start == '<')
        start++;
    size_t n = strcspn(start, ">\r\n");
    if (n >= kFieldSize) {
        dest[0] = '\0';
        return kFieldSize;
    }
    CopyTextN(dest, kFieldSize, start, n);
    return n;
}

int ExtractRecipient(const char *text)
{
    gMessage.recipient[0] = '\0';
    const char *key = FindKeyAtLineStart(text, "To: ");
    if (!key)
        return kParseNoRecipient;
    size_t n = CopyAddress(key + 4, gMessage.recipient);
    if (n < 4 || n >= kFieldSize) {
        gMessage.recipient[0] = '\0';
        return kParseNoRecipient;
    }
    return kParseReady;
}

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int ExtractSender(const char *text)
{
    gMessage.sender[0] = '\0';
    const char *key = FindKeyAtLineStart(text, "From: ");
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
    CopyTextN(gMessage.sender, sizeof gMessage.sender, start, n);
    return kParseReady;
}

void MakeGreetingName(void)
{
    char *out = gMessage.greetingName;
    bool atSeen = false;
    for (const char *p = gMessage.sender; *p; p++) {
        if (*p == ' ')
            continue;
        if (*p == '@' && !atSeen) {
            atSeen = true;
            *out++ = '.';
        } else {
            *out++ = *p;
        }
    }
    *out = '\0';  // never longer than the sender, which fits the same size
}

int ExtractCopyRecipient(const char *text)
{
    gMessage.copyRecipient[0] = '\0';
    const char *key = FindKeyAtLineStart(text, "Cc: ");
    if (!key)
        return kParseReady;
    if (CopyAddress(key + 4, gMessage.copyRecipient) >= kFieldSize)
        return kParseNoRecipient;  // cut, it would name someone else
    return kParseReady;
}

void ExtractDescription(void)
{
    char *text = gMessage.text;
    const char *lineFeed = (const char *)memchr(text, '\n', gMessage.textLength);
    const char *subject = strstr(text, "Subject:");
    if (!lineFeed || !subject || lineFeed == text || lineFeed > subject) {
        CopyText(gMessage.statusText, sizeof gMessage.statusText, kStatusSendingEmail);
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
    FormatText(gMessage.statusText, sizeof gMessage.statusText, kStatusSendingDescription,
               description);
    // The whole line goes, its line feed included; the rest and its terminator move up.
    size_t removed = lineLength + 1;
    memmove(text, text + removed, gMessage.textLength - removed + 1);
    gMessage.textLength -= removed;
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

int ParseMessageFile(const char *path)
{
    gMessage.recipient[0] = gMessage.sender[0] = gMessage.copyRecipient[0] = '\0';
    gMessage.greetingName[0] = '\0';
    int result = LoadMessageFile(path);
    if (result == kParseReady)
        result = ExtractRecipient(gMessage.text);
    if (result == kParseReady)
        result = ExtractSender(gMessage.text);
    if (result == kParseReady) {
        MakeGreetingName();
        result = ExtractCopyRecipient(gMessage.text);
    }
    gMessage.statusText[0] = '\0';
    if (gMessage.text)
        ExtractDescription();
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
