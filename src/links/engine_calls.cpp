#include "links/engine_calls.h"

void (*g_dropLiveTrafficCall)() = [] {};
std::string (*g_findStandAtCall)(kvo::LatLon) = [](kvo::LatLon) { return std::string(); };
bool (*g_saveUserStandCall)(std::string_view) = [](std::string_view) { return false; };
