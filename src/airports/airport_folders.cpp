#include "airports/airport_folders.h"

#include <map>
#include <mutex>
#include <system_error>

#include <fmt/format.h>

#include "airports/airport_file_detail.h"
#include "core/download.h"
#include "core/files.h"
#include "core/log.h"
#include "core/text.h"
#include "core/utf.h"

namespace fs = std::filesystem;

std::filesystem::path g_airportsFolder = "airports";

namespace {

using SteadyClock = std::chrono::steady_clock;

std::mutex g_failedDownloadsMutex;
std::map<std::string, SteadyClock::time_point> g_failedDownloads;  // code -> when it failed

bool isFile(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

bool recentlyFailed(const std::string& code) {
  std::lock_guard lock(g_failedDownloadsMutex);
  const auto it = g_failedDownloads.find(code);
  if (it == g_failedDownloads.end()) return false;
  if (SteadyClock::now() - it->second < kStockDownloadRetry) return true;
  g_failedDownloads.erase(it);
  return false;
}

void rememberFailure(const std::string& code) {
  std::lock_guard lock(g_failedDownloadsMutex);
  g_failedDownloads[code] = SteadyClock::now();
}

// Downloads the stock file to a hidden name beside its place and moves it there only when it
// reads as an airport file, so an error page or a cut-off transfer never becomes a stock file.
bool downloadStockFile(const std::string& code) {
  if (recentlyFailed(code)) return false;
  const fs::path target = stockAirportFilePath(code);
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  if (ec) {
    logArrowLine(fmt::format("Could not create directory {}: {}", target.parent_path().string(), ec.message()));
    rememberFailure(code);
    return false;
  }
  const fs::path staging = target.parent_path() / fmt::format(".{}.download", code);
  bool ok = downloadFromSite(stockDownloadName(code), staging);
  if (ok) {
    kvo::ParsedAirportFile parsed;
    const std::string error = kvo::parseAirportFile(staging, parsed, true);
    if (!error.empty()) {
      logArrowLine(fmt::format("Downloaded stock file for {} refused: {}", code, error));
      ok = false;
    } else {
      fs::rename(staging, target, ec);
      if (ec) {
        logArrowLine(fmt::format("{}: {}", target.string(), ec.message()));
        ok = false;
      }
    }
  }
  if (!ok) {
    fs::remove(staging, ec);
    rememberFailure(code);
  }
  return ok;
}

kvo::AirportFileChoice locate(std::string_view requested, bool download, bool withPublisher) {
  kvo::AirportFileChoice choice;
  const std::string code = toUpperAscii(trimView(requested));
  if (!isAirportCode(code)) return choice;

  if (const fs::path p = thirdpartyAirportFilePath(code); isFile(p)) {
    choice.path = p;
    choice.source = kvo::AirportFileSource::Thirdparty;
    if (withPublisher) {
      // An unreadable file keeps unknownPublisher clear: reading it then tells the real reason.
      if (const auto publisher = kvo::readAirportFilePublisher(p)) {
        choice.publisher = *publisher;
        const std::string_view name = trimView(choice.publisher);
        choice.unknownPublisher = name.empty() || equalsIgnoreCase(name, "unknown");
      }
    }
  } else if (const fs::path simaddon = g_airportsFolder / "my_simaddon" / deviceSafeName(code + ".txt");
             isFile(simaddon)) {
    choice.path = simaddon;
    choice.source = kvo::AirportFileSource::Simaddon;
    choice.publisher = "simaddon";
  } else if (const fs::path simaddonXml = g_airportsFolder / "my_simaddon" / deviceSafeName(code + ".xml");
             isFile(simaddonXml)) {
    choice.path = simaddonXml;
    choice.source = kvo::AirportFileSource::Simaddon;
    choice.publisher = "simaddon";
  } else if (const fs::path stock = stockAirportFilePath(code); isFile(stock) || (download && downloadStockFile(code))) {
    choice.path = stock;
    choice.source = kvo::AirportFileSource::Stock;
    choice.publisher = "stock";
  } else {
    return choice;
  }
  if (withPublisher && !choice.unknownPublisher && !choice.publisher.empty()) {
    if (const fs::path learned = learnedAirportFilePath(code, choice.publisher); isFile(learned)) {
      choice.learnedPath = learned;
    }
  }
  return choice;
}

}  // namespace

bool isAirportCode(std::string_view code) {
  if (code.empty() || code.size() > 8) return false;
  for (char c : code) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

std::string publisherFolderName(std::string_view publisher) {
  publisher = publisher.substr(0, 100);
  std::string name;
  name.reserve(publisher.size());
  for (char c : publisher) {
    const auto u = static_cast<unsigned char>(c);
    const bool unsafe = u < 0x20 || u == 0x7F || c == '<' || c == '>' || c == ':' || c == '"' || c == '/' ||
                        c == '\\' || c == '|' || c == '?' || c == '*';
    name.push_back(unsafe ? '_' : c);
  }
  // Cleaned after the cut, so that a character cut in two becomes U+FFFD and the name stays UTF-8.
  name = kvo::cleanText(name);
  const auto first = name.find_first_not_of(" .");
  if (first == std::string::npos) return "unknown";
  return deviceSafeName(name.substr(first, name.find_last_not_of(" .") - first + 1));
}

fs::path thirdpartyAirportFilePath(std::string_view icao) {
  const std::string code = deviceSafeName(icao);
  return g_airportsFolder / "my_thirdparty" / code / (code + ".xml");
}

fs::path stockAirportFilePath(std::string_view icao) {
  return g_airportsFolder / "archive" / "stock" / (deviceSafeName(icao) + ".xml");
}

fs::path learnedAirportFilePath(std::string_view icao, std::string_view publisher) {
  const fs::path learned = g_airportsFolder / "learned";
  const std::string file = deviceSafeName(icao) + ".xml";
  if (publisher == "stock") return learned / "stock" / file;
  if (publisher == "simaddon") return learned / "simaddon" / file;
  return learned / "thirdparty" / publisherFolderName(publisher) / file;
}

std::string stockDownloadName(std::string_view icao) { return fmt::format("airports/{}.xml", icao); }

int findAirportFile(std::string_view code) {
  try {
    return static_cast<int>(locate(code, true, false).source);
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("findAirportFile exception: {}", e.what()));
    return 0;
  }
}

kvo::AirportFileChoice resolveAirportFile(std::string_view icao) {
  try {
    kvo::AirportFileChoice choice = locate(icao, true, true);
    if (choice.found()) {
      logLine(fmt::format("Airport file of {}: {}{}", icao, choice.path.string(),
                          choice.learnedPath.empty() ? std::string()
                                                     : fmt::format(" with {}", choice.learnedPath.string())));
    }
    return choice;
  } catch (const std::exception& e) {
    logArrowLine(fmt::format("resolveAirportFile exception: {}", e.what()));
    return {};
  }
}

void resetAirportFolders() {
  g_airportsFolder = "airports";
  std::lock_guard lock(g_failedDownloadsMutex);
  g_failedDownloads.clear();
}
