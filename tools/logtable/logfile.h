// LogFile: the log table both converters share.
//
// Up to 100 named columns of doubles, all holding recordCount values. The
// table owns its columns (malloc'd arrays, released by the destructor) and
// its names. tracepack fills it from a text log (ImportLog) and writes it as
// a MAT-file (ExportMat); traceunpack fills it from a MAT-file (ImportMat) and
// writes it as a text log (ExportLog).
#pragma once

#include <memory>
#include <string>

#include "text/qstr.h"

class MATRowFile;

class LogFile {
 public:
  static constexpr int kMaxFields = 100;

  LogFile();
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  void ImportLog(const char* logFileName);
  void ExportMat(const char* matFileName);
  // Names the MAT-file the next ExportMat will write, before ImportLog: the
  // import may then write the values straight into it as it reads them
  // (the layout is known once the records are counted) instead of keeping
  // them in columns, and ExportMat only completes that file. The messages
  // and the file are the same either way; where the file cannot be laid out
  // in advance, the table is filled as usual.
  void PlanMatExport(const char* matFileName);
  void ImportMat(const char* matFileName);
  void ExportLog(const char* logFileName);

  // Frees every column and forgets the fields (names keep their buffers);
  // a MAT-file the import wrote and no export completed is dropped.
  void ReleaseColumns();

  double* columns[kMaxFields] = {};
  QStr names[kMaxFields];
  int fieldCount = 0;
  int recordCount = 0;
  // False until an import found its file: an export then leaves its target
  // untouched instead of replacing it with an empty table.
  bool imported = false;

 private:
  bool streamIntoMat(class QDLMFile& reader);

  std::string plannedMat_;
  // The MAT-file ImportLog wrote, waiting for ExportMat to complete it.
  std::unique_ptr<MATRowFile> pendingMat_;
};
