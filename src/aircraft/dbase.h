#pragma once
// The aircraft data base (input\dbase.enc) and the registration codes (input\AIG-regcodes.enc
// and the user's files input\my_regcodes\*.TXT): aircraft types, airlines, registrations and
// the special liveries of single airframes. Read once per process; readers on any thread.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "aircraft/aircraft_types.h"

// The data base record of a registration.
struct RegcodeRecord {
  std::string airline;       // ICAO code of the airline whose livery the airframe wears
  std::string type;          // ICAO type designator
  std::string operatorCode;  // ICAO code of the operating airline when it differs; may be empty
  std::uint8_t cargo = 0;    // 1 for a freighter
};

struct AirlineRecord {
  std::string icao;
  std::string iata;
  std::string name;
  std::string callsign;
  std::string country;
  bool active = false;
};

// A registration whose airframe wears a special livery, as a data file names it.
struct SpecialLiveryRecord {
  std::string registration;  // as written in the file
  std::string title;
  std::string source;  // the file that names it
};

// User errors of the data files (kvo::UserErrorException); each message names the file.
inline constexpr int kDataFileMissingCode = 82;
inline constexpr int kDataFileDamagedCode = 83;
inline constexpr int kDataFileInvalidCode = 84;

inline constexpr std::string_view kDbaseFileName = "dbase.enc";
inline constexpr std::string_view kRegcodesFileName = "AIG-regcodes.enc";

// Decrypts and reads input\dbase.enc and input\AIG-regcodes.enc below the working folder (empty:
// the current folder), then the user's registration files. The tables are replaced only when
// both encrypted files were read completely; otherwise the old tables stay and
// kvo::UserErrorException (82 missing, 83 damaged or wrong key, 84 not a valid data file) names
// the file. A bad line of a user file is logged and skipped.
void readDbase(const std::filesystem::path& workFolder = {});

// The registration record: the data base first, then the registration-code file, then the
// user's files; empty when none knows the registration. Registrations are compared in upper
// case without blanks and dashes.
std::optional<RegcodeRecord> findRegcode(std::string_view registration);
std::optional<AirlineRecord> findAirline(std::string_view icaoCode);
std::size_t airlineCount();

// Special liveries named by the data files (registration file first, then the user's files);
// whether the title is installed is for the livery data base to decide.
std::vector<SpecialLiveryRecord> dataSpecialLiveries();

// The forms of the codes: an ICAO type designator (2 to 4 of A-Z and 0-9, starting with a
// letter) and an ICAO airline code (3 letters), both in upper case.
bool isTypeDesignator(std::string_view text);
bool isAirlineCode(std::string_view text);

// Upper case, blanks and dashes removed: the key under which registrations are compared.
std::string normaliseRegistration(std::string_view registration);

// ---- pieces of the reader, for the tool chain and tests ----
// What one plain data file holds. parse* throw std::runtime_error with the reason for a file
// that is not a data file of its kind; records that break the schema are skipped and counted.
struct DbaseContent {
  std::vector<AircraftTypeData> types;
  std::vector<std::vector<std::string>> families;
  std::vector<AirlineRecord> airlines;
  std::vector<std::pair<std::string, RegcodeRecord>> registrations;
  std::vector<SpecialLiveryRecord> specialLiveries;
  std::size_t skipped = 0;
  std::string version;  // from the meta block; may be empty
};
DbaseContent parseDbaseXml(std::string_view xml);
DbaseContent parseRegcodesXml(std::string_view xml);

// Lines of a user registration file: "registration;airline;type[;operator[;cargo[;title]]]";
// empty lines and lines starting with '#', ';' or "//" are skipped. Bad lines are returned in
// rejected with their line number.
struct UserRegcodes {
  std::vector<std::pair<std::string, RegcodeRecord>> registrations;
  std::vector<SpecialLiveryRecord> specialLiveries;
  std::vector<std::string> rejected;
};
UserRegcodes parseUserRegcodes(std::string_view text, std::string_view source);

// Empties every table (tests).
void clearDbaseTables();
