// QProgress: the progress of a long conversion, shown on a terminal.
//
// While a QProgress lives, work done anywhere in the process is added with
// QProgressAdvance, from any thread. When standard error is a terminal and
// the work has gone on for more than a second, one line there shows the
// share done and the rate in MB/s; it is rewritten a few times a second and
// erased when the QProgress ends. The line goes to the terminal alone, never
// to QLOG.txt or the remote channel, and when standard error is not a
// terminal nothing is shown at all, so redirected output holds the messages
// and nothing else.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class QProgress {
 public:
  // total: the units of work in all (the share done is counted in them).
  QProgress(const char* label, uint64_t total);
  // Shows on fd, first after delayMs and then every periodMs (for tests).
  QProgress(const char* label, uint64_t total, int fd, int delayMs, int periodMs);
  ~QProgress();
  QProgress(const QProgress&) = delete;
  QProgress& operator=(const QProgress&) = delete;

  // units more done, bytes more read or written (for the rate).
  void Advance(uint64_t units, uint64_t bytes);

 private:
  void show();

  char label_[64];
  uint64_t total_;
  int fd_;
  int delayMs_;
  int periodMs_;
  std::atomic<uint64_t> done_{0};
  std::atomic<uint64_t> bytes_{0};
  size_t shownLength_ = 0;
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::thread shower_;
};

// Adds to the QProgress alive at the time, if there is one. The work counted
// must end before that QProgress does.
void QProgressAdvance(uint64_t units, uint64_t bytes);
