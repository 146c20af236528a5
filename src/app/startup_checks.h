#pragma once
// The checks every run passes before traffic flows (the first run and each in-process
// restart), on the start-up worker: parameters, data folders, data-file versions (first run
// only), the option controls for the chosen simulator, the data base and the airport list, the
// simulator's packages folder, and whether RealTraffic runs on this PC. What the user must fix
// is raised as kvo::UserErrorException.
#include <atomic>
#include <cstdint>
#include <filesystem>

#include "core/parameters.h"

// The data base was read in this process (it is read once).
extern bool g_dataBaseRead;
// The copy of RANGE taken by the checks, also written by the window's AUTO_RANGE handler
// (g_savedMaxLive, the copy of MAX_LIVE_SEL, is in core/parameters.h: the traffic engine puts it
// back when it closes a park airport).
extern std::atomic<std::int32_t> g_startRange;

namespace kvo {
inline constexpr int kNoInstallPathErrorCode = 150;
inline constexpr int kNoAirportListErrorCode = 151;
}  // namespace kvo

void runStartupChecks();
// exists() that raises every error but "not found" (std::filesystem::filesystem_error).
bool existsOrThrow(const std::filesystem::path& path);
// Creates the program's folders in the working folder and removes two obsolete files.
void prepareDataFolders();
// g_simIs2020 and the enabled state and contents of the option controls for a new run.
void applySimulatorChoice();
// Removes a trailing "\Community" (or "/Community", this machine's separator) from a stored
// install path and saves the result; any other text stays as it is.
void stripCommunityFolder(StringParameter& installPath);

// The start values of this part (tests).
void resetStartupChecksState();
