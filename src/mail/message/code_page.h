// The code page the host application writes its files in, as the message readers need it:
// its number and which bytes lead a double-byte character. Read from the system once per
// message (ReadSystemCodePage); everything here is pure.
#pragma once
#include <cstddef>

struct CodePage {
    unsigned number;      // the ANSI code page: 1252, 932, 65001, ...; 0 for none known
    bool leadBytes[256];  // the lead bytes of a double-byte code page; none in the others
};

// The length of the character at p (end > p): 2 for a lead byte followed by a trail byte
// (every trail byte of the double-byte code pages lies from 0x40 up, above every delimiter
// of a header), else 1. A null codePage has no lead bytes.
inline size_t DoubleByteLength(const CodePage *codePage, const char *p, const char *end)
{
    return codePage && codePage->leadBytes[(unsigned char)p[0]] && end - p >= 2 &&
                   (unsigned char)p[1] >= 0x40
               ? 2
               : 1;
}
