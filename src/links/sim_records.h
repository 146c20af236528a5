#pragma once
// The records that cross between the traffic engine and the simulator client, and the records
// the client keeps of the user aircraft and of its own requests. Header-only and free of other
// program headers, so that both sides and the tests can use them without linking each other.
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace kvo {

// Initial position of an AI aircraft at its creation, in the simulator's own units.
struct InitPosition {
  double latitude = 0.0;   // degrees
  double longitude = 0.0;  // degrees
  double altitude = 0.0;   // feet
  double pitch = 0.0;      // degrees
  double bank = 0.0;       // degrees
  double heading = 0.0;    // degrees, true
  std::uint32_t onGround = 0;
  std::uint32_t airspeed = 0;  // knots
};

// Exactly the fields of the position data definition (402), in its order. Angles in radians.
struct PositionBlock {
  double lat = 0.0;               // degrees
  double lon = 0.0;               // degrees
  double pitch = 0.0;             // radians, negative is nose up
  double bank = 0.0;              // radians
  double heading = 0.0;           // radians, true
  double altFt = 0.0;             // feet
  double verticalSpeedFps = 0.0;  // feet per second
  double tasKt = 0.0;             // knots
};
static_assert(sizeof(PositionBlock) == 64, "the position block is sent as 64 packed bytes");

struct AiPositionUpdate {
  PositionBlock position;
  std::uint32_t objectId = 0;
};

struct CreateRequest {
  InitPosition initPosition;
  std::string tailNumber;      // the aircraft's callsign: the key that pairs the new object
  std::string_view title;      // livery title; its storage outlives every run (livery data base)
  std::uint32_t internalId = 0;
};

enum class SimResultKind : std::uint32_t {
  CreatedLive = 0,    // value2: height above ground, feet
  CreatedStatic = 1,
  RemovedBySim = 2,
  GroundData = 3,     // value1: ground altitude, feet; value2: height above ground, feet
  StaticCg = 4,       // value1: static CG height, feet; value2: static pitch, radians
  CreateFailed = 6,
};

struct SimConnectResult {
  std::uint32_t objectId = 0;
  // CreatedLive, CreatedStatic, CreateFailed: the aircraft's internal id; GroundData: the
  // on-ground value (1 on the ground); 0 otherwise.
  std::uint32_t id = 0;
  std::int32_t ticks = 0;  // ticks waited in the deferred list; -1 marks it done
  SimResultKind kind = SimResultKind::CreatedLive;
  double value1 = 0.0;
  double value2 = 0.0;
};

// One client event for an AI object, sent with the next frame.
struct ClientEventRequest {
  std::uint32_t objectId = 0;
  std::uint32_t eventId = 0;  // 206..222
  std::uint32_t data = 0;
};

// One creation sent to the simulator and not yet answered: its packet id pairs a failure
// exception, its tail number the new object.
struct SentCreatePacket {
  std::uint32_t packetId = 0;
  std::uint32_t internalId = 0;
  std::string tailNumber;
};

// The user aircraft as data definition 403 delivers it, packed in this order.
struct UserAircraftData {
  double lat = 0.0;            // degrees
  double lon = 0.0;            // degrees
  double pitch = 0.0;          // radians
  double bank = 0.0;           // radians
  double heading = 0.0;        // radians, true
  double altFt = 0.0;          // feet; never below 0 once stored
  double aglFt = 0.0;          // feet above ground
  double groundSpeedKt = 0.0;  // knots
  std::int64_t zuluTime = 0;       // seconds of the UTC day
  std::int64_t zuluDayOfYear = 0;  // 1 for 1 January
  std::int64_t zuluYear = 0;
  std::int64_t lightStates = 0;    // bit mask of the simulator's lights
};
static_assert(sizeof(UserAircraftData) == 96, "definition 403 is 96 packed bytes");

// A position counts as known when it lies more than 0.0001 degree away from 0/0.
constexpr bool isKnownPosition(double lat, double lon) {
  return lat > 0.0001 || lat < -0.0001 || lon > 0.0001 || lon < -0.0001;
}

// An optional bool that one thread writes and others read.
class AtomicOptionalBool {
 public:
  std::optional<bool> load() const {
    const std::int8_t v = value_.load();
    if (v < 0) return std::nullopt;
    return v != 0;
  }
  void store(std::optional<bool> v) { value_.store(v ? static_cast<std::int8_t>(*v ? 1 : 0) : std::int8_t{-1}); }
  void reset() { store(std::nullopt); }

 private:
  std::atomic<std::int8_t> value_{-1};
};

// An optional double that one thread writes and others read (NaN stands for "no value").
class AtomicOptionalDouble {
 public:
  std::optional<double> load() const {
    const double v = value_.load();
    if (std::isnan(v)) return std::nullopt;
    return v;
  }
  void store(std::optional<double> v) { value_.store(v ? *v : std::numeric_limits<double>::quiet_NaN()); }
  void reset() { store(std::nullopt); }

 private:
  std::atomic<double> value_{std::numeric_limits<double>::quiet_NaN()};
};

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kRadiansPerDegree = 0.017453292519943295;

// The creation position of an aircraft that appears where its position block says: angles to
// degrees, on-ground and airspeed 0.
constexpr InitPosition initPositionFromBlock(const PositionBlock& p) {
  return InitPosition{p.lat, p.lon, p.altFt, p.pitch * kDegreesPerRadian, p.bank * kDegreesPerRadian,
                      p.heading * kDegreesPerRadian, 0, 0};
}

}  // namespace kvo
