#pragma once
// Airport files: an airport's stands with their learned and planned uses, as XML with the meta
// block, a "parameters" block and "parkpositions" (docs/airport-files.md has the layout).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "airports/stand.h"

namespace kvo {

inline constexpr double kMetresPerNm = 1852.0;

// Files above this size are refused unread; so are files with more stands or uses than below.
inline constexpr std::uintmax_t kMaxAirportFileBytes = std::uintmax_t{64} << 20;
inline constexpr std::size_t kMaxStandsPerFile = 20000;
inline constexpr std::size_t kMaxUsesPerFile = 1000000;

// A use's callsign becomes a static aircraft's ATC id with a "*" after it, or, without one, its
// airline with an id of up to four digits and a "*". The simulator keeps an ATC id in a 32-byte
// field with its terminator, and the created object is found again only by the id it reports:
// longer callsigns and airlines are cut to these when read (at a character's boundary).
inline constexpr std::size_t kMaxAtcIdBytes = 31;
inline constexpr std::size_t kMaxUseCallsignBytes = kMaxAtcIdBytes - 1;
inline constexpr std::size_t kMaxUseAirlineBytes = kMaxAtcIdBytes - 5;

struct QualityFactors {
  std::int32_t real = 0;  // Qf_real, 0..100
  std::int32_t soft = 0;  // Qf_soft, 0..100
  bool operator==(const QualityFactors&) const = default;
};

// The name, publisher and altitude of an airport as its file gives them.
struct AirportInfo {
  std::string name;
  std::string publisher;
  std::int32_t altitude = 0;  // feet
};

// Everything an airport file holds.
struct AirportFileRecord {
  std::string icao;
  std::string name;          // "airport_name"
  std::string publisher;
  std::string bglPath;       // "BGLpath": the scenery file the stands came from, if any
  std::string manufacturer;
  std::string creator;
  std::int32_t altitude = 0;  // feet
  bool handmade = false;
  QualityFactors quality;
  std::vector<Stand> stands;  // numbered 1..n in file order when read
  // Names of all the airport's stands by numeric id (entry id - 1). A record that holds only
  // some of the airport's stands (a learned file) names the neighbours that it leaves out here;
  // when empty, the record's own stands name the neighbours.
  std::vector<std::string> standNamesById;
};

// Reads the whole file. Stands are numbered 1..n in file order, their neighbour names resolved
// to those numbers, their uses numbered 1..n. A stand without a usable id, position or radius,
// or with an id seen before, and a use without a usable weekday or half-hour set, are skipped
// with a log line; the rest is kept. A use's cs attribute is its callsign and, after the first
// ':', its second callsign. The result is empty on success, else the reason why the
// whole file is refused (unreadable, too large, not XML, not an airport file, no meta block, too
// many stands or uses); `out` is then left empty.
std::string readAirportFile(const std::filesystem::path& path, AirportFileRecord& out);

// Reads `path` and lays the learned file over it when `learned` is not empty: a handmade learned
// file replaces it whole; any other learned file brings its stands' uses and radius and cargo
// changes, and its manual stands whole. A stand the learned file holds but refused is found in
// `path` by its id, or by its place when the id is what was refused: a handmade file takes it
// from there, and the uses of it that could be read are kept. learnedApplied tells whether a
// learned file was used. Refused when either file is refused.
std::string readAirportFileWithLearned(const std::filesystem::path& path, const std::filesystem::path& learned,
                                       AirportFileRecord& out, bool& learnedApplied);

// Writes the record (meta block, parameters, one "parkpos" per stand with one "opt" per use;
// made-up uses are left out) to a temporary file beside the target and renames it over the
// target. The file stays within what the reader takes: beyond it the oldest uses (the first of a
// stand's list) of the stands with the most uses are left out; a record of more stands than the
// reader takes is not written. A first callsign that holds ':' would be read back as two and is
// left out. False when it cannot be written; the target is then untouched.
bool writeAirportFile(const AirportFileRecord& record, const std::filesystem::path& path);

// Qf_real and Qf_soft of the stands: over the stands that are not heli stands, the share of
// (stand, weekday) pairs that hold at least one real (soft) use with a half hour set, in percent
// rounded to the nearest whole number; made-up uses do not count; 0 without such stands.
QualityFactors computeQualityFactors(const std::vector<Stand>& stands);

// The number of weekdays (0..7) on which some stand holds a real use with a half hour set: how
// much of a week of live traffic the file has learned.
std::uint32_t trafficWeekOf(const std::vector<Stand>& stands);

}  // namespace kvo
