// Throughput of a queued message on its way out: the header block and the body's one scan
// on their own, then the whole parse (load, header block, envelope, head, description line)
// and the transparency encoding into the sender's 1 MB pieces, for 1 KB, 1 MB and 64 MB
// messages. Prints bytes per second; the time should grow linearly with the size. Last, a
// header block of 21 MB of repeated addresses and a Bcc: the envelope's time and the size of
// the buffer the head is made in, which must follow what it holds.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <string>

#include "base/text.h"
#include "fake/fake.h"
#include "mail/message/message_file.h"

namespace {

const char kPath[] = "C:\\Program Files\\Tillwick Orvenda\\Email\\I1042.txt";

// A message of about size bytes: a description line, headers, then 76-character lines with
// a dot line now and then and a few bare line ends.
std::string MakeMessage(size_t size)
{
    std::string text =
        "Invoice 1042 for Acme Ltd\r\nTo: Bob <bob@example.org>\r\nFrom: Acme Ltd <accounts@acme.test>\r\n"
        "Cc: <carol@example.org>\r\nSubject: Invoice 1042\r\n\r\n";
    const std::string line = "Item 0042  Widgets, blue, boxed        12 x 4.50        54.00  VAT 20%";
    for (size_t i = 0; text.size() < size; i++) {
        if (i % 50 == 0)
            text += ".";
        text += line;
        text += i % 97 == 0 ? "\n" : "\r\n";
    }
    text.resize(size);
    return text;
}

void ParseAndEncode(benchmark::State &state)
{
    size_t size = (size_t)state.range(0);
    FakeReset();
    gFake.files[kPath] = MakeMessage(size);
    static QueuedMessage message;
    static char piece[1024 * 1024];
    size_t encoded = 0;
    for (auto _ : state) {
        if (ParseMessageFile(&message, kPath) != kParseReady) {
            state.SkipWithError("not a valid message");
            break;
        }
        // What goes out: the head, then the rest of the file from the header block's end.
        int atLineStart = 1;
        encoded = 0;
        size_t position = 0;
        while (position < message.headLength)
            encoded += EncodeTransparent(message.head, message.headLength, &position,
                                         &atLineStart, piece, sizeof piece);
        const char *rest = message.text + message.header.end;
        size_t length = message.textLength - message.header.end;
        position = 0;
        while (position < length)
            encoded += EncodeTransparent(rest, length, &position, &atLineStart, piece,
                                         sizeof piece);
        benchmark::DoNotOptimize(encoded);
        ReleaseMessageText(&message);
        gFake.calls.clear();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)size);
    state.counters["encoded_bytes"] = (double)encoded;
}

// The header block read once and the one scan of the body (8-bit bytes, a zero byte, the
// size with CR LF line ends) over a message already mapped: what the parse adds to reading
// the file. It must grow with the body's size alone, at the speed of one pass over it.
void HeaderAndScan(benchmark::State &state)
{
    size_t size = (size_t)state.range(0);
    FakeReset();
    std::string text = MakeMessage(size);
    text[text.size() / 2] = (char)0xFC;  // one 8-bit byte deep in the body
    gFake.files[kPath] = text;
    static QueuedMessage message;
    if (LoadMessageFile(&message, kPath) != kParseReady) {
        state.SkipWithError("not loaded");
        return;
    }
    for (auto _ : state) {
        if (!ScanMessageBody(&message) || ReadMessageHeader(&message) != kParseReady ||
            ExtractRecipients(&message) != kParseReady ||
            ExtractSender(&message) != kParseReady) {
            state.SkipWithError("not a valid message");
            break;
        }
        ScanMessage(&message);
        benchmark::DoNotOptimize(message.restSize);
    }
    if (!message.facts.has8bit)
        state.SkipWithError("the 8-bit byte went unseen");
    ReleaseMessageText(&message);
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)size);
}

// A To list of size bytes that names 998 addresses over and over, with a Bcc that makes
// the head the utility's own.
void RepeatedRecipients(benchmark::State &state)
{
    size_t size = (size_t)state.range(0);
    std::string text = "Subject: x\r\nFrom: <accounts@acme.test>\r\nBcc: archive@acme.test\r\nTo: ";
    for (size_t i = 0; text.size() < size; i++)
        text += "r" + std::to_string(i % 998) + "@example.org, ";
    text += "last@example.org\r\nDate: Tue, 08 Dec 2026 14:05:09 +0100\r\n"
            "Message-ID: <m1@acme.test>\r\n\r\nHi\r\n";
    FakeReset();
    gFake.files[kPath] = text;
    static QueuedMessage message;
    size_t headBuffer = 0;
    for (auto _ : state) {
        if (ParseMessageFile(&message, kPath) != kParseReady || message.recipientCount != 1000) {
            state.SkipWithError("not a valid message");
            break;
        }
        headBuffer = message.headOwned ? malloc_usable_size((void *)message.head) : 0;
        ReleaseMessageText(&message);
        gFake.calls.clear();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)text.size());
    state.counters["head_buffer_bytes"] = (double)headBuffer;
    state.counters["header_bytes"] = (double)text.size();
}

}  // namespace

BENCHMARK(HeaderAndScan)->Arg(1 << 10)->Arg(32 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(ParseAndEncode)->Arg(1 << 10)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(RepeatedRecipients)->Arg(21 << 20)->Unit(benchmark::kMillisecond)->Iterations(2);
