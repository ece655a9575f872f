// Fuzz target: any bytes as a header block, read into fields, every field's value walked as
// an address list (in a single-byte, a double-byte or the UTF-8 code page), and the head
// composed with everything added and labelled, counted first. AddressSanitizer proves every
// span stays inside the text; the checks prove the fields cover the block once, in order,
// that no address carries a bracket or a control byte, that the walk always ends (and goes
// on after an item it cannot use), that the count is what is written, and that a labelled
// head holds not one 8-bit byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fake/fake.h"
#include "mail/message/header_block.h"
#include "mail/message/message_file.h"
#include "mail/message/message_head.h"

static void Check(bool holds)
{
    if (!holds)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static HeaderBlock block;
    static CodePage codePage;
    gFake.ansiCodePage = size > 1 ? (data[1] & 1 ? 932 : data[1] & 2 ? 65001 : 1252) : 1252;
    ReadSystemCodePage(&codePage);
    const char *text = (const char *)data;
    size_t end = FindHeaderEnd(text, size);
    Check(end <= size);
    bool firstLineAlone = size > 0 && (data[0] & 1);
    if (!ReadHeaderBlock(text, end, firstLineAlone, &block))
        return 0;
    size_t at = 0;
    for (int i = 0; i < block.count; i++) {
        const HeaderField &f = block.fields[i];
        Check(f.start == at && f.valueStart >= f.start && f.valueStart <= f.end && f.end <= end);
        at = f.end;
        AddressCursor cursor;
        StartAddressList(&cursor, text + f.valueStart, f.end - f.valueStart, &codePage);
        AddressItem item;
        size_t steps = 0;
        for (AddressItemKind kind; (kind = NextAddress(&cursor, &item)) != kAddressListEnd;) {
            Check(++steps <= f.end - f.valueStart + 1);
            if (item.raw)
                Check(item.raw >= text + f.valueStart && item.raw + item.rawLength <= text + f.end);
            if (kind != kAddressMailbox)
                continue;
            Check(item.address >= text + f.valueStart &&
                  item.address + item.addressLength <= text + f.end);
            for (size_t j = 0; j < item.addressLength; j++) {
                unsigned char c = (unsigned char)item.address[j];
                Check(c != '<' && c != '>' && c >= 0x20 && c != 0x7F);
            }
        }
    }
    Check(at == end);

    HeadSource source = {};
    source.text = text;
    source.block = &block;
    source.firstField = firstLineAlone && block.count > 0 ? 1 : 0;
    source.codePage = &codePage;
    source.time = {2026, 12, 8, 14, 5, 9, 2, 60};
    source.domain = "acme.test";
    TransmitPlan plan = {true, true, true, kBodyAsWritten, false};
    size_t codingOffset;
    char added[120];
    size_t needed = ComposeMessageHead(&source, &plan, nullptr, 0, &codingOffset, added,
                                       sizeof added);
    Check(needed != (size_t)-1);
    std::string head(needed + 1, '\0');
    size_t n = ComposeMessageHead(&source, &plan, &head[0], head.size(), &codingOffset, added,
                                  sizeof added);
    Check(n == needed);
    for (size_t i = 0; i < n; i++)
        Check((unsigned char)head[i] < 0x80);
    Check(head.compare(codingOffset, 4, "8bit") == 0);
    return 0;
}
