#pragma once
// The small flight plan files of live aircraft with an origin and a destination: one "{}.pln" per
// simulator object in the folder "orig_dest" of the program's folder, handed to the simulator so
// that it shows the route. The folder is made at start-up and removed at every close-down.
// Start-up worker only.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "traffic/aircraft_records.h"

// The flight plan folder; empty until createFlightPlanFolders has made it (then nothing is
// written).
extern std::filesystem::path g_flightPlanFolder;

// The object's flight plan file: "{}.pln" of the object id in the flight plan folder.
std::filesystem::path flightPlanPath(std::uint32_t objectId);

// "IFR" for business jets, large and heavy aircraft, "VFR" for the others.
std::string_view flightPlanRule(SizeCategory category);

// The aircraft's origin and destination can go into a flight plan: both are airport codes of 1 to
// 8 letters and digits, so that nothing from the feed can break the file's XML. Otherwise the one
// line "{} no flight plan: origin '{}' or destination '{}' is no airport code" is logged (the
// codes shown with unprintable characters as '?') and the result is false.
bool flightPlanCodesUsable(const kvo::LiveAircraft& aircraft);

// Writes the aircraft's flight plan (eight lines) to the path through a temporary file. False,
// with nothing written, when the codes are not usable (see above, nothing logged here) or the
// file cannot be written.
bool writeFlightPlan(const std::filesystem::path& path, const kvo::LiveAircraft& aircraft);

// Sets g_flightPlanFolder to the program's folder's "orig_dest", making the program's folder and
// it when missing; true when the folder exists afterwards. A failing existence query other than
// "not found" is thrown as a filesystem error of "exists". Without a program's folder (the
// application-data folder is unknown) the flight plan folder stays empty and the result is false.
bool createFlightPlanFolders();

// Removes the flight plan folder with its files, retrying up to 10 times while it is not empty or
// access is denied; an error is logged as "gf_removeFlightPlanFolder: {}". True when the folder is
// gone (also when it never existed or was never set).
bool gf_removeFlightPlanFolder();
