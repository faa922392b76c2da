// LogFile: the log table both converters share.
//
// Up to 100 named columns of doubles, all holding recordCount values. The
// table owns its names and, as a rule, its columns (malloc'd arrays,
// released by the destructor); ImportMat may borrow a column instead, one
// that lies in a read-only mapping of the MAT-file it came from. tracepack
// fills it from a text log (ImportLog) and writes it as a MAT-file
// (ExportMat); traceunpack fills it from a MAT-file (ImportMat) and writes
// it as a text log (ExportLog). Each program defines the operations
// it uses (tools/tracepack, tools/traceunpack).
#pragma once

#include <cstddef>
#include <memory>

#include "text/qstr.h"

class LogFile {
 public:
  static constexpr int kMaxFields = 100;

  LogFile();
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  void ImportLog(const char* logFileName);
  void ExportMat(const char* matFileName);
  void ImportMat(const char* matFileName);
  void ExportLog(const char* logFileName);

  // Frees every owned column, lets go of every borrowed one and forgets the
  // fields (names keep their buffers).
  void ReleaseColumns();

  // Lowers what ImportMat lets the owned columns take (half the machine's
  // memory) so that tests reach the limit with small files; 0 restores it.
  static void SetMemoryLimitForTesting(size_t bytes);

  double* columns[kMaxFields] = {};
  // What keeps a borrowed column alive, null for a column the table owns. A
  // borrowed column is read-only, and it lies in a mapped file: it must be
  // read inside platform::RunGuarded, as a file cut short meanwhile faults
  // on the pages it lost.
  std::shared_ptr<const void> lenders[kMaxFields];
  QStr names[kMaxFields];
  int fieldCount = 0;
  int recordCount = 0;
  // False until an import found its file: an export then leaves its target
  // untouched instead of replacing it with an empty table.
  bool imported = false;
};
