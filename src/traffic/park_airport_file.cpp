#include "traffic/park_airport_file.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <optional>
#include <system_error>
#include <vector>

#include "airports/airport_folders.h"
#include "airports/park_stands.h"
// The park airport's texts, flags and the LEARN_SOFT control of the main window belong to the
// application shell above this library.
#include "shared_state/main_window.h"
#include "core/log.h"
#include "core/meta.h"
#include "core/parameters.h"
#include "core/text.h"
#include "core/timeutil.h"
#include "core/utf.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "links/traffic_reader.h"
#include "traffic/stand_search.h"
#include "traffic/stand_options.h"
#include "traffic/park_airports.h"

namespace fs = std::filesystem;

kvo::AirportInfo g_parkAirportInfo;
kvo::QualityFactors g_parkQualityFactors;
std::atomic<bool> g_parkParamsChanged{false};
std::atomic<bool> g_learnSoftAllowed{true};

namespace {

// While reading: a well-learned large airport learns no soft options.
void applySoftLearning() {
  const HWND box = LEARN_SOFT.binding.hwnd;
  if (g_parkQualityFactors.real >= kLearnedQfReal && g_parkStands.size() >= kLearnedStandCount) {
    g_learnSoftAllowed = false;
    if (LEARN_SOFT.value()) {
      LEARN_SOFT.set(false);
      if (box != nullptr) {
        SendMessageW(box, BM_SETCHECK, BST_UNCHECKED, 0);
        EnableWindow(box, FALSE);
      }
      g_parkParamsChanged = true;
    }
    return;
  }
  g_learnSoftAllowed = true;
  if (box != nullptr) EnableWindow(box, TRUE);
}

// The stand the user stands at goes into the list, whose first entry becomes this airport
// (an entry it already has is moved to the front, so its reserved stand is kept). Returns the
// first entry's stand.
std::string rememberUserStand() {
  std::string standName;
  if (g_userOnGround.load().has_value()) {
    const kvo::UserAircraftData user = g_userAircraftSnapshot;
    standName = findStandAt(kvo::LatLon{user.lat, user.lon});
    if (!standName.empty() && !isListableStandName(standName)) {
      logLine(fmt::format("stand '{}' is not kept in my_park_airports.txt",
                          kvo::printableForLog(standName)));
      standName.clear();
    }
  }
  std::lock_guard lock(g_parkAirportsMutex);
  const auto it = std::find_if(g_parkAirports.begin(), g_parkAirports.end(),
                               [](const kvo::ParkAirportEntry& e) { return e.code == g_parkAirport; });
  if (it == g_parkAirports.end()) {
    g_parkAirports.push_front({g_parkAirport, standName, g_parkAirportLat, g_parkAirportLon, 0.0});
    writeMyParkAirports();
    return standName;
  }
  g_parkAirports.splice(g_parkAirports.begin(), g_parkAirports, it);
  kvo::ParkAirportEntry& first = g_parkAirports.front();
  if (!standName.empty() && standName != first.stand) {
    first.stand = standName;
    writeMyParkAirports();
  }
  return first.stand;
}

// The first entry's stand is the reserved stand when the airport has it.
void takeReservedStand(const std::string& name) {
  g_reservedStand.clear();
  if (name.empty()) return;
  const auto it =
      std::find_if(g_parkStands.begin(), g_parkStands.end(), [&](const kvo::Stand& s) { return s.name == name; });
  if (it != g_parkStands.end()) {
    g_reservedStand = name;
    it->reserved = 1;
  }
  g_mainWindow.reservedStandFound = it != g_parkStands.end();
  g_mainWindow.invalidate(g_statusAreaRect);
}

// The stands a learned (not handmade) copy keeps; made-up uses are dropped from the stands
// themselves first.
std::vector<kvo::Stand> learnedStands(std::vector<std::string>& namesById) {
  std::vector<kvo::Stand> kept;
  bool dropped = false;
  for (kvo::Stand& s : g_parkStands) {
    const auto before = s.uses.size();
    std::erase_if(s.uses, [](const kvo::StandUse& u) { return u.madeUp != 0; });
    dropped = dropped || s.uses.size() != before;
    if (s.id > namesById.size()) namesById.resize(s.id);
    if (s.id > 0) namesById[s.id - 1] = s.name;
    if (s.manual != 0 || !s.uses.empty() || s.radius_change != 0 || s.cargo_change != 0) kept.push_back(s);
  }
  if (dropped) parkStandsChanged();
  return kept;
}

// What tells that a file changed: whether it is there, its size and its modification time.
struct FileStamp {
  fs::path path;
  bool present = false;
  std::uintmax_t size = 0;
  fs::file_time_type written{};

  bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const fs::path& path) {
  FileStamp stamp{path};
  if (path.empty()) return stamp;
  std::error_code ec;
  stamp.size = fs::file_size(path, ec);
  if (ec) return FileStamp{path};
  stamp.written = fs::last_write_time(path, ec);
  if (ec) return FileStamp{path};
  stamp.present = true;
  return stamp;
}

// The airport files that were refused, by ICAO code, with the reason: one is not read again
// until it or its learned copy changes, so a bad file costs its log lines once, not at every
// choice of the park airport (worker only).
struct RefusedFile {
  FileStamp file;
  FileStamp learned;
  std::string reason;
};
std::map<std::string, RefusedFile, std::less<>> g_refusedFiles;

void rememberRefusal(const std::string& code, const kvo::AirportFileChoice& file, const std::string& reason) {
  g_refusedFiles[code] = RefusedFile{stampOf(file.path), stampOf(file.learnedPath), reason};
}

bool isSafeFolderName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\:") != std::string::npos) return false;
  return std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

}  // namespace

std::string lf_readParkedFile() {
  resetParkStands();
  parkStandsChanged();
  const std::string code = g_parkAirport;
  const kvo::AirportFileChoice file = resolveAirportFile(code);
  if (!file.found()) return fmt::format("{} {} not found", "lf_readParkedFile", code);
  g_refusedFiles.erase(code);
  if (file.unknownPublisher) {
    const std::string reason =
        fmt::format("{} {} has publisher:{}, {}", "lf_readParkedFile", code, "unknown", file.path.string());
    rememberRefusal(code, file, reason);
    return reason;
  }
  g_parkAirportInfo = kvo::AirportInfo{};
  kvo::ParkFileFacts facts;
  const std::string error = gf_readApf(file, g_parkAirportInfo, g_parkQualityFactors, g_parkStands, facts);
  // The stand search sees the new stands before the user's stand is looked for among them.
  parkStandsChanged();
  if (error.empty()) {
    // A file without an altitude would put the ground at sea level: the list's elevation stays.
    if (facts.elevationFt != 0.0) g_parkAirportElevation = facts.elevationFt;
    g_trafficReader.setReferenceElevation(g_parkAirportElevation);
    g_rtTrafficWeek = facts.trafficWeek;
    g_mainWindow.setDisplayText(&kvo::MainWindow::qualityFactorText, qualityFactorText(g_parkQualityFactors),
                                g_statisticsRect);
    applySoftLearning();
    const std::string reserved = rememberUserStand();
    g_parkStands.shrink_to_fit();
    takeReservedStand(reserved);
    parkStandsChanged();
  } else {
    // Nothing of a refused file may be saved over the good one at the close.
    g_parkParamsChanged = false;
    g_reservedStand.clear();
    g_rtTrafficWeek = 0;
    g_mainWindow.setDisplayText(&kvo::MainWindow::qualityFactorText, {}, g_statisticsRect);
    rememberRefusal(code, file, error);
  }
  g_mainWindow.parkFileLoaded = error.empty();
  g_mainWindow.handmade = error.empty() && facts.handmade;
  g_mainWindow.standCount = g_parkStands.size();
  g_mainWindow.setDisplayText(&kvo::MainWindow::parkAirportPublisher, g_parkAirportInfo.publisher, g_statusAreaRect);
  g_mainWindow.setDisplayText(&kvo::MainWindow::parkAirportName, g_parkAirportInfo.name, g_statusAreaRect);
  g_standUpdates = 0;
  return error;
}

std::optional<std::string> parkFileRefusal(std::string_view code) {
  const auto it = g_refusedFiles.find(code);
  if (it == g_refusedFiles.end()) return std::nullopt;
  const RefusedFile& refused = it->second;
  if (stampOf(refused.file.path) == refused.file && stampOf(refused.learned.path) == refused.learned) {
    return refused.reason;
  }
  g_refusedFiles.erase(it);
  return std::nullopt;
}

std::string qualityFactorText(const kvo::QualityFactors& quality) {
  return fmt::format("{}/{}", quality.real, quality.soft);
}

fs::path learnedFolderFor(std::string_view publisher) {
  const fs::path learned = g_airportsFolder / "learned";
  if (publisher == "stock") return learned / "stock";
  if (publisher == "simaddon") return learned / "simaddon";
  // The same name the read takes, so that the learned copy is found again.
  const fs::path folder = learnedAirportFilePath("X", publisher).parent_path();
  if (!isSafeFolderName(folder.filename().string()) || folder.parent_path() != learned / "thirdparty") return {};
  return folder;
}

void saveAirportFile() {
  const bool handmade = g_parkAirportHandmade != 0;
  fs::path path = fs::path(g_parkAirport + ".xml");
  bool saved = false;
  try {
    if (g_parkAirport.empty() || !g_parkAirportLoaded.load()) throw std::runtime_error("no park airport is loaded");
    kvo::AirportFileRecord record;
    record.icao = g_parkAirport;
    record.name = g_parkAirportInfo.name;
    record.publisher = g_parkAirportInfo.publisher;
    record.altitude = g_parkAirportInfo.altitude;
    record.handmade = handmade;
    if (handmade) {
      record.stands = g_parkStands;
      record.quality = computeQualityFactors();
    } else {
      record.stands = learnedStands(record.standNamesById);
      record.quality = g_parkQualityFactors;
    }
    const fs::path folder = learnedFolderFor(record.publisher);
    if (folder.empty()) throw std::runtime_error(fmt::format("publisher '{}' gives no folder", record.publisher));
    path = learnedAirportFilePath(record.icao, record.publisher);  // the name the read looks for
    std::error_code ec;
    const bool exists = fs::exists(folder, ec);
    if (ec) throw fs::filesystem_error("exists", folder, ec);
    if (!exists) fs::create_directories(folder);
    setMetaSimTag(g_simIs2020.load() ? "MSFS" : "MSFS2024");
    saved = kvo::writeAirportFile(record, path);
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("{}: {}", "saveAirportFile", e.what()));
  }
  const std::string text =
      saved ? fmt::format("{}{} '{}' saved with {} update{} {}", currentTimeText(), handmade ? " handmade" : "",
                          path.string(), g_standUpdates, pluralSuffix(g_standUpdates),
                          g_parkParamsChanged.load() ? "and one or more parameter changes" : "")
            : fmt::format("{} saving '{}' did not succeed", currentTimeText(), path.string());
  // Logged also while the run closes down, when the message line logs nothing more.
  g_mainWindow.showMessage(text, false);
  logLine(text);
  g_standUpdates = 0;
  g_parkParamsChanged = false;
}

void resetParkAirportFileState() {
  g_parkAirportInfo = kvo::AirportInfo{};
  g_parkQualityFactors = kvo::QualityFactors{};
  g_standUpdates = 0;
  g_parkParamsChanged = false;
  g_learnSoftAllowed = true;
  g_refusedFiles.clear();
}
