#include "core/files.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "core/log.h"
#include "core/text.h"
#include "core/user_error.h"
#include "core/utf.h"
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
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::vector<std::string_view> views = splitLines(text);
  return {views.begin(), views.end()};
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
  for (const auto& line : lines) {
    content.append(kvo::isCleanText(line) ? line : kvo::cleanText(line));
    content.push_back('\n');
  }
  return writeFileAtomically(path, content);
}

bool writeTextFile(std::string_view text, const fs::path& path, bool lineEnd) {
  if (!lineEnd) return writeFileAtomically(path, text);
  std::string content(text);
  content.push_back('\n');
  return writeFileAtomically(path, content);
}

namespace {

// The text as XML 1.0 can hold it, or empty when it can as it is.
std::string clean(std::string_view text) { return kvo::isCleanText(text) ? std::string() : kvo::cleanText(text); }

void cleanNode(pugi::xml_node node) {
  if (std::string name = clean(node.name()); !name.empty()) node.set_name(name.c_str());
  if (std::string value = clean(node.value()); !value.empty()) node.set_value(value.c_str());
  for (pugi::xml_attribute a : node.attributes()) {
    if (std::string name = clean(a.name()); !name.empty()) a.set_name(name.c_str());
    if (std::string value = clean(a.value()); !value.empty()) a.set_value(value.c_str());
  }
  for (pugi::xml_node child : node.children()) cleanNode(child);
}

}  // namespace

std::string xmlFileText(pugi::xml_document& doc, const char* indent) {
  for (pugi::xml_node n = doc.first_child(); n;) {
    const pugi::xml_node next = n.next_sibling();
    if (n.type() == pugi::node_declaration) doc.remove_child(n);
    n = next;
  }
  cleanNode(doc);
  pugi::xml_node declaration = doc.prepend_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "UTF-8";
  std::ostringstream text;
  doc.save(text, indent, pugi::format_indent, pugi::encoding_utf8);
  return text.str();
}

bool isWindowsDeviceName(std::string_view name) {
  // Windows drops trailing dots and blanks, and a device name stays one before any extension.
  const auto end = name.find_last_not_of(". ");
  if (end == std::string_view::npos) return false;
  name = name.substr(0, end + 1);
  name = name.substr(0, name.find('.'));
  name = name.substr(0, name.find_last_not_of(' ') + 1);
  const std::string upper = toUpperAscii(name);
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (upper == device) return true;
  }
  if (upper.size() < 4 || (!upper.starts_with("COM") && !upper.starts_with("LPT"))) return false;
  const std::string_view digit = std::string_view(upper).substr(3);
  return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" || digit == "\xC2\xB2" ||
         digit == "\xC2\xB3";
}

std::string deviceSafeName(std::string_view name) {
  // Built by appending: GCC 12 at -O3 takes `"_" + std::string(name)` for an overlapping copy
  // (a false -Wrestrict) and the release build would stop.
  std::string safe;
  safe.reserve(name.size() + 1);
  if (isWindowsDeviceName(name)) safe.push_back('_');
  safe.append(name);
  return safe;
}

namespace {

struct FileWalk {
  int maxDepth;
  std::size_t maxFiles;
  const std::function<bool(const fs::directory_entry&)>& enter;
  const std::function<bool(const fs::directory_entry&)>& take;
  std::set<fs::path> entered;
  std::size_t taken = 0;

  // False once maxFiles files were taken.
  bool visit(const fs::path& folder, int depth) {
    std::error_code ec;
    // A junction is no link to the library but resolves elsewhere, so folders are also told
    // apart by where they really are.
    const fs::path real = fs::canonical(folder, ec);
    if (!entered.insert(ec ? folder : real).second) return true;
    for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec)) {
      std::error_code typeEc;
      if (it->is_symlink(typeEc) && it->is_directory(typeEc)) continue;
      if (it->is_directory(typeEc)) {
        if (depth < maxDepth && enter(*it) && !visit(it->path(), depth + 1)) return false;
      } else if (it->is_regular_file(typeEc) && take(*it) && ++taken >= maxFiles) {
        return false;
      }
    }
    return true;
  }
};

}  // namespace

bool walkFiles(const fs::path& folder, int maxDepth, std::size_t maxFiles,
               const std::function<bool(const fs::directory_entry&)>& enter,
               const std::function<bool(const fs::directory_entry&)>& take) {
  FileWalk walk{maxDepth, maxFiles, enter, take, {}, 0};
  return walk.visit(folder, 0);
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
