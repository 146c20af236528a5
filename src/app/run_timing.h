#pragma once
// Every fixed wait of the run control and the main loop's waits goes through runWait, so that
// tests can run countdowns, polls and pauses without waiting for them.
#include <chrono>
#include <functional>

namespace kvo {

// Sleeps for the duration (steady clock), or hands it to the test hook when one is set.
void runWait(std::chrono::milliseconds duration);

// A hook that replaces every runWait (it may record the duration, or act as the time passing);
// an empty hook puts back the real sleep.
using RunWaitHook = std::function<void(std::chrono::milliseconds)>;
void setRunWaitHookForTests(RunWaitHook hook);

}  // namespace kvo
