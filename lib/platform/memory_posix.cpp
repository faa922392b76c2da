#include "platform/memory.h"

#include <unistd.h>

namespace platform {

uint64_t PageSize() {
  static const uint64_t size = [] {
    long n = ::sysconf(_SC_PAGESIZE);
    return static_cast<uint64_t>(n > 0 ? n : 4096);
  }();
  return size;
}

uint64_t PhysicalMemory() {
  long pages = ::sysconf(_SC_PHYS_PAGES);
  long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

}  // namespace platform
