// libFuzzer target: any datagram the QNH Reader can receive. Beyond the sanitizers' checks, a
// published QNH must lie in the accepted range.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "links/qnh_reader.h"
#include "links/udp_reader.h"
#include "shared_state/main_window.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kvo::QnhReader* const reader = [] {
    g_realTrafficOnThisPc.store(true);  // decode every input, also a repeated one
    return new kvo::QnhReader;
  }();
  reader->handleDatagram(std::string_view(reinterpret_cast<const char*>(data), size));
  const std::int32_t qnh = g_qnh.load();
  const std::int32_t shown = g_mainWindow.qnh.load();
  if (qnh < kvo::kLowestQnh || qnh > kvo::kHighestQnh) __builtin_trap();
  if (shown != 0 && (shown < kvo::kLowestQnh || shown > kvo::kHighestQnh)) __builtin_trap();
  if (reader->lastQnh.load() != qnh) __builtin_trap();
  return 0;
}
