// What the machine offers in memory: its page size and its physical memory.
#pragma once

#include <cstdint>

namespace platform {

// Bytes of a memory page (4096 when the system does not say).
uint64_t PageSize();
// Bytes of physical memory, or 0 when the system does not say.
uint64_t PhysicalMemory();

}  // namespace platform
