#include "platform/perfcounter.h"

namespace win {

bool QueryPerformanceFrequency(int64_t* frequency) {
  LARGE_INTEGER value;
  if (!frequency || !::QueryPerformanceFrequency(&value)) return false;
  *frequency = value.QuadPart;
  return true;
}

bool QueryPerformanceCounter(int64_t* count) {
  LARGE_INTEGER value;
  if (!count || !::QueryPerformanceCounter(&value)) return false;
  *count = value.QuadPart;
  return true;
}

}  // namespace win
