#pragma once
// The livery data base built from the scanned liveries, and the matching ladder that chooses the
// livery of every live and static aircraft.
//
// Titles live in a pool that clearLiveryDb never frees: the window thread may clear the data
// base while a run still holds views of titles (in aircraft records and creation requests), and
// those views must stay valid. The pool is trimmed only by releaseLiveryTitles, which the
// start-up worker calls between runs, when no record of the old run exists any more.
//
// Threads: matching and the special-livery lookup may run on any thread; building, clearing and
// marking failed titles take the data base's lock. The remembered titles per internal id and
// g_noMatchTitles belong to the start-up worker.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "aircraft/livery_scan.h"

// What the matching needs to know of an aircraft.
struct LiveryRequest {
  std::string_view airline;
  std::string_view type;
  std::string_view registration;
  bool cargo = false;  // a freighter, or an aircraft for a cargo stand
};

// The rungs of the ladder; MATCHING_DEPTH (1..4) is the last one tried.
enum class LiveryRung : int {
  SpecialLivery = 1,    // the special livery of the registration
  AirlineType = 2,      // the airline's livery of the exact type
  AirlineRelated = 3,   // the airline's livery of a related type of the same size class
  TypeOnly = 4,         // the type in any livery
};

struct LiveryChoice {
  std::string_view title;  // in the title pool
  bool cargo = false;      // the livery is a freighter's
  bool reverseThrust = false;  // the title contains "FSLTL_"
  LiveryRung rung = LiveryRung::TypeOnly;
};

// Chooses by the ladder. Within a rung, liveries whose cargo flag fits the request come first,
// then the lower folder index, then liveries that are no single airframe's own (scanned with an
// ATC id, or a special livery of the data files); of several equal ones a random one when RANDOM
// is on, else the first in scan order. Titles that the simulator failed to create are never chosen. Counts the
// outcome for the matching summary.
std::optional<LiveryChoice> chooseLivery(const LiveryRequest& request);

// Replaces the data base by these liveries (their titles interned in the pool); also builds the
// special liveries of the registrations: the titles of the data files that are installed, and
// the liveries scanned with an ATC id. Marks titles that failed before.
void buildLiveryDb(const std::vector<LiveryData>& liveries);
std::size_t liveryDbSize();
// Empties every table of the livery data base and forgets the failed titles (before a simulator
// switch or a forced rescan). Safe from any thread; titles already handed out stay valid.
void clearLiveryDb();
// Reserves the containers of a run; called at the start of each traffic run.
void reserveLiveryDb();
// Frees the pooled titles that the data base no longer holds. Only on the start-up worker,
// between runs (after resetTraffic), when no aircraft record or request of a run exists.
void releaseLiveryTitles();
std::size_t liveryTitlePoolSize();

// registration -> title of single airframes with a special livery (installed titles only).
class SpecialLiveries {
 public:
  // The title for the registration (compared in upper case without blanks and dashes); empty
  // when there is none.
  std::string_view titleFor(std::string_view registration) const;
  std::size_t size() const;
  bool empty() const { return size() == 0; }
};
extern SpecialLiveries g_specialLiveries;

// The title remembered for an internal id, or empty; a remembered title that the simulator
// failed to create is forgotten and gives empty.
std::string_view liveryTitleForRequest(std::uint32_t internalId);
// Inserts or overwrites the title of the id (after a successful match).
void rememberLiveryForRequest(std::uint32_t internalId, std::string_view title);
void forgetLiveryForRequest(std::uint32_t internalId);
void clearLiveryRequests();  // resetTraffic

// The simulator could not create an aircraft with this title: logs "{} '{}' could not be created
// by your Sim!" and never chooses the title again. At kFailedLiveryLimit failed titles throws
// kvo::UserErrorException 81.
inline constexpr int kFailedLiveriesErrorCode = 81;
inline constexpr std::size_t kFailedLiveryLimit = 20;
void onLiveryTitleCreateFailed(std::string_view aircraftText, std::string_view title);
bool isFailedLiveryTitle(std::string_view title);
std::size_t failedLiveryTitleCount();

// joinPrefixAndLastField texts of aircraft for which no livery matched (start-up worker only):
// the traffic engine inserts, resetTraffic empties.
extern std::set<std::string> g_noMatchTitles;
// Logs the aircraft that found no livery, while LOG is on and the list is not empty.
void logNoMatchList();
// Logs how many matches each rung made, how many found none and how many titles failed.
void logLiveryMatchingSummary();

// Everything back to the start state, the pool included (tests).
void resetLiveryDbForTests();
