// Replays a session of RealTraffic datagrams on UDP, as RealTraffic sends them to the program:
// traffic lines to port 49005, the QNH to port 49004, each at its time in the session, with the
// traffic lines' feed times moved to the moment they are sent.
//
//   ambv_rt_replay [--file SESSION] [--host 127.0.0.1] [--loop] [--speed 1.0] [--quiet]
//
// --loop starts the session again when it ends (the aircraft get new ids each round, so that
// the program sees new flights). --speed plays the session that much faster (or slower): the
// lines come sooner, their feed times lie closer together, and the speeds and rates they report
// (ground speed, vertical rate, airspeeds, turn rate) are scaled alike, so that every aircraft
// still moves as fast as its lines say. Below 2 no two lines of an aircraft come within a second
// of each other (the program drops the later of two such lines). Sends only to an IPv4 address
// given as digits.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "session.h"

namespace {

struct Options {
  std::string file = "tools/rt_replay/session-lows.rtrec";
  std::string host = "127.0.0.1";
  bool loop = false;
  double speed = 1.0;
  bool quiet = false;
};

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string& target) {
      if (i + 1 >= argc) return false;
      target = argv[++i];
      return true;
    };
    std::string text;
    if (a == "--file") {
      if (!value(o.file)) return false;
    } else if (a == "--host") {
      if (!value(o.host)) return false;
    } else if (a == "--loop") {
      o.loop = true;
    } else if (a == "--quiet") {
      o.quiet = true;
    } else if (a == "--speed") {
      if (!value(text)) return false;
      o.speed = std::atof(text.c_str());
      if (!(o.speed > 0.0 && o.speed <= 100.0)) return false;
    } else {
      return false;
    }
  }
  return true;
}

// A feed time as the traffic line carries it: whole seconds, or with hundredths where a replay at
// another speed puts lines between whole seconds. Cut to whole seconds, lines 2 s apart replayed
// 1.5 times as fast would come 1 s apart in turn, and the program drops a line not more than 1 s
// newer than the last one it took.
std::string feedTime(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", seconds);
  std::string out = text;
  while (out.back() == '0') out.pop_back();
  if (out.back() == '.') out.pop_back();
  return out;
}

// The fields of a traffic line that hold a speed or a rate: vertical rate, ground speed,
// indicated and true airspeed, turn rate, geometric vertical rate.
constexpr std::size_t kRateFields[] = {5, 8, 19, 20, 22, 26};

// Multiplies a numeric field; a field that is no number, or -1 (none), stays as it is.
void scaleField(std::string& line, std::size_t index, double factor) {
  const std::string text = rtreplay::field(line, index);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || value == -1.0) return;
  char scaled[32];
  std::snprintf(scaled, sizeof scaled, "%.1f", value * factor);
  rtreplay::replaceField(line, index, scaled);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) {
    std::cerr << "usage: ambv_rt_replay [--file SESSION] [--host 127.0.0.1] [--loop] [--speed X] [--quiet]\n";
    return 2;
  }
  std::ifstream in(o.file, std::ios::binary);
  if (!in) {
    std::cerr << "ambv_rt_replay: cannot read " << o.file << "\n";
    return 1;
  }
  std::string error;
  const auto session = rtreplay::readSession(in, error);
  if (!error.empty() || session.empty()) {
    std::cerr << "ambv_rt_replay: " << o.file << ": " << (error.empty() ? "no datagrams" : error) << "\n";
    return 1;
  }
  sockaddr_in target{};
  target.sin_family = AF_INET;
  if (inet_pton(AF_INET, o.host.c_str(), &target.sin_addr) != 1) {
    std::cerr << "ambv_rt_replay: --host must be an IPv4 address\n";
    return 2;
  }
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) {
    std::perror("ambv_rt_replay: socket");
    return 1;
  }
  // The first traffic line's feed time is the session's start.
  long long recordedStart = -1;
  for (const auto& d : session) {
    if (d.port == 49005) {
      recordedStart = std::atoll(rtreplay::field(d.payload, rtreplay::kTimestampField).c_str());
      break;
    }
  }
  if (!o.quiet) {
    std::cout << "ambv_rt_replay: " << session.size() << " datagrams from " << o.file << " to " << o.host
              << (o.loop ? ", looping" : "") << std::endl;
  }
  for (unsigned round = 0;; ++round) {
    const auto start = std::chrono::steady_clock::now();
    const long long epochStart =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::size_t sent = 0;
    for (const auto& d : session) {
      const auto due = start + std::chrono::milliseconds(static_cast<long long>(d.offsetMs / o.speed));
      std::this_thread::sleep_until(due);
      std::string payload = d.payload;
      if (d.port == 49005 && recordedStart >= 0) {
        const long long recorded = std::atoll(rtreplay::field(payload, rtreplay::kTimestampField).c_str());
        const double seconds = static_cast<double>(recorded - recordedStart) / o.speed;
        rtreplay::replaceField(payload, rtreplay::kTimestampField, feedTime(static_cast<double>(epochStart) + seconds));
        if (o.speed != 1.0) {
          for (const std::size_t index : kRateFields) scaleField(payload, index, o.speed);
        }
        if (round > 0) {
          const unsigned long hex = std::strtoul(rtreplay::field(payload, rtreplay::kHexIdField).c_str(), nullptr, 10);
          rtreplay::replaceField(payload, rtreplay::kHexIdField, std::to_string(hex + round * 100000ul));
        }
      }
      target.sin_port = htons(static_cast<std::uint16_t>(d.port));
      if (::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&target), sizeof target) < 0) {
        std::perror("ambv_rt_replay: sendto");
      } else {
        ++sent;
      }
    }
    if (!o.quiet) std::cout << "ambv_rt_replay: round " << round + 1 << " sent " << sent << " datagrams" << std::endl;
    if (!o.loop) break;
  }
  ::close(fd);
  return 0;
}
