#include "core/text.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>
#include <gsl/narrow>

std::string formatNumber(double value) {
  if (std::isfinite(value) && value == std::floor(value)) return fmt::format("{:.0f}", value);
  return fmt::format("{:.1f}", value);
}

int percentOf(int a, int b) {
  if (b < 1) return 0;
  const double result = std::round(static_cast<double>(a) * 100.0 / static_cast<double>(b));
  // Checked before the conversion: casting an out-of-range double to int is undefined.
  if (result < static_cast<double>(std::numeric_limits<int>::min()) ||
      result > static_cast<double>(std::numeric_limits<int>::max())) {
    throw gsl::narrowing_error{};
  }
  return static_cast<int>(result);
}

std::mt19937& threadRandomEngine() {
  thread_local std::mt19937 engine{std::random_device{}()};
  return engine;
}

double randomisePercent(double value, double percent) {
  if (!(percent > 0.0)) return value;
  std::uniform_int_distribution<int> sign(0, 1);
  const double change = value * percent / 100.0;
  return sign(threadRandomEngine()) == 1 ? value + change : value - change;
}

namespace {
constexpr std::string_view kWhiteSpace = " \t\r\n\f\v";
}

std::string_view trimView(std::string_view text) {
  const auto first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kWhiteSpace);
  return text.substr(first, last - first + 1);
}

std::string trim(std::string_view text) { return std::string(trimView(text)); }

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return lines;
}

std::vector<std::string> splitString(std::string_view text, char delimiter) {
  std::vector<std::string> parts;
  if (text.empty()) return parts;
  std::size_t start = 0;
  while (true) {
    const auto end = text.find(delimiter, start);
    if (end == std::string_view::npos) {
      parts.emplace_back(trimView(text.substr(start)));
      break;
    }
    parts.emplace_back(trimView(text.substr(start, end - start)));
    start = end + 1;
  }
  return parts;
}

std::string extractQuoted(std::string_view text) {
  const auto first = text.find('"');
  if (first == std::string_view::npos) return {};
  const auto second = text.find('"', first + 1);
  if (second == std::string_view::npos) return {};
  return std::string(text.substr(first + 1, second - first - 1));
}

namespace {
char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

std::string toUpperAscii(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), upperAscii);
  return result;
}

std::string toLowerAscii(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), lowerAscii);
  return result;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return upperAscii(x) == upperAscii(y); });
}
