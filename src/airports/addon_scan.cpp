#include "airports/addon_scan.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "aircraft/cfg_text.h"
#include "aircraft/scan_workers.h"
#include "airports/airport_file.h"
#include "airports/airport_file_detail.h"
#include "airports/airport_folders.h"
#include "airports/airport_list.h"
#include "airports/bgl_reader.h"
#include "core/files.h"
#include "core/geometry.h"
#include "core/log.h"
#include "core/meta.h"
#include "core/parameters.h"
#include "core/text.h"
#include "core/utf.h"
#include "platform/win32/win32.h"

namespace fs = std::filesystem;

std::atomic<bool> g_addonScanCompleted{false};
std::atomic<std::uint32_t> g_helipadCounter{1};
std::vector<kvo::HelipadPosition> g_helipadPositions;
std::mutex g_helipadPositionsMutex;
std::filesystem::path g_offlineLearningFolder = "TBLO";
std::atomic<std::uint32_t> g_offlineLearningFileCount{0};

namespace {

using kvo::AddonScanResult;
using kvo::AddonScanSettings;
namespace bgl = kvo::bgl;

constexpr std::uintmax_t kMaxManifestBytes = 1u << 20;
constexpr int kMaxPackageDepth = 8;
// BGL files read of one package at most; an airport package holds a few dozen.
constexpr std::size_t kMaxBglFilesPerPackage = 10000;
constexpr double kMaxStandRadiusMetres = 1000.0;
constexpr double kMaxAltitudeMetres = 10000.0;
constexpr double kFeetPerMetre = 1.0 / 0.3048;

std::string lowerName(const fs::path& path) { return toLowerAscii(utf8Of(path.filename())); }

std::vector<fs::path> subFolders(const fs::path& folder) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
       !ec && it != end; it.increment(ec)) {
    std::error_code dirEc;
    if (it->is_directory(dirEc)) out.push_back(it->path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The Community folders below the packages folder (or the folder itself when it is one).
std::vector<fs::path> communityRoots(const fs::path& packages) {
  std::vector<fs::path> roots;
  if (lowerName(packages).starts_with("community")) roots.push_back(packages);
  for (const fs::path& sub : subFolders(packages)) {
    const std::string name = lowerName(sub);
    if (name == "community" || name == "community2024") roots.push_back(sub);
  }
  return roots;
}

struct Package {
  fs::path folder;
  std::string label;  // the package folder's name
  bool encrypted = false;
  bool capped = false;  // more BGL files than are read of one package
  std::vector<fs::path> bgls;
};

// BGL files below the folder, and whether the package holds encrypted archives.
void collectFiles(Package& package) {
  package.capped = !walkFiles(
      package.folder, kMaxPackageDepth, kMaxBglFilesPerPackage, [](const fs::directory_entry&) { return true; },
      [&package](const fs::directory_entry& file) {
        const std::string ext = toLowerAscii(utf8Of(file.path().extension()));
        if (ext == ".fsarchive") package.encrypted = true;
        if (ext != ".bgl") return false;
        package.bgls.push_back(file.path());
        return true;
      });
}

// Makers' names and titles serve the user better cleaned than refused.
std::string manifestText(const nlohmann::json& manifest, const char* field) {
  if (!manifest.is_object() || !manifest.contains(field) || !manifest[field].is_string()) return {};
  return trim(kvo::cleanText(manifest[field].get<std::string>()));
}

// The report keeps "===> " for what could not be read or written, as the log does.
struct Report {
  std::vector<std::string> lines;
  std::size_t problems = 0;
  void info(std::string text) { lines.push_back(std::move(text)); }
  void problem(std::string_view text) {
    lines.push_back(fmt::format("===> {}", text));
    ++problems;
  }
};

// One airport as the BGL records of all packages leave it, in load order.
struct MergedAirport {
  std::string name;
  double altitudeMetres = 0.0;
  std::vector<bgl::Parking> parkings;
  std::unordered_map<std::uint64_t, std::size_t> parkingIndex;  // (name, number, suffix) -> entry
  std::vector<bgl::Helipad> helipads;
  const Package* package = nullptr;  // the package that gave the stands
  fs::path bgl;
};

std::uint64_t parkingKey(const bgl::Parking& p) {
  return (std::uint64_t{p.nameCode} << 32) | (std::uint64_t{p.number} << 8) | p.suffix;
}

void mergeRecord(const bgl::Airport& a, const Package& package, const fs::path& file, MergedAirport& m) {
  if (a.hasDelete && (a.deleteFlags & bgl::kDeleteTaxiways) != 0) {
    m.parkings.clear();
    m.parkingIndex.clear();
  }
  if (a.hasDelete && (a.deleteFlags & bgl::kDeleteHelipads) != 0) m.helipads.clear();
  for (const bgl::Parking& p : a.parkings) {
    const auto [it, added] = m.parkingIndex.try_emplace(parkingKey(p), m.parkings.size());
    if (added) {
      m.parkings.push_back(p);
    } else {
      m.parkings[it->second] = p;  // a later definition of the same stand wins
    }
  }
  m.helipads.insert(m.helipads.end(), a.helipads.begin(), a.helipads.end());
  if (a.parkings.empty() && a.helipads.empty() && !a.hasDelete) return;
  if (!a.name.empty()) m.name = a.name;
  m.altitudeMetres = a.altitudeMetres;
  m.package = &package;
  m.bgl = file;
}

bool usablePosition(double lat, double lon) {
  return std::isfinite(lat) && std::isfinite(lon) && lat >= -90.0 && lat <= 90.0 && lon >= -180.0 && lon <= 180.0;
}

double roundedDegrees(double v) { return std::round(v * 1e7) / 1e7; }

double normalisedHeading(double h) {
  h = std::fmod(h, 360.0);
  if (h < 0.0) h += 360.0;
  return std::round(h * 100.0) / 100.0;
}

bool isStandType(std::uint8_t type) {
  return type != bgl::kFuel && type != bgl::kVehicles && type != bgl::kDockGa;
}

// Cargo, ramp and heli marks of a parking type (gates and unknown types carry none).
void markKind(std::uint8_t type, kvo::Stand& s) {
  switch (type) {
    case bgl::kRampCargo:
    case bgl::kRampMilCargo: s.cargo = 1; break;
    case bgl::kRampGa:
    case bgl::kRampGaSmall:
    case bgl::kRampGaMedium:
    case bgl::kRampGaLarge:
    case bgl::kRampGaExtra:
    case bgl::kRampMilCombat: s.ramp = 1; break;
    default: break;
  }
}

// Two stands are neighbours when their largest aircraft would touch: 1.1 x the sum of the two
// radii reaches the distance between them (the rule of the stand search).
void linkNeighbours(std::vector<kvo::Stand>& stands) {
  if (stands.empty()) return;
  std::vector<std::size_t> order(stands.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return stands[a].latitude < stands[b].latitude;
  });
  double maxRadius = 0.0;
  for (const kvo::Stand& s : stands) maxRadius = std::max(maxRadius, s.radius);
  constexpr double kNmPerDegreeLat = 60.0;
  for (std::size_t x = 0; x < order.size(); ++x) {
    kvo::Stand& a = stands[order[x]];
    for (std::size_t y = x + 1; y < order.size(); ++y) {
      kvo::Stand& b = stands[order[y]];
      if ((b.latitude - a.latitude) * kNmPerDegreeLat > 1.1 * (a.radius + maxRadius)) break;
      const double reach = 1.1 * (a.radius + b.radius);
      if (distanceNm({a.latitude, a.longitude}, {b.latitude, b.longitude}) <= reach) {
        a.adjacentIds.push_back(b.id);
        b.adjacentIds.push_back(a.id);
      }
    }
  }
  for (kvo::Stand& s : stands) std::sort(s.adjacentIds.begin(), s.adjacentIds.end());
}

struct BuiltAirport {
  std::vector<kvo::Stand> stands;
  std::size_t helipads = 0;
  std::size_t notStands = 0;  // fuel, vehicle and dock positions
  std::size_t unusable = 0;   // position, radius or heading not usable
};

BuiltAirport buildStands(const std::string& icao, const MergedAirport& m,
                         std::vector<kvo::HelipadPosition>& helipadPositions) {
  BuiltAirport out;
  std::unordered_set<std::string> names;
  const auto uniqueName = [&names](std::string name) {
    if (names.insert(name).second) return name;
    for (int n = 2;; ++n) {
      std::string candidate = fmt::format("{}_{}", name, n);
      if (names.insert(candidate).second) return candidate;
    }
  };
  for (const bgl::Parking& p : m.parkings) {
    if (!isStandType(p.type)) {
      ++out.notStands;
      continue;
    }
    const double radius = p.radius;
    const double heading = p.heading;
    if (!usablePosition(p.latitude, p.longitude) || !std::isfinite(radius) || radius <= 0.0 ||
        radius > kMaxStandRadiusMetres || !std::isfinite(heading)) {
      ++out.unusable;
      continue;
    }
    kvo::Stand s;
    s.name = uniqueName(standNameOf(p.nameCode, p.number, p.suffix));
    s.latitude = roundedDegrees(p.latitude);
    s.longitude = roundedDegrees(p.longitude);
    s.heading = normalisedHeading(heading);
    s.radius = radius / kvo::kMetresPerNm;
    markKind(p.type, s);
    out.stands.push_back(std::move(s));
  }
  for (const bgl::Helipad& h : m.helipads) {
    const double radius = std::max<double>(h.length, h.width) / 2.0;
    if (!usablePosition(h.latitude, h.longitude) || !std::isfinite(radius) || radius <= 0.0 ||
        radius > kMaxStandRadiusMetres || !std::isfinite(h.heading)) {
      ++out.unusable;
      continue;
    }
    ++out.helipads;
    kvo::Stand s;
    s.name = uniqueName(fmt::format("H{}", out.helipads));
    s.latitude = roundedDegrees(h.latitude);
    s.longitude = roundedDegrees(h.longitude);
    s.heading = normalisedHeading(h.heading);
    s.radius = radius / kvo::kMetresPerNm;
    s.ramp = 1;
    s.heli = 1;
    helipadPositions.push_back({icao, s.latitude, s.longitude, s.heading, s.radius});
    out.stands.push_back(std::move(s));
  }
  return out;
}

std::string airportNameFor(const std::string& icao, const std::string& fromFile) {
  // Stock-style names are localisation keys ("TT:AIRPORT...") that only the simulator resolves.
  if (!fromFile.empty() && !fromFile.starts_with("TT:")) return fromFile;
  std::string listed = airportName(icao);
  return listed.empty() ? icao : listed;
}

bool isHandmadeFile(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  kvo::ParsedAirportFile parsed;
  return kvo::parseAirportFile(path, parsed, true).empty() && parsed.record.handmade;
}

struct WriteJob {
  std::string icao;
  fs::path target;
  kvo::AirportFileRecord record;
  std::size_t helipads = 0;
};

struct WriteOutcome {
  enum class State { Written, Handmade, Failed };
  State state = State::Failed;
  std::string error;
  bool copied = false;  // also into the offline-learning folder
};

// Writes one airport file unless a handmade file stands in its place; with an offline folder
// the file is copied there too.
WriteOutcome writeAirport(const WriteJob& job, const fs::path& offlineFolder) {
  WriteOutcome out;
  if (isHandmadeFile(job.target)) {
    out.state = WriteOutcome::State::Handmade;
    return out;
  }
  std::error_code ec;
  fs::create_directories(job.target.parent_path(), ec);
  if (ec || !kvo::writeAirportFile(job.record, job.target)) {
    out.error = ec ? ": " + ec.message() : std::string();
    return out;
  }
  out.state = WriteOutcome::State::Written;
  out.copied = !offlineFolder.empty() &&
               kvo::writeAirportFile(job.record, offlineFolder / (deviceSafeName(job.icao) + ".xml"));
  return out;
}

std::string countText(std::size_t n, std::string_view noun) { return fmt::format("{} {}{}", n, noun, pluralSuffix(n)); }

}  // namespace

kvo::PackageInfo gf_searchManifest(const fs::path& packageFolder) {
  kvo::PackageInfo info;
  info.publisher = "unknown";
  const fs::path manifestPath = packageFolder / "manifest.json";
  std::error_code ec;
  if (!fs::is_regular_file(manifestPath, ec)) {
    info.problem = "no manifest.json";
    return info;
  }
  try {
    const nlohmann::json manifest =
        nlohmann::json::parse(decodeTextBytes(readFileBytes(manifestPath, kMaxManifestBytes)).text);
    info.title = manifestText(manifest, "title");
    info.manufacturer = manifestText(manifest, "manufacturer");
    info.creator = manifestText(manifest, "creator");
  } catch (const std::exception& e) {
    info.problem = fmt::format("manifest.json cannot be read: {}", e.what());
    return info;
  }
  if (!info.creator.empty()) {
    info.publisher = info.creator;
  } else if (!info.manufacturer.empty()) {
    info.publisher = info.manufacturer;
  } else {
    info.problem = "manifest.json names no creator or manufacturer";
  }
  return info;
}

std::string standNameOf(std::uint8_t nameCode, std::uint16_t number, std::uint8_t suffix) {
  static constexpr const char* kCompass[] = {"PN", "PNE", "PE", "PSE", "PS", "PSW", "PW", "PNW"};
  std::string prefix;
  if (nameCode == 1) {
    prefix = "P";
  } else if (nameCode >= 2 && nameCode <= 9) {
    prefix = kCompass[nameCode - 2];
  } else if (nameCode == bgl::kNameGate) {
    prefix = "G";
  } else if (nameCode == 11) {
    prefix = "D";
  } else if (nameCode >= bgl::kNameGateA && nameCode <= bgl::kNameGateZ) {
    prefix = std::string(1, static_cast<char>('A' + (nameCode - bgl::kNameGateA)));
  }
  std::string name = fmt::format("{}{}", prefix, number);
  if (suffix >= bgl::kNameGateA && suffix <= bgl::kNameGateZ) {
    name.push_back(static_cast<char>('A' + (suffix - bgl::kNameGateA)));
  }
  return name;
}

AddonScanResult runAddonAirportScan(const AddonScanSettings& settings) {
  AddonScanResult result;
  Report report;
  const std::vector<fs::path> roots = communityRoots(settings.packagesFolder);
  if (roots.empty()) report.problem(fmt::format("no Community folder in '{}'", utf8Of(settings.packagesFolder)));

  std::vector<std::unique_ptr<Package>> packages;
  for (const fs::path& root : roots) {
    for (const fs::path& folder : subFolders(root)) {
      auto p = std::make_unique<Package>();
      p->folder = folder;
      p->label = kvo::cleanText(utf8Of(folder.filename()));
      collectFiles(*p);
      std::sort(p->bgls.begin(), p->bgls.end());
      packages.push_back(std::move(p));
    }
  }
  result.packages = packages.size();

  // The files to read, in package order; encrypted packages are not read at all, as what
  // lies open in them is at best a part of the airport.
  struct FileRef {
    const Package* package;
    fs::path path;
  };
  auto files = std::make_shared<std::vector<fs::path>>();
  std::vector<FileRef> refs;
  for (const auto& p : packages) {
    if (p->capped) {
      ++result.cappedPackages;
      report.problem(fmt::format("{}: more than {} BGL files, the rest of the package is not read", p->label,
                                 kMaxBglFilesPerPackage));
    }
    if (p->bgls.empty()) continue;
    if (p->encrypted) {
      report.problem(fmt::format("{}: encrypted package (.fsarchive files), its airports cannot be read", p->label));
      continue;
    }
    for (const fs::path& f : p->bgls) {
      files->push_back(f);
      refs.push_back({p.get(), f});
    }
  }
  result.bglFiles = files->size();

  ScanPoolOutcome outcome;
  std::vector<std::optional<bgl::ReadResult>> reads = runScanWorkers<bgl::ReadResult>(
      files->size(), [files](std::size_t i) { return bgl::readBglFile((*files)[i]); }, outcome,
      settings.workerTimeout, "Airport scan worker");
  if (outcome.stopped) {
    result.completed = false;
    return result;
  }

  std::map<std::string, MergedAirport> airports;  // by ICAO code: the files come out in code order
  for (std::size_t i = 0; i < refs.size(); ++i) {
    const Package& package = *refs[i].package;
    const std::string label = utf8Of(refs[i].path.lexically_relative(package.folder.parent_path()));
    if (!reads[i]) {
      report.problem(fmt::format("{}: no answer from its scan worker", label));
      continue;
    }
    const bgl::ReadResult& read = *reads[i];
    for (const std::string& line : read.problems) report.problem(fmt::format("{}: {}", label, line));
    std::size_t empty = 0;
    for (const bgl::Airport& a : read.airports) {
      if (a.closed) {
        report.info(fmt::format("{}: {} is marked closed, not used", label, a.icao));
        continue;
      }
      if (a.parkings.empty() && a.helipads.empty()) {
        ++empty;
      } else {
        report.info(fmt::format("{}: {} '{}' with {} and {}", label, a.icao, a.name,
                                countText(a.parkings.size(), "parking"), countText(a.helipads.size(), "helipad")));
      }
      mergeRecord(a, package, refs[i].path, airports[a.icao]);
    }
    if (empty > 0) {
      report.info(fmt::format("{}: {} without parkings or helipads", label, countText(empty, "airport record")));
    }
    for (const std::string& line : read.notes) report.info(fmt::format("{}: {}", label, line));
  }

  std::error_code ec;
  const bool offline = fs::is_directory(g_offlineLearningFolder, ec);
  std::unordered_map<const Package*, kvo::PackageInfo> manifests;
  auto jobs = std::make_shared<std::vector<WriteJob>>();
  for (auto& [icao, m] : airports) {
    if (m.package == nullptr) continue;  // records that never brought stands
    BuiltAirport built = buildStands(icao, m, result.helipadPositions);
    if (built.notStands > 0) {
      report.info(fmt::format("{}: {} left out (fuel, vehicle or water positions)", icao,
                              countText(built.notStands, "position")));
    }
    if (built.unusable > 0) {
      report.problem(fmt::format("{}: {} without a usable position, radius or heading left out", icao,
                                 countText(built.unusable, "stand")));
    }
    if (built.stands.empty()) {
      report.info(fmt::format("{}: no stands, no airport file", icao));
      continue;
    }
    if (built.stands.size() > kvo::kMaxStandsPerFile) {
      report.problem(fmt::format("{}: {} stands, more than the {} an airport file holds: no airport file", icao,
                                 built.stands.size(), kvo::kMaxStandsPerFile));
      continue;
    }
    for (std::size_t i = 0; i < built.stands.size(); ++i) built.stands[i].id = static_cast<std::uint32_t>(i + 1);
    linkNeighbours(built.stands);

    auto [info, fresh] = manifests.try_emplace(m.package);
    if (fresh) {
      info->second = gf_searchManifest(m.package->folder);
      if (!info->second.problem.empty()) {
        report.problem(fmt::format("{}: {}: its airports get the publisher unknown and are not used",
                                   m.package->label, info->second.problem));
      }
    }
    const kvo::PackageInfo& manifest = info->second;
    kvo::AirportFileRecord record;
    record.icao = icao;
    record.name = airportNameFor(icao, m.name);
    record.publisher = manifest.publisher;
    record.bglPath = utf8Of(m.bgl);
    record.manufacturer = manifest.manufacturer;
    record.creator = manifest.creator;
    const double altitude = std::abs(m.altitudeMetres) <= kMaxAltitudeMetres ? m.altitudeMetres : 0.0;
    record.altitude = static_cast<std::int32_t>(std::lround(altitude * kFeetPerMetre));
    record.stands = std::move(built.stands);

    jobs->push_back({icao, thirdpartyAirportFilePath(icao), std::move(record), built.helipads});
  }

  // The files are written by the workers too: replacing many files is slow on some file systems.
  fs::create_directories(g_airportsFolder / "my_thirdparty", ec);
  const fs::path offlineFolder = offline ? g_offlineLearningFolder : fs::path();
  std::vector<std::optional<WriteOutcome>> outcomes = runScanWorkers<WriteOutcome>(
      jobs->size(), [jobs, offlineFolder](std::size_t i) { return writeAirport((*jobs)[i], offlineFolder); }, outcome,
      settings.workerTimeout, "Airport scan worker");
  if (outcome.stopped) {
    result.completed = false;  // the files written so far are whole; the next start scans again
    return result;
  }
  for (std::size_t i = 0; i < jobs->size(); ++i) {
    const WriteJob& job = (*jobs)[i];
    const std::string target = utf8Of(job.target);
    if (!outcomes[i] || outcomes[i]->state == WriteOutcome::State::Failed) {
      report.problem(fmt::format("{}: {} could not be written{}", job.icao, target,
                                 outcomes[i] ? outcomes[i]->error : std::string(": no answer from its worker")));
    } else if (outcomes[i]->state == WriteOutcome::State::Handmade) {
      report.info(fmt::format("{}: handmade file {} kept", job.icao, target));
    } else {
      ++result.airportFiles;
      if (outcomes[i]->copied) ++result.offlineCopies;
      report.info(fmt::format("{}: {} written ({}, publisher {}, {}, {})", job.icao, target, job.record.name,
                              job.record.publisher, countText(job.record.stands.size(), "stand"),
                              countText(job.helipads, "helipad")));
    }
  }

  report.info(fmt::format("{}, {}, {} written, {}", countText(result.packages, "package"),
                          countText(result.bglFiles, "BGL file"), countText(result.airportFiles, "airport file"),
                          countText(report.problems, "problem")));
  if (offline) {
    report.info(fmt::format("{} copied into {}", countText(result.offlineCopies, "airport file"),
                            utf8Of(g_offlineLearningFolder)));
  }
  result.helipads = result.helipadPositions.size();
  result.problems = report.problems;
  result.report = std::move(report.lines);
  if (!settings.reportFile.empty()) {
    fs::create_directories(settings.reportFile.parent_path(), ec);
    if (!writeLines(result.report, settings.reportFile)) {
      logArrowLine(fmt::format("Could not write {}", utf8Of(settings.reportFile)));
    }
  }
  return result;
}

void scanAddonAirports() {
  try {
    resetAddonScanState();
    AddonScanSettings settings;
    settings.packagesFolder = pathFromUtf8(ALL_INSTALL_PATH.value());
    setMetaSimTag(g_simIs2020.load() ? "MSFS" : "MSFS2024");
    logLine(fmt::format("Scanning add-on airports in {} ...", utf8Of(settings.packagesFolder)));
    const auto started = std::chrono::steady_clock::now();
    AddonScanResult result = runAddonAirportScan(settings);
    if (!result.completed) {
      logLine("Add-on airport scan stopped");
      return;
    }
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    {
      std::lock_guard lock(g_helipadPositionsMutex);
      g_helipadPositions = std::move(result.helipadPositions);
    }
    g_helipadCounter = static_cast<std::uint32_t>(1 + result.helipads);
    g_offlineLearningFileCount = static_cast<std::uint32_t>(result.offlineCopies);
    g_addonScanCompleted = true;
    logLine(fmt::format("Scanned {} and {}: {} written ({} ms)", countText(result.packages, "add-on package"),
                        countText(result.bglFiles, "BGL file"), countText(result.airportFiles, "airport file"), ms));
    if (result.cappedPackages > 0) {
      logArrowLine(fmt::format("Add-on airport scan: {} with more than {} BGL files, the rest of each not read",
                               countText(result.cappedPackages, "package"), kMaxBglFilesPerPackage));
    }
    if (result.problems > 0) {
      logArrowLine(fmt::format("Add-on airport scan: {}, see {}", countText(result.problems, "problem"),
                               utf8Of(settings.reportFile)));
    }
    SCAN_AIRPORTS.set(false);
    saveBoolParameter(SCAN_AIRPORTS);
    if (HWND box = SCAN_AIRPORTS.binding.hwnd) SendMessageW(box, BM_SETCHECK, BST_UNCHECKED, 0);
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("scanAddonAirports exception: {}", e.what()));
  }
}

void resetAddonScanState() {
  g_addonScanCompleted = false;
  g_helipadCounter = 1;
  {
    std::lock_guard lock(g_helipadPositionsMutex);
    g_helipadPositions.clear();
  }
  g_offlineLearningFileCount = 0;
}
