// The whole program under load: lays out a working folder as scripts/run does, starts the real
// program against the stand-in simulator (running by itself from its default scenario, the user
// parked at Salzburg), feeds it live traffic on UDP and reports, per phase, the program's CPU use
// (as a share of one core; the stand-in simulator runs inside the program's process and counts)
// and its peak resident memory. Not a test: run it on a release build.
//
//   ambv_load [--live N] [--static N] [--idle S] [--ramp S] [--steady S] [--folder DIR] [--keep]
//   ambv_load --soak S [--sample S] [--folder DIR] [--keep]
//
// Load run (the default): N live aircraft (300) circle the user at 1.5 to 9.5 nm (inside the
// automatic radius of a user on the ground), each reported every 2 s; --static N lays out a learned (handmade) copy of LOWS's airport file whose stands, N of
// them beside the user's, carry a use of an installed livery for the current half hour, so that
// the static parking fills them. Phases: start-up (to the traffic reader), idle (S s without
// traffic), ramp (until the aircraft are created, at most S s), steady (S s), close.
// Soak run: the replay of tools/rt_replay/session-lows.rtrec looping for S seconds; memory and
// Log.txt are sampled every --sample seconds (60).
//
// The program's UDP ports are fixed: the tool runs everything in a network of its own when the
// system allows it (root), else on the machine's loopback, whose ports must then be free.
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iostream>
#include <numbers>
#include <optional>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "installation.h"

namespace {

namespace fs = std::filesystem;
using coretest::readFile;
using e2e::Folders;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kUserLat = 47.7970224;  // stand 1 of LOWS, where the default scenario parks the user
constexpr double kUserLon = 13.0055043;
constexpr double kRad = std::numbers::pi / 180.0;

struct Options {
  int live = 300;
  int statics = 0;
  double idle = 20.0;
  double rampMax = 360.0;
  double steady = 120.0;
  double soak = 0.0;
  double sample = 60.0;
  fs::path folder;
  bool keep = false;
};

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
    auto number = [&](double& target) {
      if (next == nullptr) return false;
      char* end = nullptr;
      target = std::strtod(next, &end);
      ++i;
      return end != next && *end == '\0' && target >= 0.0;
    };
    double value = 0.0;
    if (a == "--live" && number(value)) {
      o.live = static_cast<int>(value);
    } else if (a == "--static" && number(value)) {
      o.statics = static_cast<int>(value);
    } else if (a == "--idle" && number(o.idle)) {
    } else if (a == "--ramp" && number(o.rampMax)) {
    } else if (a == "--steady" && number(o.steady)) {
    } else if (a == "--soak" && number(o.soak)) {
    } else if (a == "--sample" && number(o.sample) && o.sample >= 1.0) {
    } else if (a == "--folder" && next != nullptr) {
      o.folder = next;
      ++i;
    } else if (a == "--keep") {
      o.keep = true;
    } else {
      return false;
    }
  }
  return o.live <= 5000 && o.statics <= 2000;
}

fs::path toolFolder() { return fs::read_symlink("/proc/self/exe").parent_path(); }

// ---- the working folder ------------------------------------------------------------------------

// As scripts/run lays it out: the shipped working folder, the Store edition of MSFS 2020 with the
// default AI packages, and the stand-in simulator's default scenario.
void layOut(const Folders& at) {
  fs::create_directories(at.root);
  e2e::layOut(at, toolFolder() / "work");
  fs::copy_file(fs::path(AMBV_SOURCE_DIR) / "data/sim/simulator-scenario.json", at.work() / "simulator-scenario.json");
}

// An airline and type of an installed livery (the default scenario's list), with a registration
// prefix.
struct Fleet {
  const char* airline;
  const char* type;
  const char* registration;
};
constexpr Fleet kFleet[] = {{"DLH", "A20N", "D-AI"}, {"EZY", "A20N", "G-UZ"}, {"WZZ", "A20N", "HA-L"},
                            {"EWG", "A320", "D-AE"}, {"SWR", "A320", "HB-J"}, {"RYR", "B738", "EI-D"},
                            {"TRA", "B738", "PH-H"}, {"AUA", "E195", "OE-L"}, {"BAW", "A321", "G-EU"},
                            {"AUA", "DH8D", "OE-H"}};

// Monday 1 .. Sunday 7 and the half hour 0..47 of a UTC time.
std::pair<int, int> weekSlot(std::time_t t) {
  std::tm utc{};
  gmtime_r(&t, &utc);
  return {(utc.tm_wday + 6) % 7 + 1, utc.tm_hour * 2 + (utc.tm_min >= 30 ? 1 : 0)};
}

void addUse(pugi::xml_node stand, const Fleet& f, int n, int weekday, std::uint64_t halfHours) {
  char key[16];
  std::snprintf(key, sizeof key, "%s%03d", f.registration, n % 1000);
  pugi::xml_node use = stand.append_child("opt");
  use.append_attribute("airline") = f.airline;
  use.append_attribute("type") = f.type;
  use.append_attribute("key") = key;
  use.append_attribute("cs") = (std::string(f.airline) + std::to_string(1000 + n)).c_str();
  use.append_attribute("day") = weekday;
  char hh[16];
  std::snprintf(hh, sizeof hh, "%012llX", static_cast<unsigned long long>(halfHours));
  use.append_attribute("hh") = hh;
}

// A learned copy of LOWS's airport file (handmade, so that it stands for the stock file whole):
// the stock stands and, east of the apron, a grid of further ones, `count` of them (the user's
// stand and its neighbours left out) carrying a use for this half hour and the next six hours.
bool layOutStaticStands(const Folders& at, int count) {
  pugi::xml_document doc;
  if (!doc.load_file((at.work() / "airports/archive/stock/LOWS.xml").c_str())) return false;
  pugi::xml_node stands = doc.child("airport").child("parkpositions");
  std::vector<pugi::xml_node> all;
  for (pugi::xml_node s : stands.children("parkpos")) all.push_back(s);
  const pugi::xml_node model = all.front();
  const int usable = static_cast<int>(all.size()) - 2;  // without stands 1 and 2 (the user's)
  for (int i = 0; i < count - usable; ++i) {
    pugi::xml_node s = stands.append_copy(model);
    char id[16];
    std::snprintf(id, sizeof id, "L%d", i + 1);
    s.attribute("id") = id;
    s.attribute("lat") = 47.7990 - (i / 20) * 0.00050;    // rows 55 m apart
    s.attribute("lon") = 13.0120 + (i % 20) * 0.00070;    // 52 m apart in a row
    s.attribute("neighbours") = "";
    all.push_back(s);
  }
  const std::time_t now = std::time(nullptr);
  const auto [today, slot] = weekSlot(now);
  const int tomorrow = weekSlot(now + 86400).first;
  const int last = slot + 12;
  const std::uint64_t todayBits = ((std::uint64_t{1} << (std::min(last, 47) - slot + 1)) - 1) << slot;
  const std::uint64_t tomorrowBits = last > 47 ? (std::uint64_t{1} << (last - 47)) - 1 : 0;
  int n = 0;
  for (std::size_t i = 2; i < all.size() && n < count; ++i, ++n) {
    for (pugi::xml_node u = all[i].child("opt"); u; u = all[i].child("opt")) all[i].remove_child(u);
    const Fleet& f = kFleet[static_cast<std::size_t>(n) % std::size(kFleet)];
    addUse(all[i], f, n, today, todayBits);
    if (tomorrowBits != 0) addUse(all[i], f, n, tomorrow, tomorrowBits);
  }
  for (pugi::xml_node p : doc.child("airport").child("parameters").children("parameter")) {
    if (std::string(p.attribute("name").value()) == "num_parkpos") p.attribute("value") = all.size();
  }
  const fs::path file = at.work() / "airports/learned/stock/LOWS.xml";
  fs::create_directories(file.parent_path());
  if (!doc.save_file(file.c_str(), " ")) return false;
  // Every stand with a use is filled, not the default share of the stands.
  const fs::path parameters = at.roaming() / "Ambrelvane" / "parameters.xml";
  fs::create_directories(parameters.parent_path());
  coretest::writeFile(parameters,
            "<?xml version=\"1.0\"?>\n<parameters>\n"
            "  <parameter name=\"CUSTOM_PARKING_PERCENTAGE\" value=\"100\" />\n</parameters>\n");
  return true;
}

// ---- the network -------------------------------------------------------------------------------

// A network of the tool's own with only its loopback; false where the system refuses one.
bool ownNetwork() { return ::unshare(CLONE_NEWNET) == 0 && e2e::loopbackUp(); }

// ---- the program ---------------------------------------------------------------------------------

// The programs started, so that an interrupted tool closes them as the window's close would.
volatile sig_atomic_t g_children[2] = {0, 0};

void closeChildrenAndEnd(int signal) {
  for (const sig_atomic_t child : g_children) {
    if (child > 0) ::kill(static_cast<pid_t>(child), SIGTERM);
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

pid_t start(const fs::path& program, const std::vector<std::string>& args, const fs::path& folder,
            const fs::path& output, const Folders& at) {
  return e2e::startProcess(program, args, e2e::programEnvironment(at), folder, output);
}

// CPU seconds (user and system, all threads) and resident kB of a running process.
struct Usage {
  double cpuSeconds = 0.0;
  long residentKb = 0;
  long peakKb = 0;
};

std::optional<Usage> usageOf(pid_t pid) {
  const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(close + 2));
  std::vector<std::string> f;
  for (std::string x; fields >> x;) f.push_back(x);
  if (f.size() < 13) return std::nullopt;
  Usage u;
  const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
  u.cpuSeconds = (std::stod(f[11]) + std::stod(f[12])) / tick;  // utime, stime
  std::istringstream status(readFile("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) u.residentKb = std::stol(line.substr(6));
    if (line.starts_with("VmHWM:")) u.peakKb = std::stol(line.substr(6));
  }
  return u;
}

// What the stand-in simulator shows: the program's live and static objects (a static aircraft's
// ATC id ends with '*').
struct Objects {
  int live = 0;
  int statics = 0;
};

Objects objectsIn(const Folders& at) {
  Objects o;
  for (const auto& x : e2e::programObjectsIn(e2e::simulatorState(at.work()))) {
    (x.value("atcId", "").ends_with("*") ? o.statics : o.live) += 1;
  }
  return o;
}

// ---- the live traffic ------------------------------------------------------------------------------

// One aircraft circling the user.
struct Circler {
  unsigned hexId;
  std::string callsign;
  std::string type;
  std::string registration;
  double radiusNm;
  double startDeg;     // where on the circle at the start
  double speedKt;
  double altitudeFt;
  bool clockwise;
  double offsetSeconds;  // its reports come every 2 s from this offset on

  std::string line(double seconds, long long epoch) const {
    const double turned = speedKt * seconds / 3600.0 / radiusNm / kRad * (clockwise ? 1.0 : -1.0);
    const double bearing = startDeg + turned;
    const double lat = kUserLat + radiusNm * std::cos(bearing * kRad) / 60.0;
    const double lon = kUserLon + radiusNm * std::sin(bearing * kRad) / 60.0 / std::cos(kUserLat * kRad);
    const double track = std::fmod(bearing + (clockwise ? 90.0 : 270.0) + 360.0, 360.0);
    return e2e::FeedAircraft{hexId, callsign, type, registration, lat, lon, altitudeFt, track, speedKt}.line(epoch);
  }
};

std::vector<Circler> makeTraffic(int count) {
  std::vector<Circler> out;
  for (int i = 0; i < count; ++i) {
    const Fleet& f = kFleet[static_cast<std::size_t>(i) % std::size(kFleet)];
    char registration[16];
    std::snprintf(registration, sizeof registration, "%s%03d", f.registration, 500 + i % 500);
    const double spread = (i * 0.618034) - std::floor(i * 0.618034);  // evenly spread, not in step
    out.push_back({static_cast<unsigned>(5200000 + i), std::string(f.airline) + std::to_string(2000 + i), f.type,
                   registration, 1.5 + 8.0 * spread, std::fmod(i * 137.508, 360.0), 180.0 + 270.0 * spread,
                   3000.0 + 34000.0 * spread, i % 2 == 0, 2.0 * i / std::max(count, 1)});
  }
  return out;
}

// ---- phases --------------------------------------------------------------------------------------

struct Phase {
  std::string name;
  double seconds = 0.0;
  double cpuShare = 0.0;  // of one core
  long peakKb = 0;        // the largest resident size sampled in the phase
  Objects objects;
  std::uintmax_t logBytes = 0;
};

class Monitor {
 public:
  Monitor(pid_t pid, const Folders& at) : pid_(pid), at_(at) {}

  void begin(const std::string& name) {
    current_ = Phase{};
    current_.name = name;
    start_ = Clock::now();
    startCpu_ = usageOf(pid_).value_or(Usage{}).cpuSeconds;
  }
  // Samples the resident size; false once the program is gone.
  bool sample() {
    if (exitStatus_) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return false;
    }
    const auto u = usageOf(pid_);
    if (!u) return false;
    current_.peakKb = std::max(current_.peakKb, u->residentKb);
    last_ = *u;
    return true;
  }
  Phase end() {
    sample();
    current_.seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    current_.cpuShare = current_.seconds > 0.0 ? (last_.cpuSeconds - startCpu_) / current_.seconds : 0.0;
    current_.objects = objectsIn(at_);
    std::error_code ec;
    current_.logBytes = fs::file_size(at_.work() / "Log.txt", ec);
    phases_.push_back(current_);
    return current_;
  }
  const std::vector<Phase>& phases() const { return phases_; }
  // The program's exit status once it ended.
  std::optional<int> exitStatus() const { return exitStatus_; }
  const Usage& last() const { return last_; }

 private:
  pid_t pid_;
  const Folders& at_;
  Phase current_;
  Clock::time_point start_;
  double startCpu_ = 0.0;
  Usage last_;
  std::vector<Phase> phases_;
  std::optional<int> exitStatus_;
};

bool logHas(const Folders& at, const std::string& text) {
  return readFile(at.work() / "Log.txt").find(text) != std::string::npos;
}

void printPhases(const std::vector<Phase>& phases) {
  std::printf("\n%-10s %9s %12s %14s %6s %7s %12s\n", "phase", "seconds", "CPU (% core)", "peak RSS (MB)", "live",
              "static", "Log.txt (kB)");
  for (const Phase& p : phases) {
    std::printf("%-10s %9.1f %12.2f %14.1f %6d %7d %12.1f\n", p.name.c_str(), p.seconds, p.cpuShare * 100.0,
                p.peakKb / 1024.0, p.objects.live, p.objects.statics, p.logBytes / 1024.0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) {
    std::cerr << "usage: ambv_load [--live N] [--static N] [--idle S] [--ramp S] [--steady S] [--folder DIR] [--keep]\n"
                 "       ambv_load --soak S [--sample S] [--folder DIR] [--keep]\n";
    return 2;
  }
  const bool isolated = ownNetwork();
  if (!isolated) std::fprintf(stderr, "ambv_load: no network of its own here; UDP 49004/49005 must be free\n");

  Folders at;
  at.root = o.folder.empty() ? fs::temp_directory_path() / ("ambv-load-" + std::to_string(::getpid())) : o.folder;
  if (fs::exists(at.root)) {
    std::cerr << "ambv_load: " << at.root << " exists already\n";
    return 1;
  }
  layOut(at);
  if (o.statics > 0 && !layOutStaticStands(at, o.statics)) {
    std::cerr << "ambv_load: LOWS's airport file could not be laid out\n";
    return 1;
  }
  std::printf("working folder %s%s\n", at.root.c_str(), isolated ? " (own network)" : "");

  const pid_t program = start(toolFolder() / "ambrelvane", {}, at.work(), at.root / "program.out", at);
  g_children[0] = program;
  ::signal(SIGINT, closeChildrenAndEnd);
  ::signal(SIGTERM, closeChildrenAndEnd);
  std::printf("program %d\n", static_cast<int>(program));
  std::fflush(stdout);
  Monitor monitor(program, at);
  auto waitFor = [&](const std::string& text, std::chrono::seconds bound) {
    const auto end = Clock::now() + bound;
    while (Clock::now() < end) {
      if (!monitor.sample()) return false;
      if (logHas(at, text)) return true;
      std::this_thread::sleep_for(200ms);
    }
    return false;
  };
  auto run = [&](double seconds, const std::function<void()>& step) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    auto nextSample = Clock::now();
    while (Clock::now() < end) {
      step();
      if (Clock::now() >= nextSample) {
        if (!monitor.sample()) return false;
        nextSample += 250ms;
      }
      std::this_thread::sleep_for(5ms);
    }
    return true;
  };

  int status = 0;
  monitor.begin("start-up");
  const bool connected = waitFor("Traffic Reader connected", 120s);
  monitor.end();
  pid_t replay = -1;
  if (!connected) {
    std::fprintf(stderr, "ambv_load: the program did not reach its traffic reader; see %s\n",
                 (at.work() / "Log.txt").c_str());
    status = 1;
  } else if (o.soak > 0.0) {
    // The replay looping; a sample of memory and Log.txt every o.sample seconds.
    replay = start(toolFolder() / "ambv_rt_replay",
                   {"--loop", "--quiet", "--file", std::string(AMBV_SOURCE_DIR) + "/tools/rt_replay/session-lows.rtrec"},
                   at.work(), at.root / "replay.out", at);
    g_children[1] = replay;
    std::printf("\n%8s %12s %10s %12s %6s\n", "minute", "CPU (% core)", "RSS (MB)", "Log.txt (kB)", "live");
    monitor.begin("soak");
    const auto soakStart = Clock::now();
    double cpuBefore = monitor.last().cpuSeconds;
    for (double t = 0.0; t < o.soak && status == 0; t += o.sample) {
      const auto from = Clock::now();
      if (!run(std::min(o.sample, o.soak - t), [] {})) status = 1;
      const double seconds = std::chrono::duration<double>(Clock::now() - from).count();
      std::error_code ec;
      std::printf("%8.1f %12.2f %10.1f %12.1f %6d\n", std::chrono::duration<double>(Clock::now() - soakStart).count() / 60.0,
                  (monitor.last().cpuSeconds - cpuBefore) / seconds * 100.0, monitor.last().residentKb / 1024.0,
                  fs::file_size(at.work() / "Log.txt", ec) / 1024.0, objectsIn(at).live);
      std::fflush(stdout);
      cpuBefore = monitor.last().cpuSeconds;
    }
    monitor.end();
  } else {
    monitor.begin("idle");
    run(o.idle, [] {});
    monitor.end();

    const std::vector<Circler> traffic = makeTraffic(o.live);
    const e2e::UdpSender sender;
    const auto feedStart = Clock::now();
    std::vector<double> nextReport;
    for (const Circler& c : traffic) nextReport.push_back(c.offsetSeconds);
    auto feed = [&] {
      const double now = std::chrono::duration<double>(Clock::now() - feedStart).count();
      const long long epoch = std::time(nullptr);
      for (std::size_t i = 0; i < traffic.size(); ++i) {
        if (nextReport[i] > now) continue;
        sender.send(traffic[i].line(nextReport[i], epoch));
        nextReport[i] += 2.0;
      }
    };
    // The ramp ends once the program's objects stopped growing for 30 s after all live ones came
    // (static aircraft follow the live ones), or at its bound.
    monitor.begin("ramp");
    Objects seen;
    auto grown = Clock::now();
    const auto rampEnd = Clock::now() + std::chrono::duration<double>(o.rampMax);
    while (Clock::now() < rampEnd) {
      if (!run(1.0, feed)) break;
      const Objects now = objectsIn(at);
      if (now.live != seen.live || now.statics != seen.statics) grown = Clock::now();
      seen = now;
      if (now.live >= o.live && Clock::now() - grown > 30s) break;
    }
    monitor.end();
    monitor.begin("steady");
    run(o.steady, feed);
    monitor.end();
  }

  monitor.begin("close");
  if (monitor.exitStatus()) {
    std::fprintf(stderr, "ambv_load: the program ended before its close\n");
    status = 1;
  }
  ::kill(program, SIGTERM);
  const auto closeBound = Clock::now() + 60s;
  bool killed = false;
  while (monitor.sample()) {
    if (!killed && Clock::now() > closeBound) {
      std::fprintf(stderr, "ambv_load: the program did not end within 60 s\n");
      ::kill(program, SIGKILL);
      killed = true;
      status = 1;
    }
    std::this_thread::sleep_for(100ms);
  }
  monitor.end();
  if (replay > 0) {
    ::kill(replay, SIGTERM);
    ::waitpid(replay, nullptr, 0);
  }
  printPhases(monitor.phases());
  long peakKb = monitor.last().peakKb;
  for (const Phase& p : monitor.phases()) peakKb = std::max(peakKb, p.peakKb);
  std::printf("peak RSS of the run: %.1f MB; exit status %d\n", peakKb / 1024.0, monitor.exitStatus().value_or(-1));
  if (monitor.exitStatus().value_or(-1) != 0) status = 1;
  if (!o.keep) {
    std::error_code ec;
    fs::remove_all(at.root, ec);
  } else {
    std::printf("kept %s\n", at.root.c_str());
  }
  return status;
}
