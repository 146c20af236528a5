#pragma once
// The real program seen from outside its process, as scripts/run sets it up: an installation (the
// working folder, the default simulator installation, the application-data and runtime folders),
// the program started in it, RealTraffic's lines on UDP, and what the stand-in simulator's state
// file shows. The end-to-end tests (e2e_support.h) and the load tool (tools/load) are built on it;
// nothing here depends on a test framework.
#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace e2e {

namespace fs = std::filesystem;

// The program's ports for RealTraffic's datagrams (fixed, as RealTraffic's are).
inline constexpr std::uint16_t kTrafficPort = 49005;
inline constexpr std::uint16_t kQnhPort = 49004;

// Brings up the loopback of the calling thread's network namespace: a new namespace has it down.
inline bool loopbackUp() {
  const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool up = s >= 0 && ::ioctl(s, SIOCGIFFLAGS, &request) == 0;
  if (up) {
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = ::ioctl(s, SIOCSIFFLAGS, &request) == 0;
  }
  if (s >= 0) ::close(s);
  return up;
}

// The folders of an installation under its root.
struct Folders {
  fs::path root;
  fs::path work() const { return root / "work"; }
  fs::path roaming() const { return root / "appdata" / "roaming"; }
  fs::path local() const { return root / "appdata" / "local"; }
  fs::path runtime() const { return root / "runtime"; }
};

// Lays out an installation as scripts/run does: the built working folder, and the Store edition
// of MSFS 2020 with the default AI packages, its UserCfg.opt naming their folder.
inline void layOut(const Folders& at, const fs::path& builtWork) {
  const fs::path source = AMBV_SOURCE_DIR;
  fs::copy(builtWork, at.work(), fs::copy_options::recursive);
  fs::create_directories(at.roaming());
  fs::create_directories(at.runtime());
  const fs::path cache = at.local() / "Packages" / "Microsoft.FlightSimulator_8wekyb3d8bbwe" / "LocalCache";
  fs::create_directories(cache);
  fs::copy(source / "data/sim/Packages", cache / "Packages", fs::copy_options::recursive);
  std::string userCfg = coretest::readFile(source / "data/sim/UserCfg.opt.in");
  userCfg.replace(userCfg.find("@PACKAGES@"), 10, (cache / "Packages").string());
  coretest::writeFile(cache / "UserCfg.opt", userCfg);
}

// The program's environment: the caller's, with the installation's application-data and runtime
// folders, and `extra` ("NAME=value") in place of the caller's variables of those names.
inline std::vector<std::string> programEnvironment(const Folders& at, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> env;
  const std::vector<std::string> own{"APPDATA=" + at.roaming().string(), "LOCALAPPDATA=" + at.local().string(),
                                     "XDG_RUNTIME_DIR=" + at.runtime().string()};
  auto replaced = [&](const std::string& entry) {
    for (const auto* list : {&own, &extra}) {
      for (const std::string& mine : *list) {
        if (entry.starts_with(mine.substr(0, mine.find('=') + 1))) return true;
      }
    }
    return false;
  };
  for (char** e = environ; *e != nullptr; ++e) {
    if (!replaced(*e)) env.emplace_back(*e);
  }
  env.insert(env.end(), own.begin(), own.end());
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

// Starts a program with the arguments and the environment in the folder, its standard output and
// error going to the file, in the network namespace of the descriptor (-1: the caller's). Its
// process id; -1 when it could not be started.
inline pid_t startProcess(const fs::path& program, const std::vector<std::string>& args, std::vector<std::string> env,
                          const fs::path& folder, const fs::path& output, int netns = -1) {
  std::vector<std::string> argText{program.string()};
  argText.insert(argText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argText) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  // Between fork and exec only system calls: the caller may have other threads.
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (netns >= 0 && ::setns(netns, CLONE_NEWNET) != 0) ::_exit(126);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0 || ::chdir(folder.c_str()) != 0) ::_exit(126);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}

// Datagrams to a port on the loopback of the socket's network, as RealTraffic sends them.
class UdpSender {
 public:
  // Over the socket, which it closes at the end.
  explicit UdpSender(int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) : fd_(fd) {}
  ~UdpSender() {
    if (fd_ >= 0) ::close(fd_);
  }
  UdpSender(const UdpSender&) = delete;
  UdpSender& operator=(const UdpSender&) = delete;

  void send(const std::string& datagram, std::uint16_t port = kTrafficPort) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
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

// The stand-in simulator's state file in the working folder; nullopt while it is missing or half
// written.
inline std::optional<nlohmann::json> simulatorState(const fs::path& work) {
  auto parsed = nlohmann::json::parse(coretest::readFile(work / "simulator-state.json"), nullptr, false);
  if (parsed.is_discarded()) return std::nullopt;
  return parsed;
}

// The objects of a state that the program created.
inline std::vector<nlohmann::json> programObjectsIn(const std::optional<nlohmann::json>& state) {
  std::vector<nlohmann::json> out;
  if (!state || !state->contains("objects")) return out;
  for (const auto& o : (*state)["objects"]) {
    if (o.value("createdBy", "") == "program") out.push_back(o);
  }
  return out;
}

}  // namespace e2e
