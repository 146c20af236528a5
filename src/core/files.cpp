#include "core/files.h"

#include <atomic>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>

#include <fmt/format.h>

#include "core/log.h"
#include "core/text.h"
#include "core/user_error.h"
#include "platform/win32/win32.h"

namespace fs = std::filesystem;

fs::path pathFromUtf8(std::string_view text) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

std::string utf8Of(const fs::path& path) {
  const std::u8string s = path.u8string();
  return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

std::vector<std::string> readLines(std::istream& in) {
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  return lines;
}

namespace {

// One lock per target file, so two saves of the same file never interleave; the map only grows,
// by the handful of files the program writes.
std::mutex& lockForPath(const fs::path& path) {
  static std::mutex mapMutex;
  static std::map<std::string, std::unique_ptr<std::mutex>> locks;
  std::error_code ec;
  fs::path key = fs::absolute(path, ec);
  if (ec) key = path;
  std::lock_guard lock(mapMutex);
  auto& slot = locks[key.lexically_normal().string()];
  if (!slot) slot = std::make_unique<std::mutex>();
  return *slot;
}

fs::path temporaryPathFor(const fs::path& path) {
  static std::atomic<unsigned> counter{0};
  const auto tag = threadRandomEngine()();
  return path.parent_path() /
         fmt::format(".{}.{:08x}-{}.tmp", path.filename().string(), tag, counter.fetch_add(1));
}

}  // namespace

bool writeFileAtomically(const fs::path& path, std::string_view content) {
  try {
    if (path.filename().empty()) return false;
    std::lock_guard lock(lockForPath(path));
    const fs::path temporary = temporaryPathFor(path);
    bool written = false;
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      if (out) {
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.flush();
        written = out.good();
        out.close();
        written = written && !out.fail();
      }
    }
    std::error_code ec;
    if (written) {
      fs::rename(temporary, path, ec);
      if (!ec) return true;
    }
    fs::remove(temporary, ec);
    return false;
  } catch (...) {
    return false;
  }
}

bool writeLines(const std::vector<std::string>& lines, const fs::path& path) {
  std::string content;
  for (const auto& line : lines) content.append(line).push_back('\n');
  return writeFileAtomically(path, content);
}

bool writeTextFile(std::string_view text, const fs::path& path, bool lineEnd) {
  if (!lineEnd) return writeFileAtomically(path, text);
  std::string content(text);
  content.push_back('\n');
  return writeFileAtomically(path, content);
}

std::size_t countDirectoryEntries(const fs::path& folder) {
  std::error_code ec;
  std::size_t count = 0;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) ++count;
  return count;
}

void cleanFolder(const fs::path& folder) {
  logLine(fmt::format("Cleaning folder: {}", folder.string()));
  try {
    for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
  } catch (const fs::filesystem_error& e) {
    throw kvo::UserErrorException(kCleanFolderErrorCode,
                                  fmt::format("Cleaning folder {} failed: {}", folder.string(), e.what()));
  }
}

namespace {

fs::path knownFolder(int csidl, std::string_view what) {
  WCHAR buffer[MAX_PATH] = {};
  if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer) != S_OK || buffer[0] == 0) {
    logArrowLine(fmt::format("Could not find the {} application data folder", what));
    return {};
  }
  return fs::path(std::u16string(buffer));
}

}  // namespace

fs::path getAppDataPath() { return knownFolder(CSIDL_APPDATA, "roaming"); }

fs::path getLocalAppDataPath() { return knownFolder(CSIDL_LOCAL_APPDATA, "local"); }

fs::path programFolder() {
  fs::path base = getAppDataPath();
  if (base.empty()) return {};
  return base / "Ambrelvane";
}
