#include "app/paint.h"

#include <fmt/format.h>

#include <array>
#include <stdexcept>

#include "airports/park_stands.h"
#include "airports/addon_scan.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/text.h"
#include "core/utf.h"
#include "core/version.h"
#include "shared_state/main_window.h"
#include "traffic/static_aircraft.h"

namespace {

using kvo::kBlackColour;
using kvo::kLimeColour;
using kvo::kRedColour;
using kvo::kYellowColour;

constexpr std::string_view kHeaderNotice = "Live traffic, 30 s behind";
constexpr RECT kSimulatorLamp{397, 30, 425, 112};
constexpr RECT kRealTrafficLamp{425, 30, 453, 112};
constexpr int kLampsDividerX = 425;
constexpr int kMessageX = 3;
constexpr int kMessageY = 455;

HDC dc() { return g_mainWindow.paintDc; }

void line(int x1, int y1, int x2, int y2) {
  const std::array<POINT, 2> points{{{x1, y1}, {x2, y2}}};
  Polyline(dc(), points.data(), static_cast<int>(points.size()));
}

std::string text(std::string kvo::MainWindow::*field) { return g_mainWindow.displayText(field); }

// Lamp states: 1 receiving, 2 idle, 3 stopped.
bool readerShowing(std::int32_t lamp) { return lamp == 1 || lamp == 2; }

// ---- the captions of the options panel ----------------------------------------------------------

COLORREF black() { return kBlackColour; }
COLORREF yellowWhen(bool on) { return on ? kYellowColour : kBlackColour; }
COLORREF greyUnless(bool on) { return on ? kBlackColour : kGreyColour; }
bool controlEnabled(const ControlBinding& binding) {
  return binding.hwnd != nullptr && IsWindowEnabled(binding.hwnd) != FALSE;
}
// Red when no aircraft may come at all; yellow when this kind may not.
COLORREF maxSelectionColour(const IntComboParameter& mine) {
  if (MAX_PARK_SEL.value() == 0 && MAX_LIVE_SEL.value() == 0) return kRedColour;
  return mine.value() == 0 ? kYellowColour : kBlackColour;
}

struct Caption {
  std::string_view text;
  int x;
  const ControlBinding* rowOf;
  COLORREF (*colour)();
};

const std::array<Caption, 45>& captions() {
  static const std::array<Caption, 45> table{{
      {"Aerowinx", 672, &AEROWINX.binding, [] { return yellowWhen(AEROWINX.value()); }},
      {"Log", 672, &LOG.binding, black},
      {"Stay on top", 768, &ALWAYS_ON_TOP.binding, [] { return yellowWhen(ALWAYS_ON_TOP.value()); }},
      {"Learn Soft", 768, &LEARN_SOFT.binding, black},
      {"Nav lights", 672, &NAV_LIGHTS_WHILE_PARKED.binding, black},
      {"GUID changes", 768, &GUID_CHANGES.binding, [] { return yellowWhen(!GUID_CHANGES.value()); }},
      {"Objectids", 768, &CALLSIGN_OBJECTIDS.binding, [] { return greyUnless(g_simIs2020.load()); }},
      {"Scan for liveries", 25, &LIG_AUTOMATIC.binding, [] { return yellowWhen(SCAN_LIVERIES.value()); }},
      {"Automatic:", 237, &LIG_AUTOMATIC.binding, black},
      {"Prioritize", 470, &LIG_PRIORITIZE.binding, black},
      {"Stub", 556, &SUPPRESS_STUB.binding, black},
      {"Scan for addon airports", 25, &SCAN_AIRPORTS.binding, [] { return yellowWhen(SCAN_AIRPORTS.value()); }},
      {"Max aircraft matching depth", 5, &MATCHING_DEPTH.binding, black},
      {"Optional:", 258, &LIGHT_AIRCRAFT.binding, black},
      {"Light aircraft", 343, &LIGHT_AIRCRAFT.binding,
       [] { return greyUnless(controlEnabled(LIGHT_AIRCRAFT.binding)); }},
      {"Helicopters", 450, &HELICOPTERS.binding, [] { return greyUnless(controlEnabled(HELICOPTERS.binding)); }},
      {"FighterJets", 556, &HIGH_PERF_AIRCRAFT.binding,
       [] { return greyUnless(controlEnabled(HIGH_PERF_AIRCRAFT.binding)); }},
      {"Traffic injection", 5, &RANGE.binding, black},
      {"Radius:", 163, &RANGE.binding, black},
      {"nm, or", 270, &RANGE.binding, black},
      {"Auto range", 343, &AUTO_RANGE.binding, black},
      {"Ah:", 430, &AR_ABOVE_HEIGHT.binding, [] { return greyUnless(AUTO_RANGE.value()); }},
      {"ft", 536, &AR_ABOVE_HEIGHT.binding, [] { return greyUnless(AUTO_RANGE.value()); }},
      {"Callsigns", 5, &BLOCK_CALLSIGN.binding, black},
      {"Block:", 172, &BLOCK_CALLSIGN.binding, black},
      {"Oid:", 430, &CALLSIGN_2_OBJECTID.binding, black},
      {"Collision avoidance", 5, &COLLISION_USER_GND.binding, black},
      {"User ground", 237, &COLLISION_USER_GND.binding, black},
      {"User air", 343, &COLLISION_USER_AIR.binding, black},
      {"Live X parked", 450, &COLLISION_LIVE_PARKED_GND.binding, black},
      {"Max park (static+live):", 171, &MAX_PARK_SEL.binding, [] { return maxSelectionColour(MAX_PARK_SEL); }},
      {"Max live (park incl):", 401, &MAX_LIVE_SEL.binding, [] { return maxSelectionColour(MAX_LIVE_SEL); }},
      {"Straight push backs only", 672, &STRAIGHT_PBS_ONLY.binding,
       [] { return greyUnless(STRAIGHT_PBS_ONLY.value()); }},
      {"Destination:", 137, &DESTINATION.binding, black},
      {"Range:", 303, &AIRP_RANGE.binding, black},
      {"nm", 403, &AIRP_RANGE.binding, black},
      {"Height above gnd:", 440, &AIRP_HEIGHT.binding, black},
      {"ft", 646, &AIRP_HEIGHT.binding, black},
      {"Fake", 25, &PARK_FAKE.binding, black},
      {"Week", 91, &WEEK.binding, black},
      {"Soft", 171, &PARK_SOFT.binding, black},
      {"Target: ", 264, &parking_percentage.binding, black},
      {"%", 363, &parking_percentage.binding, black},
      {"ILO", 450, &INITIAL_LOAD_ONLY.binding, [] { return yellowWhen(INITIAL_LOAD_ONLY.value()); }},
      {"Max fit:", 506, &MAX_FIT_FL.binding, black},
  }};
  return table;
}

// Simulator state: good (lime), partial (yellow), off (red).
COLORREF simulatorColour(bool connected, bool running, bool aircraftKnown) {
  if (!connected) return kRedColour;
  return running && aircraftKnown ? kLimeColour : kYellowColour;
}

COLORREF realTrafficLampColour() {
  if (g_mainWindow.beforeLinkStep.load()) return kBlackColour;
  if (!g_mainWindow.g_rtLinkUp.load()) return kRedColour;
  return g_mainWindow.g_trafficLamp.load() == 1 ? kLimeColour : kYellowColour;
}

HBRUSH brushOf(COLORREF colour) {
  switch (colour) {
    case kLimeColour:
      return g_mainWindow.limeBrush;
    case kYellowColour:
      return g_mainWindow.yellowBrush;
    case kRedColour:
      return g_mainWindow.redBrush;
    default:
      return g_mainWindow.blackBrush;
  }
}

void fill(const RECT& rect, COLORREF colour) { FillRect(dc(), &rect, brushOf(colour)); }

// A count of the status area: "# <name>: <count>" in lime; "# <name>: ..." in the colour given
// while there is none.
void drawCount(int x, std::string_view name, std::uint64_t count, COLORREF whileNone) {
  if (count == 0) {
    drawTextUtf8(x, 91, fmt::format("# {}: ...", name), whileNone);
  } else {
    drawTextUtf8(x, 91, fmt::format("# {}: {}", name, count), kLimeColour);
  }
}

// A text that cannot be drawn fails at every repaint: its line is rate-limited (window thread
// only, the one painter).
kvo::RepeatedLogLines& paintFailureLines() {
  static kvo::RepeatedLogLines lines;
  return lines;
}

}  // namespace

void drawTextUtf8(int x, int y, std::string_view utf8, COLORREF colour) {
  try {
    const std::u16string wide = win32::utf8ToWide(utf8);
    SetTextColor(dc(), colour);
    TextOutW(dc(), x, y, wide.c_str(), static_cast<int>(wide.size()));
  } catch (const win32::Utf8ConversionException& e) {
    paintFailureLines().write("conversion exception",
                              fmt::format("{} conversion exception {}, error code: {}", kvo::printableForLog(utf8),
                                          e.what(), e.errorCode()),
                              logLineIfRunning);
  } catch (const std::overflow_error& e) {
    paintFailureLines().write("overflow", fmt::format("{} {}", kvo::printableForLog(utf8), e.what()),
                              logLineIfRunning);
  }
}

void drawCaption(int x, int y, std::string_view caption, bool enabled) {
  drawTextUtf8(x, y, caption, enabled ? kBlackColour : kGreyColour);
}

void paintSimulatorSection() {
  const bool connected = g_mainWindow.g_simConnected.load();
  const std::string aircraft = text(&kvo::MainWindow::userAircraftText);
  const COLORREF status = simulatorColour(connected, g_mainWindow.simRunning.load(), !aircraft.empty());
  fill(kSimulatorLamp, status);
  drawTextUtf8(398, 63, "Sim", kLimeColour);
  if (connected) {
    const std::string stand = text(&kvo::MainWindow::userStandText);
    const std::string simulator = text(&kvo::MainWindow::simulatorText);
    drawTextUtf8(5, 35, stand.empty() ? simulator : fmt::format("{}, user stand {}", simulator, stand), status);
    drawTextUtf8(5, 63, aircraft, g_mainWindow.g_userWingSpanKnown.load() ? status : kYellowColour);
  } else {
    drawTextUtf8(5, 35, fmt::format("MSFS 20{} mode", g_simIs2020.load() ? "20" : "24"), kLimeColour);
  }

  drawCount(5, "liveries", g_mainWindow.liveryCount.load(), kRedColour);
  drawCount(141, "simaddon", g_mainWindow.simaddonFileCount.load(), kYellowColour);
  drawCount(278, "thirdp", g_mainWindow.thirdPartyFileCount.load(), kYellowColour);

  fill(kRealTrafficLamp, realTrafficLampColour());
  drawTextUtf8(430, 63, "RT", kLimeColour);
  if (g_mainWindow.g_rtLinkUp.load()) {
    drawTextUtf8(458, 35, text(&kvo::MainWindow::realTrafficEdition), kLimeColour);
    const std::int32_t qnhLamp = g_mainWindow.g_qnhLamp.load();
    if (qnhLamp != 3) drawTextUtf8(458, 63, "Weather", qnhLamp == 1 ? kLimeColour : kYellowColour);
    const std::int32_t trafficLamp = g_mainWindow.g_trafficLamp.load();
    if (trafficLamp != 3) drawTextUtf8(458, 91, "Traffic", trafficLamp == 1 ? kLimeColour : kYellowColour);
  }
  SelectObject(dc(), g_mainWindow.blackPen);
  line(kLampsDividerX, 29, kLampsDividerX, 112);
}

void paintQnh() {
  if (!g_mainWindow.g_rtLinkUp.load() || !readerShowing(g_mainWindow.g_qnhLamp.load())) return;
  const std::int32_t qnh = g_mainWindow.qnh.load();
  if (qnh >= 1) drawTextUtf8(642, 63, fmt::format("qnh: {:4}", qnh), kLimeColour);
}

void paintOptionCaptions() {
  for (const Caption& caption : captions()) drawTextUtf8(caption.x, caption.rowOf->row, caption.text, caption.colour());
  // The captions whose text changes.
  if (const std::uint32_t copies = g_offlineLearningFileCount.load(); copies > 0) {
    drawTextUtf8(217, SCAN_AIRPORTS.binding.row,
                 fmt::format("{} airport{} in {} folder", copies, pluralSuffix(copies), g_offlineLearningFolder.string()),
                 kYellowColour);
  }
  const std::string objectId = text(&kvo::MainWindow::objectIdText);
  if (!CALLSIGN_2_OBJECTID.empty() && !objectId.empty()) {
    drawTextUtf8(561, CALLSIGN_2_OBJECTID.binding.row, objectId, kBlackColour);
  }
  const bool busy = g_staticParkingBusy.load();
  drawTextUtf8(5, MAX_PARK_SEL.binding.row, fmt::format("Airport parking{}", busy ? " active" : ""),
               busy ? kYellowColour : kBlackColour);
  const std::int32_t minutes = g_mainWindow.minutesToNextPass.load();
  if (g_parkAirportLoaded.load() && !busy && !INITIAL_LOAD_ONLY.value() && minutes >= 1 && minutes <= 19) {
    drawTextUtf8(5, AIRP_RANGE.binding.row, fmt::format("(next in {} min)", minutes), kBlackColour);
  }
}

void paintStatistics() {
  const kvo::ParkAirportView view = kvo::parkAirportView();
  if (view.label.empty()) return;
  const int y1 = g_mainWindow.statisticsRowY;
  const int y2 = y1 + 28;
  const bool loaded = g_mainWindow.parkFileLoaded.load();
  drawTextUtf8(5, y1, view.label, loaded ? kLimeColour : kYellowColour);
  if (!loaded) return;
  drawTextUtf8(85, y1,
               fmt::format(" {}, {}{}, wk={}", text(&kvo::MainWindow::parkAirportName),
                           text(&kvo::MainWindow::parkAirportPublisher), g_mainWindow.handmade.load() ? " (h)" : "",
                           view.trafficWeek),
               kLimeColour);
  if (g_mainWindow.softStaticParking.load()) drawTextUtf8(370, y1, "*S*", kLimeColour);
  drawTextUtf8(430, y1, fmt::format("qf: {}", text(&kvo::MainWindow::qualityFactorText)), kLimeColour);
  if (!view.reservedStand.empty()) {
    drawTextUtf8(571, y1, fmt::format("reserved stand: {}", view.reservedStand),
                 g_mainWindow.reservedStandFound.load() ? kLimeColour : kRedColour);
  }
  drawTextUtf8(748, y1, fmt::format("# updates: {:4}", g_mainWindow.standUpdateCount.load()), kLimeColour);
  drawTextUtf8(5, y2, fmt::format("# stands: {:3}", g_mainWindow.standCount.load()), kLimeColour);
  drawTextUtf8(111, y2, fmt::format("parked live: {:3}", g_mainWindow.parkedLiveCount.load()), kLimeColour);
  const float liveHours = g_mainWindow.liveAverageHours.load();
  if (liveHours > 0.0f) drawTextUtf8(249, y2, fmt::format("average fit: {}", formatNumber(liveHours)), kLimeColour);
  const std::int32_t wanted = g_mainWindow.wantedParkCount.load();
  if (wanted > 0) {
    drawTextUtf8(430, y2, fmt::format("parked static: {:3}", g_mainWindow.parkedStaticCount.load()), kLimeColour);
    const float staticHours = g_mainWindow.staticAverageHours.load();
    if (!WEEK.value() && staticHours > 0.0f) {
      drawTextUtf8(571, y2, fmt::format("average fit: {}", formatNumber(staticHours)), kLimeColour);
    }
  }
  drawTextUtf8(708, y2,
               wanted != 0 ? fmt::format("max park: {:3} (={} %)", wanted, g_mainWindow.wantedParkPercent.load())
                           : std::string("no max park live"),
               kLimeColour);
}

void paintMainWindow(HDC deviceContext) {
  g_mainWindow.paintDc = deviceContext;
  SelectObject(dc(), GetStockObject(DEFAULT_GUI_FONT));
  fill(g_headerRect, kBlackColour);
  fill(g_statusAreaRect, kBlackColour);
  FillRect(dc(), &g_panelRect, g_mainWindow.skyBlueBrush);
  fill(g_statisticsRect, kBlackColour);  // the message line is filled with its message below
  SelectObject(dc(), g_mainWindow.whitePen);
  for (const int y : {28, 113, 449, 392}) line(0, y, 880, y);
  SetBkMode(dc(), TRANSPARENT);

  drawTextUtf8(3, 7, fmt::format("Version {}", g_programVersion.toString()), kLimeColour);
  drawTextUtf8(390, 7, "Ambrelvane", kLimeColour);
  drawTextUtf8(632, 7, kHeaderNotice, kLimeColour);

  SelectObject(dc(), g_mainWindow.blackPen);
  for (const kvo::GridLine& grid : g_mainWindow.gridLines) line(grid.x1, grid.y1, grid.x2, grid.y2);
  line(642, 140, 642, 308);

  paintSimulatorSection();
  paintQnh();
  if (g_mainWindow.g_rtLinkUp.load() && readerShowing(g_mainWindow.g_trafficLamp.load())) {
    drawTextUtf8(642, 91, fmt::format("live: {:3}", g_mainWindow.liveCount.load()), kLimeColour);
  }
  paintOptionCaptions();
  paintStatistics();

  {
    std::lock_guard lock(g_mainWindow.messageMutex);
    if (!g_mainWindow.errorText.empty()) {
      fill(g_messageLineRect, kRedColour);
      drawTextUtf8(kMessageX, kMessageY, g_mainWindow.errorText, kYellowColour);
    } else {
      fill(g_messageLineRect, kLimeColour);
      if (!g_mainWindow.messageText.empty()) {
        drawTextUtf8(kMessageX, kMessageY, g_mainWindow.messageText, kYellowColour);
      }
    }
  }
  g_mainWindow.paintDc = nullptr;
}
