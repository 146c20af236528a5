#include "lows_session.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace rtsession::lows {

namespace {

constexpr LatLon kReferencePoint{47.7933, 13.0043};
constexpr LatLon kThreshold15{47.8050, 12.9890};
constexpr LatLon kThreshold33{47.7838, 13.0081};

// The taxiways, as metres along runway 15 from its threshold (s) and east of its centre line (d).
// Every apron lies east of the runway; the stands are those of the airport file.
constexpr double kParallelD = 185.0;       // the parallel taxiway, the whole length of the runway
constexpr double kExitS = 1500.0;          // exit D: runway to the main apron, north of its stands
constexpr double kSouthConnectorS = 1970.0;  // connector B: the main apron's south end to the runway
constexpr double kGaConnectorS = 1290.0;   // connector N: the general aviation apron to the runway
constexpr double kEndLinkS = 2720.0;       // the link at the threshold of 33
constexpr double kApronLaneM = 55.0;       // the main apron's taxilane: this far behind the stands
constexpr double kGaLaneM = 18.0;          // the general aviation apron's taxilane
constexpr double kStandLegM = 34.0;        // the straight roll onto a stand
constexpr double kTouchdownM = 300.0;      // past the threshold
constexpr double kGlideSlopeDeg = 3.0;
constexpr int kSessionSeconds = 900;
constexpr double kStraightPushBeyondM = 25.0;  // a straight push-back ends this far past the taxilane
constexpr int kNoisySessionSeconds = 400;

class Layout {
 public:
  explicit Layout(const AirportFile& airport)
      : frame_(kReferencePoint),
        t15_(frame_.toLocal(kThreshold15)),
        t33_(frame_.toLocal(kThreshold33)),
        runwayDeg_(bearingOf(t33_ - t15_)),
        elevation_(airport.elevationFt) {
    const Stand& s5 = airport.stand("5");
    const Stand& s12 = airport.stand("12");
    laneDeg_ = bearingOf(tail(s12, kApronLaneM) - tail(s5, kApronLaneM));
    exitJunction_ = crossing(tail(s5, kApronLaneM), laneDeg_, rw(kExitS, 0.0), runwayDeg_ - 90.0);
    southJunction_ = crossing(tail(s5, kApronLaneM), laneDeg_, rw(kSouthConnectorS, 0.0), runwayDeg_ - 90.0);
    const Stand& ga1 = airport.stand("GA1");
    gaJunction_ = crossing(tail(ga1, kGaLaneM), laneDeg_, rw(kGaConnectorS, 0.0), runwayDeg_ - 90.0);
  }

  double elevation() const { return elevation_; }
  // 33 is flown towards the north-west; 15 the other way.
  double heading33() const { return wrapDeg(runwayDeg_ + 180.0); }
  Vec rw(double s, double d) const { return t15_ + along(runwayDeg_) * s + along(runwayDeg_ - 90.0) * d; }
  Vec standAt(const Stand& s) const { return frame_.toLocal(s.at); }
  // The place `metres` behind a stand along its axis.
  Vec tail(const Stand& s, double metres) const { return standAt(s) + along(s.headingDeg + 180.0) * metres; }

  // ---- arrivals on runway 33 ----

  // Altitude on the glide path `metres` before the touch-down point.
  double glide(double metres) const { return elevation_ + metres * std::tan(kGlideSlopeDeg * kPi / 180.0) * kFeetPerMetre; }
  Vec touchdown() const { return t33_ + along(heading33()) * kTouchdownM; }
  // From the flight's entry points over a base leg east of the final (at 12 nm) onto the final
  // at 10 nm, stabilised at 4 nm, over the threshold at 50 ft to the touch-down point.
  std::vector<Waypoint> approach(std::vector<Waypoint> entry, double approachKt) const {
    const Vec td = touchdown();
    const Vec outbound = along(runwayDeg_);  // from the touch-down point out along the final
    auto onFinal = [&](double nm) { return td + outbound * (nm * kMetresPerNm); };
    const double intercept = glide(10.0 * kMetresPerNm);
    entry.push_back({onFinal(12.0) + along(runwayDeg_ - 90.0) * (3.0 * kMetresPerNm), 190.0, intercept});
    entry.push_back({onFinal(10.0), 180.0, intercept});
    entry.push_back({onFinal(7.0), 160.0, glide(7.0 * kMetresPerNm)});
    entry.push_back({onFinal(4.0), approachKt, glide(4.0 * kMetresPerNm)});
    entry.push_back({td + outbound * kTouchdownM, approachKt, glide(kTouchdownM)});
    entry.push_back({td, approachKt - 4.0, elevation_});
    return entry;
  }
  // The roll-out and the turn off onto exit D, 60 m along it.
  std::vector<Waypoint> rollOut() const {
    return {{rw(kExitS, 0.0), 14.0, 0.0, 50.0}, {rw(kExitS, 60.0), 15.0}};
  }
  // From exit D across the parallel taxiway to the main apron, along its taxilane to a stand.
  std::vector<Waypoint> toApronStand(const Stand& s) const {
    return {{exitJunction_, 9.0, 0.0, 0.0, 20.0}, intoStand(s, 12.0), {standAt(s), 0.0}};
  }
  // From exit D south on the parallel taxiway, along connector S to the cargo apron's taxilane,
  // south on it to the cargo stand.
  std::vector<Waypoint> toCargoStand(const Stand& s, double parallelKt = 20.0) const {
    const Vec junction = tail(s, kApronLaneM) + along(laneDeg_ + 180.0) * 60.0;
    const double s0 = alongRunway(junction);
    return {{rw(kExitS, kParallelD), 12.0, 0.0, 40.0, 15.0},
            {rw(s0, kParallelD), 10.0, 0.0, 40.0, parallelKt},
            {junction, 8.0, 0.0, 25.0, 15.0},
            intoStand(s, 10.0),
            {standAt(s), 0.0}};
  }
  // The turn from a taxilane into a stand, nose first: it ends 34 m before the stand, from where
  // the aircraft rolls straight in, slowing evenly, and stops. The program takes a position
  // within 0.00015 degrees of the last one it took as no move at all; on this leg the last one it
  // takes before the stop lies far enough out for the stop itself to count.
  Waypoint intoStand(const Stand& s, double laneKt) const {
    return {tail(s, kApronLaneM), 8.0, 0.0, kApronLaneM - kStandLegM, laneKt};
  }

  // ---- departures from runway 33 ----

  // The push-back from a main apron stand: straight back onto the taxilane and round to face
  // south along it.
  std::vector<Waypoint> pushBackFromApron(const Stand& s) const {
    const Vec lane = tail(s, kApronLaneM);
    return {{lane, 3.0, 0.0, 20.0, 3.0}, {lane + along(laneDeg_ + 180.0) * 26.0, 0.0, 0.0, 0.0, 3.0}};
  }
  // The push-back from a general aviation stand, by hand.
  std::vector<Waypoint> pushBackFromGa(const Stand& s) const {
    const Vec lane = tail(s, kGaLaneM);
    return {{lane, 2.0, 0.0, 8.0, 2.0}, {lane + along(laneDeg_ + 180.0) * 12.0, 0.0, 0.0, 0.0, 2.0}};
  }
  // A push-back at a real tug's pace (2.3 kt): straight back onto the taxilane and round, 30 m
  // along it, so that the nose ends along the taxilane to the right of the stand's heading (facing
  // south) or to its left (facing north).
  std::vector<Waypoint> pushBackTurning(const Stand& s, bool noseRight) const {
    const Vec lane = tail(s, kApronLaneM);
    const double tailTo = noseRight ? laneDeg_ + 180.0 : laneDeg_;
    return {{lane, 2.3, 0.0, 20.0, 2.3}, {lane + along(tailTo) * 30.0, 0.0, 0.0, 0.0, 2.3}};
  }
  // Straight back across the taxilane, 80 m, at 2.5 kt: from there the aircraft turns onto the
  // taxilane under its own power (taxiFromStraightPush).
  std::vector<Waypoint> pushBackStraight(const Stand& s) const {
    return {{tail(s, kApronLaneM + kStraightPushBeyondM), 0.0, 0.0, 0.0, 2.5}};
  }
  // Forward from the end of a straight push-back, turning right onto the taxilane towards the
  // south.
  Waypoint ontoLaneAfterStraightPush(const Stand& s) const {
    return {tail(s, kApronLaneM), 6.0, 0.0, kStraightPushBeyondM};
  }
  // From the main apron's taxilane north to exit D and along it to a stop short of the parallel
  // taxiway.
  std::vector<Waypoint> toExitHold() const {
    return {{exitJunction_, 8.0, 0.0, 25.0, 12.0}, {rw(kExitS, kParallelD + 45.0), 0.0, 0.0, 0.0, 10.0}};
  }
  // From the main apron's taxilane south along connector B to a stop short of the parallel taxiway.
  std::vector<Waypoint> toConnectorBHold() const {
    return {{southJunction_, 8.0, 0.0, 25.0, 12.0}, {rw(kSouthConnectorS, kParallelD + 45.0), 0.0, 0.0, 0.0, 10.0}};
  }
  // After the turn from connector B onto the runway: south-east along it (backtracking), round at
  // its south end in a 180 degree turn and to a stop on the centre line facing 33 (lined up), at
  // `lineUpS` along runway 15. The turn swings out to the left side first, then right round
  // across the runway, and back onto the centre line.
  std::vector<Waypoint> backtrackAndLineUp(double& lineUpS) const {
    const double end = runwayLength() - 25.0;
    lineUpS = end - 130.0;
    return {{rw(end - 60.0, 14.0), 6.0, 0.0, 0.0, 20.0},
            {rw(end, 14.0), 5.0, 0.0, 14.0},
            {rw(end, -14.0), 5.0, 0.0, 14.0},
            {rw(end - 40.0, -14.0), 6.0, 0.0, 40.0, 6.0},
            {rw(end - 90.0, 0.0), 8.0, 0.0, 40.0, 10.0},
            {rw(lineUpS, 0.0), 0.0, 0.0, 0.0, 8.0}};
  }
  // The take-off roll from a standstill on the centre line, `atS` along runway 15, accelerating at
  // `accel` m/s^2 to lift-off.
  Waypoint liftOffFromStandstill(double atS, double liftOffKt, double accel) const {
    const double v1 = liftOffKt * kMetresPerSecondPerKt;
    return {rw(atS - v1 * v1 / (2.0 * accel), 0.0), liftOffKt};
  }
  double runwayLength() const { return length(t33_ - t15_); }

  // From the main apron's taxilane south to connector B and along it; then either onto the
  // runway there (an intersection take-off) or south on the parallel taxiway to the threshold.
  std::vector<Waypoint> toRunway(bool intersection) const {
    std::vector<Waypoint> w{{southJunction_, 9.0, 0.0, 30.0, 12.0}};
    if (intersection) {
      w.push_back({rw(kSouthConnectorS, 0.0), 10.0, 0.0, 45.0, 20.0});
      return w;
    }
    w.push_back({rw(kSouthConnectorS, kParallelD), 10.0, 0.0, 40.0, 20.0});
    w.push_back({rw(kEndLinkS, kParallelD), 10.0, 0.0, 40.0, 20.0});
    w.push_back({rw(kEndLinkS, 0.0), 10.0, 0.0, 45.0, 15.0});
    return w;
  }
  // From the general aviation apron's taxilane along connector N onto the runway.
  std::vector<Waypoint> gaToRunway() const {
    return {{gaJunction_, 7.0, 0.0, 15.0, 10.0}, {rw(kGaConnectorS, 0.0), 8.0, 0.0, 25.0, 15.0}};
  }
  // A light aircraft's slow taxi with tight turns from the general aviation apron's taxilane along
  // connector N onto the runway, left down it for 60 m (backtracking), round in a 180 degree turn
  // of two tight right corners, and to a stop lined up on the centre line facing 33.
  std::vector<Waypoint> gaBacktrackAndLineUp() const {
    const double s = kGaConnectorS;
    return {{gaJunction_, 6.0, 0.0, 10.0, 7.0},   {rw(s, 0.0), 6.0, 0.0, 12.0, 7.0},
            {rw(s + 60.0, 9.0), 5.0, 0.0, 8.0, 7.0}, {rw(s + 60.0, -9.0), 5.0, 0.0, 8.0},
            {rw(s + 20.0, -9.0), 6.0, 0.0, 8.0, 7.0}, {rw(s - 10.0, 0.0), 5.0, 0.0, 10.0},
            {rw(s - 40.0, 0.0), 0.0}};
  }
  Vec gaLane(const Stand& s) const { return tail(s, kGaLaneM); }

  // The take-off roll on 33 from the runway entry at `entryS` (whose turn has radius
  // `entryRadiusM`), accelerating at `accel` m/s^2 from 10 kt to lift-off.
  Waypoint liftOff(double entryS, double entryRadiusM, double liftOffKt, double accel) const {
    const double v0 = 10.0 * kMetresPerSecondPerKt;
    const double v1 = liftOffKt * kMetresPerSecondPerKt;
    return {rw(entryS - entryRadiusM - (v1 * v1 - v0 * v0) / (2.0 * accel), 0.0), liftOffKt};
  }
  double alongRunway(Vec p) const {
    const Vec u = along(runwayDeg_);
    const Vec d = p - t15_;
    return d.x * u.x + d.y * u.y;
  }

 private:
  // Where the line through p along bearing a crosses the line through q along bearing b.
  static Vec crossing(Vec p, double a, Vec q, double b) {
    const Vec u = along(a);
    const Vec v = along(b);
    const double det = u.x * -v.y - u.y * -v.x;
    if (std::abs(det) < 1e-9) throw std::logic_error("parallel taxiways do not cross");
    const Vec d = q - p;
    const double t = (d.x * -v.y - d.y * -v.x) / det;
    return p + u * t;
  }

  LocalFrame frame_;
  Vec t15_;
  Vec t33_;
  double runwayDeg_;
  double elevation_;
  double laneDeg_ = 0.0;
  Vec exitJunction_;
  Vec southJunction_;
  Vec gaJunction_;
};

// The altitude after climbing at `fpm` over `metres` while the speed changes evenly.
double climbed(double altFt, double metres, double fromKt, double toKt, double fpm) {
  const double seconds = 2.0 * metres / ((fromKt + toKt) * kMetresPerSecondPerKt);
  return altFt + fpm * seconds / 60.0;
}

// A point `nm` from the airport's reference point on a bearing.
Vec fromAirport(double bearingDeg, double nm) { return along(bearingDeg) * (nm * kMetresPerNm); }

// Builds one flight; a layout that does not fit (waypoints too close for their turns, a stand
// the airport file lacks) names the flight.
template <typename Make>
Flight named(const std::string& callsign, Make make) {
  try {
    return make();
  } catch (const std::exception& e) {
    throw std::runtime_error(callsign + ": " + e.what());
  }
}

struct ArrivalPlan {
  Identity id;
  std::string stand;
  double touchdownSecond;
  double approachKt;
  std::vector<Waypoint> entry;  // the first is where the flight starts
  bool cargo = false;
  double parallelKt = 20.0;  // on the parallel taxiway to the cargo apron
};

Flight arrival(const Layout& l, const AirportFile& airport, const ArrivalPlan& p) {
  return named(p.id.callsign, [&] {
    const Waypoint& start = p.entry.front();
    const Vec next = p.entry.size() > 1 ? p.entry[1].at : l.touchdown();
    Track t = Track::flying(start.at, bearingOf(next - start.at), start.speedKt, start.altFt, l.elevation());
    t.fly(l.approach(std::vector<Waypoint>(p.entry.begin() + 1, p.entry.end()), p.approachKt));
    const double touchdown = t.elapsed();
    t.taxi(l.rollOut());
    const double off = t.elapsed();
    const Stand& stand = airport.stand(p.stand);
    t.taxi(p.cargo ? l.toCargoStand(stand, p.parallelKt) : l.toApronStand(stand));
    const double parked = t.elapsed();
    t.holdToEnd();
    Flight f;
    f.id = p.id;
    f.kind = Flight::Kind::Arrival;
    f.stand = p.stand;
    f.startSecond = p.touchdownSecond - touchdown;
    f.events = {{"lands on 33", p.touchdownSecond},
                {"off the runway", f.startSecond + off},
                {"parked", f.startSecond + parked}};
    f.track = std::move(t);
    return f;
  });
}

// A helicopter's final: where it begins, metres out from the stand along its axis, and its height.
struct HeliFinal {
  double metres;
  double heightFt;
};
// The second it lands (session time) and what the session's comment calls it.
struct Landing {
  double second;
  std::string event;
};

// A helicopter flying from where `t` starts through the entry points onto a final along the
// stand's axis, slowing to 35 kt 400 m out, onto the stand, where it stands to the end.
Flight helicopterArrival(const Layout& l, const AirportFile& airport, const Identity& id, const std::string& standId,
                         Track t, std::vector<Waypoint> entry, HeliFinal final, const Landing& landing) {
  const Stand& stand = airport.stand(standId);
  const Vec at = l.standAt(stand);
  entry.push_back({at + along(stand.headingDeg + 180.0) * final.metres, 70.0, l.elevation() + final.heightFt});
  entry.push_back({at + along(stand.headingDeg + 180.0) * 400.0, 35.0, l.elevation() + 150.0});
  entry.push_back({at, 0.0, l.elevation()});
  t.fly(entry);
  const double landed = t.elapsed();
  t.holdToEnd();
  Flight f;
  f.id = id;
  f.kind = Flight::Kind::Arrival;
  f.stand = standId;
  f.startSecond = landing.second - landed;
  f.events = {{landing.event, landing.second}};
  f.track = std::move(t);
  return f;
}

// One leg of a climb-out: its bearing and length, the speed at its end, the climb rate, and the
// altitude the climb stops at.
struct Leg {
  double bearingDeg;
  double metres;
  double speedKt;
  double fpm;
  double topFt;
};

std::vector<Waypoint> climbOut(Waypoint from, const std::vector<Leg>& legs) {
  std::vector<Waypoint> out;
  for (const Leg& leg : legs) {
    Waypoint next{from.at + along(leg.bearingDeg) * leg.metres, leg.speedKt,
                  std::min(leg.topFt, climbed(from.altFt, leg.metres, from.speedKt, leg.speedKt, leg.fpm))};
    out.push_back(next);
    from = next;
  }
  return out;
}

struct DeparturePlan {
  Identity id;
  std::string stand;
  double offBlockSecond;
  std::vector<Waypoint> push;
  std::vector<Waypoint> taxi;  // to the turn onto the runway
  double entryS;               // where that turn is, and its radius
  double entryRadiusM;
  double liftOffKt;
  double accel;                // m/s^2 on the take-off roll
  std::vector<Leg> legs;       // the climb-out from the lift-off
};

Flight departure(const Layout& l, const AirportFile& airport, const DeparturePlan& p) {
  return named(p.id.callsign, [&] {
    const Stand& stand = airport.stand(p.stand);
    Track t(l.standAt(stand), stand.headingDeg, l.elevation());
    t.hold(p.offBlockSecond);
    t.pushBack(p.push);
    t.hold(12.0);  // engines start
    const double taxi = t.elapsed();
    std::vector<Waypoint> route = p.taxi;
    route.push_back(l.liftOff(p.entryS, p.entryRadiusM, p.liftOffKt, p.accel));
    t.taxi(route);
    const double liftOff = t.elapsed();
    t.fly(climbOut({t.position(), p.liftOffKt, l.elevation()}, p.legs));
    Flight f;
    f.id = p.id;
    f.kind = Flight::Kind::Departure;
    f.stand = p.stand;
    f.startSecond = 0.0;
    f.events = {{"pushes back", p.offBlockSecond}, {"taxies", taxi}, {"takes off from 33", liftOff}};
    f.track = std::move(t);
    return f;
  });
}

Flight overflight(const Identity& id, double bearingFromAirportDeg, double nm, double trackDeg, double altFt,
                  double speedKt, double startSecond) {
  const Vec start = fromAirport(bearingFromAirportDeg, nm);
  Flight f;
  f.id = id;
  f.kind = Flight::Kind::Overflight;
  f.startSecond = startSecond;
  f.track = Track::flying(start, trackDeg, speedKt, altFt, 0.0);
  f.track.fly({{start + along(trackDeg) * (90.0 * kMetresPerNm), speedKt, altFt}});
  return f;
}

}  // namespace

SessionSettings settings() {
  SessionSettings s;
  s.title =
      "Ambrelvane replay session, made here by tools/rt_replay/make_session.cpp from the stands of "
      "data/airports/archive/stock/LOWS.xml: invented traffic at Salzburg (LOWS), no recording of real traffic.";
  s.frame = LocalFrame(kReferencePoint);
  s.seconds = kSessionSeconds;
  s.recordedEpoch = 1780000000;
  s.qnhHpa = 1017;
  s.magneticVariationDeg = 4.5;
  return s;
}

Runway runway() {
  const LocalFrame frame(kReferencePoint);
  return {frame.toLocal(kThreshold15), frame.toLocal(kThreshold33)};
}

std::vector<Flight> flights(const AirportFile& airport) {
  const Layout l(airport);
  const double elev = l.elevation();
  std::vector<Flight> out;

  // Arrivals from the north and the east join a base leg east of the final of 33.
  const Waypoint northEast{fromAirport(40.0, 14.0), 240.0, 8000.0};
  const Waypoint east{fromAirport(105.0, 10.0), 210.0, 6000.0};
  out.push_back(arrival(l, airport,
                        {{4860101, "DLH5YA", "A20N", "D-AINA", "FRA", "SZG", "LH1710", "A3"},
                         "5",
                         45.0,
                         133.0,
                         {{fromAirport(330.0, 34.0), 290.0, 13000.0}, northEast, east}}));
  out.push_back(arrival(l, airport,
                        {{4860102, "EZY83QV", "A20N", "G-UZHA", "LGW", "SZG", "U28321", "A3"},
                         "6",
                         340.0,
                         133.0,
                         {{fromAirport(300.0, 36.0), 300.0, 15000.0}, northEast, east}}));
  out.push_back(arrival(l, airport,
                        {{4860103, "AUA902", "E195", "OE-LWA", "VIE", "SZG", "OS902", "A3"},
                         "7",
                         450.0,
                         128.0,
                         {{fromAirport(75.0, 36.0), 290.0, 14000.0}, east}}));
  out.push_back(arrival(l, airport,
                        {{4860104, "DHK6CP", "B752", "G-DHKF", "LEJ", "SZG", "", "A4"},
                         "C1",
                         240.0,
                         135.0,
                         {{fromAirport(10.0, 36.0), 300.0, 15000.0}, northEast, east},
                         true}));

  // A helicopter from the south-east over the runway onto its pad.
  out.push_back(named("OEXHA", [&] {
    return helicopterArrival(l, airport, {4860105, "OEXHA", "EC35", "OE-XHA", "", "", "", "A7"}, "H2",
                             Track::flying(fromAirport(150.0, 14.0), 330.0, 115.0, 3500.0, elev),
                             {{fromAirport(200.0, 3.0), 100.0, 2600.0}}, {2000.0, 500.0}, {235.0, "lands on its pad"});
  }));

  // Departures take off from 33 and climb straight ahead for 2500 m (1500 m the light aircraft);
  // those to the north-west then turn left, those to the east right. Jets from the main apron
  // push back onto its taxilane and go by connector B, onto the runway there or down the parallel
  // taxiway to the threshold.
  const double h33 = l.heading33();
  auto jet = [&](Identity id, const std::string& stand, double offBlock, bool intersection, double liftOffKt,
                 double firstFpm, std::vector<Leg> legs) {
    legs.insert(legs.begin(), Leg{h33, 2500.0, liftOffKt + 20.0, firstFpm, 99999.0});
    return departure(l, airport,
                     {std::move(id), stand, offBlock, l.pushBackFromApron(airport.stand(stand)), l.toRunway(intersection),
                      intersection ? kSouthConnectorS : kEndLinkS, 45.0, liftOffKt, 2.0, std::move(legs)});
  };
  out.push_back(jet({4860201, "AUA8WN", "DH8D", "OE-LGA", "SZG", "VIE", "OS908", "A2"}, "12", 6.0, true, 115.0, 2500.0,
                    {{60.0, 6.0 * kMetresPerNm, 200.0, 2000.0, 9000.0}, {80.0, 40.0 * kMetresPerNm, 240.0, 1500.0, 17000.0}}));
  out.push_back(jet({4860202, "RYR4TU", "B738", "EI-DWA", "SZG", "STN", "FR8353", "A3"}, "9", 150.0, false, 150.0, 2500.0,
                    {{305.0, 8.0 * kMetresPerNm, 250.0, 2500.0, 10000.0}, {305.0, 40.0 * kMetresPerNm, 290.0, 2000.0, 19000.0}}));
  out.push_back(jet({4860203, "EWG9KM", "A320", "D-AEWA", "SZG", "DUS", "EW9583", "A3"}, "10", 405.0, true, 145.0, 2500.0,
                    {{335.0, 10.0 * kMetresPerNm, 250.0, 2500.0, 10000.0}, {335.0, 40.0 * kMetresPerNm, 290.0, 2000.0, 19000.0}}));
  out.push_back(jet({4860204, "BAW2LS", "A321", "G-EUXE", "SZG", "LHR", "BA2593", "A3"}, "11", 276.0, false, 150.0, 2300.0,
                    {{295.0, 8.0 * kMetresPerNm, 250.0, 2300.0, 10000.0}, {295.0, 40.0 * kMetresPerNm, 290.0, 2000.0, 19000.0}}));
  // The light aircraft, pushed back by hand on the general aviation apron, takes off from
  // connector N and leaves to the west.
  {
    const Stand& ga = airport.stand("GA5");
    out.push_back(departure(l, airport,
                            {{4860205, "DEKLM", "C172", "D-EKLM", "", "", "", "A1"},
                             "GA5",
                             135.0,
                             l.pushBackFromGa(ga),
                             l.gaToRunway(),
                             kGaConnectorS,
                             25.0,
                             55.0,
                             1.2,
                             {{h33, 1500.0, 70.0, 700.0, 99999.0},
                              {270.0, 5.0 * kMetresPerNm, 90.0, 600.0, 4500.0},
                              {270.0, 40.0 * kMetresPerNm, 95.0, 300.0, 4500.0}}}));
  }

  // The overflights of the picture, at cruise levels.
  out.push_back(overflight({4860301, "BAW2LW", "A321", "G-EUXC", "LHR", "FCO", "BA548", "A3"}, 280.0, 36.0, 120.0, 37000.0,
                           460.0, 0.0));
  out.push_back(overflight({4860302, "TRA6351", "B738", "PH-HSA", "AMS", "ATH", "HV6351", "A3"}, 330.0, 35.0, 140.0, 35000.0,
                           450.0, 200.0));
  out.push_back(overflight({4860303, "SWR1279", "A320", "HB-IJE", "ZRH", "VIE", "LX1279", "A3"}, 260.0, 35.0, 85.0, 33000.0,
                           440.0, 420.0));
  out.push_back(overflight({4860304, "WZZ4431", "A20N", "HA-LVA", "BUD", "LTN", "W64431", "A3"}, 90.0, 35.0, 275.0, 36000.0,
                           455.0, 600.0));
  return out;
}

const std::vector<NoisyKind>& noisyKinds() {
  using H = Noise::Heading;
  // name, what, jitter (m), nose error (deg), wander (m, s), outliers, heading, lines (s), uneven
  static const std::vector<NoisyKind> kinds{
      {kSessionKind, "the session's own: 3-8 m, the nose within 2 deg, every 2 s", 3.0, 8.0, 2.0, 0.0, 30.0, 0.0, H::Nose, 2,
       0, false},
      {"fine", "a good receiver near the apron: 2-4 m, the nose within 1 deg, every second", 2.0, 4.0, 1.0, 0.0, 30.0, 0.0,
       H::Nose, 1, 0, true},
      {"drift", "2-5 m about an error wandering 6 m over some 40 s, the nose within 2 deg, every 2 s", 2.0, 5.0, 2.0, 6.0,
       40.0, 0.0, H::Nose, 2, 0, true},
      {"track", "4-10 m, 2% of the lines 30-50 m off, the heading from the track, every 5 s", 4.0, 10.0, 0.0, 0.0, 30.0, 0.02,
       H::Track, 5, 0, true},
      {"sparse", "3-8 m about an error wandering 4 m over a minute, 3% 30-50 m off, no heading, lines 1-10 s apart", 3.0, 8.0,
       2.0, 4.0, 60.0, 0.03, H::None, 2, 10, true},
      {"rough", "6-10 m about an error wandering 8 m over 20 s, 5% 30-50 m off, the nose within 3 deg, every 2 s", 6.0, 10.0,
       3.0, 8.0, 20.0, 0.05, H::Nose, 2, 0, true},
  };
  return kinds;
}

const NoisyKind& noisyKind(const std::string& name) {
  std::string names;
  for (const NoisyKind& k : noisyKinds()) {
    if (k.name == name) return k;
    names += (names.empty() ? "" : ", ") + k.name;
  }
  throw std::invalid_argument("no noise of kind \"" + name + "\" (the kinds: " + names + ")");
}

SessionSettings noisySettings(unsigned long long seed, const std::string& kindName) {
  const NoisyKind& kind = noisyKind(kindName);
  SessionSettings s = settings();
  s.title =
      "Ambrelvane replay session, made here by tools/rt_replay/make_session.cpp --noisy from the stands of "
      "data/airports/archive/stock/LOWS.xml: invented traffic at Salzburg (LOWS) as receivers hear it, scattered "
      "on the ground; no recording of real traffic.";
  const bool own = kind.name == kSessionKind;
  if (!own) {
    s.title += " Noise of kind " + kind.name + " (" + kind.what + ")" +
               (seed == 0 ? ", here without noise." : ", drawn with seed " + std::to_string(seed) + ".");
  } else if (seed != kNoisySeed) {
    s.title += " Noise drawn with seed " + std::to_string(seed) + ".";
  }
  s.seconds = kNoisySessionSeconds;
  s.noise.seed = seed;
  s.noise.groundJitterMinM = kind.jitterMinM;
  s.noise.groundJitterMaxM = kind.jitterMaxM;
  s.noise.headingDeg = kind.headingDeg;
  s.noise.wanderM = kind.wanderM;
  s.noise.wanderSeconds = kind.wanderSeconds;
  s.noise.outlierShare = kind.outlierShare;
  s.noise.heading = kind.heading;
  s.noise.reportMaxSeconds = kind.reportMaxSeconds;
  // The exact feed a kind's draws are judged against reports every second.
  s.reportSeconds = seed == 0 && !own ? 1 : kind.reportSeconds;
  s.noise.gapFrom = {4860401, 120};
  s.noise.gapSeconds = 15;
  s.noise.repeated = {4860402, 140};
  s.noise.late = {4860403, 250};
  return s;
}

std::vector<Flight> noisyFlights(const AirportFile& airport, const std::string& kind) {
  const bool more = noisyKind(kind).moreFlights;
  const Layout l(airport);
  const double elev = l.elevation();
  const double h33 = l.heading33();
  std::vector<Flight> out;
  auto standing = [&](const std::string& id) {
    const Stand& s = airport.stand(id);
    return Track(l.standAt(s), s.headingDeg, elev);
  };
  auto departureOf = [](Identity id, const std::string& stand, Track t,
                        std::vector<std::pair<std::string, double>> events) {
    Flight f;
    f.id = std::move(id);
    f.kind = Flight::Kind::Departure;
    f.stand = stand;
    f.events = std::move(events);
    f.track = std::move(t);
    return f;
  };

  // An arrival that turns off at exit D and taxies to its stand, heard with a gap of 15 s on the
  // way.
  out.push_back(arrival(l, airport,
                        {{4860401, "DLH5YA", "A20N", "D-AINA", "FRA", "SZG", "LH1710", "A3"},
                         "5",
                         40.0,
                         133.0,
                         {{fromAirport(330.0, 34.0), 290.0, 13000.0}, {fromAirport(40.0, 14.0), 240.0, 8000.0},
                          {fromAirport(105.0, 10.0), 210.0, 6000.0}}}));

  // Pushed back with the nose ending to the right, taxies to connector B, backtracks on the runway,
  // turns round at its end, lines up for 12 s and takes off from 33.
  out.push_back(named("AUA8WN", [&] {
    Track t = standing("12");
    t.hold(6.0).pushBack(l.pushBackTurning(airport.stand("12"), true));
    const double pushed = t.elapsed();
    t.hold(12.0);
    const double taxi = t.elapsed();
    double lineUpS = 0.0;
    std::vector<Waypoint> route = l.toRunway(true);
    const std::vector<Waypoint> backtrack = l.backtrackAndLineUp(lineUpS);
    route.insert(route.end(), backtrack.begin(), backtrack.end());
    t.taxi(route);
    const double linedUp = t.elapsed();
    t.hold(12.0).taxi({l.liftOffFromStandstill(lineUpS, 115.0, 1.8)});
    const double liftOff = t.elapsed();
    t.fly(climbOut({t.position(), 115.0, elev}, {{h33, 2500.0, 135.0, 2500.0, 99999.0},
                                                 {60.0, 6.0 * kMetresPerNm, 200.0, 2000.0, 9000.0},
                                                 {80.0, 40.0 * kMetresPerNm, 240.0, 1500.0, 17000.0}}));
    return departureOf({4860402, "AUA8WN", "DH8D", "OE-LGA", "SZG", "VIE", "OS908", "A2"}, "12", std::move(t),
                       {{"pushes back", 6.0},
                        {"push-back ends", pushed},
                        {"taxies", taxi},
                        {"lines up on 33", linedUp},
                        {"takes off from 33", liftOff}});
  }));

  // Stands on its stand to `offBlock`, pushed back, stands for its engines, taxies the route and
  // stands at its end.
  auto pushAndTaxi = [&](Identity id, const std::string& stand, double offBlock, const std::vector<Waypoint>& push,
                         double engineSeconds, const std::vector<Waypoint>& route, const char* stop) {
    Track t = standing(stand);
    t.hold(offBlock).pushBack(push);
    const double pushed = t.elapsed();
    t.hold(engineSeconds);
    const double taxi = t.elapsed();
    t.taxi(route);
    const double stopped = t.elapsed();
    t.holdToEnd();
    return departureOf(std::move(id), stand, std::move(t),
                       {{"pushes back", offBlock}, {"push-back ends", pushed}, {"taxies", taxi}, {stop, stopped}});
  };

  // Pushed straight back across the taxilane, turns onto it and stops short of the parallel taxiway
  // at connector B; heard by multilateration, without a true heading.
  out.push_back(named("EWG9KM", [&] {
    const Stand& stand = airport.stand("7");
    std::vector<Waypoint> route{l.ontoLaneAfterStraightPush(stand)};
    const std::vector<Waypoint> hold = l.toConnectorBHold();
    route.insert(route.end(), hold.begin(), hold.end());
    Identity id{4860403, "EWG9KM", "A320", "D-AEWA", "SZG", "DUS", "EW9583", "A3"};
    id.source = "mlat";
    return pushAndTaxi(std::move(id), "7", 120.0, l.pushBackStraight(stand), 15.0, route, "holds short");
  }));

  // Pushed back with the nose ending to the left, taxies north to exit D and stops short of the
  // parallel taxiway; heard by multilateration, without a true heading.
  out.push_back(named("RYR4TU", [&] {
    Identity id{4860404, "RYR4TU", "B738", "EI-DWA", "SZG", "STN", "FR8353", "A3"};
    id.source = "mlat";
    return pushAndTaxi(std::move(id), "9", 170.0, l.pushBackTurning(airport.stand("9"), false), 12.0, l.toExitHold(),
                       "holds short");
  }));

  // A helicopter standing on pad H2 for 100 s, then lifting off and climbing away to the east.
  out.push_back(named("OEXHB", [&] {
    const Stand& pad = airport.stand("H2");
    const Vec padAt = l.standAt(pad);
    Track t = standing("H2");
    t.hold(100.0).fly({{padAt + along(pad.headingDeg) * 40.0, 15.0, elev + 60.0},
                       {padAt + along(pad.headingDeg) * 1500.0, 90.0, elev + 1000.0},
                       {padAt + along(pad.headingDeg) * 12000.0, 120.0, elev + 3000.0}});
    return departureOf({4860405, "OEXHB", "EC35", "OE-XHB", "", "", "", "A7"}, "H2", std::move(t),
                       {{"lifts off", 100.0}});
  }));

  // A helicopter that comes down on the general aviation apron's taxilane and hover-taxies to pad H1;
  // heard by multilateration, without a true heading.
  out.push_back(named("OEXHA", [&] {
    const Stand& pad = airport.stand("H1");
    const Vec spot = l.tail(airport.stand("GA6"), kGaLaneM);
    const Vec before = l.tail(pad, 30.0);
    const double inbound = bearingOf(spot - before);
    Track t = Track::flying(fromAirport(150.0, 14.0), 330.0, 115.0, 3500.0, elev);
    t.fly({{fromAirport(200.0, 3.0), 100.0, 2600.0},
           {spot + along(inbound + 180.0) * 2000.0, 70.0, elev + 500.0},
           {spot + along(inbound + 180.0) * 400.0, 35.0, elev + 150.0},
           {spot, 8.0, elev}});
    const double down = t.elapsed();
    t.taxi({{before, 6.0, 0.0, 15.0, 8.0}, {l.standAt(pad), 0.0}});
    const double landed = t.elapsed();
    t.holdToEnd();
    Flight f;
    f.id = {4860406, "OEXHA", "EC35", "OE-XHA", "", "", "", "A7"};
    f.id.source = "mlat";
    f.kind = Flight::Kind::Arrival;
    f.stand = "H1";
    f.startSecond = 90.0 - down;
    f.events = {{"comes down on the taxilane", 90.0}, {"stands on its pad", f.startSecond + landed}};
    f.track = std::move(t);
    return f;
  }));
  if (!more) return out;

  // A light aircraft pushed back by hand, taxiing at 6 kt with tight turns onto the runway, where
  // it backtracks, turns round and lines up.
  out.push_back(named("DEMXA", [&] {
    return pushAndTaxi({4860407, "DEMXA", "C172", "D-EMXA", "", "", "", "A1"}, "GA3", 30.0,
                       l.pushBackFromGa(airport.stand("GA3")), 10.0, l.gaBacktrackAndLineUp(), "lines up on 33");
  }));

  // A helicopter hover-taxiing at 5 kt from a general aviation stand along the taxilane to pad H2
  // once OEXHB has left it, and standing there.
  out.push_back(named("OEXHC", [&] {
    Track t = standing("GA8");
    t.hold(110.0).taxi({{l.gaLane(airport.stand("GA8")), 5.0, 0.0, 8.0, 5.0},
                        {l.tail(airport.stand("H2"), 25.0), 5.0, 0.0, 10.0, 5.0},
                        {l.standAt(airport.stand("H2")), 0.0}});
    const double stands = t.elapsed();
    t.holdToEnd();
    return departureOf({4860408, "OEXHC", "EC35", "OE-XHC", "", "", "", "A7"}, "GA8", std::move(t),
                       {{"hover-taxies", 110.0}, {"stands on pad H2", stands}});
  }));

  // A helicopter landing on a general aviation stand and standing there to the end.
  out.push_back(named("OEXHD", [&] {
    return helicopterArrival(l, airport, {4860409, "OEXHD", "EC35", "OE-XHD", "", "", "", "A7"}, "GA11",
                             Track::flying(fromAirport(60.0, 12.0), 240.0, 110.0, 3500.0, elev), {}, {2500.0, 600.0},
                             {120.0, "lands on its stand"});
  }));

  // A cargo arrival that runs the parallel taxiway's long straight at 25 kt.
  ArrivalPlan cargo{{4860410, "DHK7CP", "B752", "G-DHKG", "LEJ", "SZG", "", "A4"},
                    "C1",
                    130.0,
                    135.0,
                    {{fromAirport(10.0, 36.0), 300.0, 15000.0}, {fromAirport(40.0, 14.0), 240.0, 8000.0},
                     {fromAirport(105.0, 10.0), 210.0, 6000.0}},
                    true};
  cargo.parallelKt = 25.0;
  out.push_back(arrival(l, airport, cargo));
  return out;
}

std::string makeNoisySession(const std::filesystem::path& airportFile, unsigned long long seed, const std::string& kind) {
  return writeSession(noisySettings(seed, kind), noisyFlights(readAirportFile(airportFile), kind));
}

std::string makeSession(const std::filesystem::path& airportFile) {
  return writeSession(settings(), flights(readAirportFile(airportFile)));
}

}  // namespace rtsession::lows
