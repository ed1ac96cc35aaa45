// How many threads a batch can count on. The thread pool ends the program
// when it cannot start a thread, so a batch asks it for no more than could
// be started a moment before.
#pragma once

#include <tbb/task_arena.h>

#include <cstddef>

namespace lumora::cli {

// The calling thread plus the threads of stackSize bytes that could be
// started and run at once, each with a little memory of its own, up to
// `wanted` in all. They end, and give back all they took, before this
// returns.
int StartableThreads(int wanted, size_t stackSize);

// Has the arena's workers started, up to `threads` with the calling one,
// before the work that follows takes the memory: a worker of the pool that
// finds none left as it starts ends the program. Waits a moment at most
// for workers that do not come.
void StartWorkers(tbb::task_arena& arena, int threads);

}  // namespace lumora::cli
