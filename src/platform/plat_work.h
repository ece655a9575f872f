// Seam: work beside the caller. A piece of work runs on a thread of its own while the caller
// goes on; the caller waits for it before it reads anything the work writes.
#pragma once
#include <cstdint>

typedef uintptr_t PlatWork;

// CreateThread running work(context); 0 when no thread could be made (nothing ran then).
PlatWork PlatStartWork(void (*work)(void *context), void *context);

// Waits until the work has ended (WaitForSingleObject) and frees its thread; harmless on 0.
void PlatFinishWork(PlatWork work);

// Lets go of the work without waiting for it (CloseHandle): it runs on to its end unseen,
// and the process's end ends it. It must only touch memory it owns or shares by its own
// count; harmless on 0.
void PlatDetachWork(PlatWork work);
