#include "aircraft/livery_scan.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include <fmt/format.h>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "aircraft/aircraft_types.h"
#include "aircraft/dbase.h"
#include "aircraft/livery_db.h"
#include "aircraft/scan_workers.h"
#include "core/files.h"
#include "core/log.h"
#include "core/meta.h"
#include "core/run_flags.h"
#include "core/text.h"
#include "core/utf.h"
#include "platform/win32/win32.h"

namespace fs = std::filesystem;

StringParameter lfolder0("lfolder0", ""), lfolder1("lfolder1", ""), lfolder2("lfolder2", ""),
    lfolder3("lfolder3", ""), lfolder4("lfolder4", ""), lfolder5("lfolder5", ""), lfolder6("lfolder6", ""),
    lfolder7("lfolder7", ""), lfolder8("lfolder8", ""), lfolder9("lfolder9", "");

std::atomic<bool> g_scannedLiveriesProcessed{false};

namespace {

std::array<StringParameter*, kLiveryFolderParameters> liveryFolderParameters() {
  return {&lfolder0, &lfolder1, &lfolder2, &lfolder3, &lfolder4, &lfolder5, &lfolder6, &lfolder7, &lfolder8, &lfolder9};
}

// The lfolder parameters are loaded and saved with the others.
[[maybe_unused]] const bool g_liveryFoldersRegistered = [] {
  for (StringParameter* p : liveryFolderParameters()) registerParameter(*p);
  return true;
}();

bool stopping() { return g_stopRequested.load() || g_quitRequested.load(); }

std::string lowerName(const fs::path& path) { return toLowerAscii(utf8Of(path.filename())); }

bool isDirectory(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(p, ec);
}

// The sub-folders of a folder, sorted; none when it cannot be read.
std::vector<fs::path> subFolders(const fs::path& folder) {
  std::vector<fs::path> out;
  std::error_code ec;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  if (ec) return out;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::error_code dirEc;
    if (it->is_directory(dirEc)) out.push_back(it->path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// A child of the folder whose name equals the given one without regard to case.
std::optional<fs::path> childNamed(const fs::path& folder, std::string_view lowerWanted) {
  for (const fs::path& sub : subFolders(folder)) {
    if (lowerName(sub) == lowerWanted) return sub;
  }
  return std::nullopt;
}

bool hasFileNamed(const fs::path& folder, std::string_view lowerWanted) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (lowerName(it->path()) == lowerWanted) return true;
  }
  return false;
}

bool isPackage(const fs::path& folder) {
  return hasFileNamed(folder, "manifest.json") || hasFileNamed(folder, "layout.json") ||
         childNamed(folder, "simobjects").has_value();
}

enum class PackageKind { Aig, Fsltl, Jf, User, None };

PackageKind kindOfText(std::string_view lower) {
  if (lower.find("fsltl") != std::string_view::npos) return PackageKind::Fsltl;
  if (lower.find("alpha india") != std::string_view::npos || lower.starts_with("aig")) return PackageKind::Aig;
  if (lower.find("justflight") != std::string_view::npos || lower.find("just flight") != std::string_view::npos) {
    return PackageKind::Jf;
  }
  return PackageKind::None;
}

PackageKind classifyPackage(const fs::path& folder) {
  const std::string name = lowerName(folder);
  if (name.starts_with("user-aitraffic")) return PackageKind::User;
  if (name.starts_with("jf-") || name.starts_with("jf_")) return PackageKind::Jf;
  if (PackageKind k = kindOfText(name); k != PackageKind::None) return k;
  // Else the manifest's title and makers tell.
  try {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
      if (lowerName(it->path()) != "manifest.json") continue;
      const DecodedText text = decodeTextBytes(readFileBytes(it->path(), 1u << 20));
      const nlohmann::json manifest = nlohmann::json::parse(text.text);
      for (const char* field : {"title", "creator", "manufacturer"}) {
        if (!manifest.contains(field) || !manifest[field].is_string()) continue;
        if (PackageKind k = kindOfText(toLowerAscii(manifest[field].get<std::string>())); k != PackageKind::None) {
          return k;
        }
      }
    }
  } catch (const std::exception&) {
    // An unreadable manifest: not an AI traffic package that we know of.
  }
  return PackageKind::None;
}

// Folder index of each kind from a package order such as "FSLTL, AIG, JF"; kinds the order
// leaves out follow in the default order, user-aitraffic packages come last.
std::array<std::uint32_t, 4> packageIndices(std::string_view order) {
  std::vector<PackageKind> kinds;
  for (const std::string& part : splitString(order, ',')) {
    const std::string p = toUpperAscii(part);
    PackageKind k = p == "AIG" ? PackageKind::Aig : p == "FSLTL" ? PackageKind::Fsltl : p == "JF" ? PackageKind::Jf : PackageKind::None;
    if (k != PackageKind::None && std::find(kinds.begin(), kinds.end(), k) == kinds.end()) kinds.push_back(k);
  }
  for (PackageKind k : {PackageKind::Aig, PackageKind::Fsltl, PackageKind::Jf}) {
    if (std::find(kinds.begin(), kinds.end(), k) == kinds.end()) kinds.push_back(k);
  }
  kinds.push_back(PackageKind::User);
  std::array<std::uint32_t, 4> index{};
  for (std::uint32_t i = 0; i < kinds.size(); ++i) index[static_cast<std::size_t>(kinds[i])] = i;
  return index;
}

constexpr std::array<const char*, 4> kKindLabels{"AIG", "FSLTL", "JF", "user"};

void addPackage(const fs::path& folder, const std::array<std::uint32_t, 4>& indices, std::vector<LiverySource>& out) {
  const PackageKind kind = classifyPackage(folder);
  if (kind == PackageKind::None) return;
  const auto k = static_cast<std::size_t>(kind);
  out.push_back(LiverySource{folder, indices[k], kKindLabels[k]});
}

bool skippedFolder(std::string_view lower) {
  for (std::string_view prefix : {"texture", "model", "panel", "sound", "effects", "materiallib", "scenery"}) {
    if (lower.starts_with(prefix)) return true;
  }
  return false;
}

bool containsWord(std::string_view lowerText, std::string_view word) {
  return lowerText.find(word) != std::string_view::npos;
}

bool isCargoLivery(const FltsimEntry& e) {
  for (const std::string& t : splitString(e.parkingTypes, ',')) {
    const std::string u = toUpperAscii(t);
    if (u == "CARGO" || u == "MIL_CARGO") return true;
  }
  for (const std::string& text : {toLowerAscii(e.title), toLowerAscii(e.uiVariation)}) {
    if (containsWord(text, "cargo") || containsWord(text, "freight")) return true;
  }
  return false;
}

bool isStubTitle(std::string_view title) {
  const std::string upper = toUpperAscii(title);
  return upper.size() > 5 && upper.ends_with("STUB") && (upper[upper.size() - 5] == '_' || upper[upper.size() - 5] == '-');
}

struct FileRef {
  fs::path path;
  std::uint32_t folderIndex = 0;
  std::string container;  // the folder that holds the aircraft.cfg, lower case
};

std::string sectionText(const FileRef& f, const FltsimEntry& e) {
  return fmt::format("{} [FLTSIM.{}]", utf8Of(f.path), e.index);
}

// The type of a section's livery: the file's own designator, the base container's, the
// container's FSLTL name, or icao_model when that is a known designator.
std::string resolveType(const FileRef& f, const CfgFileScan& scan, const FltsimEntry& e,
                        const std::unordered_map<std::string, std::string>& containerTypes, ScanReports& reports) {
  const std::string own = toUpperAscii(trimView(scan.generalType));
  if (!own.empty()) {
    if (own != trimView(scan.generalType)) {
      reports.fixes.push_back(fmt::format("{}: type '{}' read as '{}'", sectionText(f, e),
                                          kvo::printableForLog(scan.generalType), kvo::printableForLog(own)));
    }
    return own;
  }
  if (!scan.baseContainer.empty()) {
    if (auto it = containerTypes.find(scan.baseContainer); it != containerTypes.end()) {
      reports.conversions.push_back(
          fmt::format("{}: type {} taken from the base container {}", sectionText(f, e),
                      kvo::printableForLog(it->second), kvo::printableForLog(scan.baseContainer)));
      return it->second;
    }
  }
  const std::string container = toUpperAscii(f.container);
  if (container.starts_with("FSLTL_")) {
    const std::string token = container.substr(6, container.find('_', 6) == std::string::npos
                                                       ? std::string::npos
                                                       : container.find('_', 6) - 6);
    if (isKnownType(token)) {
      reports.conversions.push_back(
          fmt::format("{}: type {} taken from the container name", sectionText(f, e), token));
      return token;
    }
  }
  std::string model = toUpperAscii(trimView(scan.icaoModel));
  std::erase(model, '-');
  if (isTypeDesignator(model) && isKnownType(model)) {
    reports.conversions.push_back(fmt::format("{}: type {} taken from icao_model '{}'", sectionText(f, e), model,
                                              kvo::printableForLog(scan.icaoModel)));
    return model;
  }
  return {};
}

std::string resolveAirline(const FileRef& f, const FltsimEntry& e, ScanReports& reports) {
  const std::string raw = trim(e.airline);
  const std::string upper = toUpperAscii(raw);
  if (isAirlineCode(upper)) {
    if (upper != raw) reports.fixes.push_back(fmt::format("{}: airline '{}' read as '{}'", sectionText(f, e), raw, upper));
    return upper;
  }
  if (!raw.empty()) {
    reports.invalidAirlines.push_back(fmt::format("{}: '{}' is no airline code ({})", sectionText(f, e),
                                                   kvo::printableForLog(raw), kvo::printableForLog(e.title)));
  }
  for (const std::string& token : splitString(e.parkingCodes, ',')) {
    const std::string code = toUpperAscii(token);
    if (isAirlineCode(code)) {
      reports.conversions.push_back(
          fmt::format("{}: airline {} taken from atc_parking_codes", sectionText(f, e), code));
      return code;
    }
  }
  return {};
}

void writeReport(const fs::path& folder, std::string_view name, const std::vector<std::string>& lines, bool& ok) {
  if (!writeLines(lines, folder / fs::path(name))) {
    logArrowLine(fmt::format("Could not write {}", utf8Of(folder / fs::path(name))));
    ok = false;
  }
}

}  // namespace

LiveryScanSettings liveryScanSettingsFromParameters() {
  LiveryScanSettings s;
  s.packagesFolder = pathFromUtf8(ALL_INSTALL_PATH.value());
  s.automatic = LIG_AUTOMATIC.value();
  s.packageOrder = AI_PACKAGE_SELECTOR.value();
  s.prioritize = LIG_PRIORITIZE.value();
  s.suppressStub = SUPPRESS_STUB.value();
  for (StringParameter* p : liveryFolderParameters()) s.manualFolders.push_back(p->value());
  return s;
}

std::vector<LiverySource> findLiverySources(const LiveryScanSettings& settings, std::vector<std::string>& notes) {
  std::vector<LiverySource> out;
  if (!settings.automatic) {
    for (std::size_t i = 0; i < settings.manualFolders.size(); ++i) {
      const std::string text = trim(settings.manualFolders[i]);
      if (text.empty()) continue;
      const fs::path given = pathFromUtf8(text);
      std::vector<fs::path> candidates{given};
      if (given.is_relative()) {
        candidates = {settings.packagesFolder / given, settings.packagesFolder / "Community" / given};
      }
      auto found = std::find_if(candidates.begin(), candidates.end(), isDirectory);
      if (found == candidates.end()) {
        notes.push_back(fmt::format("lfolder{} '{}' not found", i, kvo::printableForLog(text)));
        continue;
      }
      out.push_back(LiverySource{*found, static_cast<std::uint32_t>(i), fmt::format("lfolder{}", i)});
    }
    return out;
  }
  const auto indices = packageIndices(settings.packageOrder);
  std::vector<fs::path> communityRoots;
  std::vector<fs::path> officialRoots;
  if (lowerName(settings.packagesFolder).starts_with("community")) communityRoots.push_back(settings.packagesFolder);
  for (const fs::path& sub : subFolders(settings.packagesFolder)) {
    const std::string name = lowerName(sub);
    if (name == "community" || name == "community2024") communityRoots.push_back(sub);
    if (name == "official" || name == "official2020" || name == "official2024") officialRoots.push_back(sub);
  }
  if (communityRoots.empty() && officialRoots.empty()) {
    notes.push_back(fmt::format("no Community or Official folder in '{}'", utf8Of(settings.packagesFolder)));
  }
  for (const fs::path& root : communityRoots) {
    for (const fs::path& package : subFolders(root)) addPackage(package, indices, out);
  }
  for (const fs::path& root : officialRoots) {
    for (const fs::path& sub : subFolders(root)) {
      if (isPackage(sub)) {
        addPackage(sub, indices, out);
      } else {
        for (const fs::path& package : subFolders(sub)) addPackage(package, indices, out);  // OneStore, Steam
      }
    }
  }
  std::stable_sort(out.begin(), out.end(), [](const LiverySource& a, const LiverySource& b) {
    return a.folderIndex != b.folderIndex ? a.folderIndex < b.folderIndex : a.folder < b.folder;
  });
  return out;
}

std::vector<fs::path> findAircraftCfgFiles(const fs::path& folder, bool& capped) {
  std::vector<fs::path> out;
  capped = !walkFiles(
      folder, 6, kMaxCfgFilesPerPackage,
      [](const fs::directory_entry& sub) { return !skippedFolder(lowerName(sub.path())); },
      [&out](const fs::directory_entry& file) {
        if (lowerName(file.path()) != "aircraft.cfg") return false;
        out.push_back(file.path());
        return true;
      });
  std::sort(out.begin(), out.end());
  return out;
}

CfgFileScan scanAircraftCfgText(std::string_view bytes) {
  CfgFileScan scan;
  DecodedText text;
  try {
    text = decodeTextBytes(bytes);
  } catch (const TextDecodeError& e) {
    scan.error = e.what();
    return scan;
  }
  scan.encoding = text.encoding;
  CfgFile cfg = parseCfg(text.text);
  scan.notes = std::move(cfg.notes);
  if (const CfgSection* general = cfg.section("GENERAL")) {
    scan.generalType = general->get("icao_type_designator");
    scan.icaoModel = general->get("icao_model");
  }
  for (const char* name : {"VARIATION", "LIVERY"}) {
    const CfgSection* s = cfg.section(name);
    if (s == nullptr || s->get("base_container").empty()) continue;
    std::string base(s->get("base_container"));
    std::replace(base.begin(), base.end(), '\\', '/');
    while (!base.empty() && base.back() == '/') base.pop_back();
    scan.baseContainer = toLowerAscii(base.substr(base.find_last_of('/') == std::string::npos ? 0 : base.find_last_of('/') + 1));
    break;
  }
  for (const CfgSection& s : cfg.sections) {
    const int index = fltsimIndex(s.name);
    if (index < 0) continue;
    FltsimEntry e;
    e.index = index;
    e.hasTitle = s.find("title") != nullptr;
    e.title = s.get("title");
    e.airline = s.get("icao_airline");
    e.parkingCodes = s.get("atc_parking_codes");
    e.parkingTypes = s.get("atc_parking_types");
    e.atcid = s.get("atc_id");
    e.uiVariation = s.get("ui_variation");
    scan.entries.push_back(std::move(e));
  }
  return scan;
}

CfgFileScan scanAircraftCfgFile(const fs::path& path) {
  try {
    return scanAircraftCfgText(readFileBytes(path, kMaxAircraftCfgBytes));
  } catch (const std::exception& e) {
    CfgFileScan scan;
    scan.error = e.what();
    return scan;
  }
}

LiveryScanResult runLiveryScan(const LiveryScanSettings& settings) {
  LiveryScanResult result;
  std::vector<std::string> notes;
  result.sources = findLiverySources(settings, notes);
  for (const std::string& n : notes) logArrowLine(fmt::format("Livery scan: {}", n));

  auto files = std::make_shared<std::vector<FileRef>>();
  for (const LiverySource& source : result.sources) {
    if (stopping()) {
      result.completed = false;
      return result;
    }
    bool capped = false;
    for (fs::path& p : findAircraftCfgFiles(source.folder, capped)) {
      std::string container = lowerName(p.parent_path());
      files->push_back(FileRef{std::move(p), source.folderIndex, std::move(container)});
    }
    if (capped) {
      ++result.cappedFolders;
      result.reports.fixes.push_back(fmt::format("{}: more than {} aircraft.cfg files, the rest not read",
                                                 utf8Of(source.folder), kMaxCfgFilesPerPackage));
    }
  }
  if (result.cappedFolders > 0) {
    logArrowLine(fmt::format("Livery scan: {} folder{} with more than {} aircraft.cfg files, the rest of each not read",
                             result.cappedFolders, pluralSuffix(result.cappedFolders), kMaxCfgFilesPerPackage));
  }
  result.files = files->size();

  ScanPoolOutcome outcome;
  std::vector<std::optional<CfgFileScan>> scans = runScanWorkers<CfgFileScan>(
      files->size(), [files](std::size_t i) { return scanAircraftCfgFile((*files)[i].path); }, outcome,
      settings.workerTimeout, "Livery scan worker");
  result.timedOut = outcome.timedOut;
  if (outcome.stopped) {
    result.completed = false;
    return result;
  }

  ScanReports& reports = result.reports;
  // Types of the containers, for livery containers that name only their base container.
  std::unordered_map<std::string, std::string> containerTypes;
  for (std::size_t i = 0; i < files->size(); ++i) {
    if (scans[i] && !scans[i]->generalType.empty()) {
      containerTypes.try_emplace((*files)[i].container, toUpperAscii(trimView(scans[i]->generalType)));
    }
  }

  const bool typesKnown = aircraftTypeCount() > 0;
  const bool airlinesKnown = airlineCount() > 0;
  std::unordered_map<std::string, std::string> firstFileOfTitle;
  std::vector<LiveryData> liveries;
  for (std::size_t i = 0; i < files->size(); ++i) {
    const FileRef& f = (*files)[i];
    const std::string path = utf8Of(f.path);
    if (!scans[i]) {
      reports.invalidFiles.push_back(fmt::format("{}: no answer from its scan worker", path));
      continue;
    }
    const CfgFileScan& scan = *scans[i];
    if (!scan.error.empty()) {
      reports.invalidFiles.push_back(fmt::format("{}: {}", path, scan.error));
      continue;
    }
    if (scan.encoding == TextEncoding::Windows1252 || scan.encoding == TextEncoding::Utf16Le ||
        scan.encoding == TextEncoding::Utf16Be) {
      reports.fixes.push_back(fmt::format("{}: read as {}", path, encodingName(scan.encoding)));
    }
    for (const std::string& note : scan.notes) reports.fixes.push_back(fmt::format("{}: {}", path, note));
    if (scan.entries.empty()) {
      reports.noFltsimSection.push_back(path);
      continue;
    }
    for (const FltsimEntry& e : scan.entries) {
      // The simulator knows a livery only by its title as written, so a title is kept whole or
      // not at all: cleaned, it would name no livery the simulator has.
      const std::string title = trim(e.title);
      if (!kvo::isCleanText(title)) {
        reports.incompleteSections.push_back(fmt::format("{}: title '{}' holds control or invisible characters",
                                                         sectionText(f, e), kvo::printableForLog(title)));
        continue;
      }
      if (title.empty()) {
        reports.incompleteSections.push_back(fmt::format("{}: {}", sectionText(f, e), e.hasTitle ? "empty title" : "no title"));
        continue;
      }
      if (title.size() > 255) {
        reports.incompleteSections.push_back(fmt::format("{}: title longer than 255 characters", sectionText(f, e)));
        continue;
      }
      const std::string type = resolveType(f, scan, e, containerTypes, reports);
      if (type.empty()) {
        reports.incompleteSections.push_back(fmt::format("{}: no aircraft type for '{}'", sectionText(f, e), title));
        continue;
      }
      if (typesKnown && !isKnownType(type)) {
        reports.invalidAircraft.push_back(fmt::format("{}: unknown type {} ({})", sectionText(f, e), type, title));
      }
      const std::string airline = resolveAirline(f, e, reports);
      if (!airline.empty() && airlinesKnown && !findAirline(airline)) {
        reports.invalidAirlines.push_back(fmt::format("{}: unknown airline code {} ({})", sectionText(f, e), airline, title));
      }
      if (settings.suppressStub && isStubTitle(title)) {
        reports.fixes.push_back(fmt::format("{}: stub '{}' left out", sectionText(f, e), title));
        continue;
      }
      if (auto [it, fresh] = firstFileOfTitle.try_emplace(title, path); !fresh) {
        reports.fixes.push_back(
            fmt::format("{}: title '{}' already scanned in {}, left out", sectionText(f, e), title, it->second));
        continue;
      }
      std::string atcid = toUpperAscii(trimView(e.atcid));
      if (!kvo::isCleanText(atcid)) {
        reports.fixes.push_back(
            fmt::format("{}: atc_id '{}' is no clean text, ignored", sectionText(f, e), kvo::printableForLog(atcid)));
        atcid.clear();
      }
      if (atcid.size() > 12) {
        reports.fixes.push_back(fmt::format("{}: atc_id '{}' longer than 12 characters, ignored", sectionText(f, e),
                                            kvo::printableForLog(atcid)));
        atcid.clear();
      }
      LiveryData livery{airline, type, title, atcid, f.folderIndex, static_cast<std::uint8_t>(isCargoLivery(e))};
      if (!atcid.empty()) reports.inlineRegcodes.push_back(fmt::format("{};{};{};{}", atcid, title, airline, type));
      liveries.push_back(std::move(livery));
    }
  }

  if (settings.prioritize) {
    // Only the lowest folder that has a livery of an airline and type keeps its liveries of
    // that pair; liveries of a single airframe (with an ATC id) always stay.
    std::unordered_map<std::string, std::uint32_t> lowest;
    for (const LiveryData& l : liveries) {
      if (l.airline.empty()) continue;
      auto [it, fresh] = lowest.try_emplace(l.airline + "|" + l.type, l.folderIndex);
      if (!fresh) it->second = std::min(it->second, l.folderIndex);
    }
    std::erase_if(liveries, [&](const LiveryData& l) {
      if (l.airline.empty() || !l.atcid.empty() || lowest[l.airline + "|" + l.type] >= l.folderIndex) return false;
      reports.fixes.push_back(fmt::format("'{}' left out: {} {} is available in a lower folder", l.title, l.airline, l.type));
      return true;
    });
  }

  std::unordered_set<std::string> installed;
  for (const LiveryData& l : liveries) installed.insert(l.title);
  for (const SpecialLiveryRecord& s : dataSpecialLiveries()) {
    reports.offlineRegcodes.push_back(fmt::format("{};{};{};{}", s.registration, s.title, s.source,
                                                  installed.contains(s.title) ? "installed" : "not installed"));
  }
  result.liveries = std::move(liveries);
  return result;
}

bool writeScanReports(const fs::path& outputFolder, const ScanReports& r) {
  const fs::path errors = outputFolder / "errors";
  const fs::path info = outputFolder / "info";
  std::error_code ec;
  fs::create_directories(errors, ec);
  fs::create_directories(info, ec);
  bool ok = true;
  writeReport(errors, "AircraftCfgWithNoFltsimSection.txt", r.noFltsimSection, ok);
  writeReport(errors, "InvalidAirlineCodes.txt", r.invalidAirlines, ok);
  writeReport(errors, "InvalidAircraftCodes.txt", r.invalidAircraft, ok);
  writeReport(errors, "InvalidAircraftCfgFiles.txt", r.invalidFiles, ok);
  writeReport(errors, "IncompleFltsimSections.txt", r.incompleteSections, ok);
  writeReport(info, "AirlineModelConversions.txt", r.conversions, ok);
  writeReport(info, "OfflineRegcodes.txt", r.offlineRegcodes, ok);
  writeReport(info, "InlineRegcodes.txt", r.inlineRegcodes, ok);
  writeReport(info, "Fixes.txt", r.fixes, ok);
  return ok;
}

bool writeScannedLiveries(const fs::path& file, const LiveryScanResult& result, const LiveryScanSettings& settings) {
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child("liveries");
  writeMetaBlock(root);
  pugi::xml_node scan = root.append_child("scan");
  scan.append_attribute("packages") = utf8Of(settings.packagesFolder).c_str();
  scan.append_attribute("mode") = settings.automatic ? "automatic" : "lfolders";
  scan.append_attribute("order") = settings.packageOrder.c_str();
  scan.append_attribute("files") = static_cast<unsigned long long>(result.files);
  scan.append_attribute("count") = static_cast<unsigned long long>(result.liveries.size());
  for (const LiverySource& s : result.sources) {
    pugi::xml_node folder = root.append_child("folder");
    folder.append_attribute("index") = s.folderIndex;
    folder.append_attribute("kind") = s.label.c_str();
    folder.append_attribute("path") = utf8Of(s.folder).c_str();
  }
  for (const LiveryData& l : result.liveries) {
    pugi::xml_node n = root.append_child("livery");
    n.append_attribute("title") = l.title.c_str();
    n.append_attribute("airline") = l.airline.c_str();
    n.append_attribute("type") = l.type.c_str();
    n.append_attribute("atcid") = l.atcid.c_str();
    n.append_attribute("folder") = l.folderIndex;
    n.append_attribute("cargo") = static_cast<unsigned>(l.cargo);
  }
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  return writeFileAtomically(file, xmlFileText(doc, " "));
}

bool readScannedLiveries(const fs::path& file, std::vector<LiveryData>& out) {
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_file(file.c_str());
  if (!parsed) {
    logArrowLine(fmt::format("{} could not be read: {}", utf8Of(file), parsed.description()));
    return false;
  }
  pugi::xml_node root = doc.child("liveries");
  if (!root) {
    logArrowLine(fmt::format("{} holds no liveries element", utf8Of(file)));
    return false;
  }
  std::vector<LiveryData> list;
  std::size_t skipped = 0;
  for (pugi::xml_node n : root.children("livery")) {
    LiveryData l{n.attribute("airline").value(), n.attribute("type").value(), n.attribute("title").value(),
                 n.attribute("atcid").value(),   n.attribute("folder").as_uint(0),
                 static_cast<std::uint8_t>(n.attribute("cargo").as_uint(0) != 0)};
    if (l.title.empty() || l.type.empty() || l.title.size() > 255 || !kvo::isCleanText(l.title) ||
        !kvo::isCleanText(l.airline) || !kvo::isCleanText(l.type) || !kvo::isCleanText(l.atcid)) {
      ++skipped;
      continue;
    }
    list.push_back(std::move(l));
  }
  if (skipped > 0) logArrowLine(fmt::format("{}: {} incomplete liveries skipped", utf8Of(file), skipped));
  out = std::move(list);
  return true;
}

fs::path scannedLiveriesPath(const fs::path& workFolder) {
  return (workFolder.empty() ? fs::path(".") : workFolder) / "output" / "LiveriesScanned.xml";
}

std::uint64_t scanLiveries(const fs::path& workFolder) {
  const fs::path xml = scannedLiveriesPath(workFolder);
  try {
    if (SCAN_LIVERIES.value()) {
      const LiveryScanSettings settings = liveryScanSettingsFromParameters();
      logLine(fmt::format("Scanning liveries in {} ...", utf8Of(settings.packagesFolder)));
      const auto started = std::chrono::steady_clock::now();
      LiveryScanResult result = runLiveryScan(settings);
      if (!result.completed) {
        logLine("Livery scan stopped");
        return liveryDbSize();
      }
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
      logLine(fmt::format("Scanned {} aircraft.cfg file{} in {} folder{}: {} liveries ({} ms)", result.files,
                          pluralSuffix(result.files), result.sources.size(), pluralSuffix(result.sources.size()),
                          result.liveries.size(), ms.count()));
      writeScanReports(xml.parent_path(), result.reports);
      if (writeScannedLiveries(xml, result, settings)) {
        SCAN_LIVERIES.set(false);
        saveBoolParameter(SCAN_LIVERIES);
        if (HWND box = SCAN_LIVERIES.binding.hwnd) SendMessageW(box, BM_SETCHECK, BST_UNCHECKED, 0);
      } else {
        // The scan stays switched on, so the next start scans again.
        logArrowLine(fmt::format("Could not write {}", utf8Of(xml)));
      }
      buildLiveryDb(result.liveries);
      g_scannedLiveriesProcessed = true;
    } else if (!g_scannedLiveriesProcessed.load()) {
      std::vector<LiveryData> list;
      if (readScannedLiveries(xml, list)) {
        buildLiveryDb(list);
      } else {
        clearLiveryDb();
      }
      g_scannedLiveriesProcessed = true;
      logLine(fmt::format("{} liveries read from {}", liveryDbSize(), utf8Of(xml)));
    }
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("scanLiveries exception: {}", e.what()));
  }
  return liveryDbSize();
}
