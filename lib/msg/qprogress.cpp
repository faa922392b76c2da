#include "msg/qprogress.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/file_io.h"
#include "platform/process.h"

namespace {

std::atomic<QProgress*> current{nullptr};

void writeAll(int fd, const char* text, size_t length) {
  while (length > 0) {
    long long n = platform::Write(fd, text, length);
    if (n <= 0) return;  // a progress line is not worth retrying for
    text += n;
    length -= static_cast<size_t>(n);
  }
}

}  // namespace

QProgress::QProgress(const char* label, uint64_t total)
    : QProgress(label, total, platform::kStandardError, 1000, 250) {}

QProgress::QProgress(const char* label, uint64_t total, int fd, int delayMs, int periodMs)
    : total_(total), fd_(fd), delayMs_(delayMs), periodMs_(periodMs > 0 ? periodMs : 1) {
  std::snprintf(label_, sizeof label_, "%s", label ? label : "");
  QProgress* none = nullptr;
  current.compare_exchange_strong(none, this);
  if (!platform::IsTerminal(fd_)) return;
  try {
    shower_ = std::thread([this] { show(); });
  } catch (...) {
    // No thread to be had: the work goes on without a progress line.
  }
}

QProgress::~QProgress() {
  QProgress* self = this;
  current.compare_exchange_strong(self, nullptr);
  if (!shower_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  shower_.join();
}

void QProgress::Advance(uint64_t units, uint64_t bytes) {
  done_.fetch_add(units, std::memory_order_relaxed);
  bytes_.fetch_add(bytes, std::memory_order_relaxed);
}

void QProgress::show() {
  using Clock = std::chrono::steady_clock;
  Clock::time_point start = Clock::now();
  std::unique_lock<std::mutex> lock(mutex_);
  if (!stop_.wait_for(lock, std::chrono::milliseconds(delayMs_), [this] { return stopping_; })) {
    do {
      double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      uint64_t done = done_.load(std::memory_order_relaxed);
      double share = total_ ? 100.0 * static_cast<double>(done) / static_cast<double>(total_) : 0;
      double rate = seconds > 0 ? static_cast<double>(bytes_.load()) / 1e6 / seconds : 0;
      char line[160];
      int n = std::snprintf(line, sizeof line, "\r%s: %3.0f%%, %.0f MB/s ", label_,
                            share < 100 ? share : 100, rate);
      size_t length = n > 0 ? std::min(static_cast<size_t>(n), sizeof line - 1) : 0;
      writeAll(fd_, line, length);
      shownLength_ = std::max(shownLength_, length);
    } while (!stop_.wait_for(lock, std::chrono::milliseconds(periodMs_), [this] { return stopping_; }));
  }
  if (shownLength_ > 0) {
    // Blanks over the line, and the cursor back at its start.
    char blank[162];
    size_t n = std::min(shownLength_, sizeof blank - 2);
    std::memset(blank, ' ', n);
    blank[0] = '\r';
    blank[n] = '\r';
    writeAll(fd_, blank, n + 1);
  }
}

void QProgressAdvance(uint64_t units, uint64_t bytes) {
  if (QProgress* p = current.load(std::memory_order_acquire)) p->Advance(units, bytes);
}
