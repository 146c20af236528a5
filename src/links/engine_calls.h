#pragma once
// What the links set off in the traffic engine above them. The engine sets these at start-up
// (installEngineCalls, before any link thread runs); until then each does nothing, which is all a
// link's own tests need.
#include <string>
#include <string_view>

#include "core/geometry.h"

// RealTraffic's link dropped: the live traffic goes (start-up worker, from the main loop's send).
extern void (*g_dropLiveTrafficCall)();
// The park airport's stand at the position, or the empty text (client thread).
extern std::string (*g_findStandAtCall)(kvo::LatLon position);
// The user's stand becomes the reserved stand in the park airport list (client thread).
extern bool (*g_saveUserStandCall)(std::string_view standName);
