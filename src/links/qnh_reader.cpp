#include "links/qnh_reader.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include <gsl/narrow>

#include "core/log.h"
#include "shared_state/main_window.h"

kvo::QnhReader g_qnhReader;
std::atomic<std::int32_t> g_qnh{kvo::kStandardQnh};

namespace kvo {
namespace {

constexpr double kHpaPerInHgHundredth = 0.33865307;

// The whole float range of int32: [-2^31, 2^31).
constexpr float kInt32Low = -2147483648.0f;
constexpr float kInt32End = 2147483648.0f;

void publish(QnhReader& reader, std::int32_t qnh) {
  reader.lastQnh.store(qnh);
  g_qnh.exchange(qnh);
  g_mainWindow.qnh.store(qnh);
  std::int32_t idle = kLampIdle;
  g_mainWindow.g_qnhLamp.compare_exchange_strong(idle, kLampReceiving);
  g_mainWindow.invalidate(g_statusAreaRect);
}

}  // namespace

std::int32_t inHgHundredthsToHpa(std::int32_t value) {
  // |value| x 0.34 stays far inside int32, so the cast is exact after rounding.
  return static_cast<std::int32_t>(std::round(static_cast<double>(value) * kHpaPerInHgHundredth));
}

std::int32_t roundQnhNumber(double value) {
  // Checked before each conversion: a value outside the target's range makes the conversion
  // itself undefined, so the narrowing check after it would come too late.
  if (!(std::abs(value) <= static_cast<double>(std::numeric_limits<float>::max()))) throw gsl::narrowing_error();
  const float rounded = std::round(static_cast<float>(value));
  if (!(rounded >= kInt32Low && rounded < kInt32End)) throw gsl::narrowing_error();
  return static_cast<std::int32_t>(rounded);
}

QnhReader::QnhReader() : UdpReader("QNH Reader") {}

void QnhReader::processMessage() {
  try {
    const nlohmann::json document = nlohmann::json::parse(message);
    if (!document.is_object()) {
      throw std::runtime_error(fmt::format("JSON {} where an object was expected", document.type_name()));
    }
    const auto found = document.find("QNH");
    if (found == document.end() || found->is_null()) {
      badDatagramLines.write("no QNH", fmt::format("no QNH {}", printableForLog(message)));
      return;
    }
    std::int32_t qnh = 0;
    if (found->is_number_unsigned()) {
      qnh = gsl::narrow<std::int32_t>(found->get<std::uint64_t>());
    } else if (found->is_number_integer()) {
      qnh = gsl::narrow<std::int32_t>(found->get<std::int64_t>());
    } else if (found->is_number_float()) {
      qnh = roundQnhNumber(found->get<double>());
    } else if (found->is_string()) {
      // An optional '-' and decimal digits, read up to the first other character.
      const auto& text = found->get_ref<const std::string&>();
      if (std::from_chars(text.data(), text.data() + text.size(), qnh).ec != std::errc()) {
        badDatagramLines.write(
            "QNH string parse error",
            fmt::format("QNH string parse error: {} in {}", printableForLog(text), printableForLog(message)), logArrowLine);
        return;
      }
    } else {
      badDatagramLines.write("no QNH", fmt::format("no QNH {}", printableForLog(message)));
      return;
    }
    if (qnh > kHighestQnh) qnh = inHgHundredthsToHpa(qnh);
    if (qnh < kLowestQnh || qnh > kHighestQnh) {
      badDatagramLines.write("Strange QNH", fmt::format("? Strange QNH {} found in {}", qnh, printableForLog(message)));
      return;
    }
    // The standard value is published again every time.
    if (qnh == lastQnh.load() && qnh != kStandardQnh) return;
    publish(*this, qnh);
  } catch (const std::exception& e) {
    badDatagramLines.write("Exception", fmt::format("Exception {}, in {}", printableForLog(e.what()), printableForLog(message)));
  }
}

void QnhReader::onStopped() { logLine("QNH Reader has stopped"); }

void QnhReader::onConnected() {
  g_mainWindow.g_qnhLamp.store(kLampReceiving);
  g_mainWindow.invalidate(g_statusAreaRect);
}

void QnhReader::resetForTests() {
  UdpReader::resetForTests();
  lastQnh.store(kStandardQnh);
}

}  // namespace kvo
