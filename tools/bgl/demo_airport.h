#pragma once
// The demo add-on airport of the default simulator installation (data/sim): Innsbruck (LOWI),
// made up here, not surveyed. Its stands lie roughly where the airport's aprons are: eight
// gates north of the runway (two pairs close enough to be neighbours), a cargo stand, six
// general aviation stands in a row (each touching the next), two helipads to the west, and a
// fuel and a vehicle position that the scan leaves out. The delete record replaces the
// simulator's own stands, as add-on airports do.
#include <string>

#include "bgl/bgl_writer.h"

namespace bglw {

inline Airport demoAirport() {
  Airport a;
  a.icao = "LOWI";
  a.name = "Innsbruck Kranebitten (Ambrelvane demo)";
  a.lat = 47.2602;
  a.lon = 11.3440;
  a.altitudeMm = 581000;  // 1906 ft
  a.deleteFlags = 0x00FF;  // approaches, aprons, frequencies, helipads, runways, starts, taxiways
  // Gates 1..8 along the terminal, noses north; 1/2 and 7/8 are 40 m apart (neighbours).
  const double gateLon[] = {11.3452, 11.34573, 11.34640, 11.34707, 11.34774, 11.34841, 11.34908, 11.34958};
  for (int i = 0; i < 8; ++i) {
    Parking p;
    p.name = 10;  // GATE
    p.type = i < 2 ? 10 : 9;  // two heavy, the others medium
    p.number = static_cast<std::uint16_t>(i + 1);
    p.radius = i < 2 ? 24.0f : 18.0f;
    p.heading = 353.0f;
    p.lat = 47.26135;
    p.lon = gateLon[i];
    p.pushback = 3;
    p.airlines = i % 2 == 0 ? std::vector<std::string>{"AUA"} : std::vector<std::string>{"EWG", "DLH"};
    a.parkings.push_back(p);
  }
  Parking cargo;
  cargo.name = 1;  // PARKING
  cargo.type = 5;  // RAMP_CARGO
  cargo.number = 20;
  cargo.radius = 25.0f;
  cargo.heading = 173.0f;
  cargo.lat = 47.26080;
  cargo.lon = 11.35120;
  a.parkings.push_back(cargo);
  for (int i = 0; i < 6; ++i) {
    Parking ga;
    ga.name = 1;
    ga.type = 2;  // RAMP_GA_SMALL
    ga.number = static_cast<std::uint16_t>(31 + i);
    ga.radius = 8.0f;
    ga.heading = 353.0f;
    ga.lat = 47.26170;
    ga.lon = 11.33700 + 0.00022 * i;
    a.parkings.push_back(ga);
  }
  Parking fuel;
  fuel.name = 1;
  fuel.type = 12;  // FUEL
  fuel.number = 90;
  fuel.radius = 10.0f;
  fuel.lat = 47.26110;
  fuel.lon = 11.33950;
  a.parkings.push_back(fuel);
  Parking vehicles = fuel;
  vehicles.type = 13;  // VEHICLES
  vehicles.number = 91;
  vehicles.lon = 11.33990;
  a.parkings.push_back(vehicles);
  for (int i = 0; i < 2; ++i) {
    Helipad h;
    h.lat = 47.26195;
    h.lon = 11.33420 + 0.00040 * i;
    h.altitudeMm = 581000;
    h.length = 18.0f;
    h.width = 18.0f;
    h.heading = 80.0f;
    a.helipads.push_back(h);
  }
  return a;
}

inline std::string demoAirportBgl() { return bglFile(std::vector<Airport>{demoAirport()}); }

}  // namespace bglw
