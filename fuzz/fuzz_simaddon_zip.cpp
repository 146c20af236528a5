// libFuzzer target: any bytes as the add-on airport zip. Beyond the sanitizers' checks, every
// file the reader hands on has a plain name of its own in the target folder (no folder part, no
// repeat, ".txt" at the end) and no more bytes than the limit.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "app/data_updates_input.h"
#include "core/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  auto archive = kvo::ZipArchive::openBuffer(std::string_view(reinterpret_cast<const char*>(data), size), error);
  if (!archive) return 0;
  kvo::ZipLimits limits;
  limits.maxEntryBytes = 1u << 20;
  limits.maxTotalBytes = 4u << 20;
  std::set<std::string> names;
  const kvo::ZipReadResult r = kvo::readSimAddonZip(*archive, limits, [&](const std::string& name, std::string_view bytes) {
    const bool plain = name.size() > 4 && name.ends_with(".txt") && name.find_first_of("/\\:") == std::string::npos &&
                       name[0] != '.' && names.insert(toLowerAscii(name)).second;
    if (!plain || bytes.size() > limits.maxEntryBytes) __builtin_trap();
    return true;
  });
  if (r.ok != r.error.empty() || (r.ok && r.files != names.size())) __builtin_trap();
  return 0;
}
