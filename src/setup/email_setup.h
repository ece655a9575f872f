// "/emailsetup": the Email Setup window, in which the person who sends the mail chooses how it
// goes out, finds the settings from the address, and saves them to section "Email Setup".
#pragma once

// How long the DNS lookups of "Find settings" may take in all before the window gives up on
// them (a late answer is then ignored).
const unsigned kFindTimeoutMilliseconds = 4000;

// Shows the window until Save or Cancel. Returns the exit code: 0 when the settings were
// saved, 1 when the window was cancelled or closed (nothing written) or could not be made.
int RunEmailSetup(void);
