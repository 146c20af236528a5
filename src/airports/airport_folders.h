#pragma once
// Where an airport's file is found. Under the working folder's "airports" folder:
//   my_thirdparty\<ICAO>\<ICAO>.xml   files of the user's third-party add-on airports
//   my_simaddon\<ICAO>.txt (or .xml)  the simulator add-on airport data of the data updates
//   archive\stock\<ICAO>.xml          stock files, shipped or downloaded from the download site
//   learned\stock, learned\simaddon,
//   learned\thirdparty\<publisher>    the learned copies that the park airport's save writes
// searched in the order my_thirdparty, my_simaddon, stock; the learned copy of the file found
// is laid over it when it is read (airports/park_stands.h).
#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

// The folder "airports" of the working folder; tests point it elsewhere.
extern std::filesystem::path g_airportsFolder;

namespace kvo {

enum class AirportFileSource : int { None = 0, Thirdparty = 1, Simaddon = 2, Stock = 3 };

struct AirportFileChoice {
  std::filesystem::path path;         // the file to read; empty when none exists
  std::filesystem::path learnedPath;  // its learned copy; empty when there is none
  AirportFileSource source = AirportFileSource::None;
  // "stock" and "simaddon" for those sources, else the file's own publisher parameter.
  std::string publisher;
  // The file is a third-party file that names no publisher or "unknown": it is not to be used
  // (its learned uses would have nowhere of their own to go). Carried as a value, never
  // guessed from the path, which may hold "unknown" anywhere.
  bool unknownPublisher = false;

  bool found() const { return source != AirportFileSource::None; }
};

}  // namespace kvo

// After a failed download of a stock file, the same code is not asked for again for this long.
inline constexpr std::chrono::minutes kStockDownloadRetry{10};

// 1 to 8 characters of A-Z and 0-9: safe as a name on the download site, and as a file name once
// a device name such as CON is guarded (deviceSafeName), as every path below does.
bool isAirportCode(std::string_view code);

// The publisher as a folder name: cleaned text of at most about 100 bytes, characters that a file
// name cannot hold become '_', blanks and dots at the ends go, a device name gets "_" before it;
// "unknown" when nothing is left.
std::string publisherFolderName(std::string_view publisher);

std::filesystem::path thirdpartyAirportFilePath(std::string_view icao);
std::filesystem::path stockAirportFilePath(std::string_view icao);
// learned\stock for "stock", learned\simaddon for "simaddon", else learned\thirdparty\<folder>.
std::filesystem::path learnedAirportFilePath(std::string_view icao, std::string_view publisher);
// The stock file's name on the download site.
std::string stockDownloadName(std::string_view icao);

// Not 0 when an airport file for the code is available: its AirportFileSource as an int. A
// missing stock file is downloaded (and checked to be an airport file) first.
int findAirportFile(std::string_view code);

// The file to read for the code (see findAirportFile) with its learned copy and publisher; an
// empty path when none exists.
kvo::AirportFileChoice resolveAirportFile(std::string_view icao);

// Back to "airports" and no remembered download failures.
void resetAirportFolders();
