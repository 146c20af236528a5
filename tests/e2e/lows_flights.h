#pragma once
// Synthetic flights at Salzburg (LOWS), where the default scenario parks the user's aircraft (made
// here, no recording of real traffic): paths flown or driven point by point as the feed reports
// them, the landing on runway 15 that taxis to stand 5, the feed that plays flights to the program,
// and the start of a run whose park airport is LOWS.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace e2e {

inline constexpr double kRad = std::numbers::pi / 180.0;
inline constexpr double kFieldElevationFt = 1411.0;  // LOWS, and the default scenario's ground
inline constexpr double kMetresPerNm = 1852.0;
inline constexpr double kFeetPerNmOnGlidePath = 318.4;  // 3 degrees

struct LatLonFt {
  double lat;
  double lon;
};

// Runway 15/33 of LOWS: the two thresholds, 2755 m apart on 148.8 degrees true.
inline constexpr LatLonFt kThreshold15{47.8050, 12.9890};
inline constexpr LatLonFt kThreshold33{47.7838, 13.0081};
inline constexpr double kRunway15Deg = 148.8;
inline constexpr double kRunway33Deg = 328.8;
// Stand 10 of the shipped airport file (nose to the terminal), 400 m from the user's stand 1.
inline constexpr LatLonFt kStand10{47.7935798, 13.0080592};
inline constexpr double kStand10HeadingDeg = 63.5;
// Stand 5, where the landing's taxi stops 8 m short: the program parks it there.
inline constexpr LatLonFt kStand5{47.7954924, 13.0066398};
inline constexpr double kStand5HeadingDeg = 63.5;

inline LatLonFt offset(LatLonFt from, double bearingDeg, double nm) {
  const double dLat = nm * std::cos(bearingDeg * kRad) / 60.0;
  const double dLon = nm * std::sin(bearingDeg * kRad) / 60.0 / std::cos(from.lat * kRad);
  return {from.lat + dLat, from.lon + dLon};
}

inline double wrap360(double deg) { return std::fmod(std::fmod(deg, 360.0) + 360.0, 360.0); }

inline double bearingDeg(LatLonFt from, LatLonFt to) {
  return wrap360(std::atan2((to.lon - from.lon) * std::cos(from.lat * kRad), to.lat - from.lat) / kRad);
}

// Metres from p to the segment a-b, and where on it (0 at a, 1 at b) the nearest place is.
inline double metresToSegment(LatLonFt p, LatLonFt a, LatLonFt b, double& along) {
  const double cosLat = std::cos(p.lat * kRad);
  const double ax = (a.lon - p.lon) * cosLat * 111132.95, ay = (a.lat - p.lat) * 111132.95;
  const double bx = (b.lon - p.lon) * cosLat * 111132.95, by = (b.lat - p.lat) * 111132.95;
  const double dx = bx - ax, dy = by - ay;
  const double len2 = dx * dx + dy * dy;
  along = len2 > 0.0 ? std::clamp(-(ax * dx + ay * dy) / len2, 0.0, 1.0) : 0.0;
  return std::hypot(ax + along * dx, ay + along * dy);
}

inline double metresBetween(LatLonFt a, LatLonFt b) {
  double along = 0.0;
  return metresToSegment(a, b, b, along);
}

struct FeedPoint {
  LatLonFt at;
  double altFt;    // the field's elevation on the ground
  double trackDeg;
  double headingDeg;  // where the nose points: against the track while pushed back
  double speedKt;
  double vsFpm;
  std::chrono::steady_clock::time_point sent{};

  bool airborne() const { return altFt > kFieldElevationFt + 0.5; }
};

// A path flown or driven point by point, one point every 2 s as the feed reports it.
class Path {
 public:
  Path(LatLonFt start, double headingDeg, double altFt) : at_(start), heading_(headingDeg), alt_(altFt) {}

  // Standing still.
  Path& hold(int count) {
    for (int i = 0; i < count; ++i) {
      if (speed_ > 0.0) move(track_, 0.0, 0.0);  // the stop
      add(heading_, 0.0, 0.0);
    }
    return *this;
  }
  // Straight on the track, the speed going evenly to `toKt` (reached at the point `count` after
  // the first one at `fromKt`) and the altitude changing at `vsFpm`; `backwards` keeps the nose
  // against the track.
  Path& straight(double trackDeg, double fromKt, double toKt, int count, double vsFpm = 0.0, bool backwards = false) {
    for (int i = 1; i <= count; ++i) {
      const double speed = count == 1 ? fromKt : fromKt + (toKt - fromKt) * (i - 1) / (count - 1);
      move(trackDeg, speed, vsFpm);
      add(backwards ? wrap360(trackDeg + 180.0) : trackDeg, speed, vsFpm, trackDeg);
    }
    return *this;
  }
  // A turn at constant speed: the track changes by `turnDeg` in even steps.
  Path& turn(double fromTrackDeg, double turnDeg, double speedKt, int count, bool backwards = false) {
    for (int i = 1; i <= count; ++i) {
      const double track = wrap360(fromTrackDeg + turnDeg * (i - 0.5) / count);
      move(track, speedKt, 0.0);
      const double now = wrap360(fromTrackDeg + turnDeg * i / count);
      add(backwards ? wrap360(now + 180.0) : now, speedKt, 0.0, now);
    }
    return *this;
  }
  // Straight to the place at a constant speed, the last point on it.
  Path& toward(LatLonFt place, double speedKt) {
    for (;;) {
      const double track = bearingDeg(at_, place);
      const double stepNm = (speed_ + speedKt) / 2.0 * 2.0 / 3600.0;
      if (metresBetween(at_, place) / kMetresPerNm <= stepNm) {
        at_ = place;
        speed_ = speedKt;
        track_ = track;
        add(track, speedKt, 0.0, track);
        return *this;
      }
      move(track, speedKt, 0.0);
      add(track, speedKt, 0.0, track);
    }
  }
  // Jumps to a place without a point (the path's start on the glide path).
  Path& at(LatLonFt place, double altFt) {
    at_ = place;
    alt_ = altFt;
    return *this;
  }
  // One point here.
  Path& point(double trackDeg, double speedKt, double vsFpm) {
    speed_ = speedKt;
    add(trackDeg, speedKt, vsFpm, trackDeg);
    return *this;
  }
  std::vector<FeedPoint> points() const { return points_; }

 private:
  // Two seconds on the track, the speed changing evenly from the last point's.
  void move(double trackDeg, double speedKt, double vsFpm) {
    at_ = offset(at_, trackDeg, (speed_ + speedKt) / 2.0 * 2.0 / 3600.0);
    speed_ = speedKt;
    track_ = trackDeg;
    alt_ = std::max(alt_ + vsFpm * 2.0 / 60.0, kFieldElevationFt);
  }
  void add(double headingDeg, double speedKt, double vsFpm, double trackDeg = -1.0) {
    heading_ = headingDeg;
    speed_ = speedKt;
    points_.push_back({at_, speedKt > 0.0 || alt_ > kFieldElevationFt ? alt_ : kFieldElevationFt,
                       trackDeg < 0.0 ? headingDeg : trackDeg, headingDeg, speedKt, vsFpm});
  }

  LatLonFt at_;
  double heading_;
  double alt_;
  double speed_ = 0.0;
  double track_ = 0.0;
  std::vector<FeedPoint> points_;
};

struct Flight {
  unsigned hexId;
  std::string callsign;
  std::string type;
  std::string registration;
  std::string origin;
  std::string destination;
  std::vector<FeedPoint> points;

  std::string line(const FeedPoint& p, long long epoch) const {
    char text[512];
    std::snprintf(text, sizeof text,
                  "RTTFC,%u,%.7f,%.7f,%.0f,%.0f,1000,%.1f,%.1f,%s,%s,%s,%s,%s,%lld,0,0,adsb_icao,0,0,-1,0,0,-1,0,%.1f,0,0,A3",
                  hexId, p.at.lat, p.at.lon, p.altFt, p.vsFpm, p.trackDeg, p.speedKt, callsign.c_str(), type.c_str(),
                  registration.c_str(), origin.c_str(), destination.c_str(), epoch, p.headingDeg);
    return text;
  }
};

// Landing on 15: `approachPoints` points (2 s apart) down the glide path at 138 kt, touch-down
// 300 m past the threshold, the roll-out braking at 4 kt/s, a left turn off the runway towards
// the apron, a taxi there at 25 kt to 60 m in front of stand 5, the last 52 m at 4 kt and a stop
// 8 m short of the stand.
inline Flight landing(int approachPoints = 20) {
  const LatLonFt touchdown = offset(kThreshold15, kRunway15Deg, 300.0 / kMetresPerNm);
  const double stepNm = 138.0 * 2.0 / 3600.0;
  const double fromNm = approachPoints * stepNm;
  const double vs = -138.0 * kFeetPerNmOnGlidePath / 60.0;
  Path path(offset(touchdown, kRunway15Deg + 180.0, fromNm), kRunway15Deg,
            kFieldElevationFt + fromNm * kFeetPerNmOnGlidePath);
  path.point(kRunway15Deg, 138.0, vs).straight(kRunway15Deg, 138.0, 138.0, approachPoints - 1, vs);
  // The touch-down point itself, then the roll-out.
  path.at(touchdown, kFieldElevationFt).point(kRunway15Deg, 135.0, 0.0);
  path.straight(kRunway15Deg, 128.0, 26.0, 13).turn(kRunway15Deg, -60.0, 20.0, 3);
  path.straight(kRunway15Deg - 60.0, 20.0, 20.0, 2);
  const double apron = wrap360(kStand5HeadingDeg + 180.0);
  path.toward(offset(kStand5, apron, 60.0 / kMetresPerNm), 25.0);
  path.toward(offset(kStand5, apron, 8.0 / kMetresPerNm), 4.0).hold(6);
  return {4860001, "DLH7AB", "A20N", "D-AINB", "EDDF", "LOWS", path.points()};
}

// Sends the flights together as the feed reports them: point i of each 2 s x i after the start,
// stamped with a feed time that goes in whole seconds with the points, however the sending
// jitters. Each point's `sent` is set as it goes. Stops early once `enough` holds.
inline void playFlights(const TrafficSender& sender, std::vector<Flight>& flights,
                        const std::function<bool()>& enough = {}) {
  std::size_t longest = 0;
  for (const Flight& f : flights) longest = std::max(longest, f.points.size());
  auto next = std::chrono::steady_clock::now();
  const long long epoch = nowEpoch();
  for (std::size_t i = 0; i < longest; ++i) {
    std::this_thread::sleep_until(next);
    if (enough && enough()) return;
    for (Flight& f : flights) {
      if (i >= f.points.size()) continue;
      f.points[i].sent = std::chrono::steady_clock::now();
      sender.send(f.line(f.points[i], epoch + 2 * static_cast<long long>(i)));
    }
    next += 2s;
  }
}

// Starts the traffic of a run where the user stands at LOWS: the failure, or empty once LOWS is the
// park airport and its stands are read.
inline std::string startTrafficAtLows(const Installation& at, const TrafficSender& sender) {
  return startTraffic(at, sender, "stands read from LOWS.xml");
}

}  // namespace e2e
