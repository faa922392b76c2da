// LogFile::ExportLog: writes the table as a telemetry text log: the header
// comment, the line of names, then one line of "%g" values per sample.
//
// A log that ends early looks complete to every reader, so the text goes to
// a temporary file beside the target that replaces it only once every write
// and the close have succeeded; on any failure the old target stays as it
// was. A table whose MAT-file could not be opened leaves the target alone.
//
// The values are the bulk of the work: QFormatG gives snprintf's "%g" text
// without its locale and argument parsing, and the rows are laid out in
// blocks by two threads where there are two cores, while finished blocks are
// written in order. The bytes written do not depend on any of that.
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "logtable/logfile.h"
#include "msg/qlog.h"
#include "msg/qprogress.h"
#include "text/qclock.h"
#include "text/qfmtg.h"
#include "text/qsafefile.h"

namespace {

// Room for the text of one block of rows. Blocks of text above QSafeFile's
// own buffer go to the file without a copy; the room is only touched as far
// as the text reaches, typically a little over half of it.
constexpr size_t kBlockBytes = 2u << 20;

// Blocks in flight: one being written, one being laid out by each thread,
// and one ready, so that neither thread waits for the other as a rule.
constexpr int kSlots = 4;

// Rows copied out of the columns at a time. The columns lie far apart, and a
// row read across all of them would touch 50 to 100 streams at once; a few
// rows' worth read column by column go in address order instead.
constexpr int kTileRows = 32;

size_t RowBound(int fields) {
  return fields == 0 ? 1 : static_cast<size_t>(fields) * (QFMTG_MAXLEN + 1);
}

// Lays out rows [first, last) of the table at out; returns the bytes used.
// out must hold (last - first) * RowBound(fields) + QFMTG_WIDEROOM bytes,
// tile kTileRows * fields doubles.
size_t FormatRows(double* const* columns, int fields, int first, int last, char* out,
                  double* tile) {
  char* p = out;
  for (int i = first; i < last; i += kTileRows) {
    int rows = std::min(kTileRows, last - i);
    for (int j = 0; j < fields; ++j) {
      const double* column = columns[j] + i;
      for (int t = 0; t < rows; ++t) tile[t * fields + j] = column[t];
    }
    for (int t = 0; t < rows; ++t) p = QFormatGLine(tile + t * fields, fields, p);
  }
  return static_cast<size_t>(p - out);
}

// Writes every value line. The rows fall into blocks, numbered in file
// order. Each thread in turn takes the next block to write if it is ready
// and nobody is writing, or else lays out the next block if a slot is free,
// or else waits; so the file is written in order, one write at a time, while
// the other thread keeps laying out. Without a second thread the same loop
// lays out and writes the blocks one after the other.
class RowWriter {
 public:
  RowWriter(QSafeFile& target, double* const* columns, int fields, int records)
      : target_(target), columns_(columns), fields_(fields), records_(records) {
    size_t bound = RowBound(fields);
    rowsPerBlock_ = static_cast<int>(std::max<size_t>(1, kBlockBytes / bound));
    rowsPerBlock_ = std::min(rowsPerBlock_, records);
    blocks_ = (records - 1) / rowsPerBlock_ + 1;
    slotBytes_ = static_cast<size_t>(rowsPerBlock_) * bound + QFMTG_WIDEROOM;
  }

  bool Run() {
    int wanted = static_cast<int>(std::min<long>(kSlots, blocks_));
    for (slotCount_ = 0; slotCount_ < wanted; ++slotCount_) {
      // Not zeroed: pages the text never reaches stay unused.
      slots_[slotCount_].text.reset(new (std::nothrow) char[slotBytes_]);
      if (!slots_[slotCount_].text) break;
    }
    size_t tileSize = static_cast<size_t>(kTileRows) * static_cast<size_t>(fields_) + 1;
    std::unique_ptr<double[]> tiles[2];
    tiles[0].reset(new (std::nothrow) double[tileSize]);
    if (slotCount_ == 0 || !tiles[0]) return false;

    std::thread helper;
    if (std::thread::hardware_concurrency() > 1 && blocks_ > 1 && slotCount_ > 1) {
      tiles[1].reset(new (std::nothrow) double[tileSize]);
      try {
        if (tiles[1]) helper = std::thread([this, &tiles] { Work(tiles[1].get()); });
      } catch (...) {
        // No thread to be had: this one does all the blocks.
      }
    }
    Work(tiles[0].get());
    if (helper.joinable()) helper.join();
    return !failed_;
  }

 private:
  struct Slot {
    std::unique_ptr<char[]> text;
    size_t used = 0;
    bool ready = false;
  };

  void Work(double* tile) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!failed_ && nextWrite_ < blocks_) {
      Slot& head = slots_[nextWrite_ % slotCount_];
      if (!writing_ && head.ready) {
        writing_ = true;
        int rows = std::min(records_ - nextWrite_ * rowsPerBlock_, rowsPerBlock_);
        lock.unlock();
        bool ok = target_.Write(head.text.get(), head.used);
        QProgressAdvance(static_cast<uint64_t>(rows), head.used);
        lock.lock();
        head.ready = false;
        writing_ = false;
        ++nextWrite_;
        if (!ok) failed_ = true;
        changed_.notify_all();
      } else if (nextFormat_ < blocks_ && nextFormat_ - nextWrite_ < slotCount_) {
        int block = nextFormat_++;
        Slot& slot = slots_[block % slotCount_];
        lock.unlock();
        int first = block * rowsPerBlock_;
        int last = std::min(records_ - first, rowsPerBlock_) + first;
        size_t used = FormatRows(columns_, fields_, first, last, slot.text.get(), tile);
        lock.lock();
        slot.used = used;
        slot.ready = true;
        if (block == nextWrite_) changed_.notify_all();
      } else {
        changed_.wait(lock);
      }
    }
  }

  QSafeFile& target_;
  double* const* columns_;
  int fields_;
  int records_;
  int rowsPerBlock_ = 1;
  int blocks_ = 0;
  size_t slotBytes_ = 0;
  Slot slots_[kSlots];
  int slotCount_ = 0;

  std::mutex mutex_;
  std::condition_variable changed_;
  int nextFormat_ = 0;  // the next block to lay out
  int nextWrite_ = 0;   // the next block to write
  bool writing_ = false;
  bool failed_ = false;
};

bool WriteRows(QSafeFile& target, double* const* columns, int fields, int records) {
  if (records <= 0) return true;
  return RowWriter(target, columns, fields, records).Run();
}

}  // namespace

void LogFile::ExportLog(const char* logFileName) {
  // A table whose log went straight into a MAT-file holds no values either.
  if (!imported || pendingMat_) {
    QWarning("LogFile:ExportLog(); nothing imported, '%s' left unchanged", logFileName);
    return;
  }
  QSafeFile target;
  if (!target.Open(logFileName)) {
    QWarning("LogFile:ExportLog(); can't open %s for writing.", logFileName);
    return;
  }

  char timeText[40];
  std::snprintf(timeText, sizeof timeText, "%s", QCurrentTime(nullptr));
  const char* dateText = QCurrentDate(nullptr);
  char header[160];
  int headerLength =
      std::snprintf(header, sizeof header, "# Log file written by traceunpack on %s, %s (%d samples)\n",
                    dateText, timeText, recordCount);
  bool ok = headerLength > 0 &&
            target.Write(header, static_cast<size_t>(headerLength) < sizeof header
                                     ? static_cast<size_t>(headerLength)
                                     : sizeof header - 1);

  for (int j = 0; ok && j < fieldCount; ++j) {
    if (j > 0) ok = target.Write(" ", 1);
    const char* name = names[j].CStr();
    if (ok && name) ok = target.Write(name, std::strlen(name));
  }
  if (ok) ok = target.Write("\n", 1);
  if (ok) {
    // Laying out the values is the long part: a terminal shows how far it got.
    QProgress progress("Writing log file", recordCount > 0 ? static_cast<uint64_t>(recordCount) : 0);
    ok = WriteRows(target, columns, fieldCount, recordCount);
  }

  if (!ok) target.Abort();
  if (!ok || !target.Commit()) {
    QWarning("LogFile:ExportLog(); can't write %s (%s), the file was left as it was",
             logFileName, std::strerror(target.Error() ? target.Error() : ENOMEM));
  }
}
