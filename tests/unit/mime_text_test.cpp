// The MIME text of messages with 8-bit bytes: charset names and character lengths, RFC 2047
// encoded-words and their folding, quoted-printable bodies (also in small pieces and as a
// size), and the Date and Message-ID fields.
#include <gtest/gtest.h>

#include <string>

#include "fake/fake.h"
#include "mail/message/message_file.h"
#include "mail/message/mime_text.h"

namespace {

// A code page as the system gives it (through the fake's GetACP and lead bytes).
const CodePage *Page(unsigned number)
{
    static CodePage page;
    gFake.ansiCodePage = number;
    ReadSystemCodePage(&page);
    return &page;
}

std::string Repeat(const std::string &piece, size_t count)
{
    std::string text;
    for (size_t k = 0; k < count; k++)
        text += piece;
    return text;
}

TEST(MimeText, CharsetNamesAndCharacterLengths)
{
    EXPECT_STREQ(CharsetOfCodePage(1252), "windows-1252");
    EXPECT_STREQ(CharsetOfCodePage(874), "windows-874");
    EXPECT_STREQ(CharsetOfCodePage(949), "ks_c_5601-1987");
    EXPECT_STREQ(CharsetOfCodePage(65001), "utf-8");
    EXPECT_STREQ(CharsetOfCodePage(437), "unknown-8bit");
    struct Row {
        std::string text;
        unsigned codePage;
        size_t length;
    } rows[] = {
        {"\x82\xa0x", 932, 2},
        {"\x82", 932, 1},              // a lead byte at the end
        {"\xa0\xa0", 932, 1},          // no lead byte in 932
        {"\xa0\xa0", 936, 2},
        {"\xb5\x6f", 950, 2},          // an ASCII letter as the trail byte
        {"\x81\x30", 936, 1},          // no trail byte below 0x40
        {"\xe9\xe9", 1252, 1},
        {"\x95\x5c", 932, 2},          // a backslash as the trail byte
        {"\xe3\x81\x82", 65001, 3},
        {"\xf0\x9f\x98\x80", 65001, 4},
        {"\xe3\x81", 65001, 1},        // cut short
        {"\xc0\xaf", 65001, 1},        // overlong
        {"\xed\xa0\x80", 65001, 1},    // a surrogate
    };
    for (const Row &row : rows)
        EXPECT_EQ(CharacterLength(row.text.data(), row.text.size(), Page(row.codePage)), row.length)
            << row.codePage << " " << row.text;
}

TEST(MimeText, HeaderWordsCarryTheBytesWithinTheLimits)
{
    const std::string jisA = "\x82\xa0";  // one double-byte character
    struct Row {
        const char *name;
        std::string text;
        unsigned codePage;
        size_t column;
        std::string words;
        size_t columnAfter;
        size_t trailing = 0;
    } rows[] = {
        {"Q specials", "a=b?c_d e\x01\xe9", 1252, 0, "=?windows-1252?Q?a=3Db=3Fc=5Fd_e=01=E9?=", 40},
        {"gbk", "\xb7\xa2\xc6\xb1", 936, 0, "=?gbk?B?t6LGsQ==?=", 18},
        {"big5", "\xb5\x6f\xb2\xbc", 950, 0, "=?big5?B?tW+yvA==?=", 19},
        {"ks_c", "\xc3\xbb\xb1\xb8\xbc\xad", 949, 0, "=?ks_c_5601-1987?B?w7uxuLyt?=", 29},
        {"utf-8", "Gr\xc3\xbc\xc3\x9f" "e \xf0\x9f\x98\x80", 65001, 0, "=?utf-8?B?R3LDvMOfZSDwn5iA?=", 28},
        {"exactly 75 characters", std::string(56, 'a'), 1252, 0,
         "=?windows-1252?Q?" + std::string(56, 'a') + "?=", 75},
        {"an encoded byte is not cut at the limit", std::string(55, 'a') + "\xe9", 1252, 0,
         "=?windows-1252?Q?" + std::string(55, 'a') + "?=\r\n =?windows-1252?Q?=E9?=", 23},
        {"a double-byte character that just fits", std::string(40, 'A') + jisA, 932, 0,
         "=?shift_jis?B?" + Repeat("QUFB", 13) + "QYKg?=", 72},
        {"a double-byte character across the limit goes whole into the next word",
         std::string(41, 'A') + jisA, 932, 0,
         "=?shift_jis?B?" + Repeat("QUFB", 13) + "QUE=?=\r\n =?shift_jis?B?gqA=?=", 21},
        {"a UTF-8 sequence across the limit", std::string(44, 'a') + "\xc3\xa9", 65001, 0,
         "=?utf-8?B?" + Repeat("YWFh", 14) + "YWE=?=\r\n =?utf-8?B?w6k=?=", 17},
        {"the first word fills the line behind the field name", std::string(60, 'x'), 1252, 9,
         "=?windows-1252?Q?" + std::string(50, 'x') + "?=\r\n =?windows-1252?Q?" +
             std::string(10, 'x') + "?=",
         30},
        {"no room behind the field name: fold first", "\xc3\xa9", 65001, 70,
         "\r\n =?utf-8?B?w6k=?=", 17},
        {"the last word keeps room for what follows it", std::string(56, 'a'), 1252, 3,
         "=?windows-1252?Q?" + std::string(53, 'a') + "?=\r\n =?windows-1252?Q?aaa?=", 23, 3},
        {"nothing to encode", "", 1252, 9, "", 9},
    };
    for (const Row &row : rows) {
        char dest[512];
        size_t column = row.column;
        const CodePage *page = Page(row.codePage);
        size_t n = EncodeHeaderWords(row.text.data(), row.text.size(), page, row.trailing,
                                     &column, dest, sizeof dest);
        EXPECT_EQ(std::string(dest), row.words) << row.name;
        EXPECT_EQ(n, row.words.size()) << row.name;
        EXPECT_EQ(column, row.columnAfter) << row.name;
        size_t counted = row.column;
        EXPECT_EQ(EncodeHeaderWords(row.text.data(), row.text.size(), page, row.trailing,
                                    &counted, nullptr, 0), n) << row.name;
    }
    // Too small by one: nothing written, the column left as it was.
    const std::string text = rows[0].text;
    char small[41];
    size_t column = 3;
    EXPECT_EQ(EncodeHeaderWords(text.data(), text.size(), Page(1252), 0, &column, small, 40),
              (size_t)-1);
    EXPECT_EQ(column, 3u);
    EXPECT_EQ(EncodeHeaderWords(text.data(), text.size(), Page(1252), 0, &column, small, 41), 40u);
}

std::string EncodeWhole(const std::string &source, size_t outSize)
{
    std::string out, piece(outSize, '\0');
    size_t position = 0;
    QuotedPrintableState state = {0};
    while (position < source.size()) {
        size_t n = EncodeQuotedPrintable(source.data(), source.size(), &position, &state,
                                         &piece[0], outSize);
        if (n == 0)
            break;  // no progress: fail below instead of looping
        out.append(piece, 0, n);
    }
    return out;
}

TEST(MimeText, QuotedPrintableFollowsRfc2045)
{
    const std::string a74(74, 'a'), a75(75, 'a');
    struct Row {
        const char *name;
        std::string source;
        std::string encoded;
    } rows[] = {
        {"plain", "abc", "abc"},
        {"equals sign; tab inside a line", "a=b\tc", "a=3Db\tc"},
        {"blank before a line end and at the end", "x \r\ny\t", "x=20\r\ny=09"},
        {"dots that start lines", ".x\r\n.\r\nz.", "=2Ex\r\n=2E\r\nz."},
        {"bare CR and LF", "a\rb\nc\r\n\r", "a\r\nb\r\nc\r\n\r\n"},
        {"8-bit and controls", "\xe9\x7f\x01", "=E9=7F=01"},
        {"76 characters before a line end", std::string(76, 'a') + "\r\n", std::string(76, 'a') + "\r\n"},
        {"76 characters at the end", std::string(76, 'a'), std::string(76, 'a')},
        {"77 characters", std::string(77, 'a'), a75 + "=\r\naa"},
        {"an encoded byte moves whole", a74 + "\xe9" "b", a74 + "=\r\n=E9b"},
        {"a dot after a soft break", a75 + ".b", a75 + "=\r\n=2Eb"},
        {"an encoded trailing blank past the line", a74 + " \r\n", a74 + "=\r\n=20\r\n"},
        {"an encoded byte as the 76th column", std::string(73, 'a') + "=\r\n",
         std::string(73, 'a') + "=3D\r\n"},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(EncodeWhole(row.source, 1 << 20), row.encoded) << row.name;
        EXPECT_EQ(EncodeWhole(row.source, kQuotedPrintableUnitMax), row.encoded) << row.name;
        EXPECT_EQ(QuotedPrintableSize(row.source.data(), row.source.size()), row.encoded.size())
            << row.name;
    }
}

TEST(MimeText, QuotedPrintableInPiecesEqualsOneCall)
{
    std::string body;
    for (int k = 0; k < 400; k++) {
        body += std::string(k % 90, 'a' + k % 26);
        body += k % 7 == 0 ? ".\xe9=\t " : "x";
        body += k % 5 == 0 ? "\n" : k % 11 == 0 ? "\r" : "\r\n";
    }
    std::string whole = EncodeWhole(body, 1 << 20);
    for (size_t outSize : {kQuotedPrintableUnitMax, kQuotedPrintableUnitMax + 1, (size_t)31, (size_t)100})
        EXPECT_EQ(EncodeWhole(body, outSize), whole) << outSize;
    EXPECT_EQ(QuotedPrintableSize(body.data(), body.size()), whole.size());
    // Each output line keeps within 76 characters.
    for (size_t start = 0, end; start < whole.size(); start = end + 2) {
        end = whole.find("\r\n", start);
        if (end == std::string::npos)
            end = whole.size();
        EXPECT_LE(end - start, 76u) << whole.substr(start, end - start);
    }
}

TEST(MimeText, MailDateFromTheDateItselfOrRefused)
{
    struct Row {
        PlatLocalTime time;  // year, month, day, hour, minute, second, weekday, offset
        const char *date;    // "" when refused
    } rows[] = {
        {{2026, 12, 8, 14, 5, 9, 5, 60}, "Tue, 08 Dec 2026 14:05:09 +0100"},  // weekday ignored
        {{2024, 2, 29, 23, 59, 60, 0, 330}, "Thu, 29 Feb 2024 23:59:60 +0530"},
        {{2000, 1, 1, 0, 0, 0, 0, -570}, "Sat, 01 Jan 2000 00:00:00 -0930"},
        {{1999, 12, 31, 12, 0, 0, 0, 0}, "Fri, 31 Dec 1999 12:00:00 +0000"},
        {{2025, 2, 29, 0, 0, 0, 0, 0}, ""},
        {{2100, 2, 29, 0, 0, 0, 0, 0}, ""},
        {{1899, 12, 31, 0, 0, 0, 0, 0}, ""},
        {{2026, 13, 1, 0, 0, 0, 0, 0}, ""},
        {{2026, 4, 31, 0, 0, 0, 0, 0}, ""},
        {{2026, 1, 1, 24, 0, 0, 0, 0}, ""},
        {{2026, 1, 1, 0, 60, 0, 0, 0}, ""},
        {{2026, 1, 1, 0, 0, 61, 0, 0}, ""},
        {{2026, 1, 1, 0, 0, 0, 0, 1440}, ""},
        {{2026, 1, 1, 0, 0, 0, 0, -1440}, ""},
    };
    for (const Row &row : rows) {
        char dest[40];
        bool made = FormatMailDate(&row.time, dest, sizeof dest);
        EXPECT_EQ(made, row.date[0] != '\0') << row.date;
        if (made) {
            EXPECT_STREQ(dest, row.date);
        }
    }
    char exact[32];
    EXPECT_TRUE(FormatMailDate(&rows[0].time, exact, sizeof exact));
    EXPECT_FALSE(FormatMailDate(&rows[0].time, exact, sizeof exact - 1));
}

TEST(MimeText, MessageIdIsTheRandomBytesInHexAtTheDomain)
{
    const unsigned char random[16] = {0x00, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd,
                                      0xef, 0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x10};
    char id[45];
    EXPECT_TRUE(FormatMessageId(random, "acme.test", id, sizeof id));
    EXPECT_STREQ(id, "<000123456789abcdeffedcba98765410@acme.test>");
    EXPECT_FALSE(FormatMessageId(random, "acme.test", id, sizeof id - 1));
}

}  // namespace
