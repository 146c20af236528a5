#pragma once
// Building blocks of a made-up RealTraffic session at one airport (tools/rt_replay/make_session.cpp
// describes how a session is laid out with them).
//
// A flight is a Track: sections one after the other, each either standing still (hold) or moving
// through waypoints on the ground (forwards, or backwards for a push-back) or in the air. A moving
// section's waypoints are joined by straight lines whose corners are rounded with arcs; the speed
// changes at constant acceleration between waypoints (the square of the speed is linear in the
// distance), the altitude linearly with the distance. The track is sampled every 2 s into
// RealTraffic's traffic lines.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace rtsession {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMetresPerNm = 1852.0;
constexpr double kMetresPerSecondPerKt = kMetresPerNm / 3600.0;
constexpr double kFeetPerMetre = 3.280839895;

struct LatLon {
  double lat = 0.0;
  double lon = 0.0;
};

// Metres east (x) and north (y) of the frame's origin.
struct Vec {
  double x = 0.0;
  double y = 0.0;
};
inline Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y}; }
inline Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y}; }
inline Vec operator*(Vec a, double k) { return {a.x * k, a.y * k}; }
double length(Vec v);
// The unit vector pointing along a true bearing in degrees.
Vec along(double bearingDeg);
// The true bearing of a vector, 0 to 360 degrees.
double bearingOf(Vec v);
// An angle brought into -180..180 degrees.
double signedDeg(double deg);
// An angle brought into 0..360 degrees.
double wrapDeg(double deg);

// A flat-earth frame around an airport: good to a few metres over the 40 nm of a session.
class LocalFrame {
 public:
  explicit LocalFrame(LatLon origin);
  Vec toLocal(LatLon p) const;
  LatLon toLatLon(Vec v) const;

 private:
  LatLon origin_;
  double metresPerDegLon_;
};

// A stand of an airport file (the attributes a session needs).
struct Stand {
  std::string id;
  LatLon at;
  double headingDeg = 0.0;
  double radiusM = 0.0;
  bool cargo = false;
  bool heli = false;
};

struct AirportFile {
  std::string icao;
  double elevationFt = 0.0;
  std::vector<Stand> stands;
  // The stand by its id; throws std::runtime_error when the file has none of that id.
  const Stand& stand(const std::string& id) const;
};

// Reads the stands and the elevation of an airport file (the program's airport XML); throws
// std::runtime_error naming the file when it cannot be read.
AirportFile readAirportFile(const std::filesystem::path& path);

// A point of a moving section. The first point of a section is where the track stands when the
// section begins; a section lists only the points after it.
struct Waypoint {
  Vec at;
  double speedKt = 0.0;
  double altFt = 0.0;       // above sea level; air sections only
  double turnRadiusM = 0.0;  // the arc that rounds this corner; 0 takes the section's default
  // The speed along the leg to this point: reached and left at the ground's rates of
  // acceleration and braking near the leg's ends. 0: the speed changes evenly along the leg.
  double legKt = 0.0;
};

// One report of a flight, in the flight's own time (seconds from its first report).
struct Report {
  double t = 0.0;
  Vec at;
  double trackDeg = 0.0;     // where it moves
  double headingDeg = 0.0;   // where its nose points
  double speedKt = 0.0;
  double altFt = 0.0;        // 0 on the ground
  double verticalFpm = 0.0;
  double rollDeg = 0.0;      // right wing down above 0
  double turnDegPerS = 0.0;
  bool onGround = true;
};

class Track {
 public:
  enum class Mode { Ground, Backwards, Air };

  // Standing on the ground at `at`, the nose on `headingDeg`, at an airport of the elevation; or
  // flying there.
  Track(Vec at, double headingDeg, double elevationFt);
  static Track flying(Vec at, double trackDeg, double speedKt, double altFt, double elevationFt);

  // Standing still for a while (parked, holding, starting engines).
  Track& hold(double seconds);
  // Standing still to the end of the session.
  Track& holdToEnd();
  // Moving through the points, forwards on the ground, backwards on the ground, or in the air.
  Track& taxi(const std::vector<Waypoint>& points, double turnRadiusM = 30.0) { return move(Mode::Ground, points, turnRadiusM); }
  Track& pushBack(const std::vector<Waypoint>& points, double turnRadiusM = 20.0) {
    return move(Mode::Backwards, points, turnRadiusM);
  }
  // Air sections round their corners for a 25 degree bank at the corner's speed unless told.
  Track& fly(const std::vector<Waypoint>& points) { return move(Mode::Air, points, 0.0); }

  // Where the track stands now (the end of its last section).
  Vec position() const { return end_.at; }
  // Seconds from the track's start to the end of its last section.
  double elapsed() const { return elapsed_; }
  // Whether the track ends standing still to the session's end.
  bool endless() const { return endless_; }

  // The report at a time of the track (clamped to its start and end).
  Report at(double t) const;

 private:
  struct Section;
  Track& move(Mode mode, const std::vector<Waypoint>& points, double defaultRadiusM);

  std::vector<std::shared_ptr<const Section>> sections_;
  std::vector<double> starts_;
  Report end_;
  double elevationFt_ = 0.0;
  double elapsed_ = 0.0;
  bool endless_ = false;
};

// Who a flight is, as the traffic line carries it.
struct Identity {
  unsigned hexId = 0;
  std::string callsign;
  std::string type;
  std::string registration;
  std::string origin;       // IATA code, empty when the flight has none
  std::string destination;
  std::string flightNumber;  // the IATA flight number, empty when none
  std::string category;      // ADS-B emitter category
  // Where the line comes from: the program trusts a line's true heading only from "adsb_icao".
  std::string source = "adsb_icao";
};

// A flight of the session: its track, placed in the session's time.
struct Flight {
  enum class Kind { Arrival, Departure, Overflight };
  Identity id;
  Kind kind = Kind::Overflight;
  Track track{Vec{}, 0.0, 0.0};
  double startSecond = 0.0;  // session time of the track's start (may lie before the session)
  // Session seconds of what a person watches for: touch-down, turn-off, parking, push-back...
  std::vector<std::pair<std::string, double>> events;
  // The stand it starts on (departures) or parks on (arrivals), empty when none.
  std::string stand;
  // Reports stop when the flight is farther than this from the airport (overflights and
  // departures leaving the picture).
  double reportRadiusNm = 38.0;
};

// A feed as receivers on the ground really give it: positions of aircraft on the ground scattered
// by a few metres from line to line, noses a little off, the track taken from the scattered
// positions (so a slow aircraft's track swings), and a few lines lost, sent twice or sent late.
// The same seed gives the same session on every machine.
struct Noise {
  unsigned long long seed = 0;  // 0: a smooth feed
  double groundJitterMinM = 3.0;
  double groundJitterMaxM = 8.0;
  double headingDeg = 2.0;  // the nose is off by up to this either way
  // A flight's line at a session second (a reporting one).
  struct Line {
    unsigned hexId = 0;
    int second = -1;
  };
  Line gapFrom;       // the flight's lines from here on are lost ...
  int gapSeconds = 0;  // ... for this long
  Line repeated;      // sent twice
  Line late;          // sent after the flight's next line
  // Kinds of noise beyond the above; each off by default, and then it draws nothing, so a seed
  // gives the feed it always gave.
  // An error that wanders as a receiver's does: first-order filtered noise of this standard
  // deviation (metres, each way) whose memory lasts about wanderSeconds.
  double wanderM = 0.0;
  double wanderSeconds = 30.0;
  double outlierShare = 0.0;  // this share of the lines on the ground lands 30-50 m off
  // Where the true heading comes from: the nose with its error, the track of the scattered
  // positions (a standing aircraft keeps the last one), or nowhere (heard by multilateration).
  enum class Heading { Nose, Track, None };
  Heading heading = Heading::Nose;
  // Lines at uneven gaps: each flight's next line comes 1 to this many seconds after its last
  // (0: every reportSeconds).
  int reportMaxSeconds = 0;
};

struct SessionSettings {
  std::string title;            // the first comment line
  LocalFrame frame{LatLon{}};
  int seconds = 900;            // the session's length
  int reportSeconds = 2;        // every flight reports this often
  long long recordedEpoch = 0;  // the feed time of the session's start
  int qnhHpa = 1013;
  int qnhSeconds = 10;
  double magneticVariationDeg = 0.0;  // east above 0
  Noise noise;
};

// The whole session file: comment lines (the title and one line per flight with its events), then
// "<milliseconds> <port> <datagram>" lines in time order.
std::string writeSession(const SessionSettings& settings, const std::vector<Flight>& flights);

}  // namespace rtsession
