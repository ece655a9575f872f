// Seam: what the system's locale says about text: the ANSI code page that the host
// application's files are written in.
#pragma once

// GetACP: the system's ANSI code page (1252 for Western Europe, 932 for Japan, 65001 where
// the system runs in UTF-8).
unsigned PlatAnsiCodePage(void);
