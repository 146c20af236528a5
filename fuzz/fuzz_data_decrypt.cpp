// libFuzzer target: the decryption of the encrypted data files: any bytes, and real streams cut, changed or extended.
#include <cstddef>
#include <cstdint>

#include "data_file_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzzinput::decryptDataInput({reinterpret_cast<const char*>(data), size})) __builtin_trap();
  return 0;
}
