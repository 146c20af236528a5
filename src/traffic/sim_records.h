#pragma once
// The records that cross between the traffic engine and the simulator client live with the
// client (a lower library than the traffic engine); this header keeps the traffic code's include.
#include "links/sim_records.h"
