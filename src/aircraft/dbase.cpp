#include "aircraft/dbase.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <unordered_map>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "aircraft/cfg_text.h"
#include "aircraft/data_crypto.h"
#include "core/log.h"
#include "core/meta.h"
#include "core/text.h"
#include "core/utf.h"
#include "core/user_error.h"

namespace fs = std::filesystem;

namespace {

// The encrypted files are well below this; anything larger is not one of them.
constexpr std::uintmax_t kMaxDataFileBytes = 64u * 1024u * 1024u;
constexpr std::uintmax_t kMaxUserFileBytes = 16u * 1024u * 1024u;

struct Tables {
  std::unordered_map<std::string, AirlineRecord> airlines;
  // In the order of findRegcode: data base, registration file, user files.
  std::unordered_map<std::string, RegcodeRecord> dbaseRegs;
  std::unordered_map<std::string, RegcodeRecord> fileRegs;
  std::unordered_map<std::string, RegcodeRecord> userRegs;
  std::vector<SpecialLiveryRecord> specials;
};

std::shared_mutex g_tablesMutex;
Tables g_tables;

bool isUpperAlpha(char c) { return c >= 'A' && c <= 'Z'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isRegistration(std::string_view r) {
  if (r.empty() || r.size() > 12 || !(isUpperAlpha(r[0]) || isDigit(r[0]))) return false;
  return std::all_of(r.begin(), r.end(), [](char c) { return isUpperAlpha(c) || isDigit(c) || c == '-'; });
}

// An airline field of a registration record: a code or empty.
bool isOptionalAirline(std::string_view a) { return a.empty() || isAirlineCode(a); }

bool parseSpan(std::string_view text, double& metres) {
  const std::string s(trimView(text));
  if (s.empty()) return false;
  char* end = nullptr;
  metres = std::strtod(s.c_str(), &end);
  return end == s.c_str() + s.size() && metres > 0.0 && metres <= 100.0;
}

pugi::xml_node loadRoot(pugi::xml_document& doc, std::string_view xml, const char* rootName) {
  const pugi::xml_parse_result parsed = doc.load_buffer(xml.data(), xml.size());
  if (!parsed) {
    throw std::runtime_error(fmt::format("XML error at byte {}: {}", parsed.offset, parsed.description()));
  }
  pugi::xml_node root = doc.child(rootName);
  if (!root) throw std::runtime_error(fmt::format("no root element \"{}\"", rootName));
  return root;
}

std::string metaVersion(pugi::xml_node root) {
  if (auto meta = readMetaBlock(root)) {
    if (auto it = meta->find("version"); it != meta->end()) return it->second;
  }
  return {};
}

void readRegistrations(pugi::xml_node parent, DbaseContent& out) {
  for (pugi::xml_node reg : parent.children("reg")) {
    RegcodeRecord record{toUpperAscii(trimView(reg.attribute("airline").value())),
                         toUpperAscii(trimView(reg.attribute("type").value())),
                         toUpperAscii(trimView(reg.attribute("operator").value())),
                         static_cast<std::uint8_t>(std::string_view(reg.attribute("cargo").value()) == "1")};
    const std::string registration = toUpperAscii(trimView(reg.attribute("reg").value()));
    if (!isRegistration(registration) || !isTypeDesignator(record.type) || !isOptionalAirline(record.airline) ||
        !isOptionalAirline(record.operatorCode)) {
      ++out.skipped;
      continue;
    }
    out.registrations.emplace_back(registration, std::move(record));
  }
}

void readSpecialLiveries(pugi::xml_node parent, DbaseContent& out, std::string_view source) {
  for (pugi::xml_node livery : parent.children("livery")) {
    const std::string registration = toUpperAscii(trimView(livery.attribute("reg").value()));
    const std::string title = trim(kvo::cleanText(livery.attribute("title").value()));
    if (!isRegistration(registration) || title.empty() || title.size() > 255) {
      ++out.skipped;
      continue;
    }
    out.specialLiveries.push_back(SpecialLiveryRecord{registration, title, std::string(source)});
  }
}

// What every data file may hold: its version, registrations and special liveries.
void readCommonParts(pugi::xml_node root, std::string_view source, DbaseContent& out) {
  out.version = metaVersion(root);
  readRegistrations(root.child("registrations"), out);
  readSpecialLiveries(root.child("specialliveries"), out, source);
}

// Inserts records whose registration is not yet in the map (the first one wins).
void addRegistrations(std::unordered_map<std::string, RegcodeRecord>& map,
                      std::vector<std::pair<std::string, RegcodeRecord>>& records) {
  for (auto& [reg, record] : records) map.try_emplace(normaliseRegistration(reg), std::move(record));
}

std::string displayPath(const fs::path& path) { return path.lexically_normal().string(); }

// The plain text of one encrypted data file; user errors name the file.
std::string decryptFile(const fs::path& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    throw kvo::UserErrorException(kDataFileMissingCode,
                                  fmt::format("Data file {} is missing, please reinstall it", displayPath(path)));
  }
  std::string bytes;
  try {
    bytes = readFileBytes(path, kMaxDataFileBytes);
  } catch (const std::exception& e) {
    throw kvo::UserErrorException(kDataFileDamagedCode,
                                  fmt::format("Data file {} cannot be read: {}", displayPath(path), e.what()));
  }
  try {
    return gf_streamDecrypt(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), builtInDataKey());
  } catch (const DataDecryptError& e) {
    throw kvo::UserErrorException(
        kDataFileDamagedCode,
        fmt::format("Data file {} is damaged or not made for this program ({}), please reinstall it",
                    displayPath(path), e.what()));
  }
}

template <typename Parse>
DbaseContent parseFile(const fs::path& path, const std::string& plain, Parse parse) {
  try {
    return parse(plain);
  } catch (const std::exception& e) {
    throw kvo::UserErrorException(
        kDataFileInvalidCode, fmt::format("Data file {} is not a valid data file: {}", displayPath(path), e.what()));
  }
}

UserRegcodes readUserFiles(const fs::path& folder) {
  UserRegcodes all;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return all;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder, fs::directory_options::skip_permission_denied, ec)) {
    std::error_code fileEc;
    if (!entry.is_regular_file(fileEc)) continue;
    if (equalsIgnoreCase(entry.path().extension().string(), ".txt")) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    try {
      const DecodedText text = decodeTextBytes(readFileBytes(file, kMaxUserFileBytes));
      UserRegcodes one = parseUserRegcodes(text.text, file.filename().string());
      // The first few skipped lines in full, then a count.
      kvo::logFirstAndCount(
          one.rejected.size(), 20,
          [&](std::size_t i) { return fmt::format("{}: line skipped: {}", displayPath(file), one.rejected[i]); },
          [&](std::size_t more) {
            return fmt::format("{}: {} more line{} skipped", displayPath(file), more, pluralSuffix(more));
          });
      std::move(one.registrations.begin(), one.registrations.end(), std::back_inserter(all.registrations));
      std::move(one.specialLiveries.begin(), one.specialLiveries.end(), std::back_inserter(all.specialLiveries));
    } catch (const std::exception& e) {
      logArrowLine(fmt::format("{} could not be read: {}", displayPath(file), e.what()));
    }
  }
  return all;
}

}  // namespace

bool isTypeDesignator(std::string_view t) {
  if (t.size() < 2 || t.size() > 4 || !isUpperAlpha(t[0])) return false;
  return std::all_of(t.begin(), t.end(), [](char c) { return isUpperAlpha(c) || isDigit(c); });
}

bool isAirlineCode(std::string_view a) { return a.size() == 3 && std::all_of(a.begin(), a.end(), isUpperAlpha); }

std::string normaliseRegistration(std::string_view registration) {
  std::string out;
  out.reserve(registration.size());
  for (char c : registration) {
    if (c == '-' || c == ' ' || c == '\t') continue;
    out.push_back((c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return out;
}

DbaseContent parseDbaseXml(std::string_view xml) {
  pugi::xml_document doc;
  pugi::xml_node root = loadRoot(doc, xml, "dbase");
  DbaseContent out;
  readCommonParts(root, kDbaseFileName, out);  // the data base may carry registrations too
  pugi::xml_node aircraft = root.child("aircraft");
  if (!aircraft) throw std::runtime_error("no \"aircraft\" section");
  std::unordered_map<std::string, bool> seen;
  for (pugi::xml_node type : aircraft.children("type")) {
    AircraftTypeData data;
    data.icao = trim(type.attribute("icao").value());
    data.name = type.attribute("name").value();
    for (const std::string& set : splitString(type.attribute("sets").value(), ' ')) {
      data.categoryMask |= categoryBitOfSetName(set);
    }
    if (!isTypeDesignator(data.icao) || !parseSpan(type.attribute("span_m").value(), data.spanMetres) ||
        !seen.try_emplace(data.icao, true).second) {
      ++out.skipped;
      continue;
    }
    out.types.push_back(std::move(data));
  }
  if (out.types.empty()) throw std::runtime_error("no aircraft types");
  for (pugi::xml_node family : root.child("related").children("family")) {
    std::vector<std::string> members;
    for (const std::string& t : splitString(family.attribute("types").value(), ' ')) {
      if (!t.empty()) members.push_back(t);
    }
    if (members.size() >= 2) out.families.push_back(std::move(members));
  }
  for (pugi::xml_node airline : root.child("airlines").children("airline")) {
    AirlineRecord record{trim(airline.attribute("icao").value()), trim(airline.attribute("iata").value()),
                         airline.attribute("name").value(),        airline.attribute("callsign").value(),
                         airline.attribute("country").value(),     std::string_view(airline.attribute("active").value()) == "1"};
    if (!isAirlineCode(record.icao)) {
      ++out.skipped;
      continue;
    }
    out.airlines.push_back(std::move(record));
  }
  return out;
}

DbaseContent parseRegcodesXml(std::string_view xml) {
  pugi::xml_document doc;
  pugi::xml_node root = loadRoot(doc, xml, "regcodes");
  DbaseContent out;
  readCommonParts(root, kRegcodesFileName, out);
  return out;
}

UserRegcodes parseUserRegcodes(std::string_view text, std::string_view source) {
  UserRegcodes out;
  std::size_t lineNumber = 0;
  for (const std::string_view whole : splitLines(text)) {
    const std::string_view line = trimView(whole);
    ++lineNumber;
    if (line.empty() || line.front() == '#' || line.front() == ';' || line.starts_with("//")) continue;
    const std::vector<std::string> f = splitString(line, ';');
    auto reject = [&](std::string_view why) {
      out.rejected.push_back(fmt::format("{} line {}: {} ({})", source, lineNumber, kvo::printableForLog(line), why));
    };
    if (f.size() < 3) {
      reject("fewer than 3 fields");
      continue;
    }
    const std::string registration = toUpperAscii(f[0]);
    RegcodeRecord record{toUpperAscii(f[1]), toUpperAscii(f[2]), f.size() > 3 ? toUpperAscii(f[3]) : std::string(),
                         static_cast<std::uint8_t>(f.size() > 4 && f[4] == "1")};
    if (!isRegistration(registration)) {
      reject("invalid registration");
      continue;
    }
    if (!isTypeDesignator(record.type)) {
      reject("invalid type designator");
      continue;
    }
    if (!isOptionalAirline(record.airline) || !isOptionalAirline(record.operatorCode)) {
      reject("invalid airline code");
      continue;
    }
    if (f.size() > 4 && !f[4].empty() && f[4] != "0" && f[4] != "1") {
      reject("cargo must be 0 or 1");
      continue;
    }
    if (f.size() > 5 && !f[5].empty()) {
      // A title may itself hold ';': everything after the fifth separator belongs to it.
      std::string title = f[5];
      for (std::size_t i = 6; i < f.size(); ++i) title += ";" + f[i];
      title = kvo::cleanText(title);  // the scan refuses a title that is no clean text: a cleaned one matches none
      if (title.size() > 255) {
        reject("title longer than 255 characters");
        continue;
      }
      out.specialLiveries.push_back(SpecialLiveryRecord{registration, std::move(title), std::string(source)});
    }
    out.registrations.emplace_back(registration, std::move(record));
  }
  return out;
}

void readDbase(const fs::path& workFolder) {
  const fs::path input = (workFolder.empty() ? fs::path(".") : workFolder) / "input";
  const fs::path dbasePath = input / fs::path(kDbaseFileName);
  const fs::path regcodesPath = input / fs::path(kRegcodesFileName);

  // Both files are read completely before any table changes.
  DbaseContent dbase = parseFile(dbasePath, decryptFile(dbasePath), parseDbaseXml);
  DbaseContent regcodes = parseFile(regcodesPath, decryptFile(regcodesPath), parseRegcodesXml);
  UserRegcodes user = readUserFiles(input / "my_regcodes");

  Tables tables;
  tables.airlines.reserve(dbase.airlines.size());
  for (AirlineRecord& a : dbase.airlines) {
    const std::string code = a.icao;
    tables.airlines.try_emplace(code, std::move(a));
  }
  addRegistrations(tables.dbaseRegs, dbase.registrations);
  addRegistrations(tables.fileRegs, regcodes.registrations);
  addRegistrations(tables.userRegs, user.registrations);
  tables.specials = std::move(dbase.specialLiveries);
  std::move(regcodes.specialLiveries.begin(), regcodes.specialLiveries.end(), std::back_inserter(tables.specials));
  std::move(user.specialLiveries.begin(), user.specialLiveries.end(), std::back_inserter(tables.specials));

  replaceAircraftTypes(dbase.types, dbase.families);
  const std::size_t airlines = tables.airlines.size();
  const std::size_t regs = tables.dbaseRegs.size() + tables.fileRegs.size() + tables.userRegs.size();
  const std::size_t specials = tables.specials.size();
  {
    std::unique_lock lock(g_tablesMutex);
    g_tables = std::move(tables);
  }
  logLine(fmt::format("Data base {} read: {} aircraft types, {} families, {} airlines", dbase.version.empty() ? "?" : dbase.version,
                      dbase.types.size(), dbase.families.size(), airlines));
  logLine(fmt::format("Registration codes {} read: {} registrations ({} from your files), {} special liveries",
                      regcodes.version.empty() ? "?" : regcodes.version, regs, user.registrations.size(), specials));
  if (dbase.skipped + regcodes.skipped > 0) {
    logArrowLine(fmt::format("{} records of the data files broke their schema and were skipped",
                             dbase.skipped + regcodes.skipped));
  }
}

std::optional<RegcodeRecord> findRegcode(std::string_view registration) {
  if (registration.empty()) return std::nullopt;
  const std::string key = normaliseRegistration(registration);
  std::shared_lock lock(g_tablesMutex);
  for (const auto* map : {&g_tables.dbaseRegs, &g_tables.fileRegs, &g_tables.userRegs}) {
    if (auto it = map->find(key); it != map->end()) return it->second;
  }
  return std::nullopt;
}

std::optional<AirlineRecord> findAirline(std::string_view icaoCode) {
  std::shared_lock lock(g_tablesMutex);
  auto it = g_tables.airlines.find(std::string(icaoCode));
  if (it == g_tables.airlines.end()) return std::nullopt;
  return it->second;
}

std::size_t airlineCount() {
  std::shared_lock lock(g_tablesMutex);
  return g_tables.airlines.size();
}

std::vector<SpecialLiveryRecord> dataSpecialLiveries() {
  std::shared_lock lock(g_tablesMutex);
  return g_tables.specials;
}

void clearDbaseTables() {
  clearAircraftTypes();
  std::unique_lock lock(g_tablesMutex);
  g_tables = Tables{};
}
