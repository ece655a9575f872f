// The auxiliary launches: Word, WordPad, the file copy and the help engine.
#pragma once

void OpenInWord(const char *argument);
void OpenInWordPad(const char *argument);
void CopyFileFromArgument(const char *argument);

// Help commands, by their Windows numbers.
const unsigned kHelpContext = 1;
const unsigned kHelpQuit = 2;
const unsigned kHelpPartialKey = 0x105;

void ShowHelp(unsigned command, long context);
