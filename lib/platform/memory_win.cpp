#include <windows.h>

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

}  // namespace platform
