// MatRowSink: the value pass written straight into the MAT-file.
//
// Once the records are counted, the layout of a file of 1 x N doubles is
// known (level 5, or 7.3 for fields too long for level 5, laid out by HDF5):
// the file is laid out and its space claimed up front,
// each thread converts blocks of records into columns of its own, and every
// column's piece is written at its place. Commit then only completes the
// file, which appears under its name only when whole.
#pragma once

#include <memory>
#include <mutex>

#include "logtable/logfile.h"
#include "mat/mat_rows.h"
#include "tracepack/value_pass.h"

class MatRowSink : public RowSink {
 public:
  // The sink for table's fields and records, or null when the file cannot
  // be laid out in advance (no records, a field name the file cannot hold,
  // no HDF5 library for a 7.3 file, a device or pipe as target, no room on
  // the disk); nothing is reported and nothing is left behind then.
  static std::unique_ptr<MatRowSink> Open(const char* matFileName, const LogFile& table);

  std::unique_ptr<Writer> NewWriter() override;
  // Completes the file; false, with errno telling why, when the target was
  // left as it was.
  bool Commit();
  // Drops the file, leaving the target as it was.
  void Abort() { file_.Abort(); }

 private:
  class BlockWriter;
  MatRowSink(int fieldCount, int records) : fieldCount_(fieldCount), records_(records) {}
  uint64_t blockBytes(size_t rows) const;

  MATRowFile file_;
  int fieldCount_;
  int records_;
  // The file takes one write at a time (the kernel locks it for each), so
  // the threads take turns by a lock of their own.
  std::mutex fileLock_;
};
