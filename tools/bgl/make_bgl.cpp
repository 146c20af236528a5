// Writes the BGL files of the repository that tools/bgl/bgl_writer.h makes:
//   ambv_make_bgl demo <file.bgl>   the demo add-on airport (tools/bgl/demo_airport.h) of
//                                   data/sim/Packages/Community/ambrelvane-airport-lowi-demo; the
//                                   test suite checks that the committed file is what this writes
//   ambv_make_bgl seeds <folder>    the seed inputs of the BGL reader's fuzzer (fuzz/corpus/bgl):
//                                   each airport and parking record variant, helipads with and
//                                   without the colour field, a delete record
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "bgl/demo_airport.h"

namespace {

bool write(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) std::cerr << "cannot write " << path << "\n";
  return static_cast<bool>(out);
}

std::vector<std::pair<std::string, std::string>> seeds() {
  std::vector<std::pair<std::string, std::string>> out;
  bglw::Airport small = bglw::demoAirport();
  small.parkings.resize(3);
  small.parkings[2].suffix = 13;
  small.helipads[1].colourField = false;
  small.helipads[1].closed = true;
  const std::pair<std::uint16_t, std::uint16_t> variants[] = {
      {0x0056, 0x00E7}, {0x003C, 0x003D}, {0x00AB, 0x00AD}, {0x003C, 0x001B}, {0x0099, 0x003D}};
  for (const auto& [airport, parking] : variants) {
    bglw::Airport a = small;
    a.recordId = airport;
    a.parkingId = parking;
    out.emplace_back("airport_" + std::to_string(airport) + "_parking_" + std::to_string(parking), bglw::bglFile({a}));
  }
  bglw::Airport other = small;
  other.icao = "K2X";
  other.deleteFlags.reset();
  other.closed = true;
  out.emplace_back("two_airports_closed", bglw::bglFile({small, other}));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc == 3 ? argv[1] : "";
  if (command == "demo") return write(argv[2], bglw::demoAirportBgl()) ? 0 : 1;
  if (command == "seeds") {
    std::filesystem::create_directories(argv[2]);
    for (const auto& [name, bytes] : seeds()) {
      if (!write(std::filesystem::path(argv[2]) / name, bytes)) return 1;
    }
    return 0;
  }
  std::cerr << "usage: ambv_make_bgl demo <file.bgl> | ambv_make_bgl seeds <folder>\n";
  return 2;
}
