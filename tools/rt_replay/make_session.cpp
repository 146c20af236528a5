// Makes the replay session tools/rt_replay/session-lows.rtrec: a synthetic traffic picture
// around Salzburg (LOWS), where the default simulator scenario parks the user. The flights are
// invented here (straight lines at constant speed and vertical rate), reported every 2 s in
// RealTraffic's traffic-line format, with a QNH datagram every 10 s. No real traffic data is in
// it. Usage: ambv_make_session <output file>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLowsLat = 47.7933;
constexpr double kLowsLon = 13.0043;
constexpr int kSessionSeconds = 600;
constexpr int kReportSeconds = 2;
constexpr long long kRecordedEpoch = 1780000000;  // the feed time of the session's start

struct Flight {
  unsigned hexId;
  const char* callsign;
  const char* type;
  const char* registration;
  const char* origin;
  const char* destination;
  double bearingFromLowsDeg;  // where the flight starts, seen from the airport
  double distanceNm;
  double trackDeg;
  double altitudeFt;
  double verticalFpm;
  double groundSpeedKt;
  int startSecond;  // first report
};

// Arrivals descend towards the airport, departures climb away, the rest pass over.
const std::vector<Flight> kFlights{
    {4840001, "DLH5YA", "A20N", "D-AINA", "EDDF", "LOWS", 330, 30, 150, 12000, -1200, 280, 0},
    {4840002, "EZY83QV", "A20N", "G-UZHA", "EGKK", "LOWS", 290, 34, 110, 14000, -1300, 290, 10},
    {4840003, "RYR4TU", "B738", "EI-DWA", "LOWS", "EGSS", 160, 4, 320, 3000, 2200, 230, 20},
    {4840004, "AUA902", "E195", "OE-LWA", "LOWW", "LOWS", 70, 32, 250, 13000, -1100, 280, 30},
    {4840005, "EWG9KM", "A320", "D-AEWA", "EDDL", "LOWS", 350, 36, 165, 15000, -1300, 300, 40},
    {4840006, "BAW2LW", "A321", "G-EUXC", "EGLL", "LIRF", 280, 36, 120, 37000, 0, 460, 0},
    {4840007, "TRA6351", "B738", "PH-HSA", "EHAM", "LGAV", 330, 35, 140, 35000, 0, 450, 15},
    {4840008, "AUA8WN", "DH8D", "OE-LGA", "LOWS", "LOWI", 150, 3, 230, 3500, 1500, 200, 50},
    {4840009, "SWR1279", "A320", "HB-IJE", "LSZH", "LOWW", 260, 35, 85, 33000, 0, 440, 5},
    {4840010, "WZZ4431", "A20N", "HA-LVA", "LHBP", "EGGW", 90, 35, 275, 36000, 0, 455, 25},
};

// The point reached from (lat, lon) after `nm` along the track (flat earth: good enough over
// the 40 nm of the picture).
void move(double& lat, double& lon, double trackDeg, double nm) {
  lat += nm * std::cos(trackDeg * kPi / 180.0) / 60.0;
  lon += nm * std::sin(trackDeg * kPi / 180.0) / (60.0 * std::cos(lat * kPi / 180.0));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: ambv_make_session <output file>\n";
    return 2;
  }
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  if (!out) {
    std::cerr << "cannot write " << argv[1] << "\n";
    return 1;
  }
  out << "# Ambrelvane replay session, made here by tools/rt_replay/make_session.cpp: a synthetic\n"
         "# traffic picture around Salzburg (LOWS), no recording of real traffic.\n"
         "# <milliseconds from the start> <UDP port> <datagram>\n";
  for (int second = 0; second <= kSessionSeconds; ++second) {
    if (second % 10 == 0) out << second * 1000 << " 49004 {\"QNH\": 1017}\n";
    if (second % kReportSeconds != 0) continue;
    for (const Flight& f : kFlights) {
      if (second < f.startSecond) continue;
      const double t = second - f.startSecond;
      double lat = kLowsLat;
      double lon = kLowsLon;
      move(lat, lon, f.bearingFromLowsDeg, f.distanceNm);
      move(lat, lon, f.trackDeg, f.groundSpeedKt * t / 3600.0);
      double altitude = f.altitudeFt + f.verticalFpm * t / 60.0;
      double vertical = f.verticalFpm;
      // Arrivals level off at 4000 ft, climbs at their cruise level.
      if (f.verticalFpm < 0 && altitude < 4000) {
        altitude = 4000;
        vertical = 0;
      }
      if (f.verticalFpm > 0 && altitude > 24000) {
        altitude = 24000;
        vertical = 0;
      }
      // Fields 0..28 of a traffic line; those the program does not read are left plain.
      char line[512];
      std::snprintf(line, sizeof line,
                    "RTTFC,%u,%.5f,%.5f,%.0f,%.0f,1000,%.1f,%.0f,%s,%s,%s,%s,%s,%lld,0,0,adsb_icao,0,0,-1,0,0,-1,0,%.1f,0,0,A3",
                    f.hexId, lat, lon, altitude, vertical, f.trackDeg, f.groundSpeedKt, f.callsign, f.type,
                    f.registration, f.origin, f.destination, kRecordedEpoch + second, f.trackDeg);
      out << second * 1000 << " 49005 " << line << "\n";
    }
  }
  return out.good() ? 0 : 1;
}
