#pragma once
// The two steps of reading an airport file, for the airport-file code itself (the learned-file
// overlay and the publisher look-up): the parse, which keeps neighbours as names, and the
// numbering that turns the names into stand ids; and the writer with limits of its own.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "airports/airport_file.h"

namespace kvo {

struct ParsedStand {
  Stand stand;
  std::vector<std::string> neighbourNames;
};

// A stand skipped for a value that could not be read: what of it could be read, so that the
// stand can be found again in the file a learned copy was made from.
struct RefusedStand {
  std::string name;                            // empty when the id itself was refused
  std::optional<std::pair<double, double>> place;  // latitude, longitude; none when unreadable
  std::vector<StandUse> uses;                  // the uses that could be read
  bool usesLost = false;                       // it had uses and none could be read
  std::size_t at = 0;                          // the number of stands read before it
};

struct ParsedAirportFile {
  AirportFileRecord record;  // without stands
  std::vector<ParsedStand> stands;
  std::vector<RefusedStand> refused;
};

// Empty on success, else the reason why the file is refused (nothing logged for the refusal
// itself; skipped stands and uses are logged unless quiet).
std::string parseAirportFile(const std::filesystem::path& path, ParsedAirportFile& out, bool quiet);
// Numbers the stands 1..n and their uses 1..n, resolves the neighbour names.
void finishAirportFile(ParsedAirportFile&& parsed, AirportFileRecord& out, bool quiet);

// What a file may hold for the reader to take it whole.
struct AirportFileLimits {
  std::uintmax_t bytes = kMaxAirportFileBytes;
  std::size_t stands = kMaxStandsPerFile;
  std::size_t uses = kMaxUsesPerFile;
};
// writeAirportFile within the given limits (writeAirportFile: the reader's own).
bool writeAirportFileWithin(const AirportFileRecord& record, const std::filesystem::path& path,
                            const AirportFileLimits& limits);

// The "publisher" parameter of an airport file, read without its stands; none when the file
// cannot be read as an airport file.
std::optional<std::string> readAirportFilePublisher(const std::filesystem::path& path);

}  // namespace kvo
