// libFuzzer target: any airport file, and any airport list.
#include <cstddef>
#include <cstdint>

#include "airport_file_input.h"
#include "scratch_folder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto folder = fuzzinput::freshScratchFolder("airport_file");
  if (!fuzzinput::readAirportInput({reinterpret_cast<const char*>(data), size}, folder)) {
    __builtin_trap();
  }
  return 0;
}
