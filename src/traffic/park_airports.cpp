#include "traffic/park_airports.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <set>
#include <system_error>
#include <vector>

#include "aircraft/cfg_text.h"
#include "airports/airport_folders.h"
#include "airports/airport_list.h"
#include "airports/park_stands.h"
// The message line and the controls of the main window belong to the application shell above
// this library.
#include "shared_state/main_window.h"
#include "core/files.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/text.h"
#include "core/timeutil.h"
#include "core/utf.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "links/traffic_reader.h"
#include "traffic/static_aircraft.h"
#include "traffic/stand_search.h"
#include "traffic/park_airport_file.h"

namespace fs = std::filesystem;
using kvo::LatLon;
using kvo::ParkAirportEntry;

std::string g_parkAirport;
std::string g_parkAirportIata;
double g_parkAirportElevation = 0.0;
double g_parkAirportLat = 0.0;
double g_parkAirportLon = 0.0;
std::string g_reservedStand;

std::mutex g_parkAirportsMutex;
std::list<ParkAirportEntry> g_parkAirports;
bool g_parkAirportChosen = false;

namespace {

constexpr std::string_view kListFileName = "my_park_airports.txt";
// A list file larger than this is not the user's list of airports: it is neither read nor
// rewritten.
constexpr std::uintmax_t kMaxListFileBytes = std::uintmax_t{16} << 20;
constexpr double kSamePositionDeg = 1e-8;

// Under g_parkAirportsMutex: the user position of the last distance update, and the park
// airport's code as the SimConnect thread may compare it (g_parkAirport is the worker's).
std::optional<LatLon> g_lastPosition;
std::string g_listParkAirport;

// The list file as read, with what it takes to write it back the way the user's editor wrote it.
struct ListFile {
  enum class State { Missing, Read, Unreadable } state = State::Missing;
  // UTF-16 files: the lines as UTF-8. Others: the lines' bytes as in the file (each line is then
  // taken as UTF-8 or Windows-1252 by itself, see lineText).
  std::vector<std::string> lines;
  TextEncoding encoding = TextEncoding::Utf8;
  std::string mark;         // the byte-order mark the file begins with, empty when none
  std::string lineEnd = "\n";  // the file's first line end
  // Why the file was not read whole (empty when it was): such a file is not rewritten, so
  // nothing the program could not read is lost.
  std::string notWhole;
  // UTF-16 lines that are no text (a lone surrogate, a zero unit): refused, empty in lines.
  std::size_t brokenLines = 0;
};

std::string_view byteOrderMark(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf8Bom: return "\xEF\xBB\xBF";
    case TextEncoding::Utf16Le: return "\xFF\xFE";
    case TextEncoding::Utf16Be: return "\xFE\xFF";
    default: return {};
  }
}

bool isUtf16(TextEncoding encoding) { return encoding == TextEncoding::Utf16Le || encoding == TextEncoding::Utf16Be; }

std::string firstLineEnd(std::string_view text) {
  const std::size_t end = text.find_first_of("\r\n");
  if (end == std::string_view::npos) return "\n";
  return text.compare(end, 2, "\r\n") == 0 ? "\r\n" : std::string(1, text[end]);
}

// The byte order of a UTF-16 list, by its mark or else by its bytes; nothing for 8-bit text.
std::optional<kvo::Utf16Order> utf16Order(std::string_view bytes) {
  if (bytes.starts_with(byteOrderMark(TextEncoding::Utf16Le))) return kvo::Utf16Order::LittleEndian;
  if (bytes.starts_with(byteOrderMark(TextEncoding::Utf16Be))) return kvo::Utf16Order::BigEndian;
  if (bytes.starts_with(byteOrderMark(TextEncoding::Utf8Bom))) return std::nullopt;
  return kvo::unmarkedUtf16Order(bytes);
}

// The text of a list that is not UTF-16 by utf16Order, in the character set detected as for the
// user's other text files; sets the file's character set, mark and what kept it from being read
// whole.
std::string eightBitText(const std::string& bytes, ListFile& file) {
  try {
    DecodedText decoded = decodeTextBytes(bytes);
    file.encoding = decoded.encoding;
    if (bytes.starts_with(byteOrderMark(decoded.encoding))) file.mark = byteOrderMark(decoded.encoding);
    if (!isUtf16(decoded.encoding)) return bytes.substr(file.mark.size());
    if (bytes.size() % 2 != 0) file.notWhole = "UTF-16 text with a cut-off last byte";
    return std::move(decoded.text);
  } catch (const TextDecodeError& e) {
    // Lines of an 8-bit file that are clean text are still candidates; the others are refused.
    file.notWhole = e.what();
    const std::string_view utf8Mark = byteOrderMark(TextEncoding::Utf8Bom);
    return bytes.substr(bytes.starts_with(utf8Mark) ? utf8Mark.size() : 0);
  }
}

// The list file's lines: UTF-16 as such, other text as eightBitText reads it.
ListFile readListFile() {
  ListFile file;
  const fs::path path = myParkAirportsFile();
  std::error_code ec;
  if (!fs::exists(path, ec) && !ec) return file;
  std::string bytes;
  try {
    bytes = readFileBytes(path, kMaxListFileBytes);
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("{}: {}", path.string(), e.what()));
    file.state = ListFile::State::Unreadable;
    file.notWhole = e.what();
    return file;
  }
  file.state = ListFile::State::Read;
  std::string text;
  if (const std::optional<kvo::Utf16Order> order = utf16Order(bytes)) {
    // Line by line, so that a broken line costs that line only.
    file.encoding = *order == kvo::Utf16Order::BigEndian ? TextEncoding::Utf16Be : TextEncoding::Utf16Le;
    if (bytes.starts_with(byteOrderMark(file.encoding))) file.mark = byteOrderMark(file.encoding);
    text = kvo::utf16LinesToUtf8(std::string_view(bytes).substr(file.mark.size()), *order, file.brokenLines);
    if (file.brokenLines > 0) file.notWhole = "broken UTF-16 text";
    if ((bytes.size() - file.mark.size()) % 2 != 0) file.notWhole = "UTF-16 text with a cut-off last byte";
  } else {
    text = eightBitText(bytes, file);
  }
  file.lineEnd = firstLineEnd(text);
  const std::vector<std::string_view> lines = splitLines(text);
  file.lines.assign(lines.begin(), lines.end());
  return file;
}

// The lines in the file's own character set, byte-order mark and line end.
std::string listFileBytes(const ListFile& file, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + file.lineEnd;
  if (!isUtf16(file.encoding)) return file.mark + text;
  const bool bigEndian = file.encoding == TextEncoding::Utf16Be;
  std::string bytes = file.mark;
  for (const char16_t unit : win32::utf8ToWide(text)) {
    const auto high = static_cast<char>(unit >> 8);
    const auto low = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

// A line of the list as text: UTF-8 when it is, else Windows-1252, the character set a user's
// editor on Windows saves 8-bit text in (as the cfg reader takes text).
std::string lineText(std::string_view line) { return isValidUtf8(line) ? std::string(line) : win32::ansiToUtf8(line); }

// Logs the first kParkListLinesLogged lines of a read and counts the rest.
class LimitedLog {
 public:
  bool next() { return ++count_ <= kParkListLinesLogged; }
  void summary() const {
    if (count_ > kParkListLinesLogged) {
      logLine(fmt::format("{}: {} more line{} not logged", kListFileName, count_ - kParkListLinesLogged,
                          pluralSuffix(count_ - kParkListLinesLogged)));
    }
  }

 private:
  int count_ = 0;
};

void enableControl(const ControlBinding& binding, bool on) {
  if (binding.hwnd != nullptr) EnableWindow(binding.hwnd, on ? TRUE : FALSE);
}

// The distances from the position; sorted by them (stable) unless DESTINATION is set, when its
// entry goes to the front instead. Caller holds the list lock.
void orderList(LatLon position, bool resort) {
  for (ParkAirportEntry& e : g_parkAirports) e.distanceNm = distanceNm(position, LatLon{e.latitude, e.longitude});
  if (!resort) return;
  const std::string destination = DESTINATION.value();
  if (destination.empty()) {
    g_parkAirports.sort(
        [](const ParkAirportEntry& a, const ParkAirportEntry& b) { return a.distanceNm < b.distanceNm; });
    return;
  }
  const auto it = std::find_if(g_parkAirports.begin(), g_parkAirports.end(),
                               [&](const ParkAirportEntry& e) { return e.code == destination; });
  if (it != g_parkAirports.end()) g_parkAirports.splice(g_parkAirports.begin(), g_parkAirports, it);
}

std::optional<ParkAirportEntry> firstEntry() {
  std::lock_guard lock(g_parkAirportsMutex);
  if (g_parkAirports.empty()) return std::nullopt;
  return g_parkAirports.front();
}

// The airport's file was refused and has not changed since: it is not chosen again, and the
// reason stays in the message line without being logged once more.
bool refusedUnchanged(std::string_view code) {
  const std::optional<std::string> reason = parkFileRefusal(code);
  if (reason) g_mainWindow.showMessage(*reason, false);
  return reason.has_value();
}

bool userOnGround() { return g_userOnGround.load().value_or(false); }
bool userInTheAir() { return !g_userOnGround.load().value_or(true); }

}  // namespace

fs::path myParkAirportsFile() { return g_airportsFolder / kListFileName; }
fs::path thirdpartyFolder() { return g_airportsFolder / "my_thirdparty"; }

bool lf_readMyParkAirports() {
  bool ok = true;
  std::lock_guard lock(g_parkAirportsMutex);
  g_parkAirports.clear();
  g_lastPosition.reset();
  try {
    const ListFile file = readListFile();
    if (file.state == ListFile::State::Missing) logLine(fmt::format("{} not found", myParkAirportsFile().string()));
    if (file.state == ListFile::State::Unreadable) ok = false;
    if (file.state == ListFile::State::Read && !file.notWhole.empty()) {
      logArrowLine(fmt::format("{} is not read whole ({}): it is not rewritten", kListFileName, file.notWhole));
    }
    std::set<std::string, std::less<>> seen;
    LimitedLog skipped;
    std::size_t refused = file.brokenLines;
    for (const std::string& bytes : file.lines) {
      const std::string line = lineText(bytes);
      if (trimView(line).empty()) continue;
      // Nothing of such a line may reach the log, the window or the rewritten file's new line.
      if (!kvo::isCleanText(line)) {
        ++refused;
        continue;
      }
      const std::vector<std::string> fields = splitString(line, ',');
      if (fields.size() >= 3) {
        if (skipped.next()) logLine(fmt::format("{}:{} wrong syntax, skipped", kListFileName, kvo::printableForLog(line)));
        continue;
      }
      const std::string& code = fields.front();
      if (!seen.insert(code).second) {
        if (skipped.next()) logLine(fmt::format("{}:{} double, skipped", kListFileName, kvo::printableForLog(code)));
        continue;
      }
      if (const kvo::Airport* airport = findAirport(code)) {
        g_parkAirports.push_back(
            {code, fields.size() == 2 ? fields[1] : std::string(), airport->latitude, airport->longitude, 0.0});
      } else {
        ok = false;
        if (skipped.next()) g_mainWindow.showMessage(fmt::format("airport {} is unknown", kvo::printableForLog(code)), true);
      }
    }
    skipped.summary();
    if (refused > 0) {
      logArrowLine(fmt::format("{}: {} line{} with control or invisible characters, skipped", kListFileName,
                               refused, pluralSuffix(refused)));
    }
    const std::size_t read = g_parkAirports.size();
    if (read > 0) {
      logLine(fmt::format("{} park airport{} read from '{}'", read, pluralSuffix(read), kListFileName));
    }
    if (read > kManyParkAirports) {
      g_mainWindow.showMessage(fmt::format("Warning: There are a lot of airports ({}), that will cost Ambv much cpu "
                                           "time and may cause stutters",
                                           read),
                               true);
    }
    if (const std::size_t added = addMyThirdpartyParkAirports(); added > 0) {
      logLine(fmt::format("{} park airport{} added from my_thirdparty folder(-s)", added, pluralSuffix(added)));
    }
  } catch (const std::exception& e) {
    logLine(fmt::format("{}: {}", "lf_readMyParkAirports", e.what()));
    ok = false;
  }
  return ok;
}

std::size_t addMyThirdpartyParkAirports() {
  const fs::path folder = thirdpartyFolder();
  std::error_code ec;
  if (!fs::exists(folder, ec) && !ec) return 0;
  std::size_t added = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    if (!entry.is_directory()) continue;
    const std::string code = entry.path().filename().string();
    const bool listed = std::any_of(g_parkAirports.begin(), g_parkAirports.end(),
                                    [&](const ParkAirportEntry& e) { return e.code == code; });
    const kvo::Airport* airport = listed ? nullptr : findAirport(code);
    if (airport == nullptr) continue;
    g_parkAirports.push_back({code, {}, airport->latitude, airport->longitude, 0.0});
    ++added;
  }
  return added;
}

bool isListableStandName(std::string_view name) {
  if (name.empty() || name.size() > kMaxListedStandName) return false;
  return name.find(',') == std::string_view::npos && kvo::isCleanText(name);
}

bool updateMyParkAirportStand(const ParkAirportEntry& entry, std::string_view line) {
  const std::vector<std::string> fields = splitString(lineText(line), ',');
  return !fields.empty() && fields.front() == entry.code;
}

void writeMyParkAirports() {
  if (g_parkAirports.empty()) return;
  const ParkAirportEntry& entry = g_parkAirports.front();
  const std::string newLine = entry.stand.empty() ? entry.code : fmt::format("{},{}", entry.code, entry.stand);
  ListFile file = readListFile();
  std::vector<std::string>& lines = file.lines;
  if (!file.notWhole.empty()) {
    logArrowLine(fmt::format("{} not written: the file could not be read whole ({})", kListFileName, file.notWhole));
    return;
  }
  if (file.state == ListFile::State::Missing) {
    lines = {newLine};
    logLine(fmt::format("{} created with {}", kListFileName, newLine));
  } else {
    // Every line of the airport gives way to the one new line; blank lines carry nothing.
    std::size_t replaced = 0;
    std::erase_if(lines, [&](const std::string& line) {
      const bool mine = updateMyParkAirportStand(entry, line);
      replaced += mine ? 1 : 0;
      return mine || trimView(line).empty();
    });
    lines.push_back(newLine);
    logLine(fmt::format("{}:{} {}", kListFileName, newLine, replaced > 0 ? "updated stand" : "new entry"));
  }
  std::sort(lines.begin(), lines.end());
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
  // The user's lines go back as they were read, byte for byte in the file's own character set,
  // byte-order mark and line end; only the new line is the program's.
  if (!writeFileAtomically(myParkAirportsFile(), listFileBytes(file, lines))) {
    logArrowLine(fmt::format("{} could not be written", myParkAirportsFile().string()));
  }
}

void addParkAirport(const std::string& code, LatLon position) {
  if (!isAirportCode(code)) {
    logArrowLine(fmt::format("park airport '{}' refused: no airport code", kvo::printableForLog(code)));
    return;
  }
  std::lock_guard lock(g_parkAirportsMutex);
  const auto it = std::find_if(g_parkAirports.begin(), g_parkAirports.end(),
                               [&](const ParkAirportEntry& e) { return e.code == code; });
  if (it != g_parkAirports.end()) {
    g_parkAirports.splice(g_parkAirports.begin(), g_parkAirports, it);
    return;
  }
  g_parkAirports.push_front({code, {}, position.lat, position.lon, 0.0});
  writeMyParkAirports();
}

bool setParkAirport(const std::string& code) {
  const kvo::Airport* airport = findAirport(code);
  if (airport == nullptr) return false;
  g_parkAirport = airport->icao;
  g_parkAirportIata = airport->iata;
  g_parkAirportLat = airport->latitude;
  g_parkAirportLon = airport->longitude;
  g_parkAirportElevation = airport->altitude;
  {
    std::lock_guard lock(g_parkAirportsMutex);
    g_listParkAirport = g_parkAirport;
  }
  // Ground traffic near the park airport is kept from now on.
  g_trafficReader.setParkAirportPosition(g_parkAirportLat, g_parkAirportLon);
  logLine(fmt::format("\nThe park airport is {}", airportLabel(code)));
  return true;
}

void unsetParkAirport() {
  g_parkAirport.clear();
  g_parkAirportIata.clear();
  g_parkAirportLat = 0.0;
  g_parkAirportLon = 0.0;
  g_parkAirportElevation = 0.0;
  g_parkAirportChosen = false;
  {
    std::lock_guard lock(g_parkAirportsMutex);
    g_listParkAirport.clear();
  }
  g_trafficReader.clearParkAirportPosition();
  g_trafficReader.clearReferenceElevation();
}

bool checkParkAirports(bool checkStand, std::string& message) {
  if (!lf_readMyParkAirports()) return false;
  const kvo::UserAircraftData user = g_userAircraftSnapshot;
  std::optional<ParkAirportEntry> first;
  {
    std::lock_guard lock(g_parkAirportsMutex);
    // The file's order means nothing: the list is ordered for the user's position at once.
    if (kvo::isKnownPosition(user.lat, user.lon)) orderList(LatLon{user.lat, user.lon}, true);
    if (!g_parkAirports.empty()) first = g_parkAirports.front();
  }
  message = "park airports and stands are okay";
  if (!checkStand || !userOnGround() || g_staticParkingBusy.load() || !first || first->code != g_parkAirport) {
    return true;
  }
  if (!g_mainWindow.displayText(&kvo::MainWindow::userStandText).empty()) return true;
  if (first->stand.empty() || first->stand == g_reservedStand) return true;
  message = fmt::format("reserved stand changed from '{}' to '{}'", g_reservedStand, first->stand);
  for (kvo::Stand& s : g_parkStands) {
    if (!g_reservedStand.empty() && s.name == g_reservedStand) s.reserved = 0;
  }
  g_reservedStand = first->stand;
  freeReservedStand();
  for (kvo::Stand& s : g_parkStands) {
    if (s.name == g_reservedStand) s.reserved = 1;
  }
  parkStandsChanged();
  g_mainWindow.invalidate(g_statusAreaRect);
  return true;
}

void startStaticParkingMessage(bool show) {
  disableControlsForStaticParking();
  g_trafficReader.startCollectingCallsigns();
  resetStaticParkingPass();
  if (show) g_mainWindow.showMessage("Calculating static parked aircraft ...", false);
}

void handleParkAirport(bool show) {
  if (g_staticParkingBusy.load() && g_staticCandidates.empty()) {
    enableControlsAfterStaticParking();
    g_mainWindow.clearMessage();
    updateStaticParkGauge(true);
    updateLiveParkGauge(true);
  }
  if (g_parkAirportChosen) {
    g_mainWindow.clearMessage();
    g_parkAirportChosen = false;
    if (const std::string error = lf_readParkedFile(); !error.empty()) {
      g_mainWindow.showMessage(error, true);
      closeParkAirport();
    } else {
      reportStaticParking();
    }
    enableControl(DESTINATION.binding, true);
    return;
  }
  const kvo::UserAircraftData user = g_userAircraftSnapshot;
  if (!kvo::isKnownPosition(user.lat, user.lon)) return;
  const LatLon position{user.lat, user.lon};
  {
    std::lock_guard lock(g_parkAirportsMutex);
    if (!g_parkAirports.empty()) {
      const bool moved = !g_lastPosition || std::abs(g_lastPosition->lat - position.lat) > kSamePositionDeg ||
                         std::abs(g_lastPosition->lon - position.lon) > kSamePositionDeg;
      if (moved) {
        g_lastPosition = position;
        // Every distance, the first entry's included, also while DESTINATION keeps the order:
        // a stale distance of 0 would make that airport in sight from anywhere.
        orderList(position, DESTINATION.value().empty());
      } else {
        ParkAirportEntry& first = g_parkAirports.front();
        first.distanceNm = distanceNm(position, LatLon{first.latitude, first.longitude});
      }
    }
  }
  if (!g_parkAirport.empty()) {
    checkParkAirportInSight(position);
  } else {
    selectParkAirport(position, show);
  }
}

void selectParkAirport(LatLon position, bool show) {
  if (userOnGround()) {
    const std::optional<std::string> code = findClosestAirport(position);
    if (!code) {
      g_mainWindow.showMessage("User aircraft on the ground, no airport in sight", true);
      return;
    }
    if (refusedUnchanged(*code)) return;
    if (findAirportFile(*code) == 0) {
      g_mainWindow.showMessage(fmt::format("User aircraft on the ground at {}, no airport file found", *code), true);
      return;
    }
    logLine(fmt::format("User aircraft on the ground at {}", *code));
    if (!setParkAirport(*code)) return;
    g_parkAirportChosen = true;
    startStaticParkingMessage(show);
    return;
  }
  if (!userInTheAir()) return;  // the on-ground state is not known yet
  enableControl(DESTINATION.binding, true);
  const std::optional<ParkAirportEntry> first = firstEntry();
  if (!first) return;
  if (first->distanceNm > AIRP_RANGE.value() || g_userAircraftSnapshot.aglFt > AIRP_HEIGHT.value()) return;
  if (refusedUnchanged(first->code)) return;
  if (!setParkAirport(first->code)) return;
  g_mainWindow.showMessage(fmt::format("{} in sight at {:.1F} nm", first->code, first->distanceNm), true);
  g_parkAirportChosen = true;
  startStaticParkingMessage(false);
}

void checkParkAirportInSight(LatLon position) {
  if (!userInTheAir()) return;
  const double distance = distanceNm(position, LatLon{g_parkAirportLat, g_parkAirportLon});
  if (distance <= AIRP_RANGE.value() && g_userAircraftSnapshot.aglFt <= AIRP_HEIGHT.value()) {
    const std::optional<ParkAirportEntry> first = firstEntry();
    if (!first || first->code == g_parkAirport) return;
    if (first->distanceNm > AIRP_RANGE.value() || first->distanceNm > distance) return;
    logLine(fmt::format("\n{} {} is in sight ({:.1F} nm), parked aircraft at {} will be removed first", simTimeText(),
                        first->code, first->distanceNm, airportLabel(g_parkAirport)));
    clearParkAirport();
    return;
  }
  logLine(fmt::format("\n{} {} is out of sight ({:.1F} nm), parked aircraft will be removed", simTimeText(),
                      airportLabel(g_parkAirport), distance));
  clearParkAirport();
}

bool saveUserStandAtParkAirport(std::string_view standName) {
  std::lock_guard lock(g_parkAirportsMutex);
  if (g_parkAirports.empty() || !isListableStandName(standName)) return false;
  ParkAirportEntry& first = g_parkAirports.front();
  if (first.code != g_listParkAirport || first.stand == standName) return false;
  first.stand = std::string(standName);
  writeMyParkAirports();
  return true;
}

void resetParkAirportsForNewRun() {
  std::lock_guard lock(g_parkAirportsMutex);
  g_parkAirports.clear();
  g_lastPosition.reset();
  g_listParkAirport.clear();
  g_parkAirportChosen = false;
}
