#pragma once
// Stand-in for the multimedia timer resolution calls. The scheduler here needs no request for a
// finer timer, so both are no-ops that report success, with the real signatures.
using MMRESULT = unsigned int;
constexpr MMRESULT TIMERR_NOERROR = 0;
MMRESULT timeBeginPeriod(unsigned int periodMs);
MMRESULT timeEndPeriod(unsigned int periodMs);
