#pragma once
// The replay session file shared by the session maker and the replay sender.
//
// A text file, one datagram per line: "<milliseconds from the start> <UDP port> <datagram>";
// lines starting with '#' are comments. Traffic lines (RealTraffic's comma-separated format)
// carry their feed time in field 14; the sender moves those times to the moment of sending.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace rtreplay {

struct Datagram {
  std::int64_t offsetMs = 0;
  int port = 0;
  std::string payload;
};

inline std::vector<Datagram> readSession(std::istream& in, std::string& error) {
  std::vector<Datagram> out;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Datagram d;
    if (!(fields >> d.offsetMs >> d.port) || d.offsetMs < 0 || d.port < 1 || d.port > 65535) {
      error = "line " + std::to_string(number) + ": expected <milliseconds> <port> <datagram>";
      return {};
    }
    std::getline(fields >> std::ws, d.payload);
    if (d.payload.empty()) {
      error = "line " + std::to_string(number) + ": empty datagram";
      return {};
    }
    if (!out.empty() && d.offsetMs < out.back().offsetMs) {
      error = "line " + std::to_string(number) + ": times must not go back";
      return {};
    }
    out.push_back(std::move(d));
  }
  return out;
}

// Replaces comma-separated field `index` of the line; false when the line has fewer fields.
inline bool replaceField(std::string& line, std::size_t index, const std::string& value) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < index; ++i) {
    start = line.find(',', start);
    if (start == std::string::npos) return false;
    ++start;
  }
  const std::size_t end = line.find(',', start);
  line.replace(start, end == std::string::npos ? std::string::npos : end - start, value);
  return true;
}

inline std::string field(const std::string& line, std::size_t index) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < index; ++i) {
    start = line.find(',', start);
    if (start == std::string::npos) return {};
    ++start;
  }
  const std::size_t end = line.find(',', start);
  return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

inline constexpr std::size_t kHexIdField = 1;
inline constexpr std::size_t kTimestampField = 14;
// The fields that hold a speed or a rate: vertical rate, ground speed, indicated and true
// airspeed, turn rate, geometric vertical rate.
inline constexpr std::size_t kRateFields[] = {5, 8, 19, 20, 22, 26};

// A feed time as the traffic line carries it: whole seconds, or with hundredths where a replay at
// another speed puts lines between whole seconds. Cut to whole seconds, lines 2 s apart replayed
// 1.5 times as fast would come 1 s apart in turn, and the program drops a line not more than 1 s
// newer than the last one it took.
inline std::string feedTimeText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", seconds);
  std::string out = text;
  while (out.back() == '0') out.pop_back();
  if (out.back() == '.') out.pop_back();
  return out;
}

// Multiplies a numeric field; a field that is no number, or -1 (none), stays as it is.
inline void scaleField(std::string& line, std::size_t index, double factor) {
  const std::string text = field(line, index);
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || value == -1.0) return;
  char scaled[32];
  std::snprintf(scaled, sizeof scaled, "%.1f", value * factor);
  replaceField(line, index, scaled);
}

// A traffic line as the sender sends it in round `round` (0 first) of a replay at `speed` that
// started at `epochStart`: its feed time moved there from the session's `recordedStart`, its
// speeds and rates scaled by the speed, and from the second round on a new aircraft id.
inline std::string replayedTrafficLine(std::string line, long long recordedStart, long long epochStart, double speed,
                                       unsigned round) {
  const long long recorded = std::atoll(field(line, kTimestampField).c_str());
  const double seconds = static_cast<double>(recorded - recordedStart) / speed;
  replaceField(line, kTimestampField, feedTimeText(static_cast<double>(epochStart) + seconds));
  if (speed != 1.0) {
    for (const std::size_t index : kRateFields) scaleField(line, index, speed);
  }
  if (round > 0) {
    const unsigned long hex = std::strtoul(field(line, kHexIdField).c_str(), nullptr, 10);
    replaceField(line, kHexIdField, std::to_string(hex + round * 100000ul));
  }
  return line;
}

}  // namespace rtreplay
