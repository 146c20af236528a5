#pragma once
// One aircraft.cfg as the livery scan reads it, for the fuzzer and for the tests that replay its
// inputs. The first byte chooses how the rest is written: as it is, behind a UTF-8 mark, or as
// UTF-16 (each byte one unit) little or big endian with or without its mark; so every way of
// reading a text is taken with whatever the rest holds.
#include <string>
#include <string_view>

#include "aircraft/cfg_text.h"
#include "aircraft/livery_scan.h"

namespace fuzzinput {

inline std::string aircraftCfgBytes(std::string_view input) {
  if (input.empty()) return {};
  const unsigned mode = static_cast<unsigned char>(input.front()) % 6;
  const std::string_view text = input.substr(1);
  if (mode == 0) return std::string(text);
  if (mode == 1) return "\xEF\xBB\xBF" + std::string(text);
  const bool bigEndian = mode == 3 || mode == 5;
  std::string out = mode <= 3 ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
  for (const char c : text) {
    out.push_back(bigEndian ? '\0' : c);
    out.push_back(bigEndian ? c : '\0');
  }
  return out;
}

// False when the scan broke a promise: what it read is not UTF-8, or an entry has no FLTSIM index.
inline bool scanAircraftCfgInput(std::string_view input) {
  const CfgFileScan scan = scanAircraftCfgText(aircraftCfgBytes(input));
  if (!scan.error.empty()) return scan.entries.empty();
  bool good = isValidUtf8(scan.generalType) && isValidUtf8(scan.icaoModel) && isValidUtf8(scan.baseContainer);
  for (const FltsimEntry& e : scan.entries) {
    good = good && e.index >= 0 && isValidUtf8(e.title) && isValidUtf8(e.airline) && isValidUtf8(e.atcid) &&
           isValidUtf8(e.parkingCodes) && isValidUtf8(e.parkingTypes) && isValidUtf8(e.uiVariation);
  }
  return good;
}

}  // namespace fuzzinput
