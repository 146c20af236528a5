#pragma once
// The two downloads of the data updates that the program must not trust: versions.json and the
// zip of the add-on airport data. Only reading here, no parameters, window or downloads, so that
// the fuzzers can drive it.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/version.h"

struct zip;

namespace kvo {

inline constexpr std::size_t kMaxVersionsJsonBytes = 1u << 20;

// versions.json parsed; nullopt with the parser's reason in error for a text that is not JSON.
std::optional<nlohmann::json> parseVersionsJson(std::string_view text, std::string& error);

// The version offered for one item ("simaddon", "aig", "dbase").
struct OfferedVersion {
  enum class State { Missing, Unreadable, Offered };
  State state = State::Missing;
  VersionData version;
  std::string problem;  // why it is unreadable
};
// Missing when the value is no object or has no such member; Unreadable when the member is no
// object with the integers "major", "minor" and "patch" within 32 bits (strings, fractions and
// huge numbers are refused, never wrapped).
OfferedVersion offeredVersion(const nlohmann::json& versions, std::string_view item);

// A zip archive opened read-only (libzip), closed by the destructor.
class ZipArchive {
 public:
  // The file, or bytes that the archive only borrows (they must outlive it). Without the
  // archive, error says why.
  static std::optional<ZipArchive> openFile(const std::filesystem::path& path, std::string& error);
  static std::optional<ZipArchive> openBuffer(std::string_view bytes, std::string& error);
  ZipArchive(ZipArchive&&) noexcept = default;
  ZipArchive& operator=(ZipArchive&&) noexcept = default;
  ~ZipArchive() = default;

  zip* handle() const { return archive_.get(); }

 private:
  struct Closer {
    void operator()(zip* archive) const;
  };
  explicit ZipArchive(zip* archive) : archive_(archive) {}
  std::unique_ptr<zip, Closer> archive_;
};

struct ZipLimits {
  std::uint64_t maxEntryBytes = std::uint64_t{64} << 20;
  std::uint64_t maxEntries = 100000;
  std::uint64_t maxTotalBytes = std::uint64_t{1} << 30;
};

struct ZipReadResult {
  bool ok = false;                    // every entry was read (skipped ones aside) and taken
  std::string error;                  // why not
  std::size_t files = 0;              // entries handed to take
  std::vector<std::string> skipped;   // one line per skipped entry
};

// The file name an entry is unpacked to: the stem of its last path part (folders and the last
// extension dropped) + ".txt"; empty, with the reason, for an entry that must not be unpacked: a
// folder entry is passed over silently (reason empty), a path that is absolute or climbs with
// "..", and a stem that is empty, "." or "..", or holds other than letters, digits, '_', '-',
// '.' and blanks is refused.
std::string unpackedFileName(std::string_view entryName, std::string& reason);

// Hands every entry's bytes to take(file name, bytes) in archive order. Entries that must not be
// unpacked and entries whose file name repeats an earlier one (without regard to case, as on
// Windows) are skipped with a line in skipped. More entries than the limit, an entry or a total
// above the size limits, an entry that cannot be read (damaged, or larger than it says) and a
// take that returns false end the read with ok false.
ZipReadResult readSimAddonZip(const ZipArchive& archive, const ZipLimits& limits,
                              const std::function<bool(const std::string& fileName, std::string_view bytes)>& take);

}  // namespace kvo
