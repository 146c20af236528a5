#include "airports/airport_list.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <unordered_map>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "airports/number_text.h"
#include "core/log.h"
#include "core/text.h"

namespace fs = std::filesystem;

std::vector<kvo::Airport> g_airports;

namespace {

std::unordered_map<std::string, std::string> g_airportNames;

// A grid of 1 x 1 degree cells over the globe; each cell lists the airports in it with their
// positions copied next to the index, so a search touches a few short, contiguous runs.
constexpr int kBands = 180;
constexpr int kColumns = 360;

struct IndexEntry {
  double lat;
  double lon;
  std::uint32_t index;  // into g_airports
};

struct AirportIndex {
  std::vector<std::uint32_t> cellStart;  // kBands x kColumns + 1 offsets into entries
  std::vector<IndexEntry> entries;
  const kvo::Airport* builtFor = nullptr;  // g_airports.data() when built
  std::size_t builtSize = 0;
};

AirportIndex g_index;

int bandOf(double lat) { return std::clamp(static_cast<int>(std::floor(lat + 90.0)), 0, kBands - 1); }
int columnOf(double lon) {
  const int column = static_cast<int>(std::floor(lon + 180.0)) % kColumns;
  return column < 0 ? column + kColumns : column;
}
std::size_t cellOf(int band, int column) { return static_cast<std::size_t>(band) * kColumns + column; }

void buildIndex() {
  g_index = AirportIndex{};
  std::vector<std::uint32_t> counts(kBands * kColumns + 1, 0);
  for (const auto& a : g_airports) ++counts[cellOf(bandOf(a.latitude), columnOf(a.longitude))];
  g_index.cellStart.assign(counts.size(), 0);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < counts.size(); ++i) {
    g_index.cellStart[i] = sum;
    sum += counts[i];
  }
  g_index.cellStart.back() = sum;
  g_index.entries.resize(sum);
  std::vector<std::uint32_t> fill(g_index.cellStart.begin(), g_index.cellStart.end() - 1);
  for (std::uint32_t i = 0; i < g_airports.size(); ++i) {
    const auto& a = g_airports[i];
    g_index.entries[fill[cellOf(bandOf(a.latitude), columnOf(a.longitude))]++] = {a.latitude, a.longitude, i};
  }
  g_index.builtFor = g_airports.data();
  g_index.builtSize = g_airports.size();
}

bool indexIsCurrent() { return g_index.builtFor == g_airports.data() && g_index.builtSize == g_airports.size(); }

bool validPosition(double lat, double lon) {
  return std::isfinite(lat) && std::isfinite(lon) && lat >= -90.0 && lat <= 90.0 && lon >= -180.0 && lon <= 180.0;
}

// Sorts by code and keeps the first record of each code.
std::size_t sortAndMakeUnique(std::vector<kvo::Airport>& airports) {
  std::stable_sort(airports.begin(), airports.end(),
                   [](const kvo::Airport& a, const kvo::Airport& b) { return a.icao < b.icao; });
  const auto last = std::unique(airports.begin(), airports.end(),
                                [](const kvo::Airport& a, const kvo::Airport& b) { return a.icao == b.icao; });
  const auto removed = static_cast<std::size_t>(airports.end() - last);
  airports.erase(last, airports.end());
  return removed;
}

fs::path inInputFolder(const fs::path& name) { return name.is_absolute() ? name : fs::path("input") / name; }

void readAirportNames(const fs::path& listPath) {
  const fs::path namesPath =
      listPath.parent_path() / (listPath.stem().string() + "_names" + listPath.extension().string());
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_file(namesPath.string().c_str());
  if (!parsed) {
    logArrowLine(fmt::format("Airport names not read from {}: {}", namesPath.string(), parsed.description()));
    return;
  }
  g_airportNames.clear();
  g_airportNames.reserve(g_airports.size());
  for (pugi::xml_node node : doc.document_element().children("airport")) {
    std::string code = node.attribute("icao").value();
    if (!code.empty()) g_airportNames.emplace(std::move(code), node.attribute("name").value());
  }
}

}  // namespace

bool readAirportsFile(const fs::path& fileName) {
  if (!g_airports.empty()) return true;
  const fs::path path = inInputFolder(fileName);
  try {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_file(path.string().c_str());
    if (!parsed) {
      logArrowLine(fmt::format("Airport list {} not read: {}", path.string(), parsed.description()));
      return false;
    }
    std::vector<kvo::Airport> airports;
    std::size_t skipped = 0;
    for (pugi::xml_node node : doc.document_element().children("airport")) {
      kvo::Airport a;
      a.icao = trim(node.attribute("icao").value());
      a.iata = trim(node.attribute("iata").value());
      const bool placed = kvo::parseNumberText(node.attribute("lat").value(), a.latitude) &&
                          kvo::parseNumberText(node.attribute("lon").value(), a.longitude) &&
                          validPosition(a.latitude, a.longitude);
      if (!kvo::parseNumberText(node.attribute("elev").value(), a.altitude) || !std::isfinite(a.altitude)) a.altitude = 0.0;
      if (a.icao.empty() || !placed) {
        if (++skipped <= 10) {
          logArrowLine(fmt::format("{}: airport '{}' skipped, no usable code or position", path.filename().string(),
                                   a.icao));
        }
        continue;
      }
      airports.push_back(std::move(a));
    }
    const std::size_t repeated = sortAndMakeUnique(airports);
    if (skipped + repeated > 0) {
      logArrowLine(fmt::format("{}: {} airport record{} skipped ({} repeated code{})", path.filename().string(),
                               skipped + repeated, pluralSuffix(skipped + repeated), repeated, pluralSuffix(repeated)));
    }
    g_airports = std::move(airports);
    buildIndex();
    readAirportNames(path);
    logLine(fmt::format("{} airport{} read from {}", g_airports.size(), pluralSuffix(g_airports.size()),
                        path.filename().string()));
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("readAirportsFile exception: {}", e.what()));
    resetAirportList();
  }
  return !g_airports.empty();
}

void setAirportList(std::vector<kvo::Airport> airports) {
  sortAndMakeUnique(airports);
  g_airports = std::move(airports);
  buildIndex();
}

void resetAirportList() {
  g_airports.clear();
  g_airports.shrink_to_fit();
  g_airportNames.clear();
  g_index = AirportIndex{};
}

const kvo::Airport* findAirport(std::string_view code) {
  const auto it = std::lower_bound(g_airports.begin(), g_airports.end(), code,
                                   [](const kvo::Airport& a, std::string_view c) { return a.icao < c; });
  return it != g_airports.end() && it->icao == code ? &*it : nullptr;
}

std::string airportName(std::string_view code) {
  const auto it = g_airportNames.find(std::string(code));
  return it == g_airportNames.end() ? std::string() : it->second;
}

std::optional<std::string> findClosestAirport(kvo::LatLon position) {
  const double lat = position.lat;
  const double lon = position.lon;
  if (!validPosition(lat, lon) || g_airports.empty()) return std::nullopt;

  double best = std::numeric_limits<double>::infinity();
  std::uint32_t bestIndex = 0;
  const auto consider = [&](std::uint32_t index, double alat, double alon) {
    const double d = distanceNm(lat, lon, alat, alon);
    if (d <= kClosestAirportRangeNm && (d < best || (d == best && index < bestIndex))) {
      best = d;
      bestIndex = index;
    }
  };

  if (!indexIsCurrent()) {  // the list was changed behind the index's back: still answer right
    for (std::uint32_t i = 0; i < g_airports.size(); ++i) consider(i, g_airports[i].latitude, g_airports[i].longitude);
    return best <= kClosestAirportRangeNm ? std::optional(g_airports[bestIndex].icao) : std::nullopt;
  }

  // A nautical mile is one minute of arc on the earth of distanceNm, so every airport within
  // range lies within dLat degrees of latitude; the longitude reach of the cap is
  // asin(sin(r) / cos(lat)). A small margin absorbs rounding.
  constexpr double kRad = std::numbers::pi / 180.0;
  const double dLat = kClosestAirportRangeNm / 60.0 + 1e-9;
  const double cosLat = std::cos(lat * kRad);
  const double reach = std::sin(dLat * kRad) / std::max(cosLat, 1e-12);
  const bool allColumns = lat + dLat >= 90.0 || lat - dLat <= -90.0 || reach >= 1.0;
  const double dLon = allColumns ? 180.0 : std::asin(reach) / kRad * 1.000001 + 1e-9;

  const int firstBand = bandOf(lat - dLat);
  const int lastBand = bandOf(lat + dLat);
  const int firstColumn = allColumns ? 0 : static_cast<int>(std::floor(lon - dLon + 180.0));
  const int lastColumn = allColumns ? kColumns - 1 : static_cast<int>(std::floor(lon + dLon + 180.0));
  for (int band = firstBand; band <= lastBand; ++band) {
    for (int c = firstColumn; c <= lastColumn; ++c) {
      const int column = ((c % kColumns) + kColumns) % kColumns;
      const std::size_t cell = cellOf(band, column);
      for (std::uint32_t e = g_index.cellStart[cell]; e < g_index.cellStart[cell + 1]; ++e) {
        const IndexEntry& entry = g_index.entries[e];
        if (std::fabs(entry.lat - lat) > dLat) continue;
        if (!allColumns) {
          double dl = std::fabs(entry.lon - lon);
          if (dl > 180.0) dl = 360.0 - dl;
          if (dl > dLon) continue;
        }
        consider(entry.index, entry.lat, entry.lon);
      }
    }
  }
  return best <= kClosestAirportRangeNm ? std::optional(g_airports[bestIndex].icao) : std::nullopt;
}

std::string airportLabel(std::string_view code) {
  std::string label = code.empty() ? std::string("?") : std::string(code);
  if (const kvo::Airport* airport = code.empty() ? nullptr : findAirport(code); airport && !airport->iata.empty()) {
    label += fmt::format(" ({})", airport->iata);
  }
  return label;
}

fs::path airportXmlPath(std::string_view name) { return fs::path(std::string(name) + ".xml"); }
