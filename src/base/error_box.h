// The one kind of box through which every job tells the user what went wrong.
#pragma once
#include "../platform/plat_types.h"

extern const char kErrorCaption[];  // "Error"

// A box with the caption "Error", an OK button and the information icon; owner 0 for none.
// Returns once the user has closed it.
void ShowErrorBox(PlatWindow owner, const char *text);
