// The font-scaling probe. The utility has no window of its own, so the active window is
// null and the device context is the whole screen's: the figure a DPI-unaware program sees.
#include "font_probe.h"

#include "../base/host_settings.h"
#include "../base/text.h"
#include "../platform/plat_ui.h"

static const int kLogPixelsX = 88;

void RecordScreenDpi(void)
{
    PlatWindow active = PlatGetActiveWindow();
    int dpi = PlatGetDeviceCaps(active, kLogPixelsX);
    char text[100];
    FormatText(text, sizeof text, "%d", dpi);
    WriteHostSetting(kKeyDpiLogicalX, text);
}
