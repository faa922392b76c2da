// LogFile: the log table both converters share.
//
// Up to 100 named columns of doubles, all holding recordCount values. The
// table owns its columns (malloc'd arrays, released by the destructor) and
// its names. tracepack fills it from a text log (ImportLog) and writes it as
// a MAT-file (ExportMat); traceunpack fills it from a MAT-file (ImportMat) and
// writes it as a text log (ExportLog). Each program defines the operations
// it uses (tools/tracepack, tools/traceunpack).
#pragma once

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

  // Frees every column and forgets the fields (names keep their buffers).
  void ReleaseColumns();

  double* columns[kMaxFields] = {};
  QStr names[kMaxFields];
  int fieldCount = 0;
  int recordCount = 0;
  // False until an import found its file: an export then leaves its target
  // untouched instead of replacing it with an empty table.
  bool imported = false;
};
