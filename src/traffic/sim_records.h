#pragma once
// The records that cross between the traffic engine and the simulator client. Header-only and
// free of other program headers on purpose: the links subsystem and the simulator stand-in
// include it without linking the traffic library.
#include <cstdint>
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

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kRadiansPerDegree = 0.017453292519943295;

// The creation position of an aircraft that appears where its position block says: angles to
// degrees, on-ground and airspeed 0.
constexpr InitPosition initPositionFromBlock(const PositionBlock& p) {
  return InitPosition{p.lat, p.lon, p.altFt, p.pitch * kDegreesPerRadian, p.bank * kDegreesPerRadian,
                      p.heading * kDegreesPerRadian, 0, 0};
}

}  // namespace kvo
