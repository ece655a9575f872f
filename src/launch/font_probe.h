// The font-scaling probe: records the screen's horizontal logical pixels per inch as
// "DPILogicalX" for the host application.
#pragma once

void RecordScreenDpi(void);
