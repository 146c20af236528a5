// Faults a user's PC meets, each in one run of the real program against the stand-in simulator:
// the simulator quits, RealTraffic's TCP link drops, a reader's port is taken, a data file is
// damaged, the disk fills while files are saved, a flood of datagrams. Each run checks what the
// program promises for it: nothing lost, no hang, no crash, an orderly end.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include <pugixml.hpp>

#include "core/utf.h"
#include "e2e_support.h"
#include "lows_session.h"
#include "session.h"

using namespace e2e;

namespace {

constexpr std::uint16_t kRealTrafficPort = 10747;  // PORT_NUMBER's default
constexpr double kLowsLat = 47.7933;
constexpr double kLowsLon = 13.0043;

// A value of /proc/<pid>/status in kB ("VmRSS", "VmHWM"); -1 when the process is gone.
long statusKb(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(key + ":")) return std::stol(line.substr(key.size() + 1));
  }
  return -1;
}

// RealTraffic on this PC: the client of the program's TCP server. It answers the version request
// and keeps every line the program sends, with the time it came.
class RealTrafficClient {
 public:
  struct Line {
    std::chrono::steady_clock::time_point when;
    std::string text;
    int connection;
  };

  explicit RealTrafficClient(const Installation& at) : at_(at) {}
  ~RealTrafficClient() { drop(); }
  RealTrafficClient(const RealTrafficClient&) = delete;
  RealTrafficClient& operator=(const RealTrafficClient&) = delete;

  // Connects to the program's server, which listens once the simulator is connected.
  bool connect(std::chrono::milliseconds bound) {
    drop();
    int fd = -1;
    const bool connected = waitUntil(
        [&] {
          fd = at_.network().socket(SOCK_STREAM);
          sockaddr_in to{};
          to.sin_family = AF_INET;
          to.sin_port = htons(kRealTrafficPort);
          to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
          if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) return true;
          ::close(fd);
          return false;
        },
        bound);
    if (!connected) return false;
    fd_ = fd;
    const int connection = ++connections_;
    reader_ = std::thread([this, fd, connection] {
      std::string pending;
      char buffer[4096];
      for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(n));
        for (auto end = pending.find("\r\n"); end != std::string::npos; end = pending.find("\r\n")) {
          const std::string line = pending.substr(0, end);
          pending.erase(0, end + 2);
          if (line == "Qs999=version") {
            const std::string reply = R"({"version": "9.1.test", "level": 1})";
            ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
          }
          std::lock_guard lock(mutex_);
          lines_.push_back({std::chrono::steady_clock::now(), line, connection});
        }
      }
    });
    return true;
  }
  // RealTraffic goes away: its side of the connection closes.
  void drop() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int connection() const { return connections_; }
  std::vector<Line> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  // Lines of one connection that start with the text.
  std::vector<Line> linesOf(int connection, const std::string& start) const {
    std::vector<Line> out;
    for (const Line& l : lines()) {
      if (l.connection == connection && l.text.starts_with(start)) out.push_back(l);
    }
    return out;
  }

 private:
  const Installation& at_;
  int fd_ = -1;
  int connections_ = 0;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::vector<Line> lines_;
};

const fs::path kSession = fs::path(AMBV_SOURCE_DIR) / "tools/rt_replay/session-lows.rtrec";

// The callsigns of the session's aircraft that are there at its start (overflights aside).
std::set<std::string> sessionStartCallsigns() {
  std::set<std::string> callsigns;
  const auto lows = rtsession::readAirportFile(fs::path(AMBV_SOURCE_DIR) / "data/airports/archive/stock/LOWS.xml");
  for (const auto& f : rtsession::lows::flights(lows)) {
    if (f.startSecond <= 0.0 && f.kind != rtsession::Flight::Kind::Overflight) callsigns.insert(f.id.callsign);
  }
  return callsigns;
}

// Waits up to the bound until the program has created `wanted` aircraft of the callsigns; the
// ones it created.
std::set<std::string> waitForCreated(const Installation& at, const std::set<std::string>& callsigns, std::size_t wanted,
                                     std::chrono::milliseconds bound) {
  std::set<std::string> created;
  waitUntil(
      [&] {
        for (const auto& o : at.programObjects()) {
          const std::string callsign = o.value("atcId", std::string());
          if (callsigns.count(callsign) != 0) created.insert(callsign);
        }
        return created.size() >= wanted;
      },
      bound);
  return created;
}

// RealTraffic is installed on this PC: the program waits for it on TCP.
void installRealTraffic(const Installation& at) {
  fs::create_directories(at.roaming() / "InsideSystems");
  coretest::writeFile(at.roaming() / "InsideSystems" / "RealTraffic.jar", "");
}

// ---- the simulator quits ---------------------------------------------------------------------

// The simulator quits while the traffic runs: the run ends with "SIM WAS CLOSED" and the program
// quits in order; when the simulator is back, the next start connects to it.
TEST(FaultRun, TheSimulatorQuitsMidRunTheProgramEndsInOrderAndTheNextStartFindsItBack) {
  Installation at;
  at.writeScenario([](nlohmann::json& scenario) { scenario["quitAfterSeconds"] = 20; });
  {
    Program program(at);
    ASSERT_TRUE(program.started());
    // Traffic comes (from far away): the main loop runs.
    ASSERT_EQ(startTraffic(at, TrafficSender(at)), "");
    EXPECT_EQ(program.waitForExit(60s), 0) << at.log() << program.output();
    const std::string log = at.log();
    EXPECT_TRUE(contains(log, "Flight Simulator no longer connected, Ambrelvane will stop ...")) << log;
    EXPECT_TRUE(contains(log, "Exiting: SIM WAS CLOSED")) << log;
    EXPECT_FALSE(contains(log, "Prepare for a restart")) << log;
    const auto state = at.state();
    ASSERT_TRUE(state.has_value());
    EXPECT_FALSE((*state)["running"].get<bool>());
  }
  // The simulator is back (without quitting this time).
  at.writeScenario();
  Program again(at);
  ASSERT_TRUE(again.started());
  // The new log (the first run's went to Log0.txt, whole).
  ASSERT_TRUE(waitUntil(
      [&] {
        const std::string log = at.log();
        return contains(log, "Traffic Reader connected") && !contains(log, "SIM WAS CLOSED");
      },
      60s))
      << at.log();
  EXPECT_TRUE(contains(at.log(), "MSFS 2020 (11.0.282174.999) connected"));
  EXPECT_TRUE(contains(coretest::readFile(at.work() / "Log0.txt"), "Exiting: SIM WAS CLOSED"));
  again.signal(SIGTERM);
  EXPECT_EQ(again.waitForExit(30s), 0) << again.output();
  EXPECT_TRUE(contains(at.log(), "Exiting: USER CLOSED SIM"));
}

// ---- RealTraffic's link ------------------------------------------------------------------------

// RealTraffic closes its connection: the live traffic goes from the simulator and the program
// waits for RealTraffic, its main loop going on; RealTraffic connects again and the traffic comes
// back. The close says "exit" to the connected RealTraffic.
TEST(FaultRun, RealTrafficsLinkDropsTheLiveTrafficGoesAndComesBackWithTheLink) {
  Installation at;
  installRealTraffic(at);
  at.writeScenario();
  Program program(at);
  ASSERT_TRUE(program.started());
  RealTrafficClient rt(at);
  ASSERT_TRUE(rt.connect(60s)) << at.log();
  ASSERT_TRUE(waitUntil([&] { return contains(at.log(), "Traffic Reader connected"); }, 60s)) << at.log();
  EXPECT_TRUE(contains(at.log(), "RealTraffic connected"));
  const std::vector<FeedAircraft> traffic{{4870011, "DLH8XY", "A20N", "D-AINC", 47.95, 12.90, 9000, 90, 250}};
  std::optional<Feeder> feeder(std::in_place, at, traffic);
  ASSERT_TRUE(waitUntil([&] { return at.programObjects().size() == 1; }, 75s)) << at.log();
  ASSERT_FALSE(rt.linesOf(1, "Qs121=").empty());

  // RealTraffic goes, and with it its datagrams.
  feeder.reset();
  rt.drop();
  ASSERT_TRUE(waitUntil([&] { return at.programObjects().empty(); }, 20s)) << at.log();
  EXPECT_TRUE(contains(at.log(), "RealTraffic gone? Wait for RealTraffic to re-connect ...")) << at.log();

  ASSERT_TRUE(rt.connect(10s));
  ASSERT_TRUE(waitUntil([&] { return contains(at.log(), "RealTraffic re-connected"); }, 20s)) << at.log();
  ASSERT_TRUE(waitUntil([&] { return rt.linesOf(2, "Qs121=").size() >= 2; }, 10s));
  EXPECT_TRUE(rt.linesOf(2, "Qs999=").empty()) << "no second handshake";
  feeder.emplace(at, traffic);
  EXPECT_TRUE(waitUntil([&] { return at.programObjects().size() == 1; }, 75s)) << at.log();

  program.signal(SIGTERM);
  EXPECT_EQ(program.waitForExit(30s), 0) << program.output();
  EXPECT_TRUE(waitUntil([&] { return !rt.linesOf(2, "exit").empty(); }, 5s));
  EXPECT_EQ(at.programObjects().size(), 0u);
}

// ---- a reader's port -----------------------------------------------------------------------------

// Another program keeps the QNH port: every run ends with "READER ERROR" and counts down to a
// restart; the window's close during the countdown ends the program at once.
TEST(FaultRun, AQnhPortTakenForGoodRestartsTheRunAndACloseInTheCountdownQuits) {
  Installation at;
  at.writeScenario();
  const int holder = holdPort(at, kQnhPort);
  ASSERT_GE(holder, 0) << "UDP port 49004 is in use on this machine";
  Program program(at);
  ASSERT_TRUE(program.started());
  const bool counting = waitUntil([&] { return contains(at.log(), "Restarting after 15 seconds"); }, 60s);
  ASSERT_TRUE(counting) << at.log();
  program.signal(SIGTERM);
  EXPECT_EQ(program.waitForExit(10s), 0) << program.output();
  ::close(holder);
  const std::string log = at.log();
  EXPECT_TRUE(contains(log, "The QNH Reader has stopped with error: bind to stream socket failed")) << log;
  EXPECT_EQ(countOf(log, "Exiting: READER ERROR"), 1u) << log;
  EXPECT_EQ(countOf(log, "Waiting for MSFS 2020 ..."), 1u) << "no new run after the close\n" << log;
}

// ---- a damaged data file -------------------------------------------------------------------------

struct Damage {
  const char* file;       // in the working folder
  const char* how;        // "flip": one byte changed in the middle; "cut": the second half gone
  const char* logged;
};

class DamagedDataFile : public ::testing::TestWithParam<Damage> {};

// The start stops with the file's error and waits for the user; the file stays as it is (no
// repair is made up), no traffic starts, and the close ends the program.
TEST_P(DamagedDataFile, StopsTheStartWithItsErrorUntilTheUserCloses) {
  const Damage& d = GetParam();
  Installation at;
  at.writeScenario();
  const fs::path file = at.work() / d.file;
  std::string bytes = coretest::readFile(file);
  ASSERT_GT(bytes.size(), 100u);
  if (std::string(d.how) == "flip") {
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x20);
  } else {
    bytes.resize(bytes.size() / 2);
  }
  coretest::writeFile(file, bytes);

  Program program(at);
  ASSERT_TRUE(program.started());
  ASSERT_TRUE(waitUntil([&] { return contains(at.log(), d.logged); }, 30s)) << at.log();
  std::this_thread::sleep_for(1s);  // nothing more happens
  program.signal(SIGTERM);
  EXPECT_EQ(program.waitForExit(30s), 0) << program.output();
  const std::string log = at.log();
  EXPECT_TRUE(contains(log, "User closed Ambrelvane")) << log;
  EXPECT_FALSE(contains(log, "Waiting for MSFS")) << log;
  EXPECT_EQ(coretest::readFile(file), bytes);
}

INSTANTIATE_TEST_SUITE_P(
    FaultRun, DamagedDataFile,
    ::testing::Values(Damage{"input/dbase.enc", "flip", "Data file input/dbase.enc is damaged"},
                      Damage{"input/AIG-regcodes.enc", "cut", "Data file input/AIG-regcodes.enc is damaged"}),
    [](const ::testing::TestParamInfo<Damage>& info) {
      return std::string(info.param.how) + (info.index == 0 ? "Dbase" : "Regcodes");
    });

// ---- the disk fills --------------------------------------------------------------------------

// A mount namespace of the calling thread's own, left again at the end: the mounts made in it are
// seen by this thread, the threads it starts from then on and the programs it starts.
class MountSpace {
 public:
  MountSpace() {
    original_ = ::open("/proc/thread-self/ns/mnt", O_RDONLY | O_CLOEXEC);
    if (original_ < 0) return;
    if (::unshare(CLONE_NEWNS) != 0) {
      ::close(original_);
      original_ = -1;
      return;
    }
    // Nothing mounted here may reach the machine's namespace.
    private_ = ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  }
  ~MountSpace() {
    if (original_ < 0) return;
    ::setns(original_, CLONE_NEWNS);
    ::close(original_);
  }
  MountSpace(const MountSpace&) = delete;
  MountSpace& operator=(const MountSpace&) = delete;

  bool usable() const { return original_ >= 0 && private_; }

 private:
  int original_ = -1;
  bool private_ = false;
};

// Moves the folder's content onto the disk, into a folder of the name, and mounts that over it.
bool moveOnto(const fs::path& disk, const fs::path& folder, const std::string& name) {
  std::error_code ec;
  fs::copy(folder, disk / name, fs::copy_options::recursive, ec);
  return !ec && ::mount((disk / name).c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

// Fills the file system that holds the folder; true once a write found no more room.
bool fillDisk(const fs::path& folder) {
  const int fd = ::open((folder / "filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const std::string block(64 * 1024, 'x');
  bool full = false;
  for (int i = 0; i < 100000 && !full; ++i) {
    full = ::write(fd, block.data(), block.size()) < 0 && errno == ENOSPC;
  }
  // The last partial block: byte by byte up to the end of the room.
  while (full && ::write(fd, "x", 1) == 1) {
  }
  ::close(fd);
  return full;
}

// The disk holding parameters.xml and the airport files fills while the program runs; the close
// saves both and finds no room: each old file stays whole, no temporary file is left behind, the
// failures are logged and the program ends in order.
TEST(FaultRun, AFullDiskKeepsTheOldParametersAndAirportFileWhole) {
  Installation at;
  at.writeScenario();
  // LOWS's learned file with a high quality of real uses: loading it switches the soft learning
  // off, a parameter change of the airport that the close saves.
  const fs::path learned = at.work() / "airports" / "learned" / "stock" / "LOWS.xml";
  fs::create_directories(learned.parent_path());
  std::string stock = coretest::readFile(at.work() / "airports" / "archive" / "stock" / "LOWS.xml");
  const std::string qf = R"(name="Qf_real" value="0")";
  ASSERT_NE(stock.find(qf), std::string::npos);
  stock.replace(stock.find(qf), qf.size(), R"(name="Qf_real" value="60")");
  coretest::writeFile(learned, stock);

  MountSpace space;
  if (!space.usable()) GTEST_SKIP() << "this system gives the test no mount namespace (needs CAP_SYS_ADMIN)";
  const fs::path disk = at.folder() / "disk";
  fs::create_directories(disk);
  ASSERT_EQ(::mount("tmpfs", disk.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m"), 0) << std::strerror(errno);
  ASSERT_TRUE(moveOnto(disk, at.work() / "airports", "airports"));
  ASSERT_TRUE(moveOnto(disk, at.roaming(), "roaming"));

  Program program(at);
  ASSERT_TRUE(program.started());
  ASSERT_EQ(startTraffic(at, TrafficSender(at), "stands read from LOWS.xml", 60s), "");
  const fs::path parameters = at.roaming() / "Ambrelvane" / "parameters.xml";
  const std::string parametersBefore = coretest::readFile(parameters);
  const std::string learnedBefore = coretest::readFile(learned);
  ASSERT_FALSE(parametersBefore.empty());

  ASSERT_TRUE(fillDisk(disk));
  program.signal(SIGTERM);
  EXPECT_EQ(program.waitForExit(30s), 0) << program.output();
  const std::string log = at.log();
  EXPECT_TRUE(contains(log, "Saving " + parameters.string() + " failed")) << log;
  EXPECT_TRUE(contains(log, "LOWS.xml' did not succeed")) << log;
  EXPECT_EQ(coretest::readFile(parameters), parametersBefore);
  EXPECT_EQ(coretest::readFile(learned), learnedBefore);
  for (const auto& entry : fs::recursive_directory_iterator(disk)) {
    EXPECT_FALSE(entry.path().filename().string().find(".tmp") != std::string::npos) << entry.path();
  }
}

// ---- a flood of datagrams --------------------------------------------------------------------

// 100 000 datagrams a second for 10 s on the traffic port: traffic lines of many aircraft around
// the user and far away, and repeats. The program keeps its 10 ms tick (it sends the user's
// position to RealTraffic every 100 ticks), its memory stays bounded, and it closes in order.
TEST(FaultRun, ADatagramFloodKeepsTheTickAndTheMemoryBounded) {
  Installation at;
  installRealTraffic(at);
  at.writeScenario();
  // Under AddressSanitizer freed memory is held back (up to 256 MB) before it is used again,
  // which would hide what the program itself keeps.
  const char* asan = std::getenv("ASAN_OPTIONS");
  Program program(at, {std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") + ":quarantine_size_mb=4"});
  ASSERT_TRUE(program.started());
  RealTrafficClient rt(at);
  ASSERT_TRUE(rt.connect(60s)) << at.log();
  TrafficSender sender(at);
  ASSERT_EQ(startTraffic(at, sender, "The park airport is LOWS"), "");
  std::this_thread::sleep_for(2s);
  const long rssBefore = statusKb(program.pid(), "VmRSS");
  const auto logBefore = fs::file_size(at.work() / "Log.txt");

  // The lines: one in ten of an aircraft near the user (2000 of them), the others from far away or
  // repeats of the line before.
  std::vector<std::string> lines;
  const long long epoch = nowEpoch();
  for (unsigned i = 0; i < 20000; ++i) {
    const bool near = i % 10 == 0;
    // Near ones within 1 to 7 nm, inside the radius of a user on the ground.
    const double spread = 0.02 + 0.1 * ((i / 10) % 10) / 10.0;
    const double lat = near ? kLowsLat + spread * std::sin(i) : -30.0 + (i % 600) * 0.1;
    const double lon = near ? kLowsLon + 1.5 * spread * std::cos(i) : -60.0 + (i % 700) * 0.1;
    const unsigned id = 5000000 + (near ? i / 10 : i);
    lines.push_back(FeedAircraft{id, "FLD" + std::to_string(i % 9000), "B738", "N" + std::to_string(i % 90000), lat,
                                 lon, 5000.0 + (i % 30) * 1000.0, double(i % 360), 300}
                        .line(epoch + i % 10));
    if (i % 4 == 3) lines.push_back(lines.back());
  }
  // Forged lines, each otherwise a good line of an airliner near the user with an installed
  // livery: a callsign with a byte that is not UTF-8, with a NUL, with a line feed, and an
  // altitude of 1e300. Each is refused whole; unrefused, the first stopped the program when the
  // simulator wrote the object's name about 35 s later.
  auto forged = [&](unsigned id, const std::string& callsign, const std::string& altitude) {
    std::string line =
        FeedAircraft{id, "CALLSIGN", "A20N", "D-AIXX", kLowsLat + 0.03, kLowsLon + 0.02, 6000, 90, 250}.line(epoch);
    line.replace(line.find("CALLSIGN"), 8, callsign);
    line.replace(line.find(",6000,"), 6, "," + altitude + ",");
    return line;
  };
  for (const std::string& line : {forged(4871001, "DLH7\xFF", "6000"), forged(4871002, std::string("DLH\0X1", 6), "6000"),
                                  forged(4871003, "DLH\n===> parks", "6000"), forged(4871004, "DLH77X", "1e300")}) {
    sender.send(line);
  }
  const auto forgedSent = std::chrono::steady_clock::now();

  const auto floodStart = std::chrono::steady_clock::now();
  const std::size_t positionsBefore = rt.linesOf(1, "Qs121=").size();
  std::size_t sent = 0;
  long rssAtHalf = 0;
  for (int ms = 0; ms < 10000; ++ms) {
    for (int k = 0; k < 100; ++k) sender.send(lines[sent++ % lines.size()]);
    if (ms == 5000) rssAtHalf = statusKb(program.pid(), "VmRSS");
    std::this_thread::sleep_until(floodStart + std::chrono::milliseconds(ms + 1));
  }
  const auto floodEnd = std::chrono::steady_clock::now();
  const long rssAfter = statusKb(program.pid(), "VmRSS");
  const double seconds = std::chrono::duration<double>(floodEnd - floodStart).count();
  std::printf("flood: %zu datagrams in %.1f s; resident %ld kB before, %ld kB at half time, %ld kB after\n", sent,
              seconds, rssBefore, rssAtHalf, rssAfter);
  EXPECT_LT(seconds, 12.0) << "the sender fell behind";

  // The user's position went to RealTraffic once a second all along.
  std::vector<RealTrafficClient::Line> positions = rt.linesOf(1, "Qs121=");
  positions.erase(positions.begin(), positions.begin() + static_cast<std::ptrdiff_t>(positionsBefore));
  std::erase_if(positions, [&](const RealTrafficClient::Line& l) { return l.when > floodEnd; });
  EXPECT_GE(positions.size(), 8u) << "positions sent in the flood's " << seconds << " s";
  double longestGap = 0.0;
  for (std::size_t i = 1; i < positions.size(); ++i) {
    longestGap = std::max(longestGap, std::chrono::duration<double>(positions[i].when - positions[i - 1].when).count());
  }
  EXPECT_LT(longestGap, 2.5) << "seconds between two positions";
  // Bounded: the second half of the flood adds little to the first.
  EXPECT_LT(rssAfter - rssAtHalf, 32 * 1024) << "kB";
  EXPECT_LT(rssAfter - rssBefore, 64 * 1024) << "kB";
  // Well-formed lines are not logged one by one.
  EXPECT_LT(fs::file_size(at.work() / "Log.txt") - logBefore, 64u * 1024u) << at.log();

  // Past the time the forged aircraft would have been created: the program runs on, and no
  // object carries such a text or altitude.
  std::this_thread::sleep_until(forgedSent + 40s);
  EXPECT_FALSE(program.waitForExit(0ms).has_value()) << program.output();
  for (const auto& o : at.programObjects()) {
    const std::string id = o.value("atcId", std::string());
    EXPECT_TRUE(kvo::isCleanText(id) && id != "DLH" && !id.starts_with("DLH7")) << o.dump();
    EXPECT_LT(o.value("altitudeFt", 0.0), 100000.0) << o.dump();
  }

  program.signal(SIGTERM);
  EXPECT_EQ(program.waitForExit(30s), 0) << program.output();
  const std::string log = at.log();
  EXPECT_TRUE(contains(log, "Exiting: USER CLOSED SIM")) << log;
  EXPECT_TRUE(contains(log, "dropped from the aircraft holding the most")) << "the flood filled the feed\n" << log;
  EXPECT_TRUE(contains(log, "exception in processLineSub: ")) << "the forged lines are refused\n" << log;
  // Every line of the log is clean text, none forged; the learned file saved at the close (when
  // the run saved one) is well-formed and clean as well (its indentation aside).
  std::istringstream logLines(log);
  for (std::string line; std::getline(logLines, line);) {
    EXPECT_TRUE(kvo::isCleanText(line) && !line.starts_with("===> parks")) << kvo::escapeControls(line);
  }
  const fs::path learned = at.work() / "airports" / "learned" / "stock" / "LOWS.xml";
  if (fs::exists(learned)) {
    std::string text = coretest::readFile(learned);
    pugi::xml_document document;
    EXPECT_TRUE(document.load_string(text.c_str())) << text;
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
    EXPECT_TRUE(kvo::isCleanText(text) && !contains(text, "&#")) << kvo::escapeControls(text);
  }
}

// One aircraft sent 5000 times a second beside the replay of the run command's session at
// Salzburg (RealTraffic on another PC, so the program listens on every address): its lines keep
// the feed full, half of them stamped in 2099. The flood pushes out only its own records: the
// eight aircraft of the session's start that a run without the flood creates in its first
// 40 s are created while it lasts (they were none, the flood kept every aircraft out).
// The pace fills the feed many times over within its delay, yet stays below what the reader
// takes in on a loaded sanitized build: a flood past the reader's pace makes the system drop
// every sender's datagrams alike, which measures the machine, not the feed (the unpaced flood
// has its own run above).
TEST(FaultRun, OneAircraftFloodingTheFeedKeepsNoOtherAircraftOut) {
#if defined(__SANITIZE_THREAD__)
  // Under the thread checker the reader takes so few datagrams out of the flooded socket that the
  // system drops most of every sender's lines: the run would measure the checker, not the feed.
  GTEST_SKIP() << "the flood run measures the reader's pace, which the thread checker slows down";
#endif
  Installation at;
  at.writeScenario();
  Program program(at);
  ASSERT_TRUE(program.started());
  ASSERT_EQ(startTraffic(at, TrafficSender(at), "The park airport is LOWS"), "");

  std::atomic<bool> flooding{true};
  std::atomic<std::size_t> sent{0};
  std::thread flood([&] {
    const TrafficSender sender(at);
    // Lines that differ, so that the filter of repeated datagrams lets each through.
    std::vector<std::string> lines;
    for (int k = 0; k < 10; ++k) {
      lines.push_back(FeedAircraft{4870999, "FLD1", "B738", "N1FLD", kLowsLat + 0.05, kLowsLon, 8000.0 + k, 90, 250}
                          .line(k % 2 == 0 ? nowEpoch() : 4070908800));
    }
    auto next = std::chrono::steady_clock::now();
    while (flooding.load()) {
      for (const std::string& line : lines) sender.send(line);
      sent += lines.size();
      next += 2ms;
      std::this_thread::sleep_until(next);
    }
  });
  Program replay(at, AMBV_RT_REPLAY, {"--file", kSession.string(), "--quiet"});
  ASSERT_TRUE(replay.started());

  const auto start = std::chrono::steady_clock::now();
  const std::set<std::string> created = waitForCreated(at, sessionStartCallsigns(), 8, 120s);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  flooding = false;
  flood.join();
  std::printf("flood: %zu datagrams in %.0f s; %zu aircraft of the session's start created\n", sent.load(), seconds,
              created.size());
  EXPECT_EQ(created.size(), 8u) << "aircraft created while the flood lasted";

  program.signal(SIGTERM);
  EXPECT_EQ(program.waitForExit(30s), 0) << program.output();
  const std::string log = at.log();
  EXPECT_TRUE(contains(log, "Traffic feed full")) << "the flood filled the feed\n" << log;
  EXPECT_TRUE(contains(log, "ahead of the feed")) << log;
}

// ---- a PC clock set wrong ----------------------------------------------------------------------

// RealTraffic's lines stamped hours off this PC's clock (a clock that drifted, a time zone set
// wrong and the time put right by hand): the feed keeps the time of its lines, and the session's
// first aircraft are created as on a PC whose clock is right. The parameter: the hours the
// stamps lie ahead of the clock.
class FeedStampedOffTheClock : public ::testing::TestWithParam<int> {};

TEST_P(FeedStampedOffTheClock, CreatesTheSessionsAircraft) {
  const long long shift = GetParam() * 3600LL;
  Installation at;
  at.writeScenario();
  Program program(at);
  ASSERT_TRUE(program.started());
  ASSERT_TRUE(waitUntil([&] { return contains(at.log(), "Traffic Reader connected"); }, 60s)) << at.log();
  const TrafficSender sender(at);
  // RealTraffic's first line, from far away, starts the run.
  sender.send(FeedAircraft{4869999, "AFR1", "A320", "F-HBNA", 48.0, 2.0, 30000, 90, 450}.line(nowEpoch() + shift));
  ASSERT_TRUE(waitUntil([&] { return contains(at.log(), "The park airport is LOWS"); }, 30s)) << at.log();

  // The session's first minute as the replay sends it, each traffic line stamped with the time of
  // its sending moved by the shift.
  std::ifstream in(kSession, std::ios::binary);
  std::string error;
  const auto session = rtreplay::readSession(in, error);
  ASSERT_TRUE(error.empty()) << error;
  long long recordedStart = -1;
  for (const auto& d : session) {
    if (d.port == kTrafficPort) {
      recordedStart = std::atoll(rtreplay::field(d.payload, rtreplay::kTimestampField).c_str());
      break;
    }
  }
  std::atomic<bool> sending{true};
  std::thread replay([&] {
    const auto start = std::chrono::steady_clock::now();
    const long long epochStart = nowEpoch() + shift;
    for (const auto& d : session) {
      if (d.offsetMs > 60000 || !sending.load()) break;
      std::this_thread::sleep_until(start + std::chrono::milliseconds(d.offsetMs));
      sender.send(d.port == kTrafficPort ? rtreplay::replayedTrafficLine(d.payload, recordedStart, epochStart, 1.0, 0)
                                         : d.payload,
                  static_cast<std::uint16_t>(d.port));
    }
  });
  const std::set<std::string> created = waitForCreated(at, sessionStartCallsigns(), 4, 75s);
  sending = false;
  replay.join();
  EXPECT_GE(created.size(), 4u) << "aircraft of the session's start created\n" << at.log();

  program.signal(SIGTERM);
  EXPECT_EQ(program.waitForExit(30s), 0) << program.output();
  EXPECT_FALSE(contains(at.log(), "timestamp more than")) << at.log();
}

INSTANTIATE_TEST_SUITE_P(FaultRun, FeedStampedOffTheClock, ::testing::Values(6, -6),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param > 0 ? "Ahead" : "Behind") +
                                  std::to_string(std::abs(info.param)) + "Hours";
                         });

}  // namespace
