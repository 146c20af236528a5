#include "traffic/engine_hooks.h"

#include <fmt/format.h>

#include <mutex>
#include <optional>
#include <string>

#include "airports/airport_folders.h"
#include "airports/airport_list.h"
#include "airports/park_stands.h"
#include "core/log.h"
#include "core/parameters.h"
#include "links/engine_calls.h"
#include "links/feed.h"
#include "links/sim_object_data.h"
#include "links/sim_queues.h"
#include "links/traffic_reader.h"
#include "shared_state/main_window.h"

void installEngineCalls() {
  g_dropLiveTrafficCall = dropLiveTraffic;
  g_findStandAtCall = findStandAt;
  g_saveUserStandCall = saveUserStandAtParkAirport;
}

bool saveUserStandAtParkAirport(std::string_view) { return false; }

// ---- the traffic engine as the run control and the main loop call it (least behaviour) --------

std::string g_parkAirport;
std::string g_parkAirportIata;
std::string g_reservedStand;
std::atomic<bool> g_staticParkingBusy{false};

// ---- the park airport (least behaviour) -------------------------------------------------------
// Until the park airport list, its selection and static parking are built, the one park airport
// is the airport the user's aircraft stands at, when that airport has a file: its stands are read
// so that ground traffic there is kept and moved. Nothing is chosen from the air, no list file is
// read or written and nothing is parked statically.
namespace {

// Forgets the park airport and everything taken from it.
void closeParkAirportLeast() {
  g_parkAirport.clear();
  g_parkAirportIata.clear();
  g_parkAirportLat = 0.0;
  g_parkAirportLon = 0.0;
  g_parkAirportElevation = 0.0;
  g_reservedStand.clear();
  resetParkStands();
  parkStandsChanged();
  g_trafficReader.clearParkAirportPosition();
  g_trafficReader.clearReferenceElevation();
  g_mainWindow.parkFileLoaded = false;
  g_mainWindow.handmade = false;
  g_mainWindow.standCount = 0;
  g_mainWindow.setDisplayText(&kvo::MainWindow::parkAirportPublisher, {}, g_statusAreaRect);
  g_mainWindow.setDisplayText(&kvo::MainWindow::parkAirportName, {}, g_statusAreaRect);
}

// The code's airport becomes the park airport; false when the airport list does not know it.
bool setParkAirport(const std::string& code) {
  const kvo::Airport* airport = findAirport(code);
  if (airport == nullptr) return false;
  g_parkAirport = airport->icao;
  g_parkAirportIata = airport->iata;
  g_parkAirportLat = airport->latitude;
  g_parkAirportLon = airport->longitude;
  g_parkAirportElevation = airport->altitude;
  logLine(fmt::format("\nThe park airport is {}", airportLabel(code)));
  return true;
}

// Reads the park airport's file into g_parkStands; the error text, empty on success.
std::string readParkAirportFile() {
  const kvo::AirportFileChoice file = resolveAirportFile(g_parkAirport);
  if (!file.found()) return fmt::format("{} {} not found", "lf_readParkedFile", g_parkAirport);
  if (file.unknownPublisher) {
    return fmt::format("{} {} has publisher:{}, {}", "lf_readParkedFile", g_parkAirport, "unknown", file.path.string());
  }
  kvo::AirportInfo info;
  kvo::QualityFactors quality;
  kvo::ParkFileFacts facts;
  const std::string error = gf_readApf(file, info, quality, g_parkStands, facts);
  if (!error.empty()) return error;
  g_parkStands.shrink_to_fit();
  parkStandsChanged();
  // A file without an altitude would put the ground at sea level: the list's elevation stays.
  if (facts.elevationFt != 0.0) g_parkAirportElevation = facts.elevationFt;
  g_trafficReader.setParkAirportPosition(g_parkAirportLat, g_parkAirportLon);
  g_trafficReader.setReferenceElevation(g_parkAirportElevation);
  g_mainWindow.parkFileLoaded = true;
  g_mainWindow.handmade = facts.handmade;
  g_mainWindow.standCount = g_parkStands.size();
  g_mainWindow.setDisplayText(&kvo::MainWindow::parkAirportPublisher, info.publisher, g_statusAreaRect);
  g_mainWindow.setDisplayText(&kvo::MainWindow::parkAirportName, info.name, g_statusAreaRect);
  return {};
}

}  // namespace

void handleParkAirport(bool) {
  if (!g_parkAirport.empty()) return;
  const kvo::UserAircraftData user = g_userAircraftSnapshot;
  if (!kvo::isKnownPosition(user.lat, user.lon) || !g_userOnGround.load().value_or(false)) return;
  const std::optional<std::string> code = findClosestAirport(kvo::LatLon{user.lat, user.lon});
  if (!code) {
    g_mainWindow.showMessage("User aircraft on the ground, no airport in sight", true);
    return;
  }
  if (findAirportFile(*code) == 0) {
    g_mainWindow.showMessage(fmt::format("User aircraft on the ground at {}, no airport file found", *code), true);
    return;
  }
  logLine(fmt::format("User aircraft on the ground at {}", *code));
  if (!setParkAirport(*code)) return;
  if (const std::string error = readParkAirportFile(); !error.empty()) {
    g_mainWindow.showMessage(error, true);
    closeParkAirportLeast();
  }
}

bool lf_readMyParkAirports() { return true; }
bool checkParkAirports(bool, std::string&) { return false; }
void freeReservedStand() {}
void clearParkAirport() { closeParkAirportLeast(); }
void disableControlsForStaticParking() {}
void adjustParking() {}
void removeAllStaticAircraft() {}
void lf_searchForCoupledCsAroundThisTime(kvo::LiveAircraft&, kvo::WeekSlot) {}
bool createFlightPlanFolders() { return true; }
bool gf_removeFlightPlanFolder() { return true; }

// ---- stands and the park airport as the movement code calls them (least behaviour) ----------
double g_parkAirportElevation = 0.0;
double g_parkAirportLat = 0.0;
double g_parkAirportLon = 0.0;
std::atomic<bool> g_learnSoftAllowed{true};

// ---- stands, static parking and flight plans as the tick calls them (least behaviour) --------
std::vector<StaticCandidate> g_staticCandidates;
void spawnStaticAircraft() {}
std::filesystem::path g_flightPlanFolder;
std::filesystem::path flightPlanPath(std::uint32_t objectId) {
  return g_flightPlanFolder / (std::to_string(objectId) + ".pln");
}
bool writeFlightPlan(const std::filesystem::path&, const kvo::LiveAircraft&) { return false; }
void resetParkingStateForNewRun() { closeParkAirportLeast(); }
