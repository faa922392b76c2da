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
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "io/qblocks.h"
#include "io/qsafefile.h"
#include "logtable/logfile.h"
#include "msg/qclock.h"
#include "msg/qlog.h"
#include "msg/qprogress.h"
#include "platform/mapping.h"
#include "platform/memory.h"
#include "text/qfmtg.h"

namespace {

// Room for the text of one block of rows, margin included: one huge page.
// Blocks of text above QSafeFile's own buffer go to the file without a copy;
// on small pages the room is only touched as far as the text reaches,
// typically a little over half of it.
constexpr size_t kBlockBytes = platform::kHugePageSize;

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
// order and handed out in turn to the threads (RunBlocks). A thread lays
// out its block in a free slot, then writes whatever blocks are ready next
// in file order unless another thread is writing; a thread that finds no
// free slot writes or waits meanwhile. So the file is written in order, one
// write at a time, while the other thread keeps laying out. With one thread
// the blocks are laid out and written one after the other.
class RowWriter {
 public:
  RowWriter(QSafeFile& target, double* const* columns, int fields, int records)
      : target_(target), columns_(columns), fields_(fields), records_(records) {
    size_t bound = RowBound(fields);
    rowsPerBlock_ = static_cast<int>(std::max<size_t>(1, (kBlockBytes - QFMTG_WIDEROOM) / bound));
    rowsPerBlock_ = std::min(rowsPerBlock_, records);
    blocks_ = (records - 1) / rowsPerBlock_ + 1;
    slotBytes_ = static_cast<size_t>(rowsPerBlock_) * bound + QFMTG_WIDEROOM;
    // Where the rows take more than one block, every slot is a whole huge
    // page; a short log keeps to what it needs.
    if (blocks_ > 1) slotBytes_ = std::max(slotBytes_, kBlockBytes);
  }

  // 0, or why the rows could not all be written: EIO when a column's mapped
  // file lost pages, ENOMEM when no memory was had; a failed write leaves
  // its reason with the target.
  int Run() {
    int wanted = static_cast<int>(std::min<long>(kSlots, blocks_));
    for (slotCount_ = 0; slotCount_ < wanted; ++slotCount_) {
      // Not zeroed: on small pages, pages the text never reaches stay unused.
      slots_[slotCount_].text.reset(static_cast<char*>(platform::AllocateLarge(slotBytes_)));
      if (!slots_[slotCount_].text) break;
    }
    if (slotCount_ == 0) return ENOMEM;
    // Two threads keep the writes going; more would only wait for them.
    size_t threads = blocks_ > 1 && slotCount_ > 1 ? 2 : 1;
    using Tile = std::unique_ptr<double[]>;
    auto work = [this](size_t block, Tile& tile) { return Work(static_cast<int>(block), tile); };
    auto finish = [](Tile&) { return 0; };
    if (RunBlocks<Tile>(static_cast<size_t>(blocks_), work, finish, threads) == 0 && !failed_) return 0;
    return readError_ ? readError_ : ENOMEM;
  }

 private:
  struct FreeText {
    void operator()(char* p) const { std::free(p); }
  };
  struct Slot {
    std::unique_ptr<char[], FreeText> text;
    size_t used = 0;
    bool ready = false;
  };

  int Work(int block, std::unique_ptr<double[]>& tile) {
    size_t tileSize = static_cast<size_t>(kTileRows) * static_cast<size_t>(fields_) + 1;
    if (!tile) tile.reset(new (std::nothrow) double[tileSize]);
    std::unique_lock<std::mutex> lock(mutex_);
    if (!tile) failed_ = true;
    while (!failed_ && block - nextWrite_ >= slotCount_)
      if (!WriteReady(lock)) changed_.wait(lock);
    if (failed_) {
      changed_.notify_all();
      return 1;
    }
    Slot& slot = slots_[block % slotCount_];
    lock.unlock();
    int first = block * rowsPerBlock_;
    int last = std::min(records_ - first, rowsPerBlock_) + first;
    size_t used = 0;
    // Borrowed columns lie in a mapped file, which may lose pages meanwhile.
    auto format = [&] { used = FormatRows(columns_, fields_, first, last, slot.text.get(), tile.get()); };
    int lost = platform::RunGuarded(format);
    lock.lock();
    if (lost) {
      readError_ = lost;
      failed_ = true;
      changed_.notify_all();
      return 1;
    }
    slot.used = used;
    slot.ready = true;
    changed_.notify_all();
    while (WriteReady(lock)) {
    }
    return failed_ ? 1 : 0;
  }

  // Writes the next block in file order if it is ready and nobody is
  // writing; false when there was nothing to do or the write failed.
  bool WriteReady(std::unique_lock<std::mutex>& lock) {
    if (writing_ || failed_ || nextWrite_ >= blocks_) return false;
    Slot& head = slots_[nextWrite_ % slotCount_];
    if (!head.ready) return false;
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
    return ok;
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
  int nextWrite_ = 0;  // the next block to write
  bool writing_ = false;
  bool failed_ = false;
  int readError_ = 0;
};

int WriteRows(QSafeFile& target, double* const* columns, int fields, int records) {
  if (records <= 0) return 0;
  return RowWriter(target, columns, fields, records).Run();
}

}  // namespace

void LogFile::ExportLog(const char* logFileName) {
  if (!imported) {
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
  int rowsError = 0;
  if (ok) {
    // Laying out the values is the long part: a terminal shows how far it got.
    QProgress progress("Writing log file", recordCount > 0 ? static_cast<uint64_t>(recordCount) : 0);
    rowsError = WriteRows(target, columns, fieldCount, recordCount);
    ok = rowsError == 0;
  }

  if (!ok) target.Abort();
  if (!ok || !target.Commit()) {
    int error = target.Error() ? target.Error() : rowsError ? rowsError : ENOMEM;
    QWarning("LogFile:ExportLog(); can't write %s (%s), the file was left as it was",
             logFileName, std::strerror(error));
  }
}
