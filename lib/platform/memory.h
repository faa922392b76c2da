// What the machine offers in memory: its page size, its physical memory, and
// large buffers on huge pages.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Bytes of a memory page (4096 when the system does not say).
uint64_t PageSize();
// Bytes of physical memory, or 0 when the system does not say.
uint64_t PhysicalMemory();

// Buffers of at least this size are worth huge pages.
constexpr size_t kHugePageSize = size_t{2} << 20;

// A buffer of bytes (one byte at least) for data touched in bulk, released
// with std::free (and may be grown with std::realloc). From kHugePageSize up
// it starts on a huge page boundary and the kernel is asked to back it with
// huge pages (Linux, where transparent huge pages are allowed: one page
// fault instead of 512 for every 2 MiB touched first); elsewhere, or where
// the kernel declines, it is plain memory. Null when it cannot be had.
void* AllocateLarge(size_t bytes);
// Asks the kernel to back [at, at + bytes) with huge pages, where it allows
// them; does nothing elsewhere.
void AdviseHugePages(void* at, size_t bytes);
// Backs [at, at + bytes) with memory at once, in one call instead of one
// page fault for each page first written: worth it for memory about to be
// written whole where huge pages are not to be had and faults cost much (a
// virtual machine). Does nothing where the system has no such call (Linux
// before 5.14, Windows) or cannot spare the memory now.
void Prefault(void* at, size_t bytes);

}  // namespace platform
