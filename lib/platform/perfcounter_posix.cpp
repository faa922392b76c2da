#include "platform/perfcounter.h"

#include <ctime>

namespace win {

namespace {

int64_t monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

bool QueryPerformanceFrequency(int64_t* frequency) {
  if (!frequency) return false;
  *frequency = 1000000000;
  return true;
}

bool QueryPerformanceCounter(int64_t* count) {
  if (!count) return false;
  *count = monotonicNanoseconds();
  return true;
}

uint32_t GetTickCount() { return static_cast<uint32_t>(monotonicNanoseconds() / 1000000); }

}  // namespace win
