#include "tracepack/mat_v73_row_sink.h"

#include <cstdlib>
#include <new>

#include "io/qdlmfile.h"
#include "mat/mat.h"
#include "platform/memory.h"

namespace {

// A thread's block holds at most this many records: blocks are cut at the
// reader's checkpoints.
constexpr size_t kRowsAtMost = QDLMFile::kCheckpointStride;

struct FreeBuffer {
  void operator()(double* p) const { std::free(p); }
};

}  // namespace

// Each thread writes its own blocks, as they come: the pieces of a block
// are small beside the time it takes to read them, so two threads seldom
// meet at the file.
class MatV73RowSink::BlockWriter : public RowSink::Writer {
 public:
  explicit BlockWriter(MatV73RowSink& sink) : sink_(sink) {}

  int Rows(int, int count, double** rows) override {
    if (static_cast<size_t>(count) > kRowsAtMost) return kSinkFailed;
    // Not cleared: the value pass sets every row of every column.
    if (!values_)
      values_.reset(static_cast<double*>(
          platform::AllocateLarge(kRowsAtMost * static_cast<size_t>(sink_.fieldCount_) * sizeof(double))));
    if (!values_) return kSinkFailed;
    for (int i = 0; i < sink_.fieldCount_; ++i) rows[i] = column(i);
    return 0;
  }

  int Filled(int first, int count) override {
    for (int i = 0; i < sink_.fieldCount_; ++i)
      if (!sink_.file_.Write(i, static_cast<size_t>(first), column(i), static_cast<size_t>(count)))
        return kSinkFailed;
    return 0;
  }

 private:
  double* column(int i) { return values_.get() + kRowsAtMost * static_cast<size_t>(i); }

  MatV73RowSink& sink_;
  std::unique_ptr<double, FreeBuffer> values_;
};

std::unique_ptr<MatV73RowSink> MatV73RowSink::Open(const char* matFileName, const LogFile& table) {
  int records = table.recordCount;
  if (records <= 0 || !matNeedsV73(static_cast<size_t>(records))) return nullptr;
  const char* fieldNames[LogFile::kMaxFields];
  for (int i = 0; i < table.fieldCount; ++i) fieldNames[i] = table.names[i].CStr();
  std::unique_ptr<MatV73RowSink> sink(new (std::nothrow) MatV73RowSink(table.fieldCount));
  if (!sink || !sink->file_.Open(matFileName, fieldNames, table.fieldCount, static_cast<size_t>(records)))
    return nullptr;
  return sink;
}

std::unique_ptr<RowSink::Writer> MatV73RowSink::NewWriter() {
  return std::unique_ptr<Writer>(new (std::nothrow) BlockWriter(*this));
}
