#pragma once
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace kvo {

struct VersionData {
  std::int32_t major = 0;
  std::int32_t minor = 0;
  std::int32_t patch = 0;

  // From an object with the integer members "major", "minor" and "patch"; a missing member or
  // one of another type throws the JSON library's exception.
  static VersionData fromJson(const nlohmann::json& object);
  // From "major.minor.patch"; an empty text gives 0.0.0, an unreadable one 0.0.0 and the log line
  // "parse error in version string".
  static VersionData fromText(std::string_view text);

  std::string toString() const;  // "{}.{}.{}"

  // Lexicographic on (major, minor, patch), signed.
  auto operator<=>(const VersionData&) const = default;
};

}  // namespace kvo

extern const kvo::VersionData g_programVersion;  // 1.0.0
