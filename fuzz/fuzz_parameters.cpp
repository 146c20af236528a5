// libFuzzer target: any parameters.xml.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "parameters_input.h"
#include "scratch_folder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto folder = fuzzinput::freshScratchFolder("parameters");
  static const bool pointed = ::setenv("APPDATA", folder.c_str(), 1) == 0;
  if (!pointed || !fuzzinput::loadParametersInput({reinterpret_cast<const char*>(data), size}, folder)) {
    __builtin_trap();
  }
  return 0;
}
