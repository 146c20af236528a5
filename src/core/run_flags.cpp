#include "core/run_flags.h"

std::atomic<bool> g_stopRequested{false};
std::atomic<bool> g_quitRequested{false};
