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
        payload = rtreplay::replayedTrafficLine(std::move(payload), recordedStart, epochStart, o.speed, round);
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
