#pragma once
// The park airport: the one airport whose stands get static parked aircraft and on whose stands
// live traffic parks. The user names candidates in airports\my_park_airports.txt (optionally with
// a reserved stand for the own aircraft); the airports of the my_thirdparty folder are candidates
// too. While the user flies, handleParkAirport keeps the candidates ordered by distance, chooses
// the park airport (the airport the user stands at, or the nearest candidate in sight), drops it
// when it goes out of sight, and has its airport file read.
//
// Threads: the start-up worker runs everything here but addParkAirport (also the window thread,
// for DESTINATION) and saveUserStandAtParkAirport (the SimConnect thread). The list therefore has
// a lock of its own, g_parkAirportsMutex. Lock order: while it is held, only the main window's
// message lock and the log lock are taken after it, never g_simQueueMutex or any lock of the
// traffic engine; code that holds g_simQueueMutex may take it (the queue lock is the outer one).
// Whatever removes aircraft or reads stands is called after the list lock is let go.
#include <cstdint>
#include <filesystem>
#include <list>
#include <mutex>
#include <string>
#include <string_view>

#include "core/geometry.h"

namespace kvo {

struct ParkAirportEntry {
  std::string code;
  std::string stand;      // the reserved stand's name; empty when none
  double latitude = 0.0;  // degrees, from the airport list
  double longitude = 0.0;
  double distanceNm = 0.0;  // from the user; 0 until computed
};

}  // namespace kvo

// The park airport's code; empty while there is none (worker only).
extern std::string g_parkAirport;
// Its IATA code (the feed names airports by it); empty while none (worker only).
extern std::string g_parkAirportIata;
// Its elevation (ft) and reference position (degrees); 0 while none is set (worker only).
extern double g_parkAirportElevation;
extern double g_parkAirportLat;
extern double g_parkAirportLon;
// The user's reserved stand at the park airport; empty while none (worker only).
extern std::string g_reservedStand;

// The candidates, the first one the one the choice looks at; under g_parkAirportsMutex.
extern std::mutex g_parkAirportsMutex;
extern std::list<kvo::ParkAirportEntry> g_parkAirports;
// A park airport was just chosen; its airport file is read at the next handleParkAirport (worker).
extern bool g_parkAirportChosen;

// At most this many lines of one kind ("wrong syntax", "double", "is unknown") are logged per
// read of the list file; then one line counts the rest.
inline constexpr int kParkListLinesLogged = 20;
// More candidates than this cost much time on every distance update: the user is warned.
inline constexpr std::size_t kManyParkAirports = 3000;

std::filesystem::path myParkAirportsFile();  // airports\my_park_airports.txt
std::filesystem::path thirdpartyFolder();    // airports\my_thirdparty

// Clears the list and reads the file, then adds the airports of the my_thirdparty folder; false
// when a code not in the airport list was named or an error occurred.
bool lf_readMyParkAirports();
// Adds an entry for every folder of my_thirdparty whose name is a known airport code not yet in
// the list; the number added. Caller holds g_parkAirportsMutex.
std::size_t addMyThirdpartyParkAirports();
// Writes the first entry into the file: every line of its code is replaced by the one new line
// ("code" or "code,stand"), the lines sorted and without duplicates. A file that exists but
// cannot be read is left alone (logged), so nothing in it is lost. Caller holds the list lock.
void writeMyParkAirports();
// A stand name that can stand in the file as a line's second field: 1 to kMaxListedStandName
// bytes, no ',', valid UTF-8 without control characters. Other names are not kept in the list.
inline constexpr std::size_t kMaxListedStandName = 64;
bool isListableStandName(std::string_view name);
// True when the line belongs to the entry's airport (its first field is the code).
bool updateMyParkAirportStand(const kvo::ParkAirportEntry& entry, std::string_view line);
// DESTINATION: an entry of the code already in the list goes to the front; a new one (no stand,
// the position, distance 0) is put at the front and the file is written.
void addParkAirport(const std::string& code, kvo::LatLon position);

// The code's airport becomes the park airport (code, IATA code, position and elevation from the
// airport list) and "\nThe park airport is {}" is logged; false when the list does not know it.
bool setParkAirport(const std::string& code);
// Forgets the park airport's codes, position and elevation (part of closing it).
void unsetParkAirport();

// Re-reads the list (false when that fails) and, with checkStand, takes a changed reserved stand
// for the park airport the user stands at; message is what to show ("park airports and stands
// are okay" unless a change was found).
bool checkParkAirports(bool checkStand, std::string& message);

// Starts the static parking calculation of a newly chosen park airport; with show the message
// line says "Calculating static parked aircraft ..." (not logged).
void startStaticParkingMessage(bool show);

// The choice, once per main-loop step (worker).
void handleParkAirport(bool show);
void selectParkAirport(kvo::LatLon position, bool show);
void checkParkAirportInSight(kvo::LatLon position);

// The SimConnect thread's side of the user's stand: when the first entry is the current park
// airport and its reserved stand differs from the name, the entry takes the name and the file is
// written. True when the file was written. Takes g_parkAirportsMutex.
bool saveUserStandAtParkAirport(std::string_view standName);

// The list, the last position, the chosen flag and the park airport's codes back to their start.
void resetParkAirportsForNewRun();
