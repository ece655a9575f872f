// Throughput of the quoted-printable body for servers without 8BITMIME: a 32 MiB
// Windows-1252 text (mostly ASCII, some accented letters, CR LF lines of about 70
// characters) encoded into the sender's 1 MB pieces, and its size counted for SIZE.
#include <benchmark/benchmark.h>

#include <string>

#include "mail/message/mime_text.h"

namespace {

const size_t kBodySize = 32u << 20;

const std::string &Body()
{
    static std::string body;
    if (body.empty()) {
        const char *lines[] = {
            "Item 0042  Widgets, blue, boxed        12 x 4.50        54.00  VAT 20%",
            "Caf\xe9 cr\xe8me for the r\xe9union, na\xefve fa\xe7" "ade  3 x 2.10 = 6.30 \xa3 net",
            "Total due within 30 days of the invoice date; late fees apply.      ",
            ".Payment reference: INV-1042 / account 00417 \xab urgent \xbb     ok",
        };
        for (size_t k = 0; body.size() < kBodySize; k++) {
            body += lines[k % 4];
            body += "\r\n";
        }
        body.resize(kBodySize);
    }
    return body;
}

void EncodeBody(benchmark::State &state)
{
    const std::string &body = Body();
    static char piece[1024 * 1024];
    size_t encoded = 0;
    for (auto _ : state) {
        size_t position = 0;
        QuotedPrintableState qp = {0};
        encoded = 0;
        while (position < body.size())
            encoded += EncodeQuotedPrintable(body.data(), body.size(), &position, &qp, piece,
                                             sizeof piece);
        benchmark::DoNotOptimize(encoded);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)body.size());
    state.counters["encoded_bytes"] = (double)encoded;
}

void CountBody(benchmark::State &state)
{
    const std::string &body = Body();
    size_t size = 0;
    for (auto _ : state) {
        size = QuotedPrintableSize(body.data(), body.size());
        benchmark::DoNotOptimize(size);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)body.size());
    state.counters["encoded_bytes"] = (double)size;
}

}  // namespace

BENCHMARK(EncodeBody)->Unit(benchmark::kMillisecond);
BENCHMARK(CountBody)->Unit(benchmark::kMillisecond);
