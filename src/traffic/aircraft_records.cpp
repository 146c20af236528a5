#include "traffic/aircraft_records.h"

#include <fmt/format.h>

#include <array>
#include <stdexcept>
#include <utility>

#include "aircraft/aircraft_types.h"
#include "core/text.h"

std::vector<kvo::LiveAircraft> g_liveAircraft;
std::vector<kvo::StaticAircraft> g_staticAircraft;

namespace kvo {

namespace {

// The message the lookups of the tables have always thrown with.
[[noreturn]] void throwMissingKey() { throw std::out_of_range("invalid unordered_map<K, T> key"); }

template <typename Key, typename Value, std::size_t N>
const Value& lookup(const std::array<std::pair<Key, Value>, N>& table, Key key) {
  for (const auto& entry : table) {
    if (entry.first == key) return entry.second;
  }
  throwMissingKey();
}

constexpr std::array<std::pair<AircraftState, std::string_view>, 5> kStateTexts{{
    {AircraftState::Buffer, "buffer"},
    {AircraftState::Adding2Sim, "adding2sim"},
    {AircraftState::Active, "active"},
    {AircraftState::LiveryRespawn, "liveryrespawn"},
    {AircraftState::RemovingFromSim, "removingfromsim"},
}};

constexpr std::array<std::pair<GroundPhase, std::string_view>, 8> kPhaseTexts{{
    {GroundPhase::PushingBack, "pushing_back"},
    {GroundPhase::PushedBack, "pushed_back"},
    {GroundPhase::Taxi, "taxi"},
    {GroundPhase::TakeOff, "take_off"},
    {GroundPhase::Flying, "flying"},
    {GroundPhase::Parking, "parking"},
    {GroundPhase::Parked, "parked"},
    {GroundPhase::Birth, "birth"},
}};

constexpr std::array<std::pair<SizeCategory, CategoryValues>, 6> kCategoryValues{{
    // rotation pitch, climb pitch (degrees), turn rate (degrees per tick), flare, ground-slot,
    // rotation and climb-out ticks
    {Light, {-9.0, -15.0, 0.15, 250, 250, 100, 200}},
    {Buzjets, {-8.0, -18.0, 0.1, 300, 300, 200, 250}},
    {Large, {-6.0, -16.5, 0.07, 400, 350, 200, 300}},
    {Heavy, {-5.0, -12.5, 0.05, 450, 450, 250, 400}},
    {HighPerf, {-6.0, -20.0, 0.1, 150, 150, 100, 200}},
    {Rotorcraft, {-20.0, -30.0, 0.2, 100, 100, 100, 100}},
}};

constexpr std::array<std::pair<SizeCategory, LiveCategoryValues>, 6> kLiveCategoryValues{{
    {Light, {0.5, 5.0}},
    {Buzjets, {0.75, 4.5}},
    {Large, {0.6, 4.0}},
    {Heavy, {0.5, 3.0}},
    {HighPerf, {1.0, 4.5}},
    {Rotorcraft, {0.75, 5.0}},
}};

bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }
char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

void copyNonTextFields(AircraftBase& target, const AircraftBase& source) {
  target.halfSpanNm = source.halfSpanNm;
  target.staticCgFt = source.staticCgFt;
  target.staticPitch = source.staticPitch;
  target.rotationPitch = source.rotationPitch;
  target.climbPitch = source.climbPitch;
  target.turnRateBase = source.turnRateBase;
  target.turnRate = source.turnRate;
  target.climbStep = source.climbStep;
  target.standSpeedKt = source.standSpeedKt;
  target.internalId = source.internalId;
  target.sizeCategory = source.sizeCategory;
  target.liveryTitle = source.liveryTitle;
  target.flareTicks = source.flareTicks;
  target.groundSlotTicks = source.groundSlotTicks;
  target.rotationTicks = source.rotationTicks;
  target.climbOutTicks = source.climbOutTicks;
  target.cargo = source.cargo;
  target.reverseThrust = source.reverseThrust;
}

}  // namespace

std::string_view aircraftStateText(AircraftState state) { return lookup(kStateTexts, state); }
std::string_view groundPhaseText(GroundPhase phase) { return lookup(kPhaseTexts, phase); }

const CategoryValues& categoryValues(SizeCategory category) { return lookup(kCategoryValues, category); }
const LiveCategoryValues& liveCategoryValues(SizeCategory category) {
  return lookup(kLiveCategoryValues, category);
}

AircraftBase makeAircraftBase(const AircraftTexts& source) {
  AircraftBase base;
  copyAircraftBase(base, source);
  base.halfSpanNm = getWingspan(base.type);
  base.sizeCategory = getSizeCategory(base.type);
  const CategoryValues& values = categoryValues(base.sizeCategory);
  base.flareTicks = values.flareTicks;
  base.groundSlotTicks = values.groundSlotTicks;
  base.rotationTicks = values.rotationTicks;
  base.climbOutTicks = values.climbOutTicks;
  base.rotationPitch = randomisePercent(values.rotationPitchDeg, 2.5) * kRadiansPerDegree;
  base.climbPitch = randomisePercent(values.climbPitchDeg, 5.0) * kRadiansPerDegree;
  base.turnRateBase = values.turnRateDegPerTick * kRadiansPerDegree;
  return base;
}

void copyAircraftBase(AircraftTexts& target, const AircraftTexts& source) {
  if (&target == &source) return;
  target.airline = source.airline;
  target.type = source.type;
  target.origin = source.origin;
  target.destination = source.destination;
  target.callsign = source.callsign;
  target.coupledCallsign1 = source.coupledCallsign1;
  target.coupledCallsign2 = source.coupledCallsign2;
  target.registration = source.registration;
  target.coupledSearchDone = source.coupledSearchDone;
}

void moveAircraftBase(AircraftBase& target, AircraftBase& source) {
  if (&target == &source) return;
  moveAircraftBaseStrings(target, source);
  copyNonTextFields(target, source);
}

StaticAircraft initStaticAircraft(AircraftBase&& base, std::uint32_t standId, const StandPosition& position,
                                  std::uint8_t cargoStand) {
  StaticAircraft ac;
  moveAircraftBase(ac, base);
  ac.standLat = position.lat;
  ac.standLon = position.lon;
  ac.standHeading = position.headingRad;
  ac.standId = standId;
  ac.cargoStand = cargoStand;
  return ac;  // every other field keeps its start value (state buffer, no throttle or flaps sent)
}

LiveAircraft initLiveAircraft(AircraftBase&& base, const TrackPoint& firstPoint, double feedTime) {
  LiveAircraft ac;
  moveAircraftBase(ac, base);
  ac.trackPoints.push_back(firstPoint);
  // The line it is made from is the first that the next lines are judged against.
  if (firstPoint.airborne == 0) ac.scatterLines.push_back(firstPoint);
  ac.feedTime = feedTime;
  return ac;  // every other field keeps its start value as declared
}

std::string typeAirlineText(const AircraftTexts& ac) { return fmt::format("{:3} {:4}", ac.airline, ac.type); }

std::string routeText(const AircraftTexts& ac) {
  if (ac.origin.empty() && ac.destination.empty()) return std::string(8, ' ');
  return fmt::format("{:3}->{:3}", ac.origin, ac.destination);
}

std::string callsignText(const AircraftTexts& ac) { return fmt::format("{:8}", ac.callsign); }

std::string flightText(const AircraftTexts& ac) {
  return fmt::format("{} {:8} {}", callsignText(ac), ac.registration, routeText(ac));
}

std::string aircraftText(const AircraftTexts& ac) { return fmt::format("{} {}", flightText(ac), typeAirlineText(ac)); }

std::string aircraftLongText(const AircraftTexts& ac) {
  return fmt::format("{} {} {}", callsignText(ac), ac.registration, typeAirlineText(ac));
}

std::string joinPrefixAndLastField(const AircraftTexts& ac) { return typeAirlineText(ac) + " " + ac.registration; }

std::string& aircraftTextInto(const AircraftTexts& ac, std::string& out) {
  out = aircraftText(ac);
  return out;
}

std::optional<std::string> airlineCodeOfCallsign(std::string_view callsign) {
  if (callsign.size() < 4) return std::nullopt;
  if (!isAsciiLetter(callsign[0]) || !isAsciiLetter(callsign[1]) || !isAsciiLetter(callsign[2])) {
    return std::nullopt;
  }
  if (!isAsciiDigit(callsign[3])) return std::nullopt;
  std::string code(callsign.substr(0, 3));
  for (char& c : code) c = asciiUpper(c);
  return code;
}

bool airlineFromCallsign(AircraftTexts& ac) {
  auto code = airlineCodeOfCallsign(ac.callsign);
  if (!code) return false;
  ac.airline = std::move(*code);
  return true;
}

bool checkPlaceholder(const AircraftTexts& ac) {
  return !ac.callsign.empty() && ac.callsign != "@@@@@@@@" && ac.callsign.size() <= 8;
}

bool sameKeyPair(const AircraftTexts& a, const AircraftTexts& b) { return a.airline == b.airline && a.type == b.type; }

bool recordMatches(std::string_view key, const AircraftTexts& ac, const StandUse& use) {
  if (use.optionId == 0 || use.real != 1) return false;
  // An empty key would match every use whose second callsign is empty.
  if (!key.empty() && (use.callsign == key || use.secondCallsign == key)) return true;
  return use.airline == ac.airline && use.type == ac.type;
}

}  // namespace kvo
