#pragma once
// The airport files and the airport list, read from a file as the program reads them, for the
// fuzzer and the tests that replay its inputs. The first byte chooses the reader: an airport file
// (which, when read, must write and read back to the same stands) or the airport list (whose
// airports must then be usable for the closest-airport search).
#include <cmath>
#include <filesystem>
#include <string_view>

#include "airports/airport_file.h"
#include "airports/airport_list.h"
#include "core/files.h"

namespace fuzzinput {

// The files of the input are written to `folder`.
inline bool readAirportInput(std::string_view input, const std::filesystem::path& folder) {
  if (input.empty()) return true;
  const bool list = (static_cast<unsigned char>(input[0]) & 1u) != 0;
  const std::filesystem::path file = folder / (list ? "airports_fuzz.xml" : "ZZZZ.xml");
  if (!writeFileAtomically(file, input.substr(1))) return false;
  if (list) {
    resetAirportList();
    if (!readAirportsFile(file)) return true;
    bool good = true;
    for (const double lat : {-89.0, -45.0, 0.0, 45.0, 89.0}) {
      for (const double lon : {-179.9, -90.0, 0.0, 90.0, 179.9}) {
        if (const auto code = findClosestAirport({lat, lon})) {
          const kvo::Airport* airport = findAirport(*code);
          good = good && airport != nullptr && std::isfinite(airport->latitude) && std::isfinite(airport->longitude);
        }
      }
    }
    resetAirportList();
    return good;
  }
  kvo::AirportFileRecord record;
  if (!readAirportFile(file, record).empty()) return record.stands.empty();
  const std::filesystem::path copy = folder / "ZZZZ-copy.xml";
  if (!kvo::writeAirportFile(record, copy)) return false;
  kvo::AirportFileRecord again;
  if (!readAirportFile(copy, again).empty()) return false;
  if (again.stands.size() != record.stands.size()) return false;
  for (std::size_t i = 0; i < record.stands.size(); ++i) {
    if (again.stands[i].name != record.stands[i].name) return false;
  }
  return true;
}

}  // namespace fuzzinput
