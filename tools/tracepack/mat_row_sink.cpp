#include "tracepack/mat_row_sink.h"

#include <cstdlib>
#include <mutex>
#include <new>

#include "io/qdlmfile.h"
#include "mat/mat.h"
#include "platform/memory.h"

namespace {

// A thread's block holds at most this many records: blocks are cut at the
// reader's checkpoints.
constexpr size_t kRowsAtMost = QDLMFile::kCheckpointStride;

struct FreeBlock {
  void operator()(double* p) const { std::free(p); }
};
using Block = std::unique_ptr<double[], FreeBlock>;

}  // namespace

// A thread that finds the file taken holds its block back and reads the
// next one rather than wait; it waits only with a block already held back.
class MatRowSink::BlockWriter : public RowSink::Writer {
 public:
  explicit BlockWriter(MatRowSink& sink) : sink_(sink) {}

  int Rows(int, int count, double** rows) override {
    if (static_cast<size_t>(count) > kRowsAtMost) return kSinkFailed;
    // Not cleared: the value pass sets every row of every column. Each block
    // is filled whole, megabytes of fresh memory: huge pages where they go.
    if (!values_)
      values_.reset(static_cast<double*>(
          platform::AllocateLarge(kRowsAtMost * static_cast<size_t>(sink_.fieldCount_) * sizeof(double))));
    if (!values_) return kSinkFailed;
    for (int i = 0; i < sink_.fieldCount_; ++i) rows[i] = column(values_.get(), i);
    return 0;
  }

  int Filled(int first, int count) override {
    if (!sink_.fileLock_.try_lock()) {
      if (!holding_) {
        std::swap(values_, held_);
        heldFirst_ = first;
        heldCount_ = count;
        holding_ = true;
        return 0;
      }
      sink_.fileLock_.lock();
    }
    return writeHeldThen(values_.get(), first, count);
  }

  int Finish() override {
    if (!holding_) return 0;
    sink_.fileLock_.lock();
    return writeHeldThen(nullptr, 0, 0);
  }

 private:
  double* column(double* values, int i) { return values + kRowsAtMost * static_cast<size_t>(i); }

  bool write(double* values, int first, int count) {
    for (int i = 0; i < sink_.fieldCount_; ++i)
      if (!sink_.file_.Write(i, static_cast<size_t>(first), column(values, i), static_cast<size_t>(count)))
        return false;
    return true;
  }

  // Writes the held block, then the given one if any; the lock is held.
  int writeHeldThen(double* values, int first, int count) {
    std::lock_guard<std::mutex> guard(sink_.fileLock_, std::adopt_lock);
    if (holding_ && !write(held_.get(), heldFirst_, heldCount_)) return kSinkFailed;
    holding_ = false;
    return !values || write(values, first, count) ? 0 : kSinkFailed;
  }

  MatRowSink& sink_;
  Block values_;  // the block being read
  Block held_;    // a block read but not written yet
  int heldFirst_ = 0;
  int heldCount_ = 0;
  bool holding_ = false;
};

std::unique_ptr<MatRowSink> MatRowSink::Open(const char* matFileName, const LogFile& table) {
  int records = table.recordCount;
  if (records <= 0) return nullptr;
  const char* fieldNames[LogFile::kMaxFields];
  for (int i = 0; i < table.fieldCount; ++i) fieldNames[i] = table.names[i].CStr();
  std::unique_ptr<MatRowSink> sink(new (std::nothrow) MatRowSink(table.fieldCount));
  if (!sink || !sink->file_.Open(matFileName, fieldNames, table.fieldCount, static_cast<size_t>(records)))
    return nullptr;
  return sink;
}

std::unique_ptr<RowSink::Writer> MatRowSink::NewWriter() {
  return std::unique_ptr<Writer>(new (std::nothrow) BlockWriter(*this));
}

bool MatRowSink::Commit() { return file_.Close() == 0; }
