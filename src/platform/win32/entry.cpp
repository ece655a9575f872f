// The Windows entry point: a GUI program without a window of its own. The process ends
// with the code of the one job the command line asked for.
#include <windows.h>

#include "../plat_entry.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return RunProgram();
}
