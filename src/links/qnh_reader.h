#pragma once
// The QNH Reader: RealTraffic's sea-level pressure at the user's position, a small JSON object
// ({"QNH": ...}) per datagram on UDP port 49004, checked and published to the traffic engine
// (g_qnh) and the main window.
#include <atomic>
#include <cstdint>

#include "links/udp_reader.h"

namespace kvo {

inline constexpr std::int32_t kStandardQnh = 1013;  // hPa
inline constexpr std::int32_t kLowestQnh = 930;     // hPa; lower values are not believed
inline constexpr std::int32_t kHighestQnh = 1080;   // hPa; above it a value is hundredths of inHg

class QnhReader final : public UdpReader {
 public:
  QnhReader();

  // Parses the datagram, converts the value to hPa, checks it and publishes a change; logs
  // what it rejects and never throws.
  void processMessage() override;
  // "QNH Reader has stopped"; the lamp stays as it is.
  void onStopped() override;
  // QNH lamp 1.
  void onConnected() override;
  void resetForTests() override;

  // The last published QNH (hPa); 1013 after the reader reset. Written by the reader thread and
  // by the reset on the worker.
  std::atomic<std::int32_t> lastQnh{kStandardQnh};
};

// hPa from a QNH datagram value of hundredths of an inch of mercury, rounded (2992 -> 1013).
std::int32_t inHgHundredthsToHpa(std::int32_t value);

// A JSON floating-point QNH as the reader takes it: converted to single precision, rounded
// half away from zero; throws gsl::narrowing_error when the result is no int32.
std::int32_t roundQnhNumber(double value);

}  // namespace kvo

extern kvo::QnhReader g_qnhReader;
// The last accepted QNH in hPa for the traffic engine's corrections; 1013 until the first one
// (and again after the traffic reset).
extern std::atomic<std::int32_t> g_qnh;
