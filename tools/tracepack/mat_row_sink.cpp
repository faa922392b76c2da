#include "tracepack/mat_row_sink.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>

#include "mat/mat.h"
#include "platform/memory.h"

namespace {

// A thread's block holds at most this many records.
constexpr size_t kRowsAtMost = kValueRecordsAtMost;

struct FreeBlock {
  void operator()(double* p) const { std::free(p); }
};
using Block = std::unique_ptr<double[], FreeBlock>;

}  // namespace

// A thread's block, written column by column at its places once filled.
class MatRowSink::BlockWriter : public RowSink::Writer {
 public:
  explicit BlockWriter(MatRowSink& sink) : sink_(sink) {}

  int Rows(int, int count, double** rows) override {
    if (count <= 0 || static_cast<size_t>(count) > kRowsAtMost) return kSinkFailed;
    // Not cleared: the value pass sets every row of every column. A thread
    // takes its block once, as long as any it may be given, and fills it
    // whole, megabytes of fresh memory: on huge pages where they go, else
    // backed in one call rather than by a page fault for every 4 KiB.
    if (!values_) {
      rows_ = std::min(kRowsAtMost, static_cast<size_t>(sink_.records_));
      uint64_t bytes = sink_.blockBytes(rows_);
      values_.reset(static_cast<double*>(platform::AllocateLarge(bytes)));
      if (values_) platform::Prefault(values_.get(), bytes);
    }
    if (!values_ || static_cast<size_t>(count) > rows_) return kSinkFailed;
    for (int i = 0; i < sink_.fieldCount_; ++i) rows[i] = column(i);
    return 0;
  }

  // A block's columns go out as one write each, as long as the block is:
  // the longer the writes, the less the kernel spends on each byte.
  int Filled(int first, int count) override {
    std::lock_guard<std::mutex> guard(sink_.fileLock_);
    for (int i = 0; i < sink_.fieldCount_; ++i)
      if (!sink_.file_.Write(i, static_cast<size_t>(first), column(i), static_cast<size_t>(count)))
        return kSinkFailed;
    return 0;
  }

 private:
  double* column(int i) { return values_.get() + rows_ * static_cast<size_t>(i); }

  MatRowSink& sink_;
  Block values_;
  size_t rows_ = 0;  // the rows of each column in values_
};

std::unique_ptr<MatRowSink> MatRowSink::Open(const char* matFileName, const LogFile& table) {
  int records = table.recordCount;
  if (records <= 0) return nullptr;
  const char* fieldNames[LogFile::kMaxFields];
  for (int i = 0; i < table.fieldCount; ++i) fieldNames[i] = table.names[i].CStr();
  std::unique_ptr<MatRowSink> sink(new (std::nothrow) MatRowSink(table.fieldCount, records));
  if (!sink || !sink->file_.Open(matFileName, fieldNames, table.fieldCount, static_cast<size_t>(records)))
    return nullptr;
  return sink;
}

std::unique_ptr<RowSink::Writer> MatRowSink::NewWriter() {
  return std::unique_ptr<Writer>(new (std::nothrow) BlockWriter(*this));
}

uint64_t MatRowSink::blockBytes(size_t rows) const {
  return rows * static_cast<uint64_t>(fieldCount_) * sizeof(double);
}

bool MatRowSink::Commit() { return file_.Close() == 0; }
