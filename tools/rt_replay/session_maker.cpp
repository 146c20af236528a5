#include "session_maker.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <sstream>
#include <stdexcept>

#include <pugixml.hpp>

namespace rtsession {

namespace {

constexpr double kMetresPerDegLat = 111132.95;
constexpr double kGravity = 9.81;
constexpr double kAirBankDeg = 25.0;
constexpr double kGroundAccel = 0.6;  // m/s^2 when a leg has a speed of its own
constexpr double kGroundBrake = 0.8;

double rad(double deg) { return deg * kPi / 180.0; }
double deg(double rad) { return rad * 180.0 / kPi; }

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  // "-0.0" reads as a number, but a person reading the file stumbles over it.
  std::string out = text;
  if (out.find_first_not_of("-0.") == std::string::npos && out[0] == '-') out.erase(0, 1);
  return out;
}

std::string clock(double seconds) {
  const int whole = static_cast<int>(std::lround(seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%d:%02d", whole / 60, whole % 60);
  return text;
}

}  // namespace

double length(Vec v) { return std::hypot(v.x, v.y); }
Vec along(double bearingDeg) { return {std::sin(rad(bearingDeg)), std::cos(rad(bearingDeg))}; }
double bearingOf(Vec v) { return wrapDeg(deg(std::atan2(v.x, v.y))); }
double signedDeg(double d) {
  d = std::fmod(d, 360.0);
  if (d > 180.0) d -= 360.0;
  if (d <= -180.0) d += 360.0;
  return d;
}
double wrapDeg(double d) {
  d = std::fmod(d, 360.0);
  return d < 0.0 ? d + 360.0 : d;
}

LocalFrame::LocalFrame(LatLon origin)
    : origin_(origin), metresPerDegLon_(kMetresPerDegLat * std::cos(rad(origin.lat))) {}

Vec LocalFrame::toLocal(LatLon p) const {
  return {(p.lon - origin_.lon) * metresPerDegLon_, (p.lat - origin_.lat) * kMetresPerDegLat};
}

LatLon LocalFrame::toLatLon(Vec v) const {
  return {origin_.lat + v.y / kMetresPerDegLat, origin_.lon + v.x / metresPerDegLon_};
}

const Stand& AirportFile::stand(const std::string& id) const {
  for (const Stand& s : stands) {
    if (s.id == id) return s;
  }
  throw std::runtime_error(icao + " has no stand " + id);
}

AirportFile readAirportFile(const std::filesystem::path& path) {
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_file(path.c_str());
  if (!parsed) throw std::runtime_error(path.string() + ": " + parsed.description());
  const pugi::xml_node airport = doc.child("airport");
  if (!airport) throw std::runtime_error(path.string() + ": no airport element");
  AirportFile out;
  out.icao = airport.attribute("icao").value();
  const pugi::xml_node altitude = airport.child("parameters").find_child_by_attribute("parameter", "name", "altitude");
  if (!altitude) throw std::runtime_error(path.string() + ": no altitude parameter");
  out.elevationFt = altitude.attribute("value").as_double();
  for (const pugi::xml_node p : airport.child("parkpositions").children("parkpos")) {
    Stand s;
    s.id = p.attribute("id").value();
    s.at = {p.attribute("lat").as_double(), p.attribute("lon").as_double()};
    s.headingDeg = p.attribute("heading").as_double();
    s.radiusM = p.attribute("radius").as_double();
    s.cargo = p.attribute("cargo").as_bool();
    s.heli = p.attribute("heli").as_bool();
    out.stands.push_back(s);
  }
  if (out.stands.empty()) throw std::runtime_error(path.string() + ": no stands");
  return out;
}

// ---- tracks ----------------------------------------------------------------------------------

// A straight line or an arc of a moving section, with the distance along the section where it
// begins.
struct Piece {
  bool arc = false;
  Vec from;
  Vec to;                   // lines
  Vec centre;               // arcs
  double radius = 0.0;
  double startBearing = 0.0;  // from the centre to the arc's start
  double sweepDeg = 0.0;      // above 0 turning right
  double length = 0.0;
  double start = 0.0;
};

struct Track::Section {
  double duration = 0.0;
  bool moving = false;
  Report still;  // a hold
  Mode mode = Mode::Ground;
  std::vector<Piece> pieces;
  // Per waypoint: distance along the section, speed (m/s), altitude, time of passing.
  std::vector<double> s, v, alt, t;

  Report sample(double when) const {
    if (!moving) {
      Report r = still;
      r.t = when;
      return r;
    }
    when = std::clamp(when, 0.0, duration);
    const std::size_t i = std::min<std::size_t>(
        static_cast<std::size_t>(std::upper_bound(t.begin(), t.end(), when) - t.begin()), t.size() - 1) - 1;
    const double ds = s[i + 1] - s[i];
    const double a = (v[i + 1] * v[i + 1] - v[i] * v[i]) / (2.0 * ds);
    const double tau = when - t[i];
    const double dist = std::min(ds, v[i] * tau + 0.5 * a * tau * tau);
    const double at = s[i] + std::max(0.0, dist);
    const double speed = std::max(0.0, v[i] + a * tau);
    Report r;
    r.t = when;
    r.speedKt = speed / kMetresPerSecondPerKt;
    r.onGround = mode != Mode::Air;
    if (mode == Mode::Air) {
      const double slope = (alt[i + 1] - alt[i]) / ds;  // feet per metre
      r.altFt = alt[i] + slope * (at - s[i]);
      r.verticalFpm = slope * speed * 60.0;
    }
    const auto piece = std::find_if(pieces.rbegin(), pieces.rend(), [&](const Piece& p) { return p.start <= at; });
    const Piece& p = piece == pieces.rend() ? pieces.front() : *piece;
    const double u = std::clamp(at - p.start, 0.0, p.length);
    if (p.arc) {
      const double bearing = p.startBearing + p.sweepDeg * (p.length > 0.0 ? u / p.length : 0.0);
      r.at = p.centre + along(bearing) * p.radius;
      r.trackDeg = wrapDeg(bearing + (p.sweepDeg > 0.0 ? 90.0 : -90.0));
      const double turn = deg(speed / p.radius) * (p.sweepDeg > 0.0 ? 1.0 : -1.0);
      r.turnDegPerS = turn;
      if (mode == Mode::Air) r.rollDeg = deg(std::atan(speed * speed / (p.radius * kGravity))) * (turn > 0.0 ? 1.0 : -1.0);
    } else {
      r.at = p.length > 0.0 ? p.from + (p.to - p.from) * (u / p.length) : p.from;
      r.trackDeg = bearingOf(p.to - p.from);
    }
    r.headingDeg = mode == Mode::Backwards ? wrapDeg(r.trackDeg + 180.0) : r.trackDeg;
    return r;
  }
};

Track::Track(Vec at, double headingDeg, double elevationFt) : elevationFt_(elevationFt) {
  end_.at = at;
  end_.headingDeg = wrapDeg(headingDeg);
  end_.trackDeg = end_.headingDeg;
}

Track Track::flying(Vec at, double trackDeg, double speedKt, double altFt, double elevationFt) {
  Track t(at, trackDeg, elevationFt);
  t.end_.speedKt = speedKt;
  t.end_.altFt = altFt;
  t.end_.onGround = false;
  return t;
}

Track& Track::hold(double seconds) {
  if (endless_) throw std::logic_error("nothing follows a hold to the end");
  if (!end_.onGround || end_.speedKt > 0.0) throw std::logic_error("only a stopped aircraft on the ground holds");
  auto section = std::make_shared<Section>();
  section->duration = seconds;
  section->still = end_;
  section->still.trackDeg = end_.headingDeg;
  section->still.turnDegPerS = 0.0;
  starts_.push_back(elapsed_);
  sections_.push_back(section);
  elapsed_ += seconds;
  return *this;
}

Track& Track::holdToEnd() {
  hold(0.0);
  endless_ = true;
  return *this;
}

Track& Track::move(Mode mode, const std::vector<Waypoint>& points, double defaultRadiusM) {
  if (endless_) throw std::logic_error("nothing follows a hold to the end");
  if (points.empty()) throw std::logic_error("a moving section needs points");
  const bool air = mode == Mode::Air;
  if (!air && !end_.onGround && std::abs(end_.altFt - elevationFt_) > 1.0) {
    throw std::logic_error("a ground section begins where the aircraft touches down");
  }
  std::vector<Waypoint> given;
  given.push_back({end_.at, end_.speedKt, air ? (end_.onGround ? elevationFt_ : end_.altFt) : 0.0, 0.0});
  given.insert(given.end(), points.begin(), points.end());

  // The corners' arcs: tangent length and turn of each inner point.
  auto corners = [&](const std::vector<Waypoint>& w, std::vector<double>& tangent, std::vector<double>& turn,
                     std::vector<double>& radius) {
    const std::size_t n = w.size();
    tangent.assign(n, 0.0);
    turn.assign(n, 0.0);
    radius.assign(n, 0.0);
    for (std::size_t i = 1; i + 1 < n; ++i) {
      const Vec in = w[i].at - w[i - 1].at;
      const Vec out = w[i + 1].at - w[i].at;
      if (length(in) < 1e-6 || length(out) < 1e-6) throw std::logic_error("two waypoints at one place");
      turn[i] = signedDeg(bearingOf(out) - bearingOf(in));
      if (std::abs(turn[i]) < 0.2) continue;
      if (std::abs(turn[i]) > 170.0) throw std::logic_error("a corner of more than 170 degrees");
      const double speed = w[i].speedKt * kMetresPerSecondPerKt;
      radius[i] = w[i].turnRadiusM > 0.0 ? w[i].turnRadiusM
                  : air                  ? speed * speed / (kGravity * std::tan(rad(kAirBankDeg)))
                                         : defaultRadiusM;
      tangent[i] = radius[i] * std::tan(rad(std::abs(turn[i])) / 2.0);
    }
  };
  std::vector<double> tangent, turn, radius;
  corners(given, tangent, turn, radius);
  // A leg with a speed of its own gets two more points on its straight part: where that speed is
  // reached, and where braking for the next point begins (none when the leg is too short).
  std::vector<Waypoint> w{given.front()};
  for (std::size_t i = 1; i < given.size(); ++i) {
    const Waypoint& a = given[i - 1];
    const Waypoint& b = given[i];
    if (b.legKt > 0.0) {
      const Vec dir = along(bearingOf(b.at - a.at));
      const double va = a.speedKt * kMetresPerSecondPerKt;
      const double vb = b.speedKt * kMetresPerSecondPerKt;
      const double vl = b.legKt * kMetresPerSecondPerKt;
      const double up = std::abs(vl * vl - va * va) / (2.0 * (vl > va ? kGroundAccel : kGroundBrake));
      const double down = std::abs(vl * vl - vb * vb) / (2.0 * (vl > vb ? kGroundBrake : kGroundAccel));
      const double first = tangent[i - 1] + up;
      const double last = length(b.at - a.at) - tangent[i] - down;
      const double legLength = length(b.at - a.at);
      if (last - first > 1.0) {
        for (const double at : {std::max(first, tangent[i - 1] + 0.5), std::min(last, legLength - tangent[i] - 0.5)}) {
          w.push_back({a.at + dir * at, b.legKt, a.altFt + (b.altFt - a.altFt) * at / legLength, 0.0});
        }
      }
    }
    w.push_back(b);
  }
  const std::size_t n = w.size();
  corners(w, tangent, turn, radius);
  auto section = std::make_shared<Section>();
  section->moving = true;
  section->mode = mode;

  double s = 0.0;
  Vec cursor = w[0].at;
  section->s.push_back(0.0);
  for (std::size_t i = 1; i < n; ++i) {
    const Vec dirIn = along(bearingOf(w[i].at - w[i - 1].at));
    const Vec arcStart = w[i].at - dirIn * tangent[i];
    const double straight = length(arcStart - cursor);
    const double room = length(w[i].at - w[i - 1].at) - tangent[i - 1] - tangent[i];
    if (room < -1e-6) {
      throw std::logic_error("waypoints " + std::to_string(i - 1) + " and " + std::to_string(i) +
                             " lie too close together for their turns");
    }
    if (straight > 1e-9) {
      section->pieces.push_back({false, cursor, arcStart, {}, 0.0, 0.0, 0.0, straight, s});
      s += straight;
    }
    if (tangent[i] > 0.0) {
      const double side = turn[i] > 0.0 ? 90.0 : -90.0;
      const double inBearing = bearingOf(w[i].at - w[i - 1].at);
      Piece arc;
      arc.arc = true;
      arc.radius = radius[i];
      arc.centre = arcStart + along(inBearing + side) * radius[i];
      arc.startBearing = wrapDeg(inBearing + side + 180.0);
      arc.sweepDeg = turn[i];
      arc.length = radius[i] * rad(std::abs(turn[i]));
      arc.start = s;
      section->pieces.push_back(arc);
      section->s.push_back(s + arc.length / 2.0);
      s += arc.length;
      cursor = w[i].at + along(bearingOf(w[i + 1].at - w[i].at)) * tangent[i];
    } else {
      section->s.push_back(s);
      cursor = w[i].at;
    }
  }
  section->s.back() = s;
  if (section->pieces.empty()) throw std::logic_error("a moving section that does not move");

  double t = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    section->v.push_back(w[i].speedKt * kMetresPerSecondPerKt);
    section->alt.push_back(w[i].altFt);
    if (i == 0) {
      section->t.push_back(0.0);
      continue;
    }
    const double ds = section->s[i] - section->s[i - 1];
    const double v0 = section->v[i - 1];
    const double v1 = section->v[i];
    if (ds <= 0.0) throw std::logic_error("waypoint " + std::to_string(i) + " lies inside the turn before it");
    if (v0 + v1 <= 0.0) throw std::logic_error("standing still between two waypoints");
    t += 2.0 * ds / (v0 + v1);  // constant acceleration: the mean speed is the mean of the two
    section->t.push_back(t);
  }
  section->duration = t;

  starts_.push_back(elapsed_);
  sections_.push_back(section);
  elapsed_ += t;
  end_ = section->sample(t);
  end_.at = w.back().at;
  end_.speedKt = w.back().speedKt;
  if (air) {
    end_.altFt = w.back().altFt;
  } else {
    end_.altFt = 0.0;
  }
  if (air && std::abs(end_.altFt - elevationFt_) < 1.0 && end_.speedKt < 1.0) {
    end_.onGround = true;  // a helicopter put down on its pad
    end_.altFt = 0.0;
    end_.verticalFpm = 0.0;
  }
  return *this;
}

Report Track::at(double t) const {
  if (sections_.empty()) {
    Report r = end_;
    r.t = t;
    return r;
  }
  t = std::max(0.0, t);
  std::size_t i = static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), t) - starts_.begin());
  i = i == 0 ? 0 : i - 1;
  Report r = sections_[i]->sample(t - starts_[i]);
  r.t = t;
  if (r.altFt < elevationFt_ + 1.0) r.onGround = true;  // the wheels (or skids) on the ground
  if (r.onGround) {
    r.altFt = 0.0;
    r.verticalFpm = 0.0;
    r.rollDeg = 0.0;
  }
  return r;
}

// ---- the session file ------------------------------------------------------------------------

namespace {

// One traffic line (fields 0 to 28) of a report.
std::string trafficLine(const Identity& id, const Report& r, LatLon at, long long epochSeconds, double magneticVariationDeg,
                        int qnhHpa) {
  const bool air = !r.onGround;
  const double tas = air ? r.speedKt : -1.0;
  const double ias = air ? r.speedKt / (1.0 + 0.02 * r.altFt / 1000.0) : 0.0;
  const double mach = air ? r.speedKt / (661.47 * std::sqrt(std::max(0.2, 1.0 - 6.8756e-6 * r.altFt))) : 0.0;
  const double geometric = air ? r.altFt + (qnhHpa - 1013) * 27.0 : 0.0;
  std::ostringstream line;
  line << "RTTFC," << id.hexId << ',' << fixed(at.lat, 6) << ',' << fixed(at.lon, 6) << ',' << fixed(air ? r.altFt : 0.0, 0)
       << ',' << fixed(r.verticalFpm, 0) << ',' << (air ? 0 : 1) << ',' << fixed(wrapDeg(r.trackDeg), 1) << ','
       << fixed(r.speedKt, 1) << ',' << id.callsign << ',' << id.type << ',' << id.registration << ',' << id.origin << ','
       << id.destination << ',' << epochSeconds << ",0," << id.flightNumber << ',' << id.source << ',' << fixed(geometric, 0)
       << ',' << fixed(ias, 0) << ',' << fixed(tas, 0) << ',' << fixed(mach, 3) << ',' << fixed(r.turnDegPerS, 1) << ','
       << fixed(air ? r.rollDeg : 0.0, 1) << ',' << fixed(wrapDeg(r.headingDeg - magneticVariationDeg), 1) << ','
       << fixed(wrapDeg(r.headingDeg), 1) << ',' << fixed(r.verticalFpm, 0) << ",none," << id.category;
  return line.str();
}

// The noise of a feed (Noise), drawn from its own generator so that a seed gives the same session
// with every standard library.
class Scatter {
 public:
  explicit Scatter(unsigned long long seed) : state_(seed) {}

  // What the receivers last made of a flight.
  struct Heard {
    Vec at;               // where it was last heard
    Vec wander;           // the wandering error's present offset
    double second = -1.0;  // when (session time)
    double headingDeg = -1.0;  // the last true heading given (taken from the track)
  };

  // Scatters a report as a receiver hears it at a session second; `heard` is what was made of the
  // flight before, and becomes this report's.
  void apply(Report& r, const Noise& noise, double second, Heard& heard) {
    const double nose = r.headingDeg;
    r.headingDeg = wrapDeg(r.headingDeg + (2.0 * next() - 1.0) * noise.headingDeg);
    if (r.onGround) {
      const double metres = noise.groundJitterMinM + next() * (noise.groundJitterMaxM - noise.groundJitterMinM);
      r.at = r.at + along(360.0 * next()) * metres;
      if (noise.wanderM > 0.0) {
        const double keep = heard.second < 0.0 ? 0.0 : std::exp(-(second - heard.second) / noise.wanderSeconds);
        const double fresh = noise.wanderM * std::sqrt(1.0 - keep * keep);
        heard.wander = heard.wander * keep + Vec{gauss(), gauss()} * fresh;
        r.at = r.at + heard.wander;
      }
      if (noise.outlierShare > 0.0 && next() < noise.outlierShare) r.at = r.at + along(360.0 * next()) * (30.0 + 20.0 * next());
      // A standing aircraft's track is its nose; a moving one's, where it went since last heard.
      const bool moved = r.speedKt > 0.5 && length(r.at - heard.at) > 0.0;
      r.trackDeg = moved ? bearingOf(r.at - heard.at) : r.headingDeg;
      if (noise.heading == Noise::Heading::Track) {
        if (moved) {
          heard.headingDeg = r.trackDeg;
        } else if (heard.headingDeg < 0.0) {
          heard.headingDeg = nose;
        }
        r.headingDeg = r.trackDeg = heard.headingDeg;
      }
    }
    heard.at = r.at;
    heard.second = second;
  }

  // The gap to a flight's next line when lines come unevenly: 1 to `most` seconds.
  int gap(int most) { return 1 + std::min(most - 1, static_cast<int>(next() * most)); }

 private:
  // A number in [0, 1): splitmix64.
  double next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1.0p-53;
  }
  // A standard normal number (Box-Muller).
  double gauss() {
    const double u = 1.0 - next();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * kPi * next());
  }

  std::uint64_t state_;
};

}  // namespace

std::string writeSession(const SessionSettings& settings, const std::vector<Flight>& flights) {
  std::ostringstream out;
  out << "# " << settings.title << "\n";
  out << "# <milliseconds from the start> <UDP port> <datagram>; the flights (session time m:ss):\n";
  for (const Flight& f : flights) {
    const char* kind = f.kind == Flight::Kind::Arrival     ? "arrival"
                       : f.kind == Flight::Kind::Departure ? "departure"
                                                           : "overflight";
    out << "#   " << f.id.callsign << ' ' << f.id.type << ' ' << (f.id.origin.empty() ? "-" : f.id.origin) << '-'
        << (f.id.destination.empty() ? "-" : f.id.destination) << ' ' << kind;
    if (!f.stand.empty()) out << ", stand " << f.stand;
    if (f.id.source != "adsb_icao") out << ", heard by " << f.id.source;
    for (std::size_t i = 0; i < f.events.size(); ++i) {
      out << (i == 0 ? ": " : ", ") << f.events[i].first << ' ' << clock(f.events[i].second);
    }
    out << "\n";
  }
  std::vector<const Flight*> order;
  for (const Flight& f : flights) order.push_back(&f);
  std::sort(order.begin(), order.end(), [](const Flight* a, const Flight* b) { return a->id.hexId < b->id.hexId; });
  const Noise& noise = settings.noise;
  Scatter scatter(noise.seed);
  std::map<unsigned, Scatter::Heard> heard;
  std::map<unsigned, int> nextLine;  // each flight's next line when lines come unevenly
  const bool uneven = noise.seed != 0 && noise.reportMaxSeconds > 0;
  std::map<unsigned, std::string> late;  // a line held back until the flight's next one
  auto is = [](const Noise::Line& l, const Flight& f, int second) { return l.hexId == f.id.hexId && l.second == second; };
  for (int second = 0; second < settings.seconds; ++second) {
    if (second % settings.qnhSeconds == 0) out << second * 1000 << " 49004 {\"QNH\": " << settings.qnhHpa << "}\n";
    if (!uneven && second % settings.reportSeconds != 0) continue;
    for (const Flight* f : order) {
      const double t = second - f->startSecond;
      if (t < 0.0 || (t > f->track.elapsed() && !f->track.endless())) continue;
      if (uneven) {
        const auto due = nextLine.try_emplace(f->id.hexId, second).first;
        if (second < due->second) continue;
        due->second = second + scatter.gap(noise.reportMaxSeconds);
      }
      Report r = f->track.at(t);
      if (length(r.at) > f->reportRadiusNm * kMetresPerNm) continue;
      if (noise.seed != 0 && noise.gapFrom.hexId == f->id.hexId && second >= noise.gapFrom.second &&
          second < noise.gapFrom.second + noise.gapSeconds) {
        continue;
      }
      if (noise.seed != 0) {
        scatter.apply(r, noise, second, heard.try_emplace(f->id.hexId, Scatter::Heard{r.at, {}, -1.0, -1.0}).first->second);
      }
      Identity id = f->id;
      if (noise.seed != 0 && noise.heading == Noise::Heading::None) id.source = "mlat";
      std::ostringstream line;
      line << second * 1000 << " 49005 "
           << trafficLine(id, r, settings.frame.toLatLon(r.at), settings.recordedEpoch + second,
                          settings.magneticVariationDeg, settings.qnhHpa)
           << "\n";
      if (noise.seed != 0 && is(noise.late, *f, second)) {
        late[f->id.hexId] = line.str().substr(line.str().find(' '));
        continue;
      }
      out << line.str();
      if (noise.seed != 0 && is(noise.repeated, *f, second)) out << line.str();
      if (const auto held = late.find(f->id.hexId); held != late.end()) {
        out << second * 1000 << held->second;
        late.erase(held);
      }
    }
  }
  return out.str();
}

}  // namespace rtsession
