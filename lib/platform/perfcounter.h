// Stand-ins for the Windows performance counter and tick count, both on the
// monotonic clock, so that a stopwatch never runs backwards when the wall
// clock is set.
#pragma once

#include <cstdint>

namespace win {

// Counts per second of QueryPerformanceCounter: 1,000,000,000 (nanoseconds).
bool QueryPerformanceFrequency(int64_t* frequency);
bool QueryPerformanceCounter(int64_t* count);
// Milliseconds of the monotonic clock, wrapping at 2^32 as the Windows call does.
uint32_t GetTickCount();

}  // namespace win
