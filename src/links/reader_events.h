#pragma once
// How a UDP reader thread that ended with an error ends the run: the least the readers need
// of the run's end request, which owns the exit reasons and their rule (shared_state/run_end.h).
#include <cstdint>
#include <string_view>

namespace kvo {

inline constexpr std::int32_t kReaderErrorRestartDelaySeconds = 15;

}  // namespace kvo

// Shows and logs "The {} has stopped with error: {}", then ends the run with exit reason 6
// ("READER ERROR") and a restart delay of 15 s unless a stop is already under way (the first
// reason wins). Never throws.
void reportThreadStopped(std::string_view readerName, std::string_view errorText);
