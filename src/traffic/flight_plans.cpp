#include "traffic/flight_plans.h"

#include <fmt/format.h>

#include <system_error>

#include "airports/airport_folders.h"
#include "core/files.h"
#include "core/log.h"

namespace fs = std::filesystem;

std::filesystem::path g_flightPlanFolder;

namespace {

constexpr int kRemoveTries = 10;

// A feed text as it can stand in a log line: unprintable bytes become '?', and it is cut short.
std::string printable(std::string_view text) {
  std::string out;
  for (char c : text.substr(0, 16)) {
    const auto u = static_cast<unsigned char>(c);
    out.push_back(u < 0x20 || u >= 0x7F ? '?' : c);
  }
  if (text.size() > 16) out += "...";
  return out;
}

}  // namespace

fs::path flightPlanPath(std::uint32_t objectId) { return g_flightPlanFolder / fmt::format("{}.pln", objectId); }

std::string_view flightPlanRule(SizeCategory category) {
  return category == Buzjets || category == Large || category == Heavy ? "IFR" : "VFR";
}

bool flightPlanCodesUsable(const kvo::LiveAircraft& ac) {
  if (isAirportCode(ac.origin) && isAirportCode(ac.destination)) return true;
  logLine(fmt::format("{} no flight plan: origin '{}' or destination '{}' is no airport code", aircraftLongText(ac),
                      printable(ac.origin), printable(ac.destination)));
  return false;
}

bool writeFlightPlan(const fs::path& path, const kvo::LiveAircraft& ac) {
  if (!isAirportCode(ac.origin) || !isAirportCode(ac.destination)) return false;
  if (path.parent_path().empty()) return false;  // no folder made: nothing lands in the working folder
  const std::string text = fmt::format(
      "{}\n{}\n{}\n{}{}{}\n{}{}{}\n{}{}{}\n{}\n{}\n", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
      "<SimBase.Document Type=\"AceXML\" version=\"4,3\">", "<FlightPlan.FlightPlan>", "<FPType>",
      flightPlanRule(ac.sizeCategory), "</FPType>", "<DepartureID>", ac.origin, "</DepartureID>", "<DestinationID>",
      ac.destination, "</DestinationID>", "</FlightPlan.FlightPlan>", "</SimBase.Document>");
  return writeFileAtomically(path, text);
}

bool createFlightPlanFolders() {
  const fs::path program = programFolder();
  if (program.empty()) {
    g_flightPlanFolder.clear();
    return false;
  }
  g_flightPlanFolder = program / "orig_dest";
  for (const fs::path& folder : {program, g_flightPlanFolder}) {
    std::error_code ec;
    const bool exists = fs::exists(folder, ec);
    if (ec) throw fs::filesystem_error("exists", folder, ec);
    if (!exists) fs::create_directories(folder, ec);
  }
  std::error_code ec;
  return fs::is_directory(g_flightPlanFolder, ec);
}

bool gf_removeFlightPlanFolder() {
  if (g_flightPlanFolder.empty()) return true;
  std::error_code ec;
  for (int attempt = 0; attempt < kRemoveTries; ++attempt) {
    ec.clear();
    fs::remove_all(g_flightPlanFolder, ec);
    if (ec != std::errc::directory_not_empty && ec != std::errc::permission_denied) break;
  }
  if (ec) logLine(fmt::format("gf_removeFlightPlanFolder: {}", ec.message()));
  std::error_code gone;
  return !fs::exists(g_flightPlanFolder, gone) && !gone;
}
