// libFuzzer target: any parameters.xml.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "parameters_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::filesystem::path folder = [] {
    auto f = std::filesystem::temp_directory_path() / ("ambv-fuzz-parameters-" + std::to_string(::getpid()));
    std::filesystem::create_directories(f);
    ::setenv("APPDATA", f.c_str(), 1);
    return f;
  }();
  if (!fuzzinput::loadParametersInput({reinterpret_cast<const char*>(data), size}, folder)) __builtin_trap();
  return 0;
}
