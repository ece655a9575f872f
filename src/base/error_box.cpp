// The "Error" information box.
#include "error_box.h"

#include "../platform/plat_ui.h"

const char kErrorCaption[] = "Error";

void ShowErrorBox(PlatWindow owner, const char *text)
{
    PlatMessageBox(owner, text, kErrorCaption, PLAT_MB_OK | PLAT_MB_ICONINFORMATION);
}
