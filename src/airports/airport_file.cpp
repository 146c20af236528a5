#include "airports/airport_file.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "airports/airport_file_detail.h"
#include "airports/number_text.h"
#include "core/files.h"
#include "core/geometry.h"
#include "core/log.h"
#include "core/meta.h"
#include "core/text.h"
#include "core/utf.h"

namespace fs = std::filesystem;

namespace kvo {

namespace {

constexpr std::uint64_t kHalfHourMask = (std::uint64_t{1} << 48) - 1;
constexpr double kMaxRadiusMetres = 1000.0;
constexpr int kMaxSkipLines = 20;  // per file; the rest is counted

// Free texts of the parameters serve the user better cleaned than refused.
std::string cleaned(const char* text) { return isCleanText(text) ? std::string(text) : cleanText(text); }

// "true"/"false" and "1"/"0" in any case; anything else is false.
bool parseFlag(std::string_view text) {
  text = trimView(text);
  return text == "1" || equalsIgnoreCase(text, "true");
}

// Log lines of one file's skipped records: the first few in full, then only a count.
class SkipLog {
 public:
  explicit SkipLog(std::string file, bool quiet) : file_(std::move(file)), quiet_(quiet) {}
  ~SkipLog() {
    if (!quiet_ && count_ > kMaxSkipLines) {
      logArrowLine(fmt::format("{}: {} more skipped record{} not listed", file_, count_ - kMaxSkipLines,
                               pluralSuffix(count_ - kMaxSkipLines)));
    }
  }
  SkipLog(const SkipLog&) = delete;
  SkipLog& operator=(const SkipLog&) = delete;
  // The line quotes the file's text, so it is escaped and cut as every quoted text is.
  void note(std::string_view what) {
    if (++count_ <= kMaxSkipLines && !quiet_) logArrowLine(printableForLog(fmt::format("{}: {}", file_, what)));
  }

 private:
  std::string file_;
  bool quiet_;
  int count_ = 0;
};

// The longest start of the text of at most `bytes` bytes that ends at a character's boundary.
std::string_view cutToBytes(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
  return text.substr(0, bytes);
}

bool readUse(pugi::xml_node node, StandUse& use, std::string& why) {
  if (!parseNumberText(node.attribute("day").value(), use.weekday) || use.weekday < 1 || use.weekday > 7) {
    why = fmt::format("weekday '{}' is not 1..7", node.attribute("day").value());
    return false;
  }
  const std::string_view hh = trimView(node.attribute("hh").value());
  if (hh.size() > 12 || !parseNumberText(hh, use.halfHours, 16) || (use.halfHours & ~kHalfHourMask) != 0) {
    why = fmt::format("half hours '{}' are not 1 to 12 hex digits", hh);
    return false;
  }
  if (pugi::xml_attribute fixed = node.attribute("fixed")) {
    if (!parseNumberText(fixed.value(), use.fixed) || use.fixed > 1) {
      why = fmt::format("fixed '{}' is not 0 or 1", fixed.value());
      return false;
    }
  }
  if (pugi::xml_attribute opt = node.attribute("opt")) {
    if (!parseNumberText(opt.value(), use.optionId)) {
      why = fmt::format("option id '{}' is not a number", opt.value());
      return false;
    }
  }
  use.real = parseFlag(node.attribute("soft").value()) ? 0 : 1;
  const std::string_view airline = node.attribute("airline").value();
  use.type = node.attribute("type").value();
  use.key = node.attribute("key").value();
  const std::string_view cs = node.attribute("cs").value();
  // These texts go to the simulator, the log and the saved file: a use that carries an invalid
  // byte or a control character in one of them is refused, not mended.
  if (!isCleanText(airline) || !isCleanText(use.type) || !isCleanText(use.key) || !isCleanText(cs)) {
    why = "its airline, type, key or callsign is no clean UTF-8 text";
    return false;
  }
  const auto colon = cs.find(':');
  use.airline = std::string(cutToBytes(airline, kMaxUseAirlineBytes));
  use.callsign = std::string(cutToBytes(cs.substr(0, colon), kMaxUseCallsignBytes));
  use.secondCallsign =
      colon == std::string_view::npos ? std::string() : std::string(cutToBytes(cs.substr(colon + 1), kMaxUseCallsignBytes));
  return true;
}

bool readPlace(pugi::xml_node node, double& latitude, double& longitude) {
  return parseNumberText(node.attribute("lat").value(), latitude) &&
         parseNumberText(node.attribute("lon").value(), longitude) && std::isfinite(latitude) &&
         std::isfinite(longitude) && std::fabs(latitude) <= 90.0 && std::fabs(longitude) <= 180.0;
}

bool readStand(pugi::xml_node node, ParsedStand& out, std::string& why) {
  Stand& stand = out.stand;
  stand.name = trim(node.attribute("id").value());
  if (stand.name.empty()) {
    why = "no id";
    return false;
  }
  if (!isCleanText(stand.name)) {
    why = "its id is no clean UTF-8 text";
    return false;
  }
  double radiusMetres = 0.0;
  if (!readPlace(node, stand.latitude, stand.longitude)) {
    why = fmt::format("position '{}', '{}' is not a valid latitude and longitude", node.attribute("lat").value(),
                      node.attribute("lon").value());
    return false;
  }
  if (!parseNumberText(node.attribute("radius").value(), radiusMetres) || !std::isfinite(radiusMetres) ||
      radiusMetres <= 0.0 || radiusMetres > kMaxRadiusMetres) {
    why = fmt::format("radius '{}' is not a number of metres above 0 and at most {}", node.attribute("radius").value(),
                      kMaxRadiusMetres);
    return false;
  }
  stand.radius = radiusMetres / kMetresPerNm;
  if (pugi::xml_attribute heading = node.attribute("heading")) {
    if (!parseNumberText(heading.value(), stand.heading) || !std::isfinite(stand.heading) ||
        stand.heading < -360.0 || stand.heading > 720.0) {
      why = fmt::format("heading '{}' is not a number of degrees", heading.value());
      return false;
    }
  }
  stand.manual = parseFlag(node.attribute("manual").value());
  stand.radius_change = parseFlag(node.attribute("radius_change").value());
  stand.cargo_change = parseFlag(node.attribute("cargo_change").value());
  stand.cargo = parseFlag(node.attribute("cargo").value());
  stand.ramp = parseFlag(node.attribute("ramp").value());
  stand.heli = parseFlag(node.attribute("heli").value());
  for (std::string& name : splitString(node.attribute("neighbours").value(), ',')) {
    if (!name.empty()) out.neighbourNames.push_back(std::move(name));
  }
  return true;
}

void readParameters(pugi::xml_node parameters, AirportFileRecord& record, SkipLog& skips, long& declaredStands) {
  for (pugi::xml_node p : parameters.children("parameter")) {
    const std::string_view name = p.attribute("name").value();
    const char* value = p.attribute("value").value();
    if (name == "airport_name") {
      record.name = cleaned(value);
    } else if (name == "publisher") {
      record.publisher = cleaned(value);
    } else if (name == "handmade") {
      record.handmade = parseFlag(value);
    } else if (name == "BGLpath") {
      record.bglPath = cleaned(value);
    } else if (name == "manufacturer") {
      record.manufacturer = cleaned(value);
    } else if (name == "creator") {
      record.creator = cleaned(value);
    } else if (name == "altitude") {
      double feet = 0.0;
      if (parseNumberText(value, feet) && std::isfinite(feet) && std::fabs(feet) < 100000.0) {
        record.altitude = static_cast<std::int32_t>(std::lround(feet));
      } else {
        skips.note(fmt::format("altitude '{}' is not a number of feet, 0 taken", value));
      }
    } else if (name == "Qf_real" || name == "Qf_soft") {
      std::int32_t qf = 0;
      if (!parseNumberText(value, qf)) skips.note(fmt::format("{} '{}' is not a number, 0 taken", name, value));
      (name == "Qf_real" ? record.quality.real : record.quality.soft) = std::clamp(qf, 0, 100);
    } else if (name == "num_parkpos") {
      if (!parseNumberText(value, declaredStands)) declaredStands = -1;
    }
  }
}

std::string describeParseError(const fs::path& path, const pugi::xml_parse_result& result) {
  if (result.status == pugi::status_file_not_found || result.status == pugi::status_io_error ||
      result.status == pugi::status_out_of_memory) {
    return fmt::format("{} cannot be read: {}", path.string(), result.description());
  }
  return fmt::format("{} is not valid XML: {} at offset {}", path.string(), result.description(), result.offset);
}

}  // namespace

std::string parseAirportFile(const fs::path& path, ParsedAirportFile& out, bool quiet) {
  out = ParsedAirportFile{};
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) return fmt::format("{} cannot be read: {}", path.string(), ec.message());
  if (size > kMaxAirportFileBytes) {
    return fmt::format("{} is too large ({} bytes, at most {}), refused", path.string(), size, kMaxAirportFileBytes);
  }
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_file(path.string().c_str());
  if (!parsed) return describeParseError(path, parsed);
  const pugi::xml_node root = doc.document_element();
  if (std::string_view(root.name()) != "airport") {
    return fmt::format("{} is not an airport file (root element '{}'), refused", path.string(), root.name());
  }
  if (!root.child("meta")) return fmt::format("{} has no meta block, refused", path.string());

  SkipLog skips(path.filename().string(), quiet);
  AirportFileRecord& record = out.record;
  record.icao = trim(cleaned(root.attribute("icao").value()));
  long declaredStands = -1;
  readParameters(root.child("parameters"), record, skips, declaredStands);

  std::unordered_set<std::string> seen;
  std::size_t uses = 0;
  // The uses of a stand, also of a refused one (a learned copy's stand found again keeps them).
  const auto readUses = [&](pugi::xml_node node, std::string_view standId, std::vector<StandUse>& into) {
    std::string why;
    for (pugi::xml_node useNode : node.children("opt")) {
      StandUse use;
      if (!readUse(useNode, use, why)) {
        skips.note(fmt::format("a use of stand '{}' skipped: {}", standId, why));
        continue;
      }
      if (++uses > kMaxUsesPerFile) return false;
      into.push_back(std::move(use));
    }
    return true;
  };
  const auto tooManyUses = [&] {
    out = ParsedAirportFile{};
    return fmt::format("{} has more than {} uses, refused", path.string(), kMaxUsesPerFile);
  };
  for (pugi::xml_node node : root.child("parkpositions").children("parkpos")) {
    ParsedStand stand;
    std::string why;
    if (!readStand(node, stand, why)) {
      const char* id = node.attribute("id").value();
      skips.note(fmt::format("stand '{}' skipped: {}", id, why));
      RefusedStand& refused = out.refused.emplace_back();
      refused.at = out.stands.size();
      if (const std::string name = trim(id); !name.empty() && isCleanText(name)) refused.name = name;
      if (double lat = 0.0, lon = 0.0; readPlace(node, lat, lon)) refused.place.emplace(lat, lon);
      if (!readUses(node, id, refused.uses)) return tooManyUses();
      refused.usesLost = refused.uses.empty() && node.child("opt");
    } else if (!seen.insert(stand.stand.name).second) {
      skips.note(fmt::format("stand '{}' skipped: its id is used by an earlier stand", stand.stand.name));
    } else if (readUses(node, stand.stand.name, stand.stand.uses)) {
      out.stands.push_back(std::move(stand));
    } else {
      return tooManyUses();
    }
    // Refused stands count too: each is looked for in the source of a learned copy.
    if (out.stands.size() + out.refused.size() > kMaxStandsPerFile) {
      out = ParsedAirportFile{};
      return fmt::format("{} has more than {} stands, refused", path.string(), kMaxStandsPerFile);
    }
  }
  if (declaredStands >= 0 && static_cast<std::size_t>(declaredStands) != out.stands.size()) {
    skips.note(fmt::format("num_parkpos says {} stand{}, {} read", declaredStands, pluralSuffix(declaredStands),
                           out.stands.size()));
  }
  return {};
}

void finishAirportFile(ParsedAirportFile&& parsed, AirportFileRecord& out, bool quiet) {
  out = std::move(parsed.record);
  out.stands.clear();
  out.standNamesById.clear();
  out.stands.reserve(parsed.stands.size());
  std::unordered_map<std::string, std::uint32_t> idByName;
  idByName.reserve(parsed.stands.size());
  for (std::size_t i = 0; i < parsed.stands.size(); ++i) {
    idByName.emplace(parsed.stands[i].stand.name, static_cast<std::uint32_t>(i + 1));
  }
  std::size_t unknown = 0;
  for (std::size_t i = 0; i < parsed.stands.size(); ++i) {
    Stand& stand = parsed.stands[i].stand;
    stand.id = static_cast<std::uint32_t>(i + 1);
    stand.adjacentIds.clear();
    for (const std::string& name : parsed.stands[i].neighbourNames) {
      const auto it = idByName.find(name);
      if (it == idByName.end()) {
        ++unknown;
      } else if (it->second != stand.id &&
                 std::find(stand.adjacentIds.begin(), stand.adjacentIds.end(), it->second) == stand.adjacentIds.end()) {
        stand.adjacentIds.push_back(it->second);
      }
    }
    std::int32_t number = 0;
    for (StandUse& use : stand.uses) use.number = ++number;
    out.stands.push_back(std::move(stand));
  }
  if (unknown > 0 && !quiet) {
    logArrowLine(fmt::format("{}: {} neighbour name{} not found among its stands, left out",
                             out.icao.empty() ? std::string("airport file") : out.icao, unknown, pluralSuffix(unknown)));
  }
}

std::optional<std::string> readAirportFilePublisher(const fs::path& path) {
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec || size > kMaxAirportFileBytes) return std::nullopt;
  pugi::xml_document doc;
  if (!doc.load_file(path.string().c_str())) return std::nullopt;
  const pugi::xml_node root = doc.document_element();
  if (std::string_view(root.name()) != "airport" || !root.child("meta")) return std::nullopt;
  for (pugi::xml_node p : root.child("parameters").children("parameter")) {
    if (std::string_view(p.attribute("name").value()) == "publisher") return cleaned(p.attribute("value").value());
  }
  return std::string();
}

std::string readAirportFile(const fs::path& path, AirportFileRecord& out) {
  out = AirportFileRecord{};
  ParsedAirportFile parsed;
  std::string error = parseAirportFile(path, parsed, false);
  if (!error.empty()) {
    logArrowLine(error);
    return error;
  }
  finishAirportFile(std::move(parsed), out, false);
  return {};
}

namespace {

// For each refused stand of a learned copy, the index of the source's stand that it stands for,
// if any: the stand of its id or, when the id is what was refused, the nearest stand whose radius
// reaches its place. A stand that the copy names itself is never taken, nor one stand twice, so
// a stand the user renamed or removed stays as the user left it.
std::vector<std::optional<std::size_t>> matchRefusedStands(const ParsedAirportFile& learned,
                                                           const ParsedAirportFile& source) {
  std::unordered_set<std::string_view> named;
  for (const ParsedStand& s : learned.stands) named.insert(s.stand.name);
  std::unordered_map<std::string_view, std::size_t> indexByName;
  for (std::size_t i = 0; i < source.stands.size(); ++i) indexByName.emplace(source.stands[i].stand.name, i);
  std::vector<std::optional<std::size_t>> matches;
  matches.reserve(learned.refused.size());
  for (const RefusedStand& r : learned.refused) {
    std::optional<std::size_t> match;
    if (!r.name.empty()) {
      const auto it = indexByName.find(r.name);
      if (it != indexByName.end() && !named.contains(r.name)) match = it->second;
    } else if (r.place) {
      const auto [lat, lon] = *r.place;
      double best = std::numeric_limits<double>::infinity();
      for (std::size_t i = 0; i < source.stands.size(); ++i) {
        const Stand& s = source.stands[i].stand;
        // Latitude alone first: a minute of it is a nautical mile.
        if (std::fabs(s.latitude - lat) * 60.0 > s.radius || named.contains(s.name)) continue;
        const double d = distanceNm(lat, lon, s.latitude, s.longitude);
        if (d <= s.radius && d < best) {
          best = d;
          match = i;
        }
      }
    }
    if (match) named.insert(source.stands[*match].stand.name);
    matches.push_back(match);
  }
  return matches;
}

// What the refused stand learned stays with the stand that replaces it, unless none of it could
// be read.
void keepReadableUses(RefusedStand& refused, Stand& stand) {
  if (!refused.usesLost) stand.uses = std::move(refused.uses);
}

// The learned file's stands over the source's, matched by id (see the header).
void overlayLearned(ParsedAirportFile& source, ParsedAirportFile&& learned, const fs::path& learnedPath) {
  const std::vector<std::optional<std::size_t>> refusedMatches = matchRefusedStands(learned, source);
  std::unordered_map<std::string, std::size_t> indexByName;
  for (std::size_t i = 0; i < source.stands.size(); ++i) indexByName.emplace(source.stands[i].stand.name, i);
  std::size_t dropped = 0;
  for (ParsedStand& l : learned.stands) {
    const auto it = indexByName.find(l.stand.name);
    if (it == indexByName.end()) {
      if (l.stand.manual) {
        indexByName.emplace(l.stand.name, source.stands.size());
        source.stands.push_back(std::move(l));
      } else {
        ++dropped;
      }
      continue;
    }
    ParsedStand& s = source.stands[it->second];
    if (l.stand.manual) {
      s = std::move(l);
      continue;
    }
    if (l.stand.radius_change) {
      s.stand.radius = l.stand.radius;
      s.stand.radius_change = 1;
    }
    if (l.stand.cargo_change) {
      s.stand.cargo = l.stand.cargo;
      s.stand.cargo_change = 1;
    }
    s.stand.uses = std::move(l.stand.uses);
  }
  // The matched stands are none that the learned file names, so the overlay left them in place.
  for (std::size_t k = 0; k < learned.refused.size(); ++k) {
    if (refusedMatches[k]) keepReadableUses(learned.refused[k], source.stands[*refusedMatches[k]].stand);
  }
  if (dropped > 0) {
    logArrowLine(fmt::format("{}: {} learned stand{} no longer in the airport's file, left out",
                             learnedPath.filename().string(), dropped, pluralSuffix(dropped)));
  }
}

// A handmade learned copy stands for the whole airport, but a stand of it that could not be read
// must not take the stand away: the source's stand that it stands for takes its place, so the
// stand is offered and the next save writes it again. (Leaving the copy unsaved instead would
// keep the stand missing and stop all learning at the airport until the user mends the file by
// hand.) Every other stand is the copy's as the user left it.
void restoreRefusedStands(ParsedAirportFile& learned, ParsedAirportFile&& source, const fs::path& learnedPath) {
  if (learned.refused.empty()) return;
  const std::vector<std::optional<std::size_t>> matches = matchRefusedStands(learned, source);
  std::vector<ParsedStand> stands;
  stands.reserve(learned.stands.size() + learned.refused.size());
  std::size_t next = 0;
  std::size_t taken = 0;
  for (std::size_t k = 0; k < learned.refused.size(); ++k) {
    if (!matches[k]) continue;
    RefusedStand& refused = learned.refused[k];
    while (next < refused.at) stands.push_back(std::move(learned.stands[next++]));
    stands.push_back(std::move(source.stands[*matches[k]]));
    keepReadableUses(refused, stands.back().stand);
    ++taken;
  }
  while (next < learned.stands.size()) stands.push_back(std::move(learned.stands[next++]));
  learned.stands = std::move(stands);
  const std::string file = learnedPath.filename().string();
  if (taken > 0) {
    logArrowLine(fmt::format("{}: {} stand{} taken from the airport's file in place of the refused one{}", file, taken,
                             pluralSuffix(taken), pluralSuffix(taken)));
  }
  if (const std::size_t lost = learned.refused.size() - taken; lost > 0) {
    logArrowLine(fmt::format("{}: {} refused stand{} not found in the airport's file, left out", file, lost,
                             pluralSuffix(lost)));
  }
}

}  // namespace

std::string readAirportFileWithLearned(const fs::path& path, const fs::path& learned, AirportFileRecord& out,
                                       bool& learnedApplied) {
  out = AirportFileRecord{};
  learnedApplied = false;
  ParsedAirportFile source;
  std::string error = parseAirportFile(path, source, false);
  if (error.empty() && !learned.empty()) {
    std::error_code ec;
    if (fs::exists(learned, ec)) {
      ParsedAirportFile overlay;
      error = parseAirportFile(learned, overlay, false);
      if (!error.empty()) {
        error = fmt::format("learned file refused, remove or repair it: {}", error);
      } else if (overlay.record.handmade) {
        restoreRefusedStands(overlay, std::move(source), learned);
        source = std::move(overlay);
        learnedApplied = true;
      } else {
        overlayLearned(source, std::move(overlay), learned);
        learnedApplied = true;
      }
    }
  }
  if (!error.empty()) {
    logArrowLine(error);
    learnedApplied = false;
    return error;
  }
  const bool recompute = learnedApplied && !source.record.handmade;
  finishAirportFile(std::move(source), out, false);
  if (recompute) out.quality = computeQualityFactors(out.stands);
  return {};
}

namespace {

void addParameter(pugi::xml_node parameters, const char* name, const std::string& value) {
  pugi::xml_node p = parameters.append_child("parameter");
  p.append_attribute("name") = name;
  p.append_attribute("value") = value.c_str();
}

const char* flagText(std::uint32_t flag) { return flag != 0 ? "true" : "false"; }

// Metres to the millimetre, so that a radius read from a file is written back unchanged.
std::string radiusText(double radiusNm) {
  return fmt::format("{}", std::round(radiusNm * kMetresPerNm * 1000.0) / 1000.0);
}

// The reader takes the cs attribute's first ':' as the end of the first callsign: a first
// callsign that holds one cannot be written (a second may hold any).
std::string callsignText(const StandUse& use, std::size_t& unwritable) {
  const bool writable = use.callsign.find(':') == std::string::npos;
  if (!writable) ++unwritable;
  const std::string_view first = writable ? std::string_view(use.callsign) : std::string_view();
  return use.secondCallsign.empty() ? std::string(first) : fmt::format("{}:{}", first, use.secondCallsign);
}

// The uses of each stand that go into the file (made-up uses never do).
std::size_t writtenUses(const Stand& stand) {
  return static_cast<std::size_t>(
      std::count_if(stand.uses.begin(), stand.uses.end(), [](const StandUse& u) { return u.madeUp == 0; }));
}

// How many of each stand's uses (counts) to keep so that `budget` uses are kept in all: the stands
// with the most uses give up theirs first, so that a stand keeps as many as it can.
std::vector<std::size_t> keptUses(const std::vector<std::size_t>& counts, std::size_t budget) {
  const auto keptUpTo = [&](std::size_t cap) {
    std::size_t sum = 0;
    for (std::size_t n : counts) sum += std::min(n, cap);
    return sum;
  };
  std::size_t low = 0;
  std::size_t high = counts.empty() ? 0 : *std::max_element(counts.begin(), counts.end());
  if (keptUpTo(high) <= budget) return counts;
  while (low < high) {  // the largest cap that keeps no more than the budget
    const std::size_t mid = low + (high - low + 1) / 2;
    if (keptUpTo(mid) <= budget) {
      low = mid;
    } else {
      high = mid - 1;
    }
  }
  std::vector<std::size_t> kept(counts.size());
  std::size_t left = budget - keptUpTo(low);
  for (std::size_t i = 0; i < counts.size(); ++i) {
    kept[i] = std::min(counts[i], low);
    if (counts[i] > low && left > 0) {
      ++kept[i];
      --left;
    }
  }
  return kept;
}

struct WriteNotes {
  std::size_t unnamedNeighbours = 0;
  std::size_t unwritableCallsigns = 0;
};

// The file's text with the newest kept[i] uses of stand i.
std::string airportFileText(const AirportFileRecord& record, const std::vector<std::size_t>& kept, WriteNotes& notes) {
  notes = WriteNotes{};
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child("airport");
  root.append_attribute("icao") = record.icao.c_str();
  writeMetaBlock(root);

  pugi::xml_node parameters = root.append_child("parameters");
  addParameter(parameters, "airport_name", record.name);
  addParameter(parameters, "publisher", record.publisher);
  addParameter(parameters, "handmade", record.handmade ? "true" : "false");
  addParameter(parameters, "BGLpath", record.bglPath);
  addParameter(parameters, "Qf_real", std::to_string(record.quality.real));
  addParameter(parameters, "Qf_soft", std::to_string(record.quality.soft));
  addParameter(parameters, "manufacturer", record.manufacturer);
  addParameter(parameters, "creator", record.creator);
  addParameter(parameters, "altitude", std::to_string(record.altitude));
  addParameter(parameters, "num_parkpos", std::to_string(record.stands.size()));

  std::unordered_map<std::uint32_t, const std::string*> nameById;
  if (record.standNamesById.empty()) {
    for (const Stand& s : record.stands) nameById.emplace(s.id, &s.name);
  } else {
    for (std::size_t i = 0; i < record.standNamesById.size(); ++i) {
      nameById.emplace(static_cast<std::uint32_t>(i + 1), &record.standNamesById[i]);
    }
  }

  pugi::xml_node parkpositions = root.append_child("parkpositions");
  std::string neighbours;
  for (std::size_t i = 0; i < record.stands.size(); ++i) {
    const Stand& stand = record.stands[i];
    pugi::xml_node pos = parkpositions.append_child("parkpos");
    pos.append_attribute("id") = stand.name.c_str();
    pos.append_attribute("lat") = fmt::format("{}", stand.latitude).c_str();
    pos.append_attribute("lon") = fmt::format("{}", stand.longitude).c_str();
    pos.append_attribute("heading") = fmt::format("{}", stand.heading).c_str();
    pos.append_attribute("radius") = radiusText(stand.radius).c_str();
    neighbours.clear();
    for (std::uint32_t id : stand.adjacentIds) {
      const auto it = nameById.find(id);
      if (it == nameById.end()) {
        ++notes.unnamedNeighbours;
        continue;
      }
      if (!neighbours.empty()) neighbours += ',';
      neighbours += *it->second;
    }
    pos.append_attribute("neighbours") = neighbours.c_str();
    pos.append_attribute("manual") = flagText(stand.manual);
    pos.append_attribute("radius_change") = flagText(stand.radius_change);
    pos.append_attribute("cargo_change") = flagText(stand.cargo_change);
    pos.append_attribute("cargo") = flagText(stand.cargo);
    pos.append_attribute("ramp") = flagText(stand.ramp);
    pos.append_attribute("heli") = flagText(stand.heli);
    // A stand's uses are appended as they are learned: the oldest are the first.
    std::size_t skip = writtenUses(stand) - kept[i];
    for (const StandUse& use : stand.uses) {
      if (use.madeUp) continue;
      if (skip > 0) {
        --skip;
        continue;
      }
      pugi::xml_node u = pos.append_child("opt");
      u.append_attribute("airline") = use.airline.c_str();
      u.append_attribute("type") = use.type.c_str();
      u.append_attribute("key") = use.key.c_str();
      u.append_attribute("cs") = callsignText(use, notes.unwritableCallsigns).c_str();
      u.append_attribute("day") = use.weekday;
      u.append_attribute("hh") = fmt::format("{:012X}", use.halfHours & kHalfHourMask).c_str();
      if (use.fixed != 0) u.append_attribute("fixed") = use.fixed;
      if (use.optionId != 0) u.append_attribute("opt") = use.optionId;
      if (use.real == 0) u.append_attribute("soft") = "true";
    }
  }
  return xmlFileText(doc, " ");
}

}  // namespace

bool writeAirportFileWithin(const AirportFileRecord& record, const fs::path& path, const AirportFileLimits& limits) {
  const std::string file = path.filename().string();
  try {
    if (record.stands.size() > limits.stands) {
      logArrowLine(fmt::format("Airport file {} not written: {} stands, more than the {} an airport file may hold",
                               path.string(), record.stands.size(), limits.stands));
      return false;
    }
    std::vector<std::size_t> counts;
    counts.reserve(record.stands.size());
    for (const Stand& s : record.stands) counts.push_back(writtenUses(s));
    const std::size_t total = std::accumulate(counts.begin(), counts.end(), std::size_t{0});
    // Beyond the reader's size the uses go, a share of them at a time: each use costs about the
    // file's size over its uses, a little more than its own text, so a few rounds suffice.
    std::size_t budget = std::min(total, limits.uses);
    WriteNotes notes;
    std::string text;
    for (;;) {
      text = airportFileText(record, keptUses(counts, budget), notes);
      if (text.size() <= limits.bytes) break;
      if (budget == 0) {
        logArrowLine(fmt::format("Airport file {} not written: {} bytes without uses, more than the {} an airport "
                                 "file may hold",
                                 path.string(), text.size(), limits.bytes));
        return false;
      }
      const double share = static_cast<double>(text.size() - limits.bytes) / static_cast<double>(text.size());
      budget -= std::clamp(static_cast<std::size_t>(std::ceil(share * static_cast<double>(budget))), std::size_t{1},
                           budget);
    }
    if (budget < total) {
      logArrowLine(fmt::format("{}: {} oldest use{} left out, more than an airport file may hold", file,
                               total - budget, pluralSuffix(total - budget)));
    }
    if (notes.unnamedNeighbours > 0) {
      logArrowLine(fmt::format("{}: {} neighbour{} without a known stand id left out", file, notes.unnamedNeighbours,
                               pluralSuffix(notes.unnamedNeighbours)));
    }
    if (notes.unwritableCallsigns > 0) {
      logArrowLine(fmt::format("{}: {} callsign{} holding ':' left out, the file's separator of two callsigns", file,
                               notes.unwritableCallsigns, pluralSuffix(notes.unwritableCallsigns)));
    }
    if (writeFileAtomically(path, text)) return true;
    logArrowLine(fmt::format("Airport file {} could not be written", path.string()));
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("writeAirportFile exception: {}", e.what()));
  }
  return false;
}

bool writeAirportFile(const AirportFileRecord& record, const fs::path& path) {
  return writeAirportFileWithin(record, path, AirportFileLimits{});
}

QualityFactors computeQualityFactors(const std::vector<Stand>& stands) {
  std::size_t counted = 0;
  int realDays = 0;
  int softDays = 0;
  for (const Stand& stand : stands) {
    if (stand.heli) continue;
    ++counted;
    unsigned real = 0;
    unsigned soft = 0;
    for (const StandUse& use : stand.uses) {
      if (use.madeUp || (use.halfHours & kHalfHourMask) == 0 || use.weekday < 1 || use.weekday > 7) continue;
      (use.real != 0 ? real : soft) |= 1u << (use.weekday - 1);
    }
    realDays += std::popcount(real);
    softDays += std::popcount(soft);
  }
  if (counted == 0) return {};
  const double pairs = 7.0 * static_cast<double>(counted);
  return {static_cast<std::int32_t>(std::lround(100.0 * realDays / pairs)),
          static_cast<std::int32_t>(std::lround(100.0 * softDays / pairs))};
}

std::uint32_t trafficWeekOf(const std::vector<Stand>& stands) {
  unsigned days = 0;
  for (const Stand& stand : stands) {
    for (const StandUse& use : stand.uses) {
      if (use.real != 0 && !use.madeUp && (use.halfHours & kHalfHourMask) != 0 && use.weekday >= 1 &&
          use.weekday <= 7) {
        days |= 1u << (use.weekday - 1);
      }
    }
  }
  return static_cast<std::uint32_t>(std::popcount(days));
}

}  // namespace kvo
