#include "app/data_updates_input.h"

#include <limits>
#include <unordered_set>

#include <fmt/format.h>
#include <zip.h>

#include "core/files.h"
#include "core/text.h"

namespace kvo {

std::optional<nlohmann::json> parseVersionsJson(std::string_view text, std::string& error) {
  try {
    return nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception& e) {
    error = e.what();
    return std::nullopt;
  }
}

namespace {

// A JSON integer that fits 32 bits; nullopt for anything else.
std::optional<std::int32_t> int32Of(const nlohmann::json& value) {
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  if (value.is_number_unsigned()) {
    const auto v = value.get<std::uint64_t>();
    if (v <= static_cast<std::uint64_t>(kMax)) return static_cast<std::int32_t>(v);
  } else if (value.is_number_integer()) {
    const auto v = value.get<std::int64_t>();
    if (v >= kMin && v <= kMax) return static_cast<std::int32_t>(v);
  }
  return std::nullopt;
}

bool isNameCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c == '.' || c == ' ';
}

constexpr std::size_t kMaxStemLength = 100;

}  // namespace

OfferedVersion offeredVersion(const nlohmann::json& versions, std::string_view item) {
  OfferedVersion out;
  const std::string key(item);
  if (!versions.is_object() || !versions.contains(key)) return out;
  const nlohmann::json& member = versions.at(key);
  out.state = OfferedVersion::State::Unreadable;
  if (!member.is_object()) {
    out.problem = fmt::format("\"{}\" is not an object", item);
    return out;
  }
  std::int32_t parts[3] = {};
  const char* names[3] = {"major", "minor", "patch"};
  for (int i = 0; i < 3; ++i) {
    const auto it = member.find(names[i]);
    const std::optional<std::int32_t> v = it == member.end() ? std::nullopt : int32Of(*it);
    if (!v) {
      out.problem = fmt::format("\"{}\" has no whole number \"{}\" within 32 bits", item, names[i]);
      return out;
    }
    parts[i] = *v;
  }
  out.state = OfferedVersion::State::Offered;
  out.version = {parts[0], parts[1], parts[2]};
  return out;
}

void ZipArchive::Closer::operator()(zip* archive) const {
  if (archive != nullptr) zip_discard(archive);  // read-only: nothing to write back
}

namespace {

std::string zipErrorText(zip_error_t* error) {
  std::string text = zip_error_strerror(error);
  zip_error_fini(error);
  return text;
}

}  // namespace

std::optional<ZipArchive> ZipArchive::openFile(const std::filesystem::path& path, std::string& error) {
  int code = 0;
  zip* archive = zip_open(path.c_str(), ZIP_RDONLY, &code);
  if (archive == nullptr) {
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    error = zipErrorText(&e);
    return std::nullopt;
  }
  return ZipArchive(archive);
}

std::optional<ZipArchive> ZipArchive::openBuffer(std::string_view bytes, std::string& error) {
  zip_error_t e;
  zip_error_init(&e);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &e);
  if (source == nullptr) {
    error = zipErrorText(&e);
    return std::nullopt;
  }
  zip* archive = zip_open_from_source(source, ZIP_RDONLY, &e);
  if (archive == nullptr) {
    zip_source_free(source);
    error = zipErrorText(&e);
    return std::nullopt;
  }
  zip_error_fini(&e);
  return ZipArchive(archive);
}

std::string unpackedFileName(std::string_view entryName, std::string& reason) {
  reason.clear();
  if (entryName.empty()) {
    reason = "empty name";
    return {};
  }
  if (entryName.back() == '/') return {};  // a folder
  std::string name(entryName);
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  if (name.front() == '/' || (name.size() >= 2 && name[1] == ':')) {
    reason = "absolute path";
    return {};
  }
  for (const std::string& part : splitString(name, '/')) {
    if (part == "..") {
      reason = "path climbs out with \"..\"";
      return {};
    }
  }
  const std::string last = name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
  const std::size_t dot = last.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? last : last.substr(0, dot);
  if (stem.empty() || stem == "." || stem == "..") {
    reason = fmt::format("file name \"{}\" is not usable", stem);
    return {};
  }
  const bool startsWell = (stem[0] >= 'A' && stem[0] <= 'Z') || (stem[0] >= 'a' && stem[0] <= 'z') ||
                          (stem[0] >= '0' && stem[0] <= '9');
  bool plain = startsWell && stem.size() <= kMaxStemLength;
  for (char c : stem) plain = plain && isNameCharacter(c);
  if (!plain) {
    reason = fmt::format("file name \"{}\" is not usable", stem);
    return {};
  }
  // The airport search looks for a device name with "_" before it, as Windows cannot hold it.
  return deviceSafeName(stem + ".txt");
}

ZipReadResult readSimAddonZip(const ZipArchive& archive, const ZipLimits& limits,
                              const std::function<bool(const std::string& fileName, std::string_view bytes)>& take) {
  ZipReadResult out;
  zip* z = archive.handle();
  const zip_int64_t count = zip_get_num_entries(z, 0);
  if (count < 0) {
    out.error = "its entries cannot be listed";
    return out;
  }
  if (static_cast<std::uint64_t>(count) > limits.maxEntries) {
    out.error = fmt::format("it holds {} entries, more than {}", count, limits.maxEntries);
    return out;
  }
  std::unordered_set<std::string> taken;
  std::uint64_t total = 0;
  std::string bytes;
  std::string buffer(64 * 1024, '\0');
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(z, index, 0, &st) != 0 || (st.valid & ZIP_STAT_NAME) == 0 || (st.valid & ZIP_STAT_SIZE) == 0) {
      out.error = fmt::format("entry {} cannot be read", i);
      return out;
    }
    const std::string entry = st.name;
    std::string reason;
    const std::string fileName = unpackedFileName(entry, reason);
    if (fileName.empty()) {
      if (!reason.empty()) out.skipped.push_back(fmt::format("{}: {}", entry, reason));
      continue;
    }
    if (!taken.insert(toLowerAscii(fileName)).second) {
      out.skipped.push_back(fmt::format("{}: {} repeats an earlier entry's file name", entry, fileName));
      continue;
    }
    if (st.size > limits.maxEntryBytes) {
      out.error = fmt::format("entry {} holds {} bytes, more than {}", entry, st.size, limits.maxEntryBytes);
      return out;
    }
    total += st.size;
    if (total > limits.maxTotalBytes) {
      out.error = fmt::format("its entries hold more than {} bytes", limits.maxTotalBytes);
      return out;
    }
    zip_file_t* file = zip_fopen_index(z, index, 0);
    if (file == nullptr) {
      out.error = fmt::format("entry {} cannot be opened: {}", entry, zip_strerror(z));
      return out;
    }
    bytes.clear();
    bool readOk = true;
    for (;;) {
      const zip_int64_t n = zip_fread(file, buffer.data(), buffer.size());
      if (n < 0) {
        readOk = false;
        break;
      }
      if (n == 0) break;
      if (bytes.size() + static_cast<std::uint64_t>(n) > st.size) {  // more than it says: a bomb
        readOk = false;
        break;
      }
      bytes.append(buffer.data(), static_cast<std::size_t>(n));
    }
    const bool closed = zip_fclose(file) == 0;
    if (!readOk || !closed || bytes.size() != st.size) {
      out.error = fmt::format("entry {} is damaged", entry);
      return out;
    }
    if (!take(fileName, bytes)) {
      out.error = fmt::format("{} could not be written", fileName);
      return out;
    }
    ++out.files;
  }
  if (out.files == 0) {
    out.error = "it holds no files to unpack";
    return out;
  }
  out.ok = true;
  return out;
}

}  // namespace kvo
