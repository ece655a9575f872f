// Fuzz target: any bytes as a queued message file, through the whole parse (load, header
// block, address lists, greeting name, the head it goes out with, description line, document
// label) and the transparency
// encoding of what would be sent. AddressSanitizer proves every copy stays in its buffer;
// the checks below prove what the encoding promises.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/text.h"
#include "fake/fake.h"
#include "mail/message/message_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FakeReset();
    // The last byte picks the system's code page: single-byte, double-byte or UTF-8.
    gFake.ansiCodePage = size > 0 ? (data[size - 1] & 1 ? 932 : data[size - 1] & 2 ? 65001 : 1252) : 1252;
    const char *path = "C:\\Program Files\\Tillwick Orvenda\\Email\\I1042.txt";
    gFake.files[path] = std::string((const char *)data, size);
    static QueuedMessage message;
    int result = ParseMessageFile(&message, path);
    if (result != kParseReady && result != kParseCannotOpen && result != kParseEmpty &&
        result != kParseNoRecipient && result != kParseNoSender)
        abort();
    if (strlen(message.statusText) >= kFieldSize || message.recipientCount > kRecipientsMax)
        abort();
    for (int i = 0; i < message.recipientCount; i++)
        if (strlen(message.recipients[i]) < 4 || strpbrk(message.recipients[i], "<>\r\n"))
            abort();
    char label[kFieldSize];
    // The file's first bytes as a file name too.
    std::string name((const char *)data, size < 40 ? size : 40);
    name = name.c_str();
    MakeDocumentLabel(message.statusText, name.c_str(), label, sizeof label);

    if (message.text) {
        if (memchr(message.text, '\0', message.textLength))
            abort();
        // A ready message's head: when labelled, not one 8-bit byte; Bcc never in it.
        if (result == kParseReady) {
            std::string head(message.head, message.headLength);
            for (unsigned char c : head)
                if (c >= 0x80 && message.codingOffset > 0)
                    abort();
            std::string lower = head;
            for (char &c : lower)
                c = (char)tolower((unsigned char)c);
            if (lower.find("\nbcc:") != std::string::npos || lower.find("\rbcc:") != std::string::npos ||
                lower.compare(0, 4, "bcc:") == 0)
                abort();
        }
        // Encode in small pieces: no bare CR or LF and no lone "." line may come out.
        size_t length = message.textLength;
        size_t position = 0;
        int atLineStart = 1;
        std::string out;
        char piece[7];
        while (position < length) {
            size_t n = EncodeTransparent(message.text, length, &position, &atLineStart, piece,
                                         sizeof piece);
            if (n == 0)
                abort();
            out.append(piece, n);
        }
        for (size_t i = 0; i < out.size(); i++) {
            if (out[i] == '\r' && (i + 1 >= out.size() || out[i + 1] != '\n'))
                abort();
            if (out[i] == '\n' && (i == 0 || out[i - 1] != '\r'))
                abort();
        }
        out += kEndOfDataMark;
        // The end-of-data line appears once, at the very end.
        if (("\r\n" + out).find("\r\n.\r\n") != out.size() - 3)
            abort();
    }
    ReleaseMessageText(&message);
    return 0;
}
