// libFuzzer target: any bytes as a scenery BGL file. Beyond the sanitizers' checks, the reader
// must never give more than the file holds: every airport has a code, and there are never more
// parkings or helipads than the bytes could carry.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "airports/bgl_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace bgl = kvo::bgl;
  const bgl::ReadResult r = bgl::readBgl(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!r.scenery && (!r.airports.empty() || !r.problems.empty())) __builtin_trap();
  if (r.problems.size() > bgl::kMaxProblemLines || r.notes.size() > bgl::kMaxProblemLines) __builtin_trap();
  std::size_t parkings = 0;
  std::size_t helipads = 0;
  for (const bgl::Airport& a : r.airports) {
    if (a.icao.empty() || a.icao.size() > 6) __builtin_trap();
    parkings += a.parkings.size();
    helipads += a.helipads.size();
  }
  if (parkings > size / 20 || helipads > size / 0x20) __builtin_trap();
  return 0;
}
