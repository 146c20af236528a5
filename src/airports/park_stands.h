#pragma once
// The park airport's stands and the read of its airport file. The traffic engine fills, changes
// and empties these on the start-up worker.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "airports/airport_file.h"
#include "airports/airport_folders.h"
#include "airports/stand.h"

extern std::vector<kvo::Stand> g_parkStands;
extern std::uint8_t g_parkAirportHandmade;     // the loaded file is handmade
extern std::atomic<bool> g_parkAirportLoaded;  // a whole file was read into g_parkStands

namespace kvo {

// What the read gives to values that higher floors own: the traffic reader's reference
// elevation and the traffic week (g_rtTrafficWeek) belong to the links floor, so the caller
// stores them.
struct ParkFileFacts {
  double elevationFt = 0.0;        // the file's altitude: the traffic reader's reference elevation
  std::uint32_t trafficWeek = 0;   // weekdays with learned real uses, 0..7
  bool handmade = false;
  bool learnedApplied = false;     // the learned copy was laid over the file
};

}  // namespace kvo

// Reads the chosen file with its learned copy. On success: info, quality and stands hold the
// file's (stands numbered 1..n; the quality factors are the file's, computed anew when a learned
// copy was laid over a file that is not handmade), info.publisher is the choice's publisher,
// facts are filled, g_parkAirportHandmade is set from the file and g_parkAirportLoaded is set;
// the result is empty. Otherwise the result is the reason, stands are emptied and neither flag
// is set, so a refused file can never be saved back over a good one.
std::string gf_readApf(const kvo::AirportFileChoice& file, kvo::AirportInfo& info, kvo::QualityFactors& quality,
                       std::vector<kvo::Stand>& stands, kvo::ParkFileFacts& facts);

// The quality factors of g_parkStands (kvo::computeQualityFactors has the formula).
kvo::QualityFactors computeQualityFactors();

// Empties g_parkStands and clears both flags.
void resetParkStands();
