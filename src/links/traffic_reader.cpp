#include "links/traffic_reader.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <utility>

#include "core/filters.h"
#include "core/geometry.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/text.h"
#include "core/timeutil.h"
#include "core/utf.h"
#include "shared_state/main_window.h"

kvo::TrafficReader g_trafficReader;
std::atomic<std::uint32_t> g_rtTrafficWeek{0};

namespace kvo {
namespace {

constexpr double kDegToRad = 0.017453292519943295;
constexpr double kRadToDeg = 57.29577951308232;
constexpr double kTwoPi = 6.283185307179586;
constexpr std::uint32_t kMaxStaticId = 10000;  // ids up to this belong to static aircraft
constexpr std::size_t kMaxRegistrationLength = 12;
constexpr double kParkAirportReachNm = 5.0;  // ground traffic is kept this close to the park airport
constexpr double kUnknownElevationFt = -1000.0;
constexpr double kGroundCheckCeilingFt = 14000.0;

// A number by the from-chars rules (general format, no leading blank or plus sign); what
// follows the number is ignored. Empty when the field does not start with a number, and also
// for "inf" and "nan" and values beyond double's range: an infinite or undefined value would
// reach the traffic engine's movement and the simulator unchecked.
std::optional<double> readNumber(std::string_view field) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
  (void)end;
  if (error != std::errc() || !std::isfinite(value)) return std::nullopt;
  return value;
}

// A number whose error text is "{label}:{field}".
double readLabelled(std::string_view field, std::string_view label) {
  if (const auto value = readNumber(field)) return *value;
  throw std::runtime_error(fmt::format("{}:{}", label, field));
}

bool isNull(std::string_view field) { return field == "null"; }

// The texts of a line that go on to the simulator, the log and the airport files. A byte that is
// not UTF-8 broke JSON and XML writers, a NUL cut the tail number the object was created under
// (it could never be paired again), a line feed forged log lines: such a line is refused whole.
constexpr std::array<std::pair<TrafficField, std::string_view>, 5> kTextFields{{
    {kFieldCallsign, "callsign"},
    {kFieldType, "type"},
    {kFieldRegistration, "registration"},
    {kFieldOrigin, "origin"},
    {kFieldDestination, "destination"},
}};

// Plausible values of real aircraft, with room to spare; beyond them a number is a broken or
// forged line, and would take an aircraft to where nothing can follow it (an altitude of 1e300).
struct Range {
  double low;
  double high;
};
constexpr Range kAltitudeRange{-2000.0, 100000.0};  // feet, before the ground decision
constexpr Range kSpeedRange{0.0, 2000.0};           // knots, ground speed and true airspeed
constexpr Range kVerticalSpeedRange{-40000.0, 40000.0};  // feet per minute (ADS-B tops out near 32700)
constexpr Range kTrackRange{-360.0, 360.0};          // degrees
constexpr Range kRollRange{-180.0, 180.0};           // degrees

double requireInRange(double value, Range range, std::string_view label, std::string_view field) {
  if (value < range.low || value > range.high) {
    throw std::runtime_error(fmt::format("{} out of range: {}", label, printableForLog(field)));
  }
  return value;
}

}  // namespace

std::string copyFieldOrDefault(std::string_view field) { return isNull(field) ? std::string() : std::string(field); }

std::string formatLatLon(double lat, double lon) { return fmt::format("{:.6f},{:.6f}", lat, lon); }

double defaultTrueAirspeed(double altitudeFt) {
  if (altitudeFt <= 2000.0) return 180.0;
  if (altitudeFt <= 5000.0) return 220.0;
  if (altitudeFt <= 10000.0) return 250.0;
  if (altitudeFt <= 20000.0) return 350.0;
  return 430.0;
}

TrafficReader::TrafficReader() : UdpReader("Traffic Reader") {}

void TrafficReader::processMessage() {
  if (message.find(" VEH") != std::string_view::npos) return;  // ground vehicles
  fields.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = message.find(',', start);
    if (comma == std::string_view::npos) {
      fields.push_back(message.substr(start));  // also the empty field after a trailing ','
      break;
    }
    fields.push_back(message.substr(start, comma - start));
    start = comma + 1;
  }
  processLineSub();
}

void TrafficReader::processLineSub() {
  try {
    FeedRecord record;
    if (decodeLine(record)) appendToTrafficFeed(std::move(record));
  } catch (const std::exception& e) {
    badDatagramLines.write("exception in processLineSub",
                           fmt::format("exception in processLineSub: {}", printableForLog(e.what())));
  }
}

bool TrafficReader::copyRegistration(FeedRecord& record) const {
  const std::string_view field = fields[kFieldRegistration];
  if (field.size() > kMaxRegistrationLength) return false;
  record.registration = copyFieldOrDefault(field);
  return true;
}

bool TrafficReader::copyCallsign(FeedRecord& record) const {
  const std::string_view field = fields[kFieldCallsign];
  if (field == "ERARMTR0" || field == "AIRPORT1") return false;
  if (isNull(field) || field.find('@') != std::string_view::npos) {
    record.callsign.clear();
  } else {
    record.callsign.assign(field);
  }
  return true;
}

bool TrafficReader::decodeLine(FeedRecord& record) {
  // Published lines carry 42 to 44 fields; a shorter one must not make the decoder read past
  // its last field.
  if (fields.size() <= kLastTrafficField) {
    throw std::runtime_error(
        fmt::format("line of {} field{}, at least {} needed", fields.size(), pluralSuffix(fields.size()), kLastTrafficField + 1));
  }
  TrackPoint& point = record.position;

  // 1. A time stamp outside this century is as unreadable: it would become the feed time and
  // each aircraft's clock. Only a line that passes every check counts toward the feed's time
  // (below); until the feed's aircraft first agree on one, the first line read stands in for it,
  // so that the start sees traffic coming.
  const double timestamp = readLabelled(fields[kFieldTimestamp], "timestamp");
  if (!isPlausibleFeedTime(timestamp)) throw std::runtime_error(fmt::format("{}:{}", "timestamp", fields[kFieldTimestamp]));
  if (g_feedEpochTime.load() == 0.0) {
    // The reader's reset: a new feed starts without a time.
    if (feedTime_.agreed() != 0.0) feedTime_.reset();
    g_feedEpochTime.store(timestamp);
  }
  record.timestamp = timestamp;

  // 2. Position.
  const double lat = readLabelled(fields[kFieldLat], "lat");
  const double lon = readLabelled(fields[kFieldLon], "lon");
  if (lat < -90.0 || lat > 90.0 || lon < -180.0 || lon > 180.0 || (std::abs(lat) <= 0.0001 && std::abs(lon) <= 0.0001)) {
    throw std::runtime_error("invalid lalo: " + formatLatLon(lat, lon));
  }
  point.lat = lat;
  point.lon = lon;

  // 3. Outside the traffic radius.
  const TrafficReference ref = reference();
  if (distanceNm(ref.referenceLat, ref.referenceLon, lat, lon) > g_rangeNm.load()) return false;

  // Texts first: nothing of a line with a text that is not clean may be kept, not even a callsign.
  for (const auto& [index, label] : kTextFields) {
    // Escaped here already: the exception's text would end at a NUL.
    if (!isCleanText(fields[index])) {
      throw std::runtime_error(fmt::format("{} not clean text: {}", label, printableForLog(fields[index])));
    }
  }

  // 4., 5.
  if (!copyRegistration(record)) return false;
  if (collectCallsigns.load()) collectCallsign(fields[kFieldCallsign]);

  // 6., 7. Type, and only aircraft worth showing.
  const std::string_view type = fields[kFieldType];
  if (isNull(type) || type == "0" || type == "ZZZZ") {
    record.type.clear();
  } else {
    record.type.assign(type);
  }
  if (!isShowableAircraft(record.type, fields[kFieldEmitterCategory])) return false;

  // 8. True heading, from ADS-B sources only.
  if (fields[kFieldSource] == "adsb_icao") {
    const double heading = readLabelled(fields[kFieldTrueHeading], "trueheading");
    if (heading > 360.0) throw std::runtime_error(fmt::format("trueheading: {:.2f}", heading));
    if (heading == 0.0) {
      point.trueHeading = kTwoPi;
    } else if (heading > 0.0) {
      point.trueHeading = heading * kDegToRad;
    }
    point.trueHeadingGiven = point.trueHeading.has_value() ? 1 : 0;
  }

  // 9. Ids up to 10000 belong to static aircraft.
  const std::string_view idField = fields[kFieldHexId];
  std::uint32_t hexId = 0;
  if (std::from_chars(idField.data(), idField.data() + idField.size(), hexId).ec != std::errc()) {
    throw std::runtime_error(fmt::format("hexid incorrect{}", idField));
  }
  if (hexId <= kMaxStaticId) return false;
  record.hexId = hexId;

  // 10., 11. Ground decision.
  const double groundSpeed = readLabelled(fields[kFieldGroundSpeed], "gs");
  const std::optional<double> altitudeRead = readNumber(fields[kFieldAltitude]);
  if (!altitudeRead) {
    throw std::runtime_error(fmt::format("altitude {} incorrect, from: {}", fields[kFieldAltitude], message));
  }
  requireInRange(groundSpeed, kSpeedRange, "gs", fields[kFieldGroundSpeed]);
  double altitude = requireInRange(*altitudeRead, kAltitudeRange, "altitude", fields[kFieldAltitude]);
  const double elevation = ref.referenceElevationKnown ? ref.referenceElevation : kUnknownElevationFt;
  if (altitude <= 0.0) {
    altitude = 0.0;
  } else if (altitude < kGroundCheckCeilingFt) {
    const double height = altitude - elevation;
    if (height <= 0.0 || (height <= 45.0 && groundSpeed <= 120.0) || (height <= 90.0 && groundSpeed <= 80.0) ||
        (height <= 120.0 && groundSpeed <= 43.0)) {
      altitude = 0.0;
    }
  }
  if (groundSpeed <= 35.0) altitude = 0.0;
  const bool airborne = altitude > 0.0;
  point.altFt = altitude;
  point.groundSpeedKt = groundSpeed;
  point.airborne = airborne ? 1 : 0;

  // 12., 13.
  if (!copyCallsign(record)) return false;
  if (record.callsign.empty() && record.registration.empty()) return false;

  // 14. Ground traffic only at the park airport.
  if (!airborne && (!ref.parkAirportSet || distanceNm(ref.parkLat, ref.parkLon, lat, lon) > kParkAirportReachNm)) {
    return false;
  }

  // 15. Track; a missing one is taken from the true heading.
  const std::string_view trackField = fields[kFieldTrack];
  double track = 0.0;
  if (!trackField.empty()) {
    const auto value = readNumber(trackField);
    if (!value) throw std::runtime_error(fmt::format("track incorrect {}", trackField));
    track = requireInRange(*value, kTrackRange, "track", trackField);
  }
  if (track == 0.0 && point.trueHeading) track = *point.trueHeading * kRadToDeg;
  point.trackDeg = track;

  // 16., 17.
  point.verticalSpeed = requireInRange(readLabelled(fields[kFieldVerticalSpeed], "vs"), kVerticalSpeedRange, "vs",
                                       fields[kFieldVerticalSpeed]);
  record.origin = copyFieldOrDefault(fields[kFieldOrigin]);
  record.destination = copyFieldOrDefault(fields[kFieldDestination]);

  // 18. Roll, in the simulator's sign.
  if (airborne) {
    const double roll = requireInRange(readLabelled(fields[kFieldRoll], "roll"), kRollRange, "roll", fields[kFieldRoll]);
    if (roll != -1.0 && roll != 0.0) point.roll = -roll * kDegToRad;
  }

  // 19. True airspeed; -1 asks for the table.
  const std::string_view tasField = fields[kFieldTas];
  const auto tas = readNumber(tasField);
  if (!tas) throw std::runtime_error(fmt::format("TAS incorrect{}", tasField));
  point.tasKt = *tas == -1.0 ? defaultTrueAirspeed(altitude) : requireInRange(*tas, kSpeedRange, "TAS", tasField);

  // The line passed every check: it counts toward the feed's time, and is refused when stamped
  // far ahead of it.
  const bool taken = feedTime_.take(hexId, timestamp);
  if (feedTime_.agreed() != 0.0) g_feedEpochTime.store(feedTime_.agreed());
  if (!taken) {
    throw std::runtime_error(
        fmt::format("timestamp more than {:.0f} s ahead of the feed: {}", kMaxSecondsAheadOfTheFeed, fields[kFieldTimestamp]));
  }

  // 20. The feed sets the due tick when it queues the record.
  point.stationary = 0;
  return true;
}

void TrafficReader::collectCallsign(std::string_view callsign) {
  if (callsign.empty() || isNull(callsign) || callsign.find('@') != std::string_view::npos) return;
  std::lock_guard lock(callsignsMutex_);
  // The pass may have taken the set since the flag was read: do not refill it.
  if (!collectCallsigns.load()) return;
  callsigns_.emplace(callsign);
}

void TrafficReader::startCollectingCallsigns() {
  std::lock_guard lock(callsignsMutex_);
  callsigns_.clear();
  collectCallsigns.store(true);
}

std::unordered_set<std::string> TrafficReader::takeCollectedCallsigns() {
  std::lock_guard lock(callsignsMutex_);
  collectCallsigns.store(false);
  return std::exchange(callsigns_, {});
}

void TrafficReader::clearCallsigns() {
  std::lock_guard lock(callsignsMutex_);
  callsigns_.clear();
}

std::size_t TrafficReader::callsignCount() const {
  std::lock_guard lock(callsignsMutex_);
  return callsigns_.size();
}

void TrafficReader::setReferencePosition(double lat, double lon) {
  std::lock_guard lock(referenceMutex_);
  reference_.referenceLat = lat;
  reference_.referenceLon = lon;
}

void TrafficReader::setReferenceElevation(double feet) {
  std::lock_guard lock(referenceMutex_);
  reference_.referenceElevation = feet;
  reference_.referenceElevationKnown = true;
}

void TrafficReader::clearReferenceElevation() {
  std::lock_guard lock(referenceMutex_);
  reference_.referenceElevation = 0.0;
  reference_.referenceElevationKnown = false;
}

void TrafficReader::setParkAirportPosition(double lat, double lon) {
  std::lock_guard lock(referenceMutex_);
  reference_.parkAirportSet = true;
  reference_.parkLat = lat;
  reference_.parkLon = lon;
}

void TrafficReader::clearParkAirportPosition() {
  std::lock_guard lock(referenceMutex_);
  reference_.parkAirportSet = false;
  reference_.parkLat = 0.0;
  reference_.parkLon = 0.0;
}

TrafficReference TrafficReader::reference() const {
  std::lock_guard lock(referenceMutex_);
  return reference_;
}

void TrafficReader::onConnected() {
  g_mainWindow.g_trafficLamp.store(kLampReceiving);
  g_mainWindow.invalidate(g_statusAreaRect);
  g_mainWindow.g_qnhLamp.store(kLampReceiving);
  g_mainWindow.invalidate(g_statusAreaRect);
}

void TrafficReader::onStopped() {
  g_mainWindow.g_trafficLamp.store(kLampStopped);
  g_mainWindow.invalidate(g_statusAreaRect);
  logLine("Traffic Reader has stopped");
}

void TrafficReader::resetForTests() {
  UdpReader::resetForTests();
  fields.clear();
  collectCallsigns.store(false);
  clearCallsigns();
  feedTime_.reset();
  std::lock_guard lock(referenceMutex_);
  reference_ = {};
}

}  // namespace kvo
