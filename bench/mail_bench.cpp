// Throughput of a queued message on its way out: the parse (load, envelope, description
// line) and the transparency encoding into the sender's 1 MB pieces, for 1 KB, 1 MB and
// 64 MB messages. Prints bytes per second; the time should grow linearly with the size.
#include <benchmark/benchmark.h>

#include <string>

#include "base/text.h"
#include "fake/fake.h"
#include "mail/message_file.h"

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
        size_t length = message.textLength - kEndOfDataMarkLength;
        size_t position = 0;
        int atLineStart = 1;
        encoded = 0;
        while (position < length)
            encoded += EncodeTransparent(message.text, length, &position, &atLineStart, piece,
                                         sizeof piece);
        benchmark::DoNotOptimize(encoded);
        ReleaseMessageText(&message);
        gFake.calls.clear();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)size);
    state.counters["encoded_bytes"] = (double)encoded;
}

}  // namespace

BENCHMARK(ParseAndEncode)->Arg(1 << 10)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMicrosecond);
