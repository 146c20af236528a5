// The scheduler here sleeps with fine enough resolution on its own, so there is nothing to
// request; both calls succeed as the real ones do.

#include "platform/mmtimer/mmtimer.h"

MMRESULT timeBeginPeriod(unsigned int /*periodMs*/) { return TIMERR_NOERROR; }

MMRESULT timeEndPeriod(unsigned int /*periodMs*/) { return TIMERR_NOERROR; }
