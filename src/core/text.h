#pragma once
// Small text and number helpers shared by all subsystems.
#include <concepts>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// "" for a count of 1 (and for a negative signed count), else "s".
template <std::integral T>
constexpr std::string_view pluralSuffix(T count) {
  if constexpr (std::is_signed_v<T>) {
    if (count < 0) return "";
  }
  return count == 1 ? "" : "s";
}

// "{:.0f}" for a whole value, else "{:.1f}".
std::string formatNumber(double value);

// round(a x 100 / b); 0 when b < 1. Throws gsl::narrowing_error when the result does not fit
// an int.
int percentOf(int a, int b);

// value +/- value x percent / 100, the sign drawn from the thread's engine; value unchanged
// when percent <= 0.
double randomisePercent(double value, double percent);

// This thread's Mersenne Twister, seeded once from the system's random device.
std::mt19937& threadRandomEngine();

// The parts between delimiters, each trimmed of white space; an empty text gives no parts.
// Empty parts are kept ("a,,b" -> "a", "", "b"; "a," -> "a", "").
std::vector<std::string> splitString(std::string_view text, char delimiter);

// The lines of a text, each without its end: CR, LF and CRLF all end a line. The text after the
// last end is a line when it is not empty; an empty text gives none.
std::vector<std::string_view> splitLines(std::string_view text);

// The text between the first two double quotes; empty when there are fewer than two.
std::string extractQuoted(std::string_view text);

// White space (blank, tab, CR, LF, FF, VT) removed from both ends.
std::string_view trimView(std::string_view text);
std::string trim(std::string_view text);

// ASCII case helpers; other bytes (UTF-8 sequences) are left as they are.
std::string toUpperAscii(std::string_view text);
std::string toLowerAscii(std::string_view text);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
