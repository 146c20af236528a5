#include "app/sim_detection.h"

#include <fmt/format.h>

#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "core/files.h"
#include "core/log.h"
#include "core/parameters.h"
#include "core/text.h"

namespace fs = std::filesystem;

namespace {

// exists() that raises every error but "not found", as the start-up checks expect.
bool existsOrThrow(const fs::path& path) {
  std::error_code ec;
  const bool found = fs::exists(path, ec);
  if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) {
    throw fs::filesystem_error("exists", path, ec);
  }
  return found;
}

std::string_view officialFolderName() { return g_simIs2020.load() ? "Official" : "Official2024"; }

}  // namespace

fs::path getStorePackageFamily() {
  return g_simIs2020.load() ? "Microsoft.FlightSimulator_8wekyb3d8bbwe" : "Microsoft.Limitless_8wekyb3d8bbwe";
}

fs::path getSteamFolderName() {
  return g_simIs2020.load() ? "Microsoft Flight Simulator" : "Microsoft Flight Simulator 2024";
}

fs::path findUserCfgOpt() {
  const fs::path local = getLocalAppDataPath();
  const fs::path roaming = getAppDataPath();
  const struct {
    const char* kind;
    fs::path path;
  } places[] = {
      {"Store", local / "Packages" / getStorePackageFamily() / "LocalCache" / "UserCfg.opt"},
      {"Steam1", roaming / getSteamFolderName() / "UserCfg.opt"},
      {"Steam2", local / "Packages" / "Microsoft.FlightDashboard_8wekyb3d8bbwe" / "LocalCache" / "UserCfg.opt"},
      {"Boxed", local / "MSFSPackages" / "UserCfg.opt"},
  };
  for (const auto& place : places) {
    // A place below an unknown application-data folder is no place.
    if (!place.path.parent_path().empty() && place.path.is_absolute() && existsOrThrow(place.path)) {
      return place.path;
    }
    logLine(fmt::format("MSFS detection, no {}:{}", place.kind, place.path.string()));
  }
  return places[3].path;
}

fs::path findSteamPackages() {
  const fs::path roaming = getAppDataPath();
  if (roaming.empty()) return {};
  const fs::path packages = roaming / getSteamFolderName() / "Packages";
  if (!existsOrThrow(packages)) return {};
  logLine(fmt::format("Steam packages:{}", packages.string()));
  return packages;
}

fs::path readInstalledPackagesPath() {
  const fs::path userCfg = findUserCfgOpt();
  if (!userCfg.is_absolute() || !existsOrThrow(userCfg)) {
    logLine("No UserCfg.opt found?");
    return {};
  }
  std::ifstream in(userCfg, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  fs::path result = fs::path(installedPackagesPathIn(text));
  if (!result.empty() && !existsOrThrow(result)) result.clear();
  logLine(fmt::format("UserCfg.opt: InstalledPackagesPath={}", result.empty() ? "???" : result.string()));
  return result;
}

std::string installedPackagesPathIn(std::string_view text) {
  constexpr std::string_view kKey = "installedpackagespath";
  for (const std::string_view line : splitLines(text)) {
    const std::size_t at = toLowerAscii(line).find(kKey);
    if (at == std::string::npos) continue;
    if (line.find('"') != std::string_view::npos) return extractQuoted(line);
    // Never seen, yet possible: the path without quotes, as the rest of the line.
    return trim(line.substr(at + kKey.size()));
  }
  return {};
}

bool checkPackagesPath(const fs::path& path) {
  if (path.empty()) return false;
  return existsOrThrow(path) && existsOrThrow(path / "Community") && existsOrThrow(path / officialFolderName());
}

fs::path detectSimulator() {
  if (fs::path steam = findSteamPackages(); checkPackagesPath(steam)) return steam;
  if (fs::path named = readInstalledPackagesPath(); checkPackagesPath(named)) return named;
  return {};
}

fs::path getSimPackagesPath(std::string_view subfolder) {
  const std::string base = g_simIs2020.load() ? MSFS_INSTALL_PATH.value() : MSFS_2024_INSTALL_PATH.value();
  return fs::path(base) / fs::path(subfolder);
}
