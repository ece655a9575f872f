// The auxiliary launches: Word, WordPad, the file copy and the help engine.
#pragma once
#include <cstdint>

// "/word" and "/wordpad": start the program on the argument, unchanged, in the argument's
// folder. An argument of 260 characters or more is refused without a start.
void OpenInWord(const char *argument);
void OpenInWordPad(const char *argument);

// "/copyfile": copies the path before the first space over the path after it. Nothing is
// copied without a space, with an empty path, or with a path of 260 characters or more.
void CopyFileFromArgument(const char *argument);

// Help commands, by their Windows numbers.
const unsigned kHelpContext = 1;
const unsigned kHelpQuit = 2;
const unsigned kHelpPartialKey = 0x105;

void ShowHelp(unsigned command, long context);

// The data word the help engine is given for command: the context number (1 for 0), a
// pointer to emptyKey for the partial-key index, else 0.
uintptr_t HelpDataWord(unsigned command, long context, const char *emptyKey);
