#pragma once
// The park airport's file: read when a park airport has been chosen (its learned copy laid over
// it), the user's stand remembered in the park airport list and taken as the reserved stand, and
// the learned state written back once when the park airport is closed after something changed,
// to airports\learned\stock, \simaddon or \thirdparty\<publisher>. Start-up worker only.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "airports/airport_file.h"

// Name, publisher and altitude of the loaded file, handed back unchanged by the save.
extern kvo::AirportInfo g_parkAirportInfo;
// The quality factors as read.
extern kvo::QualityFactors g_parkQualityFactors;
// Stand updates since the file was loaded or saved (counted by the stand code).
// g_standUpdates: stand_options.h
// Parking parameters of the airport changed (also set by the window's handlers).
extern std::atomic<bool> g_parkParamsChanged;
// Soft stand options may be learned at this airport (false for a well-learned large airport).
extern std::atomic<bool> g_learnSoftAllowed;

// A well-learned airport: from this Qf_real on, with at least this many stands, no soft options
// are learned.
inline constexpr std::int32_t kLearnedQfReal = 45;
inline constexpr std::size_t kLearnedStandCount = 20;

// Loads the file of g_parkAirport into g_parkStands; empty on success, else the error text. A
// refused file leaves no stands and nothing to save.
std::string lf_readParkedFile();

// A file that lf_readParkedFile refused is not read again while neither it nor its learned copy
// has changed (size, modification time, there or not): for such a code the reason it was
// refused, else nothing.
std::optional<std::string> parkFileRefusal(std::string_view code);

// The quality factors as the statistics show them: "Qf_real/Qf_soft", e.g. "45/3".
std::string qualityFactorText(const kvo::QualityFactors& quality);

// The folder of the learned copy for the publisher: airports\learned\stock, \simaddon, or
// \thirdparty\<the publisher as a safe folder name>. Empty when the publisher cannot give a
// folder that stays inside airports\learned\thirdparty.
std::filesystem::path learnedFolderFor(std::string_view publisher);

// Writes the learned state of g_parkStands (see the file's comment); tells the user how it went.
// The counters are cleared either way, so a failed save is not tried again at a later close.
void saveAirportFile();

// Texts, factors, counters and the refused files back to their start.
void resetParkAirportFileState();
