#include "app/data_updates.h"

#include <atomic>
#include <fstream>
#include <span>
#include <system_error>

#include <fmt/format.h>

#include "aircraft/cfg_text.h"
#include "aircraft/data_crypto.h"
#include "aircraft/dbase.h"
#include "airports/airport_folders.h"
#include "app/data_updates_input.h"
#include "core/download.h"
#include "core/log.h"
#include "core/parameters.h"
#include "shared_state/main_window.h"

namespace fs = std::filesystem;

namespace {

// The edition whose versions were last checked in this process: 0 none, 2020, 2024.
std::atomic<int> g_versionsCheckedFor{0};

constexpr std::uintmax_t kMaxDataFileBytes = std::uintmax_t{64} << 20;
constexpr std::string_view kSimAddonSiteName = "mysimaddon24/my_simaddon2024.zip";
const fs::path kSimAddonZip = "my_simaddon2024.zip";

fs::path simAddonFolder() { return g_airportsFolder / "my_simaddon"; }

enum class Update { UpToDate, Updated, Failed };

// The whole text of versions.json, or nullopt after its log line.
std::optional<std::string> readVersionsFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    logArrowLine("Cannot open versions.json");
    return std::nullopt;
  }
  std::string text(kvo::kMaxVersionsJsonBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kvo::kMaxVersionsJsonBytes) {
    logArrowLine(fmt::format("versions.json is larger than {} bytes, the data files are not checked",
                             kvo::kMaxVersionsJsonBytes));
    return std::nullopt;
  }
  return text;
}

// Downloads the data file beside its place and moves it there only when it decrypts and reads
// as a data file of its kind, so a cut transfer or an error page never replaces a working file.
template <typename Parse>
bool installDataFile(std::string_view fileName, const fs::path& target, Parse parse) {
  const fs::path staging = target.parent_path() / fmt::format(".{}.download", fileName);
  std::error_code ec;
  bool ok = downloadFromSite(fileName, staging);
  if (ok) {
    try {
      const std::string bytes = readFileBytes(staging, kMaxDataFileBytes);
      const std::string plain = gf_streamDecrypt(
          std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), builtInDataKey());
      parse(plain);
    } catch (const std::exception& e) {
      logArrowLine(fmt::format("Downloaded {} is not a valid data file, {} kept: {}", fileName, target.string(),
                               e.what()));
      ok = false;
    }
  }
  if (ok) {
    fs::rename(staging, target, ec);
    if (ec) {
      logArrowLine(fmt::format("{} could not be replaced: {}", target.string(), ec.message()));
      ok = false;
    }
  }
  if (!ok) fs::remove(staging, ec);
  return ok;
}

template <typename Parse>
void checkDataFile(const nlohmann::json& versions, std::string_view item, StringParameter& stored,
                   std::string_view fileName, Parse parse) {
  const kvo::OfferedVersion offer = kvo::offeredVersion(versions, item);
  if (offer.state == kvo::OfferedVersion::State::Missing) {
    logVersionNotFound(item);
    return;
  }
  if (offer.state == kvo::OfferedVersion::State::Unreadable) {
    logArrowLine(fmt::format("versions.json: {}, {} not checked", offer.problem, item));
    return;
  }
  const fs::path target = fs::path("input") / fileName;
  bool download = offer.version > kvo::VersionData::fromText(stored.value());
  if (!download) {
    std::error_code ec;
    const bool exists = fs::exists(target, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) throw fs::filesystem_error("exists", target, ec);
    download = !exists;
    if (exists) logVersionUpToDate(item);
  }
  if (download && installDataFile(fileName, target, parse)) {
    stored.set(offer.version.toString());
    saveStringParameter(stored);
    logVersionUpdated(item, offer.version);
  }
}

// Unpacks the zip into a fresh folder beside airports\my_simaddon and swaps it in only when every
// entry was written; the old data stay otherwise. The swap makes the folder whole at once, so
// the entries are written plainly.
bool unpackSimAddon(const fs::path& zipPath) {
  const fs::path folder = simAddonFolder();
  const fs::path fresh = g_airportsFolder / ".my_simaddon.new";
  const fs::path old = g_airportsFolder / ".my_simaddon.old";
  std::error_code ec;
  fs::remove_all(fresh, ec);
  fs::remove_all(old, ec);
  fs::create_directories(fresh, ec);
  if (ec) {
    logArrowLine(fmt::format("Could not create directory {}: {}", fresh.string(), ec.message()));
    return false;
  }
  std::string error;
  std::optional<kvo::ZipArchive> archive = kvo::ZipArchive::openFile(zipPath, error);
  if (!archive) {
    logArrowLine(fmt::format("Could not open {}", zipPath.string()));
    logIndentedLine(error);
    fs::remove_all(fresh, ec);
    return false;
  }
  const kvo::ZipReadResult read =
      kvo::readSimAddonZip(*archive, kvo::ZipLimits{}, [&fresh](const std::string& name, std::string_view bytes) {
        const fs::path target = fresh / name;
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
          logArrowLine(fmt::format("Failed to write file: {}", target.string()));
          return false;
        }
        return true;
      });
  // The archive decides how many entries are skipped: the first few are named, the rest counted.
  kvo::logFirstAndCount(
      read.skipped.size(), 20, [&](std::size_t i) { return fmt::format("Zip entry skipped: {}", read.skipped[i]); },
      [](std::size_t more) { return fmt::format("{} more zip entr{} skipped", more, more == 1 ? "y" : "ies"); });
  bool ok = read.ok;
  if (!ok) {
    logArrowLine(fmt::format("{} not unpacked, {} kept: {}", zipPath.string(), folder.string(), read.error));
  } else {
    const bool hadFolder = fs::exists(folder, ec);
    if (hadFolder) fs::rename(folder, old, ec);
    if (!ec) fs::rename(fresh, folder, ec);
    if (ec) {
      logArrowLine(fmt::format("{} could not be replaced: {}", folder.string(), ec.message()));
      std::error_code back;
      if (hadFolder && !fs::exists(folder, back)) fs::rename(old, folder, back);
      ok = false;
    }
  }
  fs::remove_all(fresh, ec);
  fs::remove_all(old, ec);
  if (ok) g_mainWindow.showMessage(fmt::format("{} unzipped {} files", zipPath.string(), read.files), true);
  return ok;
}

Update updateSimAddon(const kvo::VersionData& offered) {
  const kvo::VersionData stored = kvo::VersionData::fromText(MYSIMADDON24_VERSION.value());
  if (!(offered > stored) && !checkSimAddonFolder()) return Update::UpToDate;
  Update result = Update::Failed;
  if (downloadFromSite(kSimAddonSiteName, kSimAddonZip) && unpackSimAddon(kSimAddonZip)) {
    MYSIMADDON24_VERSION.set(offered.toString());
    saveStringParameter(MYSIMADDON24_VERSION);
    result = Update::Updated;
  }
  std::error_code ec;
  fs::remove(kSimAddonZip, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) {
    logArrowLine(fmt::format("Warning: could not remove downloaded zip: {}", ec.message()));
  }
  return result;
}

}  // namespace

void logVersionUpdated(std::string_view item, const kvo::VersionData& version) {
  logLine(fmt::format("{} updated to {}", item, version.toString()));
}

void logVersionUpToDate(std::string_view item) { logLine(fmt::format("{} version up-to-date", item)); }

void logVersionNotFound(std::string_view item) { logArrowLine(fmt::format("{} version not found", item)); }

bool checkSimAddonFolder() {
  const fs::path folder = simAddonFolder();
  std::error_code ec;
  const fs::file_status status = fs::status(folder, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) throw fs::filesystem_error("status", folder, ec);
  if (!fs::is_directory(status)) return true;
  const bool empty = fs::is_empty(folder, ec);
  if (ec) throw fs::filesystem_error("is_empty", folder, ec);
  return empty;
}

bool downloadSimAddon(const kvo::VersionData& offered) { return updateSimAddon(offered) == Update::Updated; }

void checkVersions() {
  g_versionsCheckedFor = g_simIs2020.load() ? 2020 : 2024;
  const fs::path versionsPath = "versions.json";
  bool downloaded = false;
  ensureCurlGlobalInit();
  if (CURL* curl = curl_easy_init()) {
    downloaded = downloadFile(curl, downloadSiteUrl() + "versions.json", versionsPath, false);
    curl_easy_cleanup(curl);
  }
  if (!downloaded) {
    logArrowLine("Downloading version info from my web site failed!");
    return;
  }
  const std::optional<std::string> text = readVersionsFile(versionsPath);
  if (!text) return;
  std::string error;
  const std::optional<nlohmann::json> versions = kvo::parseVersionsJson(*text, error);
  if (!versions) {
    // Like no network: the installed data stay in use.
    logArrowLine(fmt::format("versions.json is not valid JSON, the data files are not checked: {}", error));
    return;
  }
  if (!g_simIs2020.load()) {
    const kvo::OfferedVersion offer = kvo::offeredVersion(*versions, "simaddon");
    if (offer.state == kvo::OfferedVersion::State::Missing) {
      logVersionNotFound("simaddon");
    } else if (offer.state == kvo::OfferedVersion::State::Unreadable) {
      logArrowLine(fmt::format("versions.json: {}, simaddon not checked", offer.problem));
    } else {
      switch (updateSimAddon(offer.version)) {
        case Update::Updated: logVersionUpdated("simaddon", offer.version); break;
        case Update::UpToDate: logVersionUpToDate("simaddon"); break;
        case Update::Failed: break;  // told by its own lines; the stored version stays
      }
    }
  }
  checkDataFile(*versions, "aig", AIG_VERSION, kRegcodesFileName, parseRegcodesXml);
  checkDataFile(*versions, "dbase", DBASE_VERSION, kDbaseFileName, parseDbaseXml);
}

bool versionCheckDueOnRestart() { return !g_simIs2020.load() && g_versionsCheckedFor.load() != 2024; }

void resetDataUpdatesState() { g_versionsCheckedFor = 0; }
