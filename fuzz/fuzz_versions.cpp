// libFuzzer target: any text as versions.json. Beyond the sanitizers' checks, every item is
// missing, offered or unreadable with a reason; nothing throws.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/data_updates_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  const auto versions = kvo::parseVersionsJson(std::string_view(reinterpret_cast<const char*>(data), size), error);
  if (!versions) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  for (const char* item : {"simaddon", "aig", "dbase"}) {
    const kvo::OfferedVersion offer = kvo::offeredVersion(*versions, item);
    if ((offer.state == kvo::OfferedVersion::State::Unreadable) == offer.problem.empty()) __builtin_trap();
  }
  return 0;
}
