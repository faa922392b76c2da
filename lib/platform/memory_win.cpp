#include <windows.h>

#include <cstdlib>

#include "platform/memory.h"

namespace platform {

uint64_t PageSize() {
  static const uint64_t size = [] {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return static_cast<uint64_t>(info.dwPageSize > 0 ? info.dwPageSize : 4096);
  }();
  return size;
}

uint64_t PhysicalMemory() {
  MEMORYSTATUSEX status = {};
  status.dwLength = sizeof status;
  if (!::GlobalMemoryStatusEx(&status)) return 0;
  return status.ullTotalPhys;
}

// Large pages on Windows need a privilege that programs run by users do
// not hold: plain memory.
void* AllocateLarge(size_t bytes) { return std::malloc(bytes ? bytes : 1); }

void AdviseHugePages(void*, size_t) {}

void Prefault(void*, size_t) {}

}  // namespace platform
