#pragma once
// Every id the program declares to the simulator and names in its calls.
#include <cstdint>

namespace kvo {

// System events.
inline constexpr std::uint32_t kSysEventSim = 201;
inline constexpr std::uint32_t kSysEventObjectAdded = 202;
inline constexpr std::uint32_t kSysEventObjectRemoved = 203;
inline constexpr std::uint32_t kSysEventFrame = 204;
inline constexpr std::uint32_t kSysEventFlightLoaded = 205;

// Client events (all in notification group kSimEventGroup but ENGINE_AUTO_START).
inline constexpr std::uint32_t kEventBeaconLightsSet = 206;
inline constexpr std::uint32_t kEventNavLightsSet = 207;
inline constexpr std::uint32_t kEventTaxiLightsSet = 208;
inline constexpr std::uint32_t kEventStrobesSet = 209;
inline constexpr std::uint32_t kEventLandingLightsSet = 210;
inline constexpr std::uint32_t kEventCabinLightsSet = 211;
inline constexpr std::uint32_t kEventLogoLightsSet = 212;
inline constexpr std::uint32_t kEventAllLightsToggle = 213;
inline constexpr std::uint32_t kEventFreezeLatLonSet = 214;
inline constexpr std::uint32_t kEventFreezeAltitudeSet = 215;
inline constexpr std::uint32_t kEventFreezeAttitudeSet = 216;
inline constexpr std::uint32_t kEventFlapsSet = 217;
inline constexpr std::uint32_t kEventSpoilersSet = 218;
inline constexpr std::uint32_t kEventGearSet = 219;
inline constexpr std::uint32_t kEventEngineAutoStart = 220;
inline constexpr std::uint32_t kEventEngineAutoShutdown = 221;
inline constexpr std::uint32_t kEventThrottleSet = 222;

inline constexpr std::uint32_t kSimEventGroup = 301;

// Data definitions.
inline constexpr std::uint32_t kDefSpoilersThrottles = 401;
inline constexpr std::uint32_t kDefAiPosition = 402;
inline constexpr std::uint32_t kDefUserAircraft = 403;
inline constexpr std::uint32_t kDefAircraftInRange = 404;
inline constexpr std::uint32_t kDefStaticCg = 405;
inline constexpr std::uint32_t kDefLightOnStates = 406;
inline constexpr std::uint32_t kDefUserTitle = 407;
inline constexpr std::uint32_t kDefUserModel = 408;
inline constexpr std::uint32_t kDefUserOnGround = 409;

// Request ids.
inline constexpr std::uint32_t kReqAircraftInRange = 101;
inline constexpr std::uint32_t kReqStaticCg = 102;
inline constexpr std::uint32_t kReqReleaseControl = 103;
inline constexpr std::uint32_t kReqCreateAircraft = 104;
inline constexpr std::uint32_t kReqRemoveObject = 105;
inline constexpr std::uint32_t kReqUserTitle = 106;
inline constexpr std::uint32_t kReqUserModel = 107;
inline constexpr std::uint32_t kReqUserOnGround = 108;
inline constexpr std::uint32_t kReqUserPosition = 109;
inline constexpr std::uint32_t kReqFlightPlan = 110;

// Packed sizes of the definitions the program sends or reads with a fixed layout.
inline constexpr std::uint32_t kSpoilersThrottlesSize = 24;  // 401: three doubles
inline constexpr std::uint32_t kAiPositionSize = 64;         // 402: eight doubles
inline constexpr std::uint32_t kUserAircraftSize = 96;       // 403
inline constexpr std::uint32_t kAircraftInRangeSize = 56;    // 404: two doubles, an int64, 32 bytes
inline constexpr std::uint32_t kStaticCgSize = 16;           // 405
inline constexpr std::uint32_t kUserModelSize = 32;          // 408
inline constexpr std::uint32_t kUserOnGroundSize = 8;        // 409

}  // namespace kvo
