#pragma once
// Helpers of the aircraft tests: a temporary working folder with encrypted data files, and an
// aircraft.cfg writer.
#include <filesystem>
#include <string>
#include <vector>

#include "aircraft/data_crypto.h"
#include "support/test_support.h"

namespace aircrafttest {

using coretest::readFile;
using coretest::TempFolder;
using coretest::waitFor;
using coretest::writeFile;

inline void writeFileMakingFolders(const std::filesystem::path& path, const std::string& content) {
  std::filesystem::create_directories(path.parent_path());
  writeFile(path, content);
}

inline void writeEncrypted(const std::filesystem::path& path, const std::string& plain) {
  const std::vector<std::uint8_t> bytes = gf_streamEncrypt(plain, builtInDataKey());
  writeFileMakingFolders(path, std::string(bytes.begin(), bytes.end()));
}

inline std::string sourceFile(const std::string& relative) {
  return readFile(std::filesystem::path(AMBV_SOURCE_DIR) / relative);
}

inline std::string minimalDbase(const std::string& types, const std::string& extra = "") {
  return "<?xml version=\"1.0\"?><dbase><aircraft>" + types + "</aircraft>" + extra + "</dbase>";
}

inline std::string minimalRegcodes(const std::string& regs, const std::string& specials = "") {
  return "<?xml version=\"1.0\"?><regcodes><registrations>" + regs + "</registrations><specialliveries>" +
         specials + "</specialliveries></regcodes>";
}

}  // namespace aircrafttest
