#pragma once
// The whole program as a user runs it: the real ambrelvane process in a working folder of its
// own, with the default simulator installation and the stand-in simulator's default scenario
// (data/sim), its application-data and runtime folders inside the test's folder, and a UDP sender
// on loopback playing RealTraffic.
//
// The program's UDP ports are fixed (49004, 49005, as RealTraffic's), so two programs on one
// machine would take each other's ports. Each installation therefore gets a network of its own
// (a Linux network namespace with only its loopback), in which its program runs and into which
// the test's sockets are made; where the system allows no namespace (no CAP_SYS_ADMIN), everything
// shares the machine's network and the tests must run alone.
#include <arpa/inet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <numbers>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The traffic ports of the program (fixed, as RealTraffic's are).
inline constexpr std::uint16_t kTrafficPort = 49005;

// A network namespace of the test's own, kept alive by an open descriptor.
class NetworkSpace {
 public:
  NetworkSpace() {
    // unshare() changes the calling thread's namespace: a thread of its own makes it.
    std::thread([this] {
      if (::unshare(CLONE_NEWNET) != 0) return;
      const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
      ifreq request{};
      std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
      if (s >= 0 && ::ioctl(s, SIOCGIFFLAGS, &request) == 0) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
        if (::ioctl(s, SIOCSIFFLAGS, &request) == 0) fd_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
      }
      if (s >= 0) ::close(s);
    }).join();
  }
  ~NetworkSpace() {
    if (fd_ >= 0) ::close(fd_);
  }
  NetworkSpace(const NetworkSpace&) = delete;
  NetworkSpace& operator=(const NetworkSpace&) = delete;

  bool isolated() const { return fd_ >= 0; }
  int descriptor() const { return fd_; }
  // Moves the calling thread into the namespace (threads it starts afterwards are in it too).
  bool enter() const { return fd_ < 0 || ::setns(fd_, CLONE_NEWNET) == 0; }
  // A socket that lives in the namespace. Close-on-exec: a program started afterwards must not
  // inherit it (it would keep its port bound).
  int socket(int type) const {
    int made = -1;
    std::thread([&] {
      if (enter()) made = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    }).join();
    return made;
  }

 private:
  int fd_ = -1;
};

// A working folder as scripts/run lays it out, under the test's temporary folder, with its own
// network.
class Installation {
 public:
  Installation() {
    current_ = this;
    fs::copy(fs::path(AMBV_WORK_DIR), work(), fs::copy_options::recursive);
    fs::create_directories(roaming());
    fs::create_directories(runtime());
    const fs::path cache = local() / "Packages" / "Microsoft.FlightSimulator_8wekyb3d8bbwe" / "LocalCache";
    fs::create_directories(cache);
    fs::copy(fs::path(AMBV_SOURCE_DIR) / "data/sim/Packages", cache / "Packages", fs::copy_options::recursive);
    std::string userCfg = coretest::readFile(fs::path(AMBV_SOURCE_DIR) / "data/sim/UserCfg.opt.in");
    userCfg.replace(userCfg.find("@PACKAGES@"), 10, (cache / "Packages").string());
    coretest::writeFile(cache / "UserCfg.opt", userCfg);
  }
  fs::path work() const { return folder_.path() / "work"; }
  fs::path roaming() const { return folder_.path() / "appdata" / "roaming"; }
  fs::path local() const { return folder_.path() / "appdata" / "local"; }
  fs::path runtime() const { return folder_.path() / "runtime"; }
  fs::path folder() const { return folder_.path(); }

  // The stand-in's default scenario, optionally changed.
  void writeScenario(const std::function<void(nlohmann::json&)>& change = {}) const {
    std::string text = coretest::readFile(fs::path(AMBV_SOURCE_DIR) / "data/sim/simulator-scenario.json");
    // The default scenario has comments: strip whole-line ones for the JSON library.
    std::string plain;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      const auto first = line.find_first_not_of(" \t");
      if (first != std::string::npos && line.compare(first, 2, "//") == 0) continue;
      plain += line + "\n";
    }
    nlohmann::json scenario = nlohmann::json::parse(plain);
    if (change) change(scenario);
    coretest::writeFile(work() / "simulator-scenario.json.tmp", scenario.dump(2));
    fs::rename(work() / "simulator-scenario.json.tmp", work() / "simulator-scenario.json");
  }

  std::string log() const { return coretest::readFile(work() / "Log.txt"); }
  const NetworkSpace& network() const { return network_; }
  // The installation made last (tests run one at a time).
  static const Installation* current() { return current_; }
  ~Installation() {
    if (current_ == this) current_ = nullptr;
  }
  std::optional<nlohmann::json> state() const {
    const std::string text = coretest::readFile(work() / "simulator-state.json");
    auto parsed = nlohmann::json::parse(text, nullptr, false);
    if (parsed.is_discarded()) return std::nullopt;
    return parsed;
  }
  // The objects the program created in the stand-in simulator.
  int programObjects() const {
    int n = 0;
    if (auto s = state(); s && s->contains("objects")) {
      for (const auto& o : (*s)["objects"]) n += o.value("createdBy", "") == "program" ? 1 : 0;
    }
    return n;
  }

 private:
  static inline const Installation* current_ = nullptr;
  coretest::TempFolder folder_;
  NetworkSpace network_;
};

// One run of the program.
class Program {
 public:
  // `environment`: more variables for the program ("NAME=value"), in place of the test's own.
  explicit Program(const Installation& at, const std::vector<std::string>& environment = {}) {
    std::vector<std::string> env;
    auto replaced = [&](const std::string& entry) {
      return std::any_of(environment.begin(), environment.end(), [&](const std::string& mine) {
        return entry.starts_with(mine.substr(0, mine.find('=') + 1));
      });
    };
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      if (entry.starts_with("APPDATA=") || entry.starts_with("LOCALAPPDATA=") || entry.starts_with("XDG_RUNTIME_DIR=") ||
          replaced(entry))
        continue;
      env.push_back(entry);
    }
    env.push_back("APPDATA=" + at.roaming().string());
    env.push_back("LOCALAPPDATA=" + at.local().string());
    env.push_back("XDG_RUNTIME_DIR=" + at.runtime().string());
    env.insert(env.end(), environment.begin(), environment.end());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string output = (at.folder() / ("program-" + std::to_string(counter_++) + ".out")).string();
    outputPath_ = output;
    const std::string work = at.work().string();
    std::string program = AMBV_PROGRAM;
    char* argv[] = {program.data(), nullptr};
    const int netns = at.network().descriptor();
    // Between fork and exec only system calls: the test process has other threads.
    pid_ = ::fork();
    if (pid_ == 0) {
      if (netns >= 0 && ::setns(netns, CLONE_NEWNET) != 0) ::_exit(126);
      const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0 || ::chdir(work.c_str()) != 0) ::_exit(126);
      ::execve(program.c_str(), argv, envp.data());
      ::_exit(127);
    }
    started_ = pid_ > 0;
  }
  ~Program() {
    if (started_ && !exitStatus_) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool started() const { return started_; }
  pid_t pid() const { return pid_; }
  void signal(int number) const { ::kill(pid_, number); }
  // The exit code once the process ended within the bound (a signal's death as 128 + number).
  std::optional<int> waitForExit(std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!exitStatus_) {
      int status = 0;
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (std::chrono::steady_clock::now() > end) return std::nullopt;
      std::this_thread::sleep_for(20ms);
    }
    return exitStatus_;
  }
  std::string output() const { return coretest::readFile(outputPath_); }

 private:
  static inline int counter_ = 0;
  pid_t pid_ = -1;
  bool started_ = false;
  std::optional<int> exitStatus_;
  std::string outputPath_;
};

// RealTraffic's traffic lines on UDP to the program, in the installation's network (by
// default the installation made last).
class TrafficSender {
 public:
  explicit TrafficSender(const Installation& at) : fd_(at.network().socket(SOCK_DGRAM)) {}
  TrafficSender()
      : fd_(Installation::current() != nullptr ? Installation::current()->network().socket(SOCK_DGRAM)
                                              : ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
  ~TrafficSender() { ::close(fd_); }
  void send(const std::string& line, std::uint16_t port = kTrafficPort) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(fd_, line.data(), line.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }

 private:
  int fd_;
};

// One airborne aircraft of the feed in RealTraffic's line format, at the given feed time.
struct FeedAircraft {
  unsigned hexId;
  std::string callsign;
  std::string type;
  std::string registration;
  double lat;
  double lon;
  double altitudeFt;
  double trackDeg;
  double groundSpeedKt;
  std::string line(long long epochSeconds) const {
    char text[512];
    std::snprintf(text, sizeof text,
                  "RTTFC,%u,%.5f,%.5f,%.0f,0,1000,%.1f,%.0f,%s,%s,%s,EDDF,LOWS,%lld,0,0,adsb_icao,0,0,-1,0,0,-1,0,%.1f,0,0,A3",
                  hexId, lat, lon, altitudeFt, trackDeg, groundSpeedKt, callsign.c_str(), type.c_str(),
                  registration.c_str(), epochSeconds, trackDeg);
    return text;
  }
  // Where it is after flying its track for the seconds.
  FeedAircraft after(double seconds) const {
    FeedAircraft moved = *this;
    const double nm = groundSpeedKt * seconds / 3600.0;
    moved.lat += nm * std::cos(trackDeg * std::numbers::pi / 180.0) / 60.0;
    moved.lon += nm * std::sin(trackDeg * std::numbers::pi / 180.0) / 60.0 / std::cos(lat * std::numbers::pi / 180.0);
    return moved;
  }
};

inline long long nowEpoch() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Airborne aircraft reported every 2 s along their tracks with the time of sending, as RealTraffic
// does, until the feeder goes.
class Feeder {
 public:
  Feeder(const Installation& at, std::vector<FeedAircraft> aircraft) : sender_(at), aircraft_(std::move(aircraft)) {
    thread_ = std::thread([this] {
      const auto start = std::chrono::steady_clock::now();
      for (auto next = start; running_.load(); next += 2s) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        for (const FeedAircraft& a : aircraft_) sender_.send(a.after(seconds).line(nowEpoch()));
        std::unique_lock lock(mutex_);
        wake_.wait_until(lock, next + 2s, [this] { return !running_.load(); });
      }
    });
  }
  ~Feeder() {
    {
      std::lock_guard lock(mutex_);
      running_ = false;
    }
    wake_.notify_all();
    thread_.join();
  }
  Feeder(const Feeder&) = delete;
  Feeder& operator=(const Feeder&) = delete;

 private:
  TrafficSender sender_;
  std::vector<FeedAircraft> aircraft_;
  std::atomic<bool> running_{true};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
};

template <typename Pred>
bool waitUntil(Pred pred, std::chrono::milliseconds bound) {
  const auto end = std::chrono::steady_clock::now() + bound;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return pred();
    std::this_thread::sleep_for(100ms);
  }
  return true;
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline std::size_t countOf(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

}  // namespace e2e
