// MatV73RowSink: the value pass written straight into a 7.3 MAT-file, for
// logs whose fields are too long for a level 5 variable.
//
// Once the records are counted, MATRowFile has HDF5 lay the file out and
// claims its disk space; each thread converts blocks of records into columns
// of its own and writes every column's piece at its place in the file as
// soon as the block is read. So the file fills while the log is read, on
// every core, and no column of the whole log is ever held in memory. Commit
// then has HDF5 write its metadata and puts the file in place whole.
#pragma once

#include <memory>

#include "logtable/logfile.h"
#include "mat/mat_rows.h"
#include "tracepack/value_pass.h"

class MatV73RowSink : public RowSink {
 public:
  // The sink for table's fields and records, or null when the file cannot
  // be laid out in advance: fields short enough for level 5, a field name
  // 7.3 cannot hold (none, a repeated one, one with a '/'), no HDF5 library,
  // a device or pipe as target, no room on the disk. Nothing is reported and
  // nothing is left behind then.
  static std::unique_ptr<MatV73RowSink> Open(const char* matFileName, const LogFile& table);

  std::unique_ptr<Writer> NewWriter() override;
  // Completes the file; false, with errno telling why, when the target was
  // left as it was.
  bool Commit() { return file_.Close() == 0; }
  // Drops the file, leaving the target as it was.
  void Abort() { file_.Abort(); }

 private:
  class BlockWriter;
  explicit MatV73RowSink(int fieldCount) : fieldCount_(fieldCount) {}

  MATRowFile file_;
  int fieldCount_;
};
