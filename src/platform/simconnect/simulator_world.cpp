// The world the stand-in simulator runs by itself: read from the scenario file of the working
// folder, stepped frame by frame (real time on its own thread, or by a test's manual clock),
// answering the program's requests and carrying out its creations, positions, events and
// removals, with a state file of all its objects rewritten every second.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "platform/replace_file.h"
#include "platform/simconnect/simulator.h"

namespace kvo::simstandin {

namespace {

using json = nlohmann::json;

constexpr double kPi = 3.14159265358979323846;
constexpr double kRadPerDeg = kPi / 180.0;
constexpr double kEarthRadiusMetres = 6371000.0;

double metresBetween(double lat1, double lon1, double lat2, double lon2) {
  const double p1 = lat1 * kRadPerDeg;
  const double p2 = lat2 * kRadPerDeg;
  const double dp = (lat2 - lat1) * kRadPerDeg;
  const double dl = (lon2 - lon1) * kRadPerDeg;
  const double a = std::sin(dp / 2) * std::sin(dp / 2) + std::cos(p1) * std::cos(p2) * std::sin(dl / 2) * std::sin(dl / 2);
  return 2.0 * kEarthRadiusMetres * std::asin(std::sqrt(std::min(1.0, a)));
}

std::int64_t parseUtc(const json& value) {
  if (value.is_number()) return value.get<std::int64_t>();
  const std::string text = value.get<std::string>();
  std::tm tm{};
  char zone = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
                  &tm.tm_sec, &zone) != 7 ||
      zone != 'Z') {
    throw std::runtime_error("utcStart must look like 2024-06-01T12:00:00Z: " + text);
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  return static_cast<std::int64_t>(timegm(&tm));
}

std::string utcText(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buffer;
}

void checkRange(double value, double low, double high, const char* what) {
  if (!(value >= low && value <= high)) {
    throw std::runtime_error(std::string(what) + " out of range: " + std::to_string(value));
  }
}

WorldObject readAircraft(const json& j, double groundAltitudeFt, const char* what) {
  if (!j.is_object()) throw std::runtime_error(std::string(what) + " must be an object");
  WorldObject o;
  o.title = j.value("title", std::string());
  o.atcId = j.value("atcId", std::string());
  o.atcModel = j.value("atcModel", std::string());
  o.lat = j.at("latitude").get<double>();
  o.lon = j.at("longitude").get<double>();
  checkRange(o.lat, -90.0, 90.0, "latitude");
  checkRange(o.lon, -180.0, 180.0, "longitude");
  o.altFt = j.value("altitudeFt", groundAltitudeFt);
  o.heading = j.value("headingDeg", 0.0) * kRadPerDeg;
  o.groundSpeedKt = j.value("groundSpeedKt", 0.0);
  checkRange(o.groundSpeedKt, 0.0, 2000.0, "groundSpeedKt");
  o.tasKt = o.groundSpeedKt;
  o.turnRateRadPerSec = j.value("turnRateDegPerSec", 0.0) * kRadPerDeg;
  o.verticalSpeedFps = j.value("verticalSpeedFpm", 0.0) / 60.0;
  o.userOnGround = j.value("onGround", o.altFt - groundAltitudeFt < 1.0);
  o.lightStates = j.value("lightStates", std::int64_t{0});
  return o;
}

std::vector<UserChange> readUserChanges(const json& user) {
  std::vector<UserChange> changes;
  if (!user.contains("changes")) return changes;
  for (const json& j : user.at("changes")) {
    if (!j.is_object() || !j.contains("afterSeconds")) throw std::runtime_error("a change needs afterSeconds");
    UserChange c;
    c.afterSeconds = j.at("afterSeconds").get<double>();
    checkRange(c.afterSeconds, 0.0, 1e9, "afterSeconds");
    if (j.contains("groundSpeedKt")) {
      c.groundSpeedKt = j.at("groundSpeedKt").get<double>();
      checkRange(*c.groundSpeedKt, 0.0, 2000.0, "groundSpeedKt");
    }
    if (j.contains("headingDeg")) c.heading = j.at("headingDeg").get<double>() * kRadPerDeg;
    if (j.contains("turnRateDegPerSec")) c.turnRateRadPerSec = j.at("turnRateDegPerSec").get<double>() * kRadPerDeg;
    if (j.contains("verticalSpeedFpm")) c.verticalSpeedFps = j.at("verticalSpeedFpm").get<double>() / 60.0;
    changes.push_back(c);
  }
  std::stable_sort(changes.begin(), changes.end(),
                   [](const UserChange& a, const UserChange& b) { return a.afterSeconds < b.afterSeconds; });
  return changes;
}

Scenario readScenario(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  const json j = json::parse(in, nullptr, true, /*ignore_comments=*/true);
  if (!j.is_object()) throw std::runtime_error("the scenario must be a JSON object");

  Scenario s;
  if (j.contains("simulator")) {
    const json& sim = j.at("simulator");
    s.identity.applicationName = sim.value("name", s.identity.applicationName);
    if (sim.contains("version")) {
      const auto v = sim.at("version").get<std::vector<DWORD>>();
      if (v.size() != 4) throw std::runtime_error("simulator.version needs four numbers");
      s.identity.versionMajor = v[0];
      s.identity.versionMinor = v[1];
      s.identity.buildMajor = v[2];
      s.identity.buildMinor = v[3];
    }
  }
  s.frameRate = j.value("frameRate", 30.0);
  checkRange(s.frameRate, 1.0, 200.0, "frameRate");
  if (j.contains("flight")) {
    s.flightRunning = j.at("flight").value("running", true);
    s.flightStartsAfter = j.at("flight").value("startsAfterSeconds", 0.0);
  }
  if (j.contains("quitAfterSeconds") && !j.at("quitAfterSeconds").is_null()) {
    s.quitAfter = j.at("quitAfterSeconds").get<double>();
  }
  if (j.contains("utcStart")) s.utcStart = parseUtc(j.at("utcStart"));
  s.groundAltitudeFt = j.value("groundAltitudeFt", 0.0);
  s.staticCgFt = j.value("staticCgFt", s.staticCgFt);
  s.staticPitchDeg = j.value("staticPitchDeg", s.staticPitchDeg);
  s.liveries = j.value("liveries", std::vector<std::string>{});
  s.stateFile = j.value("stateFile", std::string(simtest::kStateFileName));
  if (s.stateFile.empty() || std::filesystem::path(s.stateFile).has_parent_path()) {
    throw std::runtime_error("stateFile must be a plain file name");
  }

  s.user = readAircraft(j.at("userAircraft"), s.groundAltitudeFt, "userAircraft");
  s.user.user = true;
  s.userChanges = readUserChanges(j.at("userAircraft"));
  s.user.id = j.at("userAircraft").value("objectId", DWORD{1});
  if (s.user.id == 0) throw std::runtime_error("userAircraft.objectId must not be 0");
  s.firstAiObjectId = j.value("firstAiObjectId", std::max<DWORD>(1000, s.user.id + 1));
  if (s.firstAiObjectId <= s.user.id) throw std::runtime_error("firstAiObjectId must be above the user's objectId");
  if (j.contains("otherAircraft")) {
    for (const json& other : j.at("otherAircraft")) {
      s.others.push_back(readAircraft(other, s.groundAltitudeFt, "otherAircraft"));
    }
  }
  if (j.contains("failCalls")) {
    for (const auto& [function, times] : j.at("failCalls").items()) {
      if (!function.starts_with("SimConnect_") || !times.is_number_integer() || times.get<int>() < 1) {
        throw std::runtime_error("failCalls: a SimConnect function name with a count of 1 or more");
      }
      s.failCalls[function] = times.get<int>();
    }
  }
  return s;
}

std::size_t packedSizeOf(const std::vector<FieldDefinition>& fields, bool& variable) {
  std::size_t size = 0;
  variable = false;
  for (const FieldDefinition& f : fields) {
    if (f.type == kSimDataString32) {
      size += 32;
    } else if (f.type == kSimDataStringV) {
      variable = true;
    } else {
      size += 8;
    }
  }
  return size;
}

}  // namespace

// ---- values of the objects --------------------------------------------------------------------------

namespace {

bool onGround(const World& w, const WorldObject& o) {
  if (o.user) return o.userOnGround;
  return o.altFt - w.scenario.groundAltitudeFt <= o.staticCgFt + 3.0;
}

double numberOf(const World& w, const WorldObject& o, const std::string& key) {
  const std::int64_t utc = w.utcStart + static_cast<std::int64_t>(std::floor(w.elapsed));
  if (key == "PLANE LATITUDE") return o.lat;
  if (key == "PLANE LONGITUDE") return o.lon;
  if (key == "PLANE PITCH DEGREES") return o.pitch;
  if (key == "PLANE BANK DEGREES") return o.bank;
  if (key == "PLANE HEADING DEGREES TRUE") return o.heading;
  if (key == "PLANE ALTITUDE") return o.altFt;
  if (key == "PLANE ALT ABOVE GROUND") return std::max(0.0, o.altFt - w.scenario.groundAltitudeFt);
  if (key == "GROUND ALTITUDE") return w.scenario.groundAltitudeFt;
  if (key == "GROUND VELOCITY") return o.groundSpeedKt;
  if (key == "VERTICAL SPEED") return o.verticalSpeedFps;
  if (key == "AIRSPEED TRUE") return o.tasKt;
  if (key == "SIM ON GROUND") return onGround(w, o) ? 1.0 : 0.0;
  if (key == "LIGHT STATES" || key == "LIGHT ON STATES") return static_cast<double>(o.lightStates);
  if (key == "STATIC CG TO GROUND") return o.staticCgFt;
  if (key == "STATIC PITCH") return o.staticPitch;
  if (key == "ZULU TIME" || key == "ZULU DAY OF YEAR" || key == "ZULU YEAR") {
    const std::time_t t = static_cast<std::time_t>(utc);
    std::tm tm{};
    gmtime_r(&t, &tm);
    if (key == "ZULU TIME") return tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec;
    if (key == "ZULU DAY OF YEAR") return tm.tm_yday + 1.0;
    return tm.tm_year + 1900.0;
  }
  const auto found = o.variables.find(key);
  return found == o.variables.end() ? 0.0 : found->second;
}

std::string textOf(const WorldObject& o, const std::string& key) {
  if (key == "TITLE") return o.title;
  if (key == "ATC MODEL") return o.atcModel;
  if (key == "ATC ID") return o.atcId;
  return {};
}

// The numbers a program may set that are members of an object; any other lands in `variables`.
constexpr std::array<std::pair<std::string_view, double WorldObject::*>, 9> kNumberMembers{{
    {"PLANE LATITUDE", &WorldObject::lat},
    {"PLANE LONGITUDE", &WorldObject::lon},
    {"PLANE PITCH DEGREES", &WorldObject::pitch},
    {"PLANE BANK DEGREES", &WorldObject::bank},
    {"PLANE HEADING DEGREES TRUE", &WorldObject::heading},
    {"PLANE ALTITUDE", &WorldObject::altFt},
    {"VERTICAL SPEED", &WorldObject::verticalSpeedFps},
    {"AIRSPEED TRUE", &WorldObject::tasKt},
    {"GROUND VELOCITY", &WorldObject::groundSpeedKt},
}};

int numberSlotOf(const std::string& key) {
  for (std::size_t i = 0; i < kNumberMembers.size(); ++i) {
    if (kNumberMembers[i].first == key) return static_cast<int>(i);
  }
  return -1;
}

void setNumber(WorldObject& o, FieldDefinition& field, double value) {
  if (field.numberSlot == FieldDefinition::kNumberSlotUnresolved) field.numberSlot = numberSlotOf(field.key);
  if (field.numberSlot >= 0) {
    o.*kNumberMembers[static_cast<std::size_t>(field.numberSlot)].second = value;
  } else {
    o.variables[field.key] = value;
  }
}

std::vector<std::uint8_t> packObject(const World& w, const std::vector<FieldDefinition>& fields, const WorldObject& o) {
  std::vector<std::uint8_t> out;
  for (const FieldDefinition& f : fields) {
    if (f.type == kSimDataString32 || f.type == kSimDataStringV) {
      appendText(out, textOf(o, f.key), f.type);
    } else {
      appendNumber(out, simtest::SimValue(numberOf(w, o, f.key)), f.type);
    }
  }
  return out;
}

// Text as a JSON string. A simulator shows whatever bytes a client gives it a name of: a byte that
// is not UTF-8 becomes U+FFFD here instead of stopping the writer (and with it the process).
std::string jsonText(const json& value, int indent = -1) {
  return value.dump(indent, ' ', false, json::error_handler_t::replace);
}

// The state file is written every second with every object (hundreds under load): it is written
// as text directly rather than through a JSON tree.
class StateWriter {
 public:
  // A member's name: a literal of ours as it stands, a name from the program escaped.
  void key(std::string_view name) {
    separate();
    text_ += '"';
    text_ += name;
    text_ += "\": ";
    pendingValue_ = true;
  }
  void escapedKey(const std::string& name) {
    separate();
    text_ += jsonText(name);
    text_ += ": ";
    pendingValue_ = true;
  }
  void value(double v) {
    separate();
    if (!std::isfinite(v)) {
      text_ += "null";
      return;
    }
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
    const std::string_view number(buffer, static_cast<std::size_t>(end - buffer));
    text_ += number;
    if (number.find_first_of(".e") == std::string_view::npos) text_ += ".0";  // stays a real number
  }
  void value(std::uint64_t v) {
    separate();
    text_ += std::to_string(v);
  }
  void value(bool v) {
    separate();
    text_ += v ? "true" : "false";
  }
  void value(const std::string& v) {
    separate();
    text_ += jsonText(v);  // escaped as the JSON library does it
  }
  void value(const char* v) { value(std::string(v)); }
  template <typename T>
  void field(std::string_view name, const T& v) {
    key(name);
    value(v);
  }
  void open(char bracket) {
    separate();
    text_ += bracket;
    ++depth_;
    first_ = true;
  }
  void close(char bracket) {
    const bool inLine = flat_ && depth_ > 2;
    --depth_;
    if (!first_) {
      if (inLine) {
        text_ += ' ';
      } else {
        newLine();
      }
    }
    text_ += bracket;
    first_ = false;
  }
  // Each object of a list on a line of its own.
  void flat(bool on) { flat_ = on; }
  std::string take() { return std::move(text_); }

 private:
  void separate() {
    if (pendingValue_) {
      pendingValue_ = false;
      first_ = false;
      return;
    }
    if (!first_) text_ += ',';
    first_ = false;
    if (depth_ == 0) return;
    if (flat_ && depth_ > 2) {
      text_ += ' ';
    } else {
      newLine();
    }
  }
  void newLine() {
    text_ += '\n';
    text_.append(static_cast<std::size_t>(depth_) * 2, ' ');
  }

  std::string text_;
  int depth_ = 0;
  bool first_ = true;
  bool pendingValue_ = false;
  bool flat_ = false;
};

void writeObject(StateWriter& out, const World& w, const WorldObject& o) {
  out.open('{');
  out.field("id", std::uint64_t{o.id});
  out.field("title", o.title);
  out.field("atcId", o.atcId);
  if (!o.atcModel.empty()) out.field("atcModel", o.atcModel);
  out.field("latitude", o.lat);
  out.field("longitude", o.lon);
  out.field("altitudeFt", o.altFt);
  out.field("headingDeg", o.heading / kRadPerDeg);
  out.field("pitchDeg", o.pitch / kRadPerDeg);
  out.field("bankDeg", o.bank / kRadPerDeg);
  out.field("onGround", onGround(w, o));
  out.field("groundSpeedKt", o.groundSpeedKt);
  out.field("trueAirspeedKt", o.tasKt);
  out.field("verticalSpeedFps", o.verticalSpeedFps);
  if (!o.user) {
    out.field("createdBy", o.owner != 0 ? "program" : "scenario");
    out.field("createdAtSeconds", o.createdAt);
    out.field("releasedFromAi", o.releasedFromAi);
    out.key("frozen");
    out.open('{');
    out.field("latitudeLongitude", o.frozenLatLon);
    out.field("altitude", o.frozenAltitude);
    out.field("attitude", o.frozenAttitude);
    out.close('}');
    out.key("events");
    out.open('{');
    for (const auto& [name, data] : o.events) {
      out.escapedKey(name);
      out.value(std::uint64_t{data});
    }
    out.close('}');
    out.key("variables");
    out.open('{');
    for (const auto& [name, v] : o.variables) {
      out.escapedKey(name);
      out.value(v);
    }
    out.close('}');
    out.field("flightPlan", o.flightPlan);
  }
  out.close('}');
}

}  // namespace

WorldObject* Simulator::worldObjectLocked(DWORD objectId) {
  if (!world) return nullptr;
  for (WorldObject& o : world->objects) {
    if (o.id == objectId) return &o;
  }
  return nullptr;
}

// ---- life of the world --------------------------------------------------------------------------------

bool Simulator::ensureWorldLocked() {
  if (world) return true;
  const std::filesystem::path base = folder.empty() ? std::filesystem::current_path() : folder;
  const std::filesystem::path path = base / simtest::kScenarioFileName;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    scenarioError.clear();
    return false;  // no simulator is running
  }
  Scenario scenario;
  try {
    scenario = readScenario(path);
  } catch (const std::exception& e) {
    const std::string message = std::string(simtest::kScenarioFileName) + ": " + e.what();
    if (message != scenarioError) {
      scenarioError = message;
      std::fprintf(stderr, "stand-in simulator: %s\n", message.c_str());
      platformimpl::writeFileReplacing(base / simtest::kStateFileName, jsonText(json{{"error", message}}, 2) + "\n");
    }
    return false;
  }
  scenarioError.clear();

  world = std::make_unique<World>();
  World& w = *world;
  w.folder = base;
  w.scenario = std::move(scenario);
  w.utcStart = w.scenario.utcStart >= 0
                   ? w.scenario.utcStart
                   : static_cast<std::int64_t>(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()));
  w.flightRunning = w.scenario.flightRunning && w.scenario.flightStartsAfter <= 0.0;
  w.objects.push_back(w.scenario.user);
  w.objects.back().staticCgFt = w.scenario.staticCgFt;
  w.nextObjectId = w.scenario.firstAiObjectId;
  for (WorldObject other : w.scenario.others) {
    other.id = w.nextObjectId++;
    other.staticCgFt = w.scenario.staticCgFt;
    other.staticPitch = w.scenario.staticPitchDeg * kRadPerDeg;
    w.objects.push_back(std::move(other));
  }
  // The scenario's failing calls count from the world's start, once for the simulator's life.
  for (const auto& [function, times] : w.scenario.failCalls) failures[function] = times;
  writeStateLocked();
  w.nextStateAt = 1.0;

  if (clock == simtest::Clock::RealTime) {
    static std::once_flag exitHook;
    std::call_once(exitHook, [] {
      // The world's thread must be gone before the process takes its statics down.
      std::atexit([] {
        Simulator& sim = Simulator::get();
        std::unique_lock lock(sim.mutex);
        sim.stopWorld(lock);
      });
    });
    worldThread = std::jthread([this](std::stop_token stop) {
      const auto start = std::chrono::steady_clock::now();
      std::unique_lock lock(mutex);
      while (!stop.stop_requested() && world) {
        const double now = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        advanceWorldLocked(now);
        if (!world) break;
        const auto wakeAt =
            start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(world->nextFrameAt));
        worldWake.wait_until(lock, stop, wakeAt, [] { return false; });
      }
    });
  }
  return true;
}

void Simulator::stopWorld(std::unique_lock<std::mutex>& lock) {
  if (worldThread.joinable()) {
    worldThread.request_stop();
    std::jthread thread = std::move(worldThread);
    lock.unlock();
    thread.join();
    lock.lock();
  }
  world.reset();
}

void Simulator::advanceWorldLocked(double toSeconds) {
  if (!world) return;
  World& w = *world;
  const double step = 1.0 / w.scenario.frameRate;
  // A world that fell far behind (a stopped debugger, a slow machine) skips ahead, as a real
  // simulator drops frames. A manual clock runs every frame.
  if (clock == simtest::Clock::RealTime && toSeconds - w.nextFrameAt > 5.0) {
    const double skipped = std::floor((toSeconds - w.nextFrameAt - 1.0) / step) * step;
    w.nextFrameAt += skipped;
    w.nextStateAt = std::max(w.nextStateAt, std::floor(w.nextFrameAt));
  }
  while (w.nextFrameAt <= toSeconds) {
    w.elapsed = w.nextFrameAt;
    w.nextFrameAt += step;
    Connection* c = connection && !connection->dropped ? connection.get() : nullptr;

    if (!w.flightRunning && !w.quit && w.scenario.flightRunning && w.elapsed >= w.scenario.flightStartsAfter) {
      w.flightRunning = true;
      if (c) queueEventLocked("Sim", 1);
    }
    if (c && c->simStatePending) {
      c->simStatePending = false;
      queueEventLocked("Sim", w.flightRunning ? 1 : 0);
    }
    if (!w.quit && w.scenario.quitAfter >= 0.0 && w.elapsed >= w.scenario.quitAfter) {
      w.quit = true;
      w.flightRunning = false;
      if (c) {
        SimConnectRecv quit{sizeof(SimConnectRecv), 1, kSimRecvQuit};
        queueLocked(&quit, sizeof quit);
        c->quitQueued = true;
      }
    }

    if (!w.quit) {
      WorldObject& u = w.objects.front();
      const auto& changes = w.scenario.userChanges;
      for (; w.nextUserChange < changes.size() && changes[w.nextUserChange].afterSeconds <= w.elapsed;
           ++w.nextUserChange) {
        const UserChange& c = changes[w.nextUserChange];
        u.groundSpeedKt = c.groundSpeedKt.value_or(u.groundSpeedKt);
        u.tasKt = u.groundSpeedKt;
        u.heading = c.heading.value_or(u.heading);
        u.turnRateRadPerSec = c.turnRateRadPerSec.value_or(u.turnRateRadPerSec);
        u.verticalSpeedFps = c.verticalSpeedFps.value_or(u.verticalSpeedFps);
      }
      if (u.verticalSpeedFps != 0.0) {
        u.altFt = std::max(w.scenario.groundAltitudeFt, u.altFt + u.verticalSpeedFps * step);
      }
      if (u.groundSpeedKt > 0.0) {
        u.heading = std::fmod(u.heading + u.turnRateRadPerSec * step + 2.0 * kPi, 2.0 * kPi);
        const double nm = u.groundSpeedKt * step / 3600.0;
        u.lat += nm * std::cos(u.heading) / 60.0;
        u.lon += nm * std::sin(u.heading) / (60.0 * std::max(0.01, std::cos(u.lat * kRadPerDeg)));
        if (u.lon > 180.0) u.lon -= 360.0;
        if (u.lon < -180.0) u.lon += 360.0;
        u.lat = std::clamp(u.lat, -89.9, 89.9);
      }
      ++w.frames;
    }

    if (c && !w.quit && !c->quitQueued) {
      queueFrameLocked(static_cast<float>(w.scenario.frameRate));
      const WorldObject& user = w.objects.front();
      for (auto it = c->requests.begin(); it != c->requests.end();) {
        DataRequest& r = *it;
        if (r.nextDue > w.elapsed + 1e-9) {
          ++it;
          continue;
        }
        const auto definition = c->definitions.find(r.defineId);
        if (definition == c->definitions.end()) {
          queueExceptionLocked(kSimExceptionUnrecognizedId, r.packetId, 2);
          it = c->requests.erase(it);
          continue;
        }
        if (r.byType) {
          std::vector<const WorldObject*> inRange;
          for (const WorldObject& o : w.objects) {
            if (o.user || metresBetween(user.lat, user.lon, o.lat, o.lon) <= r.radiusMetres) inRange.push_back(&o);
          }
          DWORD entry = 1;
          for (const WorldObject* o : inRange) {
            queueObjectDataLocked(kSimRecvSimObjectDataByType, r.requestId, o->id, r.defineId,
                                  packObject(w, definition->second, *o), entry++, static_cast<DWORD>(inRange.size()));
          }
          it = c->requests.erase(it);
          continue;
        }
        const WorldObject* o = r.objectId == kSimUserObject ? &user : worldObjectLocked(r.objectId);
        if (o == nullptr) {
          queueExceptionLocked(kSimExceptionUnrecognizedId, r.packetId, 3);
          it = c->requests.erase(it);
          continue;
        }
        queueObjectDataLocked(kSimRecvSimObjectData, r.requestId, o->id, r.defineId, packObject(w, definition->second, *o),
                              0, 0);
        if (r.period == kSimPeriodSecond) {
          r.nextDue += 1.0;
          ++it;
        } else {
          it = c->requests.erase(it);
        }
      }
    }

    if (w.elapsed + 1e-9 >= w.nextStateAt) {
      writeStateLocked();
      w.nextStateAt += 1.0;
    }
  }
}

void Simulator::writeStateLocked() {
  if (!world) return;
  const World& w = *world;
  StateWriter out;
  out.open('{');
  out.field("simulator", w.scenario.identity.applicationName);
  out.field("running", !w.quit);
  out.field("connected", connection != nullptr && !connection->dropped);
  out.field("flightRunning", w.flightRunning);
  out.field("elapsedSeconds", w.elapsed);
  out.field("frames", w.frames);
  out.field("utc", utcText(w.utcStart + static_cast<std::int64_t>(std::floor(w.elapsed))));
  out.field("createdCount", w.created);
  out.field("failedCreations", w.failedCreations);
  out.field("removedCount", w.removed);
  out.key("userAircraft");
  writeObject(out, w, w.objects.front());
  out.key("objects");
  out.open('[');
  out.flat(true);
  for (std::size_t i = 1; i < w.objects.size(); ++i) writeObject(out, w, w.objects[i]);
  out.flat(false);
  out.close(']');
  out.close('}');
  platformimpl::writeFileReplacing(w.folder / w.scenario.stateFile, out.take() + "\n");
}

// ---- what the program's calls do ----------------------------------------------------------------------

void Simulator::worldSubscribedLocked(Connection& c, const std::string& systemEvent) {
  if (upperCase(systemEvent) == "SIM") c.simStatePending = true;
}

void Simulator::worldCreateLocked(Connection& c, const std::string& title, const std::string& tailNumber,
                                  const SimConnectInitPosition& p, DWORD packetId) {
  if (!world || world->quit) return;
  World& w = *world;
  const bool installed = std::find(w.scenario.liveries.begin(), w.scenario.liveries.end(), title) !=
                         w.scenario.liveries.end();
  if (!installed) {
    ++w.failedCreations;
    queueExceptionLocked(kSimExceptionCreateObjectFailed, packetId, 1);
    return;
  }
  WorldObject o;
  o.id = w.nextObjectId++;
  o.owner = c.id;
  o.title = title;
  o.atcId = tailNumber;
  o.lat = p.latitude;
  o.lon = p.longitude;
  o.altFt = p.altitude;
  o.pitch = p.pitch * kRadPerDeg;
  o.bank = p.bank * kRadPerDeg;
  o.heading = p.heading * kRadPerDeg;
  o.tasKt = p.airspeed;
  o.staticCgFt = w.scenario.staticCgFt;
  o.staticPitch = w.scenario.staticPitchDeg * kRadPerDeg;
  o.createdAt = w.elapsed;
  w.objects.push_back(o);
  ++w.created;
  queueAddRemoveLocked("ObjectAdded", o.id, kSimObjectTypeAircraft);
}

void Simulator::worldRemoveLocked(Connection&, DWORD objectId, DWORD packetId) {
  if (!world) return;
  World& w = *world;
  const auto it = std::find_if(w.objects.begin(), w.objects.end(), [&](const WorldObject& o) { return o.id == objectId; });
  if (it == w.objects.end()) {
    queueExceptionLocked(kSimExceptionUnrecognizedId, packetId, 1);
    return;
  }
  if (it->user) {
    queueExceptionLocked(kSimExceptionOperationInvalidForObjectType, packetId, 1);
    return;
  }
  w.objects.erase(it);
  ++w.removed;
  queueAddRemoveLocked("ObjectRemoved", objectId, kSimObjectTypeAircraft);
}

void Simulator::worldReleaseLocked(Connection&, DWORD objectId, DWORD packetId) {
  WorldObject* o = worldObjectLocked(objectId);
  if (o == nullptr) {
    queueExceptionLocked(kSimExceptionUnrecognizedId, packetId, 1);
  } else if (o->user) {
    queueExceptionLocked(kSimExceptionOperationInvalidForObjectType, packetId, 1);
  } else {
    o->releasedFromAi = true;
  }
}

void Simulator::worldFlightPlanLocked(Connection&, DWORD objectId, const std::string& path, DWORD packetId) {
  WorldObject* o = worldObjectLocked(objectId);
  if (o == nullptr || o->user) {
    queueExceptionLocked(o == nullptr ? kSimExceptionUnrecognizedId : kSimExceptionOperationInvalidForObjectType,
                         packetId, 1);
    return;
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    queueExceptionLocked(kSimExceptionLoadFlightPlanFailed, packetId, 2);
    return;
  }
  o->flightPlan = path;
}

void Simulator::worldSetDataLocked(Connection& c, DWORD defineId, DWORD objectId, const std::uint8_t* data,
                                   std::size_t size, DWORD packetId) {
  const auto definition = c.definitions.find(defineId);
  WorldObject* o = worldObjectLocked(objectId == kSimUserObject && world ? world->objects.front().id : objectId);
  if (definition == c.definitions.end() || o == nullptr) {
    queueExceptionLocked(kSimExceptionUnrecognizedId, packetId, definition == c.definitions.end() ? 1 : 2);
    return;
  }
  bool variable = false;
  const std::size_t expected = packedSizeOf(definition->second, variable);
  if (variable || size != expected) {
    queueExceptionLocked(kSimExceptionInvalidDataSize, packetId, 7);
    return;
  }
  std::size_t offset = 0;
  for (FieldDefinition& f : definition->second) {
    if (f.type == kSimDataString32) {
      const char* text = reinterpret_cast<const char*>(data + offset);
      const std::string value(text, strnlen(text, 32));
      if (f.key == "ATC ID") o->atcId = value;
      if (f.key == "TITLE") o->title = value;
      offset += 32;
      continue;
    }
    double value = 0.0;
    if (f.type == kSimDataInt64) {
      std::int64_t i = 0;
      std::memcpy(&i, data + offset, 8);
      value = static_cast<double>(i);
    } else {
      std::memcpy(&value, data + offset, 8);
    }
    setNumber(*o, f, value);
    offset += 8;
  }
}

void Simulator::worldEventLocked(Connection& c, DWORD objectId, DWORD eventId, DWORD data, DWORD packetId) {
  WorldObject* o = worldObjectLocked(objectId == kSimUserObject && world ? world->objects.front().id : objectId);
  const auto mapped = c.clientEvents.find(eventId);
  if (o == nullptr || mapped == c.clientEvents.end()) {
    queueExceptionLocked(kSimExceptionUnrecognizedId, packetId, o == nullptr ? 1 : 2);
    return;
  }
  const std::string name = upperCase(mapped->second);
  o->events[name] = data;
  if (name == "FREEZE_LATITUDE_LONGITUDE_SET") o->frozenLatLon = data != 0;
  if (name == "FREEZE_ALTITUDE_SET") o->frozenAltitude = data != 0;
  if (name == "FREEZE_ATTITUDE_SET") o->frozenAttitude = data != 0;
}

void Simulator::worldConnectionClosedLocked(const Connection& c) {
  if (!world) return;
  // The simulator takes away the AI objects of a client that goes.
  const auto before = world->objects.size();
  std::erase_if(world->objects, [&](const WorldObject& o) { return !o.user && o.owner == c.id; });
  world->removed += before - world->objects.size();
}

}  // namespace kvo::simstandin

// ---- test hooks of the by-itself mode -------------------------------------------------------------------

namespace kvo::simtest {

void runByItself(const std::filesystem::path& workingFolder, Clock clock) {
  auto& sim = simstandin::Simulator::get();
  std::unique_lock lock(sim.mutex);
  sim.stopWorld(lock);
  sim.connection.reset();
  sim.byItself = true;
  sim.folder = workingFolder;
  sim.clock = clock;
  sim.scenarioError.clear();
}

void advanceWorld(std::chrono::milliseconds duration) {
  auto& sim = simstandin::Simulator::get();
  std::lock_guard lock(sim.mutex);
  if (!sim.world || sim.clock != Clock::Manual) return;
  sim.world->manualNow += std::chrono::duration<double>(duration).count();
  sim.advanceWorldLocked(sim.world->manualNow + 1e-9);
}

}  // namespace kvo::simtest
