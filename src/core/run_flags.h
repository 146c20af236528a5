#pragma once
// Run-state flags that every subsystem reads; they live here because the log writer of this
// subsystem must honour them. The run control sets and clears them.
#include <atomic>

extern std::atomic<bool> g_stopRequested;  // the current run must end
extern std::atomic<bool> g_quitRequested;  // the program must quit
