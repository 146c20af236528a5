#pragma once
// The folder a fuzzer writes an input's files to: one per target below the system's temporary
// folder, emptied at the fuzzer's start (libFuzzer ends its process without the exit handlers).
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace fuzzinput {

inline std::filesystem::path freshScratchFolder(std::string_view target) {
  const auto folder = std::filesystem::temp_directory_path() / ("ambv-fuzz-" + std::string(target));
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  std::filesystem::create_directories(folder);
  return folder;
}

}  // namespace fuzzinput
