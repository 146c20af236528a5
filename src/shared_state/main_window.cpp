#include "shared_state/main_window.h"

#include <fmt/format.h>

#include <algorithm>

#include "core/log.h"

kvo::MainWindow g_mainWindow;

namespace kvo {

MainWindow::MainWindow()
    : redBrush(CreateSolidBrush(kRedColour)),
      skyBlueBrush(CreateSolidBrush(kSkyBlueColour)),
      blackBrush(CreateSolidBrush(kBlackColour)),
      limeBrush(CreateSolidBrush(kLimeColour)),
      yellowBrush(CreateSolidBrush(kYellowColour)),
      blackPen(CreatePen(PS_SOLID, 1, kBlackColour)),
      whitePen(CreatePen(PS_SOLID, 1, kWhiteColour)) {
  // The parameter store keeps its list in a function-local static, so registering from here,
  // during static initialisation, does not depend on another file's globals being built.
  registerParameter(MAIN_WINDOW_X);
  registerParameter(MAIN_WINDOW_Y);
  ready.store(true, std::memory_order_release);
}

MainWindow::~MainWindow() {
  ready.store(false, std::memory_order_release);
  unregisterParameter(MAIN_WINDOW_X);
  unregisterParameter(MAIN_WINDOW_Y);
  hwnd.store(nullptr);
  paintDc = nullptr;
  // The GDI objects live as long as the process.
}

void MainWindow::invalidate(const RECT& band) const {
  // A null window handle would mean "every window" to the real call.
  if (HWND window = hwnd.load()) InvalidateRect(window, &band, TRUE);
}

void MainWindow::invalidateAll() const {
  if (HWND window = hwnd.load()) InvalidateRect(window, nullptr, TRUE);
}

void MainWindow::setMessageLocked(std::string_view text) {
  messageText.assign(text);
  messageStamp = text.empty() ? 0 : std::max(messageClock.load(), std::int32_t{1});
}

void MainWindow::showMessage(std::string_view text, bool log) {
  {
    std::lock_guard lock(messageMutex);
    if (!errorText.empty()) return;
    setMessageLocked(text);
    if (log && !text.empty()) logLineIfRunning(text);
  }
  invalidate(g_messageLineRect);
}

void MainWindow::showErrorMessage(std::string_view text) {
  {
    std::lock_guard lock(messageMutex);
    messageText.clear();
    messageStamp = 0;
    errorText.assign(text);
    logLineIfRunning(fmt::format("Error {}", text));
  }
  invalidate(g_messageLineRect);
}

void MainWindow::clearMessage() { showMessage({}, true); }

void MainWindow::clearError() {
  std::lock_guard lock(messageMutex);
  errorText.clear();
}

void MainWindow::onUserSampleMessageClock() {
  const std::int32_t clock = messageClock.fetch_add(1) + 1;
  {
    // Test and clear under one lock: a message shown in between must get its full time.
    std::lock_guard lock(messageMutex);
    if (!errorText.empty() || messageStamp < 1 || clock - messageStamp < kMessageSamples) return;
    setMessageLocked({});
  }
  invalidate(g_messageLineRect);
}

void MainWindow::storeWindowPosition(std::int32_t previousX, std::int32_t previousY) {
  auto putBack = [](IntParameter& parameter, std::int32_t previous) {
    const std::int32_t value = parameter.value();
    if (value != parameter.minimum() && value != parameter.maximum()) return;
    parameter.set(previous);  // set() clamps to the limits
    saveIntParameter(parameter);
  };
  putBack(MAIN_WINDOW_X, previousX);
  putBack(MAIN_WINDOW_Y, previousY);
}

void MainWindow::setDisplayText(std::string MainWindow::*field, std::string text, const RECT& band) {
  {
    std::lock_guard lock(messageMutex);
    std::string& target = this->*field;
    if (target == text) return;
    target = std::move(text);
  }
  invalidate(band);
}

std::string MainWindow::displayText(std::string MainWindow::*field) const {
  std::lock_guard lock(messageMutex);
  return this->*field;
}

void MainWindow::resetForNewRunWindowFields() {
  {
    std::lock_guard lock(messageMutex);
    messageText.clear();
    errorText.clear();
    messageStamp = 0;
    messageClock = 0;
    qualityFactorText.clear();
    userStandText.clear();
    parkAirportName.clear();
    parkAirportPublisher.clear();
    simulatorText.clear();
    realTrafficEdition.clear();
    userAircraftText.clear();
  }
  beforeLinkStep = true;
  g_rtLinkUp = false;
  parkFileLoaded = false;
  g_simConnected = false;
  simRunning = false;
  g_userWingSpanKnown = true;
  handmade = false;
  qnh = 0;
  wantedParkCount = 0;
  staticAverageHours = -1.0f;
  liveAverageHours = -1.0f;
  softStaticParking = false;
  standUpdateCount = 0;
  liveCount = 0;
  parkedLiveCount = 0;
  parkedStaticCount = 0;
  standCount = 0;
  g_trafficLamp = 3;
  g_qnhLamp = 3;
  invalidateAll();
}

void MainWindow::resetForTests() {
  resetForNewRunWindowFields();
  {
    std::lock_guard lock(messageMutex);
    objectIdText.clear();
  }
  MAIN_WINDOW_X.resetToDefault();
  MAIN_WINDOW_Y.resetToDefault();
  hwnd = nullptr;
  paintDc = nullptr;
  simaddonFileCount = 0;
  thirdPartyFileCount = 0;
  liveryCount = 0;
  wantedParkPercent = 0;
  minutesToNextPass = 0;
  reservedStandFound = false;
}

}  // namespace kvo
