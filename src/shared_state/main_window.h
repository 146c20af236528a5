#pragma once
// The one main-window object: everything the window shows, filled by every subsystem, and the
// message line through which the whole program tells the user something.
//
// Access rules (any thread may write; only the window thread paints):
// - The display texts (messageText .. objectIdText) and messageStamp are guarded by
//   messageMutex. Write them with setDisplayText() (or hold the lock), read them with
//   displayText() (or hold the lock). Lock order: the SimConnect queue lock before
//   messageMutex; the log lock is taken inside it.
// - Counters, flags, lamps, qnh, the average hours, messageClock and hwnd are atomics.
// - After changing a shown value, repaint its band: g_mainWindow.invalidate(g_statusAreaRect).
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "core/parameters.h"
#include "platform/win32/win32.h"

// The bands of the client area (left, top, right, bottom).
inline constexpr RECT g_headerRect{0, 0, 880, 28};
inline constexpr RECT g_statusAreaRect{0, 28, 880, 112};
inline constexpr RECT g_panelRect{0, 112, 880, 392};
inline constexpr RECT g_statisticsRect{0, 392, 880, 448};
inline constexpr RECT g_messageLineRect{0, 448, 880, 476};

namespace kvo {

struct GridLine {
  std::int32_t x1;
  std::int32_t y1;
  std::int32_t x2;
  std::int32_t y2;
};

// Colours (COLORREF 0x00BBGGRR).
inline constexpr COLORREF kRedColour = 0x0000FF;
inline constexpr COLORREF kSkyBlueColour = 0xFFCC99;
inline constexpr COLORREF kBlackColour = 0x000000;
inline constexpr COLORREF kLimeColour = 0x32CD32;
inline constexpr COLORREF kYellowColour = 0x00FFFF;
inline constexpr COLORREF kWhiteColour = 0xFFFFFF;

// User samples a message stands before it is cleared.
inline constexpr std::int32_t kMessageSamples = 25;

struct MainWindow {
  MainWindow();
  virtual ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  IntParameter MAIN_WINDOW_X{"MAIN_WINDOW_X", 400, -30000, 30000};
  IntParameter MAIN_WINDOW_Y{"MAIN_WINDOW_Y", 20, -30000, 30000};

  // Created with the object and kept for the life of the process.
  HBRUSH redBrush;      // error background of the message line; red lamp
  HBRUSH skyBlueBrush;  // options panel
  HBRUSH blackBrush;    // header, status area, statistics; RealTraffic lamp before the link step
  HBRUSH limeBrush;     // message line; green lamp
  HBRUSH yellowBrush;   // yellow lamp
  HPEN blackPen;        // grid lines, lamp divider
  HPEN whitePen;        // band borders

  // Horizontal lines between the option rows.
  const std::array<GridLine, 7> gridLines{{{0, 140, 880, 140},
                                          {0, 168, 642, 168},
                                          {0, 196, 642, 196},
                                          {0, 224, 642, 224},
                                          {0, 252, 642, 252},
                                          {0, 280, 642, 280},
                                          {0, 308, 880, 308}}};

  mutable std::mutex messageMutex;
  HDC paintDc = nullptr;  // only inside the paint handler, on the window thread
  std::atomic<HWND> hwnd{nullptr};

  // ---- under messageMutex ----
  std::string messageText;
  std::string errorText;  // sticky: while set, the line shows it and ignores other messages
  std::string userAircraftText;
  std::string parkAirportName;
  std::string parkAirportPublisher;
  std::string qualityFactorText;
  std::string simulatorText;
  std::string realTrafficEdition;
  std::string userStandText;
  std::string objectIdText;

  // ---- atomics ----
  std::atomic<float> staticAverageHours{-1.0f};  // -1 until counted, 0 when none
  std::atomic<float> liveAverageHours{-1.0f};
  std::atomic<std::uint64_t> liveCount{0};
  std::atomic<std::uint64_t> simaddonFileCount{0};
  std::atomic<std::uint64_t> thirdPartyFileCount{0};
  std::atomic<std::uint64_t> liveryCount{0};
  std::atomic<std::uint64_t> parkedLiveCount{0};
  std::atomic<std::uint64_t> parkedStaticCount{0};
  std::atomic<std::uint64_t> standCount{0};
  const std::int32_t statisticsRowY = 399;
  std::atomic<std::int32_t> wantedParkPercent{0};
  std::atomic<std::int32_t> qnh{0};
  std::atomic<std::int32_t> wantedParkCount{0};
  std::atomic<std::int32_t> minutesToNextPass{0};
  std::atomic<std::int32_t> messageClock{0};  // user samples since the run began
  std::int32_t messageStamp = 0;              // under messageMutex; 0: no message stands
  std::atomic<std::int32_t> standUpdateCount{0};
  std::atomic<bool> handmade{false};
  std::atomic<bool> beforeLinkStep{true};
  std::atomic<bool> g_rtLinkUp{false};
  std::atomic<bool> parkFileLoaded{false};
  std::atomic<bool> g_simConnected{false};
  std::atomic<bool> simRunning{false};
  std::atomic<bool> g_userWingSpanKnown{true};
  std::atomic<bool> softStaticParking{false};
  std::atomic<bool> reservedStandFound{false};
  std::atomic<bool> ready{false};  // stored last (release); read with acquire
  std::atomic<std::int32_t> g_trafficLamp{3};  // 1 receiving, 2 idle, 3 stopped
  std::atomic<std::int32_t> g_qnhLamp{3};

  // ---- the message line ----
  // Shows the text (an empty text clears the line) and logs a non-empty one when log is set.
  // Ignored entirely while an error stands.
  void showMessage(std::string_view text, bool log);
  // Makes the text the sticky error and logs "Error {}".
  void showErrorMessage(std::string_view text);
  // Empties the line unless an error stands; logs nothing.
  void clearMessage();
  // Empties the error; callers follow it with clearMessage.
  void clearError();
  // Once per user sample: counts messageClock up and clears a message that has stood
  // kMessageSamples samples.
  void onUserSampleMessageClock();

  // A coordinate that sits on its limit gets the previous value back (clamped) and is saved.
  void storeWindowPosition(std::int32_t previousX, std::int32_t previousY);

  // Display texts under messageMutex; setDisplayText repaints the band when the text changed.
  void setDisplayText(std::string MainWindow::*field, std::string text, const RECT& band);
  std::string displayText(std::string MainWindow::*field) const;

  // Repaints a band (erase on); nothing while the window does not exist.
  void invalidate(const RECT& band) const;
  void invalidateAll() const;

  // The run-scoped fields back to their start values before a new run.
  void resetForNewRunWindowFields();
  // Every field back to its start value (the GDI objects kept; hwnd cleared); for tests.
  void resetForTests();

 private:
  void setMessageLocked(std::string_view text);
};

}  // namespace kvo

// Built during static initialisation; `ready` says when.
extern kvo::MainWindow g_mainWindow;
