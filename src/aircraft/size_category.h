#pragma once
#include <cstdint>
#include <string_view>

// Aircraft size class; the key of every per-category table.
enum SizeCategory : std::uint32_t {
  Light = 0,
  Buzjets = 1,
  Large = 2,
  Heavy = 3,
  HighPerf = 4,
  Rotorcraft = 5,
};
constexpr std::uint32_t kSizeCategoryCount = 6;

namespace kvo {
// "Light", "Buzjets", ... "Rotorcraft"; throws std::out_of_range for a value outside the enumeration.
std::string_view sizeCategoryText(SizeCategory category);
}  // namespace kvo
