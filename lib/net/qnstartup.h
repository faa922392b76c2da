// QNStartup: brings the networking layer up once per process, and
// QStopwatch, the library's stopwatch that runs from that moment.
//
// The start-up records the network adapters (QNAdapterList), starts the
// socket library insisting on version 2.2 and then again for 2.0 (falling
// back to 1.1), points QNLoopback at 127.0.0.1 and starts the stopwatch.
// QNStarted is set before any of that, so a failed start-up is never tried
// again and a report raised inside it cannot start it a second time. Nothing
// it creates is released: the process end does that.
#pragma once

#include <cstdint>

class QNAdapterList;

class QStopwatch {
 public:
  QStopwatch();
  void Reset();
  void Start();
  void Restart();
  // Seconds since the last reset or start on the monotonic counter.
  double ElapsedSeconds() const;
  bool Running() const { return running_ != 0; }

 private:
  uint32_t resetValue_[2] = {0, 0};
  int64_t startCount_ = 0;
  int64_t frequency_ = 1;
  int32_t running_ = 0;
};

extern bool QNStarted;
extern QNAdapterList* QNAdapters;
extern QStopwatch* QNStopwatch;

// true only when this call ran the start-up to its end; false when it was
// already started (or tried) or a step failed, which it has then reported.
bool QNStartup();

// For tests only; the programs never call it. Frees what a start-up made
// and returns the layer to "not started".
void QNStartupResetForTest();
