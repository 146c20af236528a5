#pragma once
// The two steps of reading an airport file, for the airport-file code itself (the learned-file
// overlay and the publisher look-up): the parse, which keeps neighbours as names, and the
// numbering that turns the names into stand ids.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "airports/airport_file.h"

namespace kvo {

struct ParsedStand {
  Stand stand;
  std::vector<std::string> neighbourNames;
};

struct ParsedAirportFile {
  AirportFileRecord record;  // without stands
  std::vector<ParsedStand> stands;
  std::size_t refusedStands = 0;  // stands skipped for a value that could not be read
};

// Empty on success, else the reason why the file is refused (nothing logged for the refusal
// itself; skipped stands and uses are logged unless quiet).
std::string parseAirportFile(const std::filesystem::path& path, ParsedAirportFile& out, bool quiet);
// Numbers the stands 1..n and their uses 1..n, resolves the neighbour names.
void finishAirportFile(ParsedAirportFile&& parsed, AirportFileRecord& out, bool quiet);

// The "publisher" parameter of an airport file, read without its stands; none when the file
// cannot be read as an airport file.
std::optional<std::string> readAirportFilePublisher(const std::filesystem::path& path);

}  // namespace kvo
