// The table of signals.h that both sides share (not a facility of its own):
// fixed slots whose state is an atomic, so that a handler, on any thread and
// at any moment, reads only complete names and never one being rewritten.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>

namespace platform::signals {

constexpr int kSlots = 32;
constexpr size_t kPathSize = 4096;

// A slot moves Free -> Filling -> Armed -> Free as a file is registered and
// dropped; the removal takes an Armed slot to Removing and back, and a drop
// waits for that, so the name is never rewritten while it is being used.
enum State : int { kFree, kFilling, kArmed, kRemoving };

struct Slot {
  std::atomic<int> state{kFree};
  int owner = 0;  // the process that registered it: forks inherit the table
  char path[kPathSize];
};
static_assert(std::atomic<int>::is_always_lock_free, "the handler may only use lock-free atomics");

inline Slot table[kSlots];

inline int Register(const char* path, int owner) {
  size_t length = std::strlen(path);
  if (length == 0 || length >= kPathSize) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!table[i].state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(table[i].path, path, length + 1);
    table[i].owner = owner;
    table[i].state.store(kArmed, std::memory_order_release);
    return i;
  }
  return -1;
}

// yield waits a moment: a removal in another thread is taking its time.
template <class Yield>
void Unregister(int id, Yield yield) {
  if (id < 0 || id >= kSlots) return;
  for (;;) {
    int expected = kArmed;
    if (table[id].state.compare_exchange_strong(expected, kFree) || expected != kRemoving) return;
    yield();
  }
}

// Safe in a signal handler as long as remove is.
template <class Remove>
void RemoveAll(int owner, Remove remove) {
  for (Slot& slot : table) {
    int expected = kArmed;
    if (!slot.state.compare_exchange_strong(expected, kRemoving, std::memory_order_acquire)) continue;
    if (slot.owner == owner) remove(slot.path);
    slot.state.store(kArmed, std::memory_order_release);
  }
}

// A handler's work on either side: the first thread to get here removes the
// files; one that comes while that goes on waits (two seconds at most, a
// pause at a time) until they are gone, as the process ends after it.
// 0 until a handler starts removing, 1 while it does, 2 once it is done.
inline std::atomic<int> handling{0};

template <class Remove, class Pause>
void RemoveAllOnce(int owner, Remove remove, Pause pause) {
  int expected = 0;
  if (handling.compare_exchange_strong(expected, 1)) {
    RemoveAll(owner, remove);
    handling.store(2);
  } else {
    for (int i = 0; i < 2000 && handling.load() != 2; ++i) pause();
  }
}

}  // namespace platform::signals
