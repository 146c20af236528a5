#pragma once
// How a UDP reader thread that ended with an error ends the run: the least the readers need
// of the run control, which owns the exit reasons and their rule (app/run_control_hooks.h).
#include <cstdint>
#include <string>
#include <string_view>

namespace kvo {

inline constexpr std::int32_t kReaderErrorRestartDelaySeconds = 15;

// What the reader that ended the run reported; exitReason 0 while no reader ended it.
struct ReaderRunEndRequest {
  std::int32_t exitReason = 0;
  std::int32_t restartDelaySeconds = 0;
  std::string readerName;
  std::string errorText;
};

}  // namespace kvo

// Shows and logs "The {} has stopped with error: {}", then ends the run with exit reason 6
// ("READER ERROR") and a restart delay of 15 s unless a stop is already under way (the first
// reason wins). Never throws.
void reportThreadStopped(std::string_view readerName, std::string_view errorText);

// The report of the reader whose error ended the run, if one did. The reason and delay are in
// g_exitReason and g_restartDelaySeconds already; this adds which reader and why.
kvo::ReaderRunEndRequest readerRunEndRequest();

// Forgets the report (a new run, or a test's fresh start).
void resetReaderEvents();
