// A file mapped read-only into memory, and the guard that makes reading it
// safe when someone else cuts the file short meanwhile.
//
// Reading a page of a mapping that lies past the file's new end raises a
// fault that would end the process. RunGuarded runs a function so that such
// a fault in its own thread returns EIO from RunGuarded instead; outside
// the guard the fault keeps the disposition it had. Mapping a file installs
// the guard's handler once per process.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// The first size bytes of fd, read-only, or null (nothing is reported).
const char* MapFile(int fd, uint64_t size);
void UnmapFile(const char* map, uint64_t size);

// Runs fn(arg) and returns 0, or EIO when fn touched a part of a mapped file
// that is gone. fn is then left where it was, so it must not own anything
// that needs freeing while it reads a mapping.
int RunGuarded(void (*fn)(void*), void* arg);

template <class F>
int RunGuarded(F& fn) {
  return RunGuarded([](void* f) { (*static_cast<F*>(f))(); }, &fn);
}

}  // namespace platform
