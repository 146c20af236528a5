#include "airports/park_stands.h"

#include <fmt/format.h>

#include "core/log.h"
#include "core/text.h"

std::vector<kvo::Stand> g_parkStands;
std::uint8_t g_parkAirportHandmade = 0;
std::atomic<bool> g_parkAirportLoaded{false};

std::string gf_readApf(const kvo::AirportFileChoice& file, kvo::AirportInfo& info, kvo::QualityFactors& quality,
                       std::vector<kvo::Stand>& stands, kvo::ParkFileFacts& facts) {
  g_parkAirportLoaded = false;
  g_parkAirportHandmade = 0;
  stands.clear();
  facts = kvo::ParkFileFacts{};
  if (file.path.empty()) return "gf_readApf: no airport file";
  try {
    kvo::AirportFileRecord record;
    bool learnedApplied = false;
    std::string error = kvo::readAirportFileWithLearned(file.path, file.learnedPath, record, learnedApplied);
    if (!error.empty()) return error;

    info.name = record.name;
    info.publisher = file.publisher.empty() ? record.publisher : file.publisher;
    info.altitude = record.altitude;
    quality = record.quality;
    facts.elevationFt = record.altitude;
    facts.trafficWeek = kvo::trafficWeekOf(record.stands);
    facts.handmade = record.handmade;
    facts.learnedApplied = learnedApplied;
    stands = std::move(record.stands);
    g_parkAirportHandmade = record.handmade ? 1 : 0;
    g_parkAirportLoaded = true;
    logLine(fmt::format("{} stand{} read from {}{}{}", stands.size(), pluralSuffix(stands.size()),
                        file.path.filename().string(), learnedApplied ? " with its learned copy" : "",
                        record.handmade ? " (handmade)" : ""));
    return {};
  } catch (const std::exception& e) {
    stands.clear();
    g_parkAirportLoaded = false;
    g_parkAirportHandmade = 0;
    return fmt::format("gf_readApf exception: {}", e.what());
  }
}

kvo::QualityFactors computeQualityFactors() { return kvo::computeQualityFactors(g_parkStands); }

void resetParkStands() {
  g_parkStands.clear();
  g_parkStands.shrink_to_fit();
  g_parkAirportHandmade = 0;
  g_parkAirportLoaded = false;
}
