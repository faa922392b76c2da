#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

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

void* AllocateLarge(size_t bytes) {
  if (bytes == 0) bytes = 1;
  if (bytes < kHugePageSize) return std::malloc(bytes);
  void* at = nullptr;
  if (::posix_memalign(&at, kHugePageSize, bytes) != 0) return nullptr;
  AdviseHugePages(at, bytes);
  return at;
}

void AdviseHugePages(void* at, size_t bytes) {
#ifdef MADV_HUGEPAGE
  // Only whole huge pages within the range; a kernel without transparent
  // huge pages, or with them disabled, refuses and plain pages stay.
  uintptr_t begin = (reinterpret_cast<uintptr_t>(at) + kHugePageSize - 1) & ~(kHugePageSize - 1);
  uintptr_t end = (reinterpret_cast<uintptr_t>(at) + bytes) & ~(kHugePageSize - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)at;
  (void)bytes;
#endif
}

void Prefault(void* at, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  uintptr_t page = PageSize();
  uintptr_t begin = reinterpret_cast<uintptr_t>(at) & ~(page - 1);
  uintptr_t end = reinterpret_cast<uintptr_t>(at) + bytes;
  if (bytes > 0) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
  (void)at;
  (void)bytes;
#endif
}

}  // namespace platform
