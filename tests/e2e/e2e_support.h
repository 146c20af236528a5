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
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "installation.h"

namespace e2e {

using namespace std::chrono_literals;

// A network namespace of the test's own, kept alive by an open descriptor.
class NetworkSpace {
 public:
  NetworkSpace() {
    // unshare() changes the calling thread's namespace: a thread of its own makes it.
    std::thread([this] {
      if (::unshare(CLONE_NEWNET) == 0 && loopbackUp()) fd_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
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
  Installation() { layOut(folders(), AMBV_WORK_DIR); }
  Folders folders() const { return {folder_.path()}; }
  fs::path work() const { return folders().work(); }
  fs::path roaming() const { return folders().roaming(); }
  fs::path local() const { return folders().local(); }
  fs::path runtime() const { return folders().runtime(); }
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
  std::optional<nlohmann::json> state() const { return simulatorState(work()); }
  // The state once the stand-in simulator wrote one after that of `lastElapsed` (its
  // elapsedSeconds, updated here); nullopt until then.
  std::optional<nlohmann::json> newState(double& lastElapsed) const {
    auto s = state();
    if (!s || !s->contains("objects") || s->value("elapsedSeconds", -1.0) == lastElapsed) return std::nullopt;
    lastElapsed = s->value("elapsedSeconds", -1.0);
    return s;
  }
  // The objects the program created in the stand-in simulator.
  std::vector<nlohmann::json> programObjects() const { return programObjectsIn(state()); }

 private:
  coretest::TempFolder folder_;
  NetworkSpace network_;
};

// One run of the program, or of a tool built beside it, in the installation's working folder and
// network; killed at the end unless it ended.
class Program {
 public:
  // `environment`: more variables for the program ("NAME=value"), in place of the test's own.
  explicit Program(const Installation& at, const std::vector<std::string>& environment = {})
      : Program(at, AMBV_PROGRAM, {}, environment) {}
  Program(const Installation& at, const fs::path& executable, const std::vector<std::string>& args,
          const std::vector<std::string>& environment = {})
      : outputPath_(at.folder() / ("program-" + std::to_string(counter_++) + ".out")) {
    pid_ = startProcess(executable, args, programEnvironment(at.folders(), environment), at.work(), outputPath_,
                        at.network().descriptor());
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
  fs::path outputPath_;
};

// A UDP socket of the installation's network bound to the port, as another program holding it; -1
// when the port is taken already.
inline int holdPort(const Installation& at, std::uint16_t port) {
  const int fd = at.network().socket(SOCK_DGRAM);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// RealTraffic's traffic lines on UDP to the program, in the installation's network.
class TrafficSender : public UdpSender {
 public:
  explicit TrafficSender(const Installation& at) : UdpSender(at.network().socket(SOCK_DGRAM)) {}
};

inline long long nowEpoch() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Datagrams every 2 s, as RealTraffic sends them, until the feeder goes.
class Feeder {
 public:
  // The datagrams of a round `seconds` after the start, each with its port.
  using Datagrams = std::vector<std::pair<std::uint16_t, std::string>>;
  using Round = std::function<Datagrams(double seconds)>;

  Feeder(const Installation& at, Round round) : sender_(at), round_(std::move(round)) {
    thread_ = std::thread([this] {
      const auto start = std::chrono::steady_clock::now();
      for (auto next = start; running_.load(); next += 2s) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        for (const auto& [port, datagram] : round_(seconds)) sender_.send(datagram, port);
        std::unique_lock lock(mutex_);
        wake_.wait_until(lock, next + 2s, [this] { return !running_.load(); });
      }
    });
  }
  // Airborne aircraft reported along their tracks with the time of sending.
  Feeder(const Installation& at, std::vector<FeedAircraft> aircraft)
      : Feeder(at, [aircraft = std::move(aircraft)](double seconds) {
          Datagrams lines;
          for (const FeedAircraft& a : aircraft) lines.emplace_back(kTrafficPort, a.after(seconds).line(nowEpoch()));
          return lines;
        }) {}
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
  Round round_;
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

// Waits for the program's traffic reader, then sends a line from far away, out of range: the run
// sees that traffic comes and starts its main loop, which makes the airport where the user stands
// the park airport. Then waits up to the bound for `until` in the log (for nothing when empty).
// The failure, or empty.
inline std::string startTraffic(const Installation& at, const UdpSender& sender, const std::string& until = {},
                                std::chrono::milliseconds bound = 30s) {
  if (!waitUntil([&] { return contains(at.log(), "Traffic Reader connected"); }, 60s)) {
    return "no traffic reader\n" + at.log();
  }
  sender.send(FeedAircraft{4869999, "AFR1", "A320", "F-HBNA", 48.0, 2.0, 30000, 90, 450}.line(nowEpoch()));
  if (!until.empty() && !waitUntil([&] { return contains(at.log(), until); }, bound)) {
    return "no '" + until + "' in the log\n" + at.log();
  }
  return {};
}

}  // namespace e2e
