#pragma once
// Reading the airports of a scenery BGL file: each airport record with its name, reference
// position, parking stands and helipads, and its delete record. Everything else in the file is
// passed over. The reader trusts nothing in the file: every count, offset and size is checked
// against the file before it is used, and what cannot be read is reported, never guessed.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kvo::bgl {

inline constexpr std::uint32_t kMagic1 = 0x19920201;
inline constexpr std::uint32_t kMagic2 = 0x08051803;
inline constexpr std::size_t kHeaderBytes = 0x38;
inline constexpr std::size_t kSectionEntryBytes = 20;

inline constexpr std::uint32_t kAirportSection = 0x03;
inline constexpr std::uint32_t kAirportSectionAlt = 0x3C;

// Airport records and their fixed parts.
inline constexpr std::uint16_t kAirportFsx = 0x003C;   // 0x38 bytes
inline constexpr std::uint16_t kAirportP3d5 = 0x00AB;  // 0x3C bytes (0x38 and 0x44 are tried too)
inline constexpr std::uint16_t kAirportMsfs = 0x0056;  // 0x44 bytes
inline constexpr std::size_t kAirportFs9Bytes = 0x34;  // records of other ids are tried as this

// Child records of an airport.
inline constexpr std::uint16_t kName = 0x0019;
inline constexpr std::uint16_t kParkingFs9 = 0x001B;
inline constexpr std::uint16_t kParkingFsx = 0x003D;
inline constexpr std::uint16_t kParkingP3d5 = 0x00AD;
inline constexpr std::uint16_t kParkingMsfs = 0x00E7;
inline constexpr std::uint16_t kHelipad = 0x0026;
inline constexpr std::uint16_t kDeleteAirport = 0x0033;

// Delete-record flags this program acts on.
inline constexpr std::uint16_t kDeleteHelipads = 1u << 4;
inline constexpr std::uint16_t kDeleteTaxiways = 1u << 7;  // taken to include the parking stands

// Parking types (bits 8-11 of the packed flags).
enum ParkingType : std::uint8_t {
  kTypeNone = 0,
  kRampGa = 1,
  kRampGaSmall = 2,
  kRampGaMedium = 3,
  kRampGaLarge = 4,
  kRampCargo = 5,
  kRampMilCargo = 6,
  kRampMilCombat = 7,
  kGateSmall = 8,
  kGateMedium = 9,
  kGateHeavy = 10,
  kDockGa = 11,
  kFuel = 12,
  kVehicles = 13,
  kRampGaExtra = 14,
  kGateExtra = 15,
};

// Parking names (bits 0-5): 0 none, 1 PARKING, 2..9 N_PARKING..NW_PARKING, 10 GATE, 11 DOCK,
// 12..37 GATE_A..GATE_Z.
inline constexpr std::uint8_t kNameGate = 10;
inline constexpr std::uint8_t kNameGateA = 12;
inline constexpr std::uint8_t kNameGateZ = 37;

// Decodings of the packed values.
double longitudeOf(std::int32_t x);  // x * 360 / (3 * 2^28) - 180
double latitudeOf(std::int32_t y);   // 90 - y * 180 / 2^29
// The ICAO code of a packed airport ident (base 38, shifted left by 5); empty when the value
// holds no readable code.
std::string decodeIdent(std::uint32_t packed);

struct Parking {
  std::uint8_t nameCode = 0;
  std::uint8_t pushback = 0;
  std::uint8_t type = 0;
  std::uint16_t number = 0;
  std::uint8_t suffix = 0;  // MSFS: 0 none, 12..37 A..Z
  float radius = 0.0f;      // metres
  float heading = 0.0f;     // degrees true
  double latitude = 0.0;
  double longitude = 0.0;
};

struct Helipad {
  float length = 0.0f;  // metres
  float width = 0.0f;
  float heading = 0.0f;
  std::uint8_t type = 0;
  double latitude = 0.0;
  double longitude = 0.0;
};

struct Airport {
  std::string icao;
  std::string name;  // as the file gives it (UTF-8); empty when it has no name record
  std::uint16_t recordId = 0;
  double latitude = 0.0;
  double longitude = 0.0;
  double altitudeMetres = 0.0;
  bool closed = false;      // MSFS airport flagged closed
  bool hasDelete = false;   // brings a delete record
  std::uint16_t deleteFlags = 0;
  std::size_t closedHelipads = 0;  // left out
  std::vector<Parking> parkings;
  std::vector<Helipad> helipads;
};

struct ReadResult {
  bool scenery = false;  // the header's magic numbers are those of a scenery BGL
  std::vector<Airport> airports;
  // What could not be read: a file whose table or data lies outside it, airports with corrupt
  // records. Each line is complete in itself.
  std::vector<std::string> problems;
  // What was passed over on purpose: sections and records of kinds the reader does not know.
  std::vector<std::string> notes;
};

// Limits: no data block above 64 MiB is read, nor more than 256 MiB of one file; at most 50
// problem lines and 50 note lines are kept per file.
inline constexpr std::uint64_t kMaxBlockBytes = std::uint64_t{64} << 20;
inline constexpr std::uint64_t kMaxFileReadBytes = std::uint64_t{256} << 20;
inline constexpr std::size_t kMaxProblemLines = 50;
// One ident repeated this often in one file marks a malformed file: it is given up whole.
inline constexpr std::size_t kMaxIdentRepeats = 5;

// Where the reader takes its bytes from: the whole file in memory, or the file itself, read
// piece by piece (only the header, the tables and the airport data are read).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t size() const = 0;
  // Exactly n bytes at the offset into out; false when they cannot all be read.
  virtual bool read(std::uint64_t offset, std::size_t n, std::string& out) = 0;
};

ReadResult readBgl(ByteSource& source);
ReadResult readBgl(std::string_view bytes);
// Never throws; a file that cannot be opened is one problem line.
ReadResult readBglFile(const std::filesystem::path& path);

}  // namespace kvo::bgl
