#pragma once
// The parts of the aircraft records that the feed record shares: the text block and the track
// point. The traffic engine's records (traffic/aircraft_records.h) build on them.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace kvo {

// Traffic ticks (10 ms each). 64-bit: due ticks are sums of the running tick and offsets that
// reach tens of millions, which would overflow 32 bits after a few weeks of uptime.
using TickCount = std::int64_t;

// The eight texts and the coupled-search flag that a live aircraft takes from its feed record.
struct AircraftTexts {
  std::string airline;
  std::string type;          // ICAO aircraft type
  std::string origin;        // departure airport as the feed gives it, may be empty
  std::string destination;   // arrival airport, may be empty
  std::string callsign;      // the ATC ID under which the simulator object is created
  std::string coupledCallsign1;
  std::string coupledCallsign2;
  std::string registration;
  std::uint64_t coupledSearchDone = 0;  // used as a flag
};

// Moves the eight texts (the source's texts are left empty) and copies the flag.
inline void moveAircraftBaseStrings(AircraftTexts& target, AircraftTexts& source) {
  if (&target == &source) return;
  auto take = [](std::string& to, std::string& from) {
    to = std::move(from);
    from.clear();
  };
  take(target.airline, source.airline);
  take(target.type, source.type);
  take(target.origin, source.origin);
  take(target.destination, source.destination);
  take(target.callsign, source.callsign);
  take(target.coupledCallsign1, source.coupledCallsign1);
  take(target.coupledCallsign2, source.coupledCallsign2);
  take(target.registration, source.registration);
  target.coupledSearchDone = source.coupledSearchDone;
}

// Releases the eight texts (what a feed record taken out of the feed no longer needs).
inline void destroyAircraftBase(AircraftTexts& record) {
  record.airline = {};
  record.type = {};
  record.origin = {};
  record.destination = {};
  record.callsign = {};
  record.coupledCallsign1 = {};
  record.coupledCallsign2 = {};
  record.registration = {};
}

// One position of a live aircraft from the feed.
struct TrackPoint {
  double lat = 0.0;            // degrees
  double lon = 0.0;            // degrees
  double altFt = 0.0;
  double groundSpeedKt = 0.0;
  double trackDeg = 0.0;
  double verticalSpeed = 0.0;  // feet per minute
  double tasKt = 0.0;
  TickCount dueTick = 0;       // the traffic tick at which the aircraft must be here
  std::uint8_t airborne = 0;
  std::uint8_t stationary = 0;  // stands still here: true airspeed 0, no curve step
  std::uint8_t trueHeadingGiven = 0;
  std::optional<double> roll;         // radians
  std::optional<double> trueHeading;  // radians
};

}  // namespace kvo
