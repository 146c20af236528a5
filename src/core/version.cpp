#include "core/version.h"

#include <charconv>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "core/log.h"
#include "core/text.h"

constinit const kvo::VersionData g_programVersion{1, 0, 0};

namespace kvo {

VersionData VersionData::fromJson(const nlohmann::json& object) {
  return {object.at("major").get<std::int32_t>(), object.at("minor").get<std::int32_t>(),
          object.at("patch").get<std::int32_t>()};
}

namespace {

bool parseNumber(std::string_view text, std::int32_t& value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

VersionData VersionData::fromText(std::string_view text) {
  text = trimView(text);
  if (text.empty()) return {};  // never stored yet: not an error
  VersionData version;
  const auto dot1 = text.find('.');
  const auto dot2 = dot1 == std::string_view::npos ? dot1 : text.find('.', dot1 + 1);
  if (dot2 != std::string_view::npos && parseNumber(text.substr(0, dot1), version.major) &&
      parseNumber(text.substr(dot1 + 1, dot2 - dot1 - 1), version.minor) &&
      parseNumber(text.substr(dot2 + 1), version.patch)) {
    return version;
  }
  logArrowLine("parse error in version string");
  return {};
}

std::string VersionData::toString() const { return fmt::format("{}.{}.{}", major, minor, patch); }

}  // namespace kvo
