// RunBlocks: the scheduler behind every parallel loop of the converters (the
// count of a log's records, the value pass, the writing of a log's lines).
//
// Blocks 0 .. count - 1 are handed out in order, one at a time, to one
// thread per core (the calling thread among them, at most threadsAtMost), so
// that a thread held up by other work on the machine leaves its share to the
// others. Each thread keeps a State of its own, default-constructed, and
// hands it to finish(state) when no block is left. work(block, state) and
// finish(state) return 0, or non-zero to stop the handing out: the first
// such result is what RunBlocks returns. Where no thread can be started the
// calling thread does every block. Nothing here throws.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

constexpr size_t kRunBlocksThreads = 8;

// The threads RunBlocks would start for count blocks: one per core, at most
// threadsAtMost and count.
inline size_t BlockThreads(size_t count, size_t threadsAtMost = kRunBlocksThreads) {
  unsigned cores = std::thread::hardware_concurrency();
  return std::min<size_t>({cores == 0 ? 1 : cores, threadsAtMost, count});
}

template <class State, class Work, class Finish>
int RunBlocks(size_t count, Work work, Finish finish, size_t threadsAtMost = kRunBlocksThreads) {
  std::atomic<size_t> next{0};
  std::atomic<int> result{0};
  auto loop = [&] {
    State state;
    int none = 0;
    for (size_t k; result.load() == 0 && (k = next.fetch_add(1)) < count;)
      if (int r = work(k, state)) result.compare_exchange_strong(none, r);
    if (result.load() == 0)
      if (int r = finish(state)) result.compare_exchange_strong(none, r);
  };
  size_t threads = BlockThreads(count, threadsAtMost);
  std::vector<std::thread> workers;
  try {
    workers.reserve(threads);
  } catch (...) {
    threads = 1;
  }
  for (size_t t = 1; t < threads; ++t) {
    try {
      workers.emplace_back(loop);
    } catch (...) {
      break;  // no thread to be had: fewer threads share the blocks
    }
  }
  loop();
  for (std::thread& w : workers) w.join();
  return result.load();
}

// RunBlocks without a state of the threads' own or a finishing step.
template <class Work>
int RunBlocks(size_t count, Work work, size_t threadsAtMost = kRunBlocksThreads) {
  struct None {};
  return RunBlocks<None>(
      count, [&](size_t block, None&) { return work(block); }, [](None&) { return 0; }, threadsAtMost);
}
