#pragma once
// Data updates at start-up: the download site's versions.json names the versions of the
// aircraft data base (input\dbase.enc), the registration codes (input\AIG-regcodes.enc) and, for
// MSFS 2024, the add-on airport data (unpacked into airports\my_simaddon). A data set is
// downloaded when the site offers a higher version than the stored one (DBASE_VERSION,
// AIG_VERSION, MYSIMADDON24_VERSION) or when it is missing, and installed only whole: a data
// file when it decrypts and reads as a data file of its kind, the airport data when every entry
// of the zip was unpacked into a fresh folder, which then takes the old one's place.
#include <string_view>

#include "core/version.h"

// Called by the start-up checks on the first run and on a restart that versionCheckDueOnRestart
// asks for. No network, no site and a versions.json that is no JSON are one log line each; the
// start-up goes on with the installed data. A file-system error while looking at the installed
// files is thrown.
void checkVersions();

// The add-on airport data for the offered version: downloaded and unpacked when the version is
// higher than MYSIMADDON24_VERSION or the folder is missing or empty. True when installed.
bool downloadSimAddon(const kvo::VersionData& offered);

// True when airports\my_simaddon is missing, not a folder, or an empty folder. A file-system
// error other than "not found" is thrown ("status", "is_empty").
bool checkSimAddonFolder();

void logVersionUpdated(std::string_view item, const kvo::VersionData& version);  // "{} updated to {}"
void logVersionUpToDate(std::string_view item);                                  // "{} version up-to-date"
void logVersionNotFound(std::string_view item);                                  // "===> {} version not found"

// A restart skips the version check, except the first restart after a switch to MSFS 2024: that
// switch empties MYSIMADDON24_VERSION, and the add-on airport data must not wait for the next
// start of the program.
bool versionCheckDueOnRestart();

// No version check made in this process yet (tests).
void resetDataUpdatesState();
