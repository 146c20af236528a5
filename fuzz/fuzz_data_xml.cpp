// libFuzzer target: the XML of the decrypted data files and the user's registration files.
#include <cstddef>
#include <cstdint>

#include "data_file_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzzinput::parseDataInput({reinterpret_cast<const char*>(data), size})) __builtin_trap();
  return 0;
}
