// libFuzzer target: any datagram the Traffic Reader can receive. Beyond the sanitizers' checks,
// every record that reaches the feed must be one the traffic engine can use. fuzz_traffic_run
// follows the line further, through the engine into the simulator.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "core/parameters.h"
#include "core/utf.h"
#include "links/feed.h"
#include "links/traffic_reader.h"
#include "links/udp_reader.h"

namespace {

constexpr std::size_t kCollectedBound = 100000;

kvo::TrafficReader& reader() {
  static kvo::TrafficReader* const instance = [] {
    g_realTrafficOnThisPc.store(true);  // decode every input, also a repeated one
    g_rangeNm.store(100.0);
    setTrafficFeedOpen(true);
    auto* r = new kvo::TrafficReader;
    r->setReferencePosition(50.0, 8.5);
    r->setReferenceElevation(300.0);
    r->setParkAirportPosition(50.03, 8.55);
    r->startCollectingCallsigns();
    return r;
  }();
  return *instance;
}

bool finite(double v) { return std::isfinite(v); }

void check(const kvo::FeedRecord& record) {
  const kvo::TrackPoint& p = record.position;
  bool good = finite(p.lat) && std::abs(p.lat) <= 90.0 && finite(p.lon) && std::abs(p.lon) <= 180.0;
  good = good && finite(p.altFt) && p.altFt >= 0.0 && (p.airborne != 0) == (p.altFt > 0.0);
  good = good && finite(p.groundSpeedKt) && finite(p.trackDeg) && finite(p.verticalSpeed) && finite(p.tasKt);
  good = good && finite(record.timestamp) && record.hexId > 10000 && record.registration.size() <= 12;
  good = good && !record.type.empty() && !(record.callsign.empty() && record.registration.empty());
  good = good && (!p.trueHeading || (*p.trueHeading > 0.0 && *p.trueHeading <= 6.2832));
  good = good && (!p.roll || finite(*p.roll)) && (p.trueHeadingGiven != 0) == p.trueHeading.has_value();
  // Only clean texts and plausible numbers go on to the engine, the simulator and the files.
  for (const std::string* text :
       {&record.callsign, &record.type, &record.registration, &record.origin, &record.destination}) {
    good = good && kvo::isCleanText(*text);
  }
  good = good && p.altFt <= 100000.0 && p.groundSpeedKt >= 0.0 && p.groundSpeedKt <= 2000.0 && p.tasKt >= 0.0 &&
         p.tasKt <= 2000.0 && std::abs(p.verticalSpeed) <= 40000.0 && std::abs(p.trackDeg) <= 360.0 &&
         (!p.roll || std::abs(*p.roll) <= 3.1416);
  if (!good) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvo::TrafficReader& r = reader();
  r.handleDatagram(std::string_view(reinterpret_cast<const char*>(data), size));
  {
    std::lock_guard lock(g_trafficFeedMutex);
    for (std::size_t i = 0; i < g_trafficFeed.size(); ++i) check(g_trafficFeed[i]);
    g_trafficFeed.clear();
  }
  if (r.callsignCount() > kCollectedBound) {
    r.takeCollectedCallsigns();
    r.startCollectingCallsigns();
  }
  return 0;
}
