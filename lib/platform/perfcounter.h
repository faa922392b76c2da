// The Windows performance counter and tick count. On Windows they are the
// real calls (the counter through int64_t); elsewhere stand-ins on the
// monotonic clock, so that a stopwatch never runs backwards when the wall
// clock is set.
#pragma once

#include <cstdint>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace win {

// Counts per second of QueryPerformanceCounter: the system's own on Windows,
// 1,000,000,000 (nanoseconds) elsewhere.
bool QueryPerformanceFrequency(int64_t* frequency);
bool QueryPerformanceCounter(int64_t* count);

#ifdef _WIN32
// The real one, so that code using the plain name alongside win:: finds one.
using ::GetTickCount;
#else
// Milliseconds of the monotonic clock, wrapping at 2^32 as the Windows call does.
uint32_t GetTickCount();
#endif

}  // namespace win
