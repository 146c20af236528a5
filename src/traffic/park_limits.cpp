// The limit on parked aircraft at the park airport.
#include "traffic/park_limits.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <unordered_set>

// The max park count is the window's value that the static parking plan computes; the window
// belongs to the application shell above this library.
#include "shared_state/main_window.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/timeutil.h"
#include "traffic/stand_options.h"
#include "traffic/traffic_engine.h"

using kvo::AircraftState;
using kvo::GroundPhase;
using kvo::LiveAircraft;
using kvo::StaticAircraft;

namespace {

bool activeParked(const LiveAircraft& a) { return a.state == AircraftState::Active && a.phase == GroundPhase::Parked; }

}  // namespace

void collectParkedDurations(std::vector<kvo::ParkedDuration>& out) {
  out.clear();
  const auto now = kvo::utcNow();
  for (const LiveAircraft& a : g_liveAircraft) {
    if (!activeParked(a)) continue;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - a.parkedSince).count();
    out.push_back({a.internalId, static_cast<std::uint64_t>(seconds)});
  }
  // Signed: a parked-since time ahead of the clock counts as the shortest stay.
  std::sort(out.begin(), out.end(), [](const kvo::ParkedDuration& a, const kvo::ParkedDuration& b) {
    return static_cast<std::int64_t>(a.seconds) > static_cast<std::int64_t>(b.seconds);
  });
}

void enforceMaxPark(std::uint8_t extra) {
  const auto live = static_cast<std::int64_t>(std::count_if(g_liveAircraft.begin(), g_liveAircraft.end(), activeParked));
  const std::int64_t total = live + extra;
  const std::int32_t max = g_mainWindow.wantedParkCount.load();
  if (max < 1) return;
  if (!INITIAL_LOAD_ONLY.value() && total > max) {
    std::vector<kvo::ParkedDuration> parked;
    collectParkedDurations(parked);
    if (!parked.empty()) {
      const auto it = std::find_if(g_liveAircraft.begin(), g_liveAircraft.end(), [&](const LiveAircraft& a) {
        return a.internalId == parked.front().hexId && a.state == AircraftState::Active;
      });
      if (it != g_liveAircraft.end()) {
        logLine(fmt::format("{:8}: {} live max park exceeded, removed", standName(it->standId), it->callsign));
        removeAircraftFromSim(*it);
      }
    }
  }
  const auto statics = std::count_if(g_staticAircraft.begin(), g_staticAircraft.end(), [](const StaticAircraft& s) {
    return s.state == AircraftState::Active || s.state == AircraftState::RemovingFromSim;
  });
  // The total is not counted again after a live aircraft went.
  if (statics + total <= max || g_staticAircraft.empty()) return;
  const auto earliest = std::min_element(g_staticAircraft.begin(), g_staticAircraft.end(),
                                         [](const StaticAircraft& a, const StaticAircraft& b) {
                                           return kvo::weekSlotIndex(a.parkWeekSlot) < kvo::weekSlotIndex(b.parkWeekSlot);
                                         });
  if (earliest->state != AircraftState::Active) return;
  logLine(fmt::format("{:8}: {} static max park exceeded, removed", standName(earliest->standId), earliest->callsign));
  removeAircraftFromSim(*earliest);
}

void removeLiveParked(std::uint64_t n) {
  std::vector<kvo::ParkedDuration> parked;
  collectParkedDurations(parked);
  std::unordered_set<std::uint64_t> ids;
  for (std::size_t i = 0; i < parked.size() && i < n; ++i) ids.insert(parked[i].hexId);
  for (LiveAircraft& a : g_liveAircraft) {
    if (!ids.contains(a.internalId)) continue;
    logLine(fmt::format("live parked {} at {} removed", kvo::aircraftText(a), standName(a.standId)));
    removeAircraftFromSim(a);
  }
}
