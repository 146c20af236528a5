#pragma once
// The replay session file shared by the session maker and the replay sender.
//
// A text file, one datagram per line: "<milliseconds from the start> <UDP port> <datagram>";
// lines starting with '#' are comments. Traffic lines (RealTraffic's comma-separated format)
// carry their feed time in field 14; the sender moves those times to the moment of sending.
#include <cstdint>
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

}  // namespace rtreplay
