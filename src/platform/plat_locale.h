// Seam: what the system's locale says about text: the ANSI code page that the host
// application's files are written in, and its lead bytes.
#pragma once

// GetACP: the system's ANSI code page (1252 for Western Europe, 932 for Japan, 65001 where
// the system runs in UTF-8).
unsigned PlatAnsiCodePage(void);

// IsDBCSLeadByteEx for every byte value: leadBytes[b] is set when b leads a double-byte
// character in codePage, cleared otherwise (all cleared for a code page that has none).
void PlatGetLeadBytes(unsigned codePage, bool leadBytes[256]);
