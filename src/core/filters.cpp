#include "core/filters.h"

#include <algorithm>
#include <array>

bool isSpecialType(std::string_view icaoType) {
  static constexpr std::array<std::string_view, 8> kSpecial = {"BALL", "EMER", "GLID", "GRND",
                                                               "PARA", "SERV", "SHIP", "VENT"};
  return std::find(kSpecial.begin(), kSpecial.end(), icaoType) != kSpecial.end();
}

bool isShowableAircraft(std::string_view icaoType, std::string_view emitterCategory) {
  if (icaoType.empty()) return false;
  if (emitterCategory.empty() || emitterCategory == "null") return true;
  // Balloons, gliders, parachutists, surface vehicles.
  static constexpr std::array<std::string_view, 5> kHidden = {"B1", "B2", "B4", "C1", "C2"};
  if (std::find(kHidden.begin(), kHidden.end(), emitterCategory) != kHidden.end()) return false;
  return !isSpecialType(icaoType);
}
