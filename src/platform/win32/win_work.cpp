// Win32 side of the work seam: a thread per piece of work.
#include <windows.h>

#include <cstdlib>

#include "../plat_work.h"

namespace {

struct WorkStart {
    void (*work)(void *);
    void *context;
};

DWORD WINAPI RunWork(LPVOID parameter)
{
    WorkStart start = *(WorkStart *)parameter;
    free(parameter);
    start.work(start.context);
    return 0;
}

}  // namespace

PlatWork PlatStartWork(void (*work)(void *context), void *context)
{
    WorkStart *start = (WorkStart *)malloc(sizeof *start);
    if (!start)
        return 0;
    start->work = work;
    start->context = context;
    HANDLE thread = CreateThread(nullptr, 64 * 1024, RunWork, start,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) {
        free(start);
        return 0;
    }
    return (PlatWork)thread;
}

void PlatFinishWork(PlatWork work)
{
    if (!work)
        return;
    WaitForSingleObject((HANDLE)work, INFINITE);
    CloseHandle((HANDLE)work);
}

void PlatDetachWork(PlatWork work)
{
    if (work)
        CloseHandle((HANDLE)work);
}
