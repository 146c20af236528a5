#pragma once
// The settings typed into the main window's edit boxes, taken when the user presses Enter (on
// the window thread). Each operation checks the text, says the outcome in the message line,
// stores and saves the parameter where it changes, shows the value in force in the box again,
// and hands the work to the running main loop through a pending flag or restarts the run.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/geometry.h"
#include "core/parameters.h"

// Integer box (parking_percentage); true when the value changed.
bool lf_processTbInt(EditIntParameter& parameter);
// Float box (MAX_FIT_FL, which sets MAX_FIT); true when the value changed.
bool lf_processTbFloat(EditFloatParameter& parameter);
// Tells the user when the next static parking pass responds to a changed setting, and plans it.
void announceResponseDelay();
// A typed simulator path for the install path parameter of the chosen simulator.
void lf_newSimPath(StringParameter& installPath, const std::string& text);
// Ends the run for a restart after a new path.
void restartForNewCommunityPath();
// The blocked live-aircraft callsign.
void processBlockCallsign();
void unblockCallsign();
// The destination airport.
void processDestination();
void setDestination(std::string_view code, kvo::LatLon position);
// The callsign whose simulator object id is shown.
void processCallsignObjectId();
// The path box: the typed text for the chosen simulator's install path.
void processInstallPath();

namespace kvo {

// MAX_FIT for a typed number of hours (already within MAX_FIT_FL's limits): 2 x hours rounded
// half away from zero, minus 1, within 0..47.
std::int32_t maxFitForHours(float hours);

// Where a typed path leads.
enum class SimPathKind {
  Missing,         // nothing at that path
  PackagesFolder,  // a folder holding a Community folder: stored as typed
  CommunityFolder, // the Community folder itself: its parent is stored
  Other,           // exists, but no Community folder belongs to it
};
struct SimPathChoice {
  SimPathKind kind = SimPathKind::Missing;
  std::string stored;  // the packages folder to store (PackagesFolder, CommunityFolder)
};
// Throws std::filesystem::filesystem_error when the path's status cannot be read for another
// reason than its absence.
SimPathChoice classifySimPath(const std::string& text);

}  // namespace kvo
