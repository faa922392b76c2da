#include "logtable/logfile.h"

#include <cstdlib>

#include "mat/mat_rows.h"

LogFile::LogFile() = default;

LogFile::~LogFile() { ReleaseColumns(); }

void LogFile::ReleaseColumns() {
  pendingMat_.reset();
  for (double*& column : columns) {
    std::free(column);
    column = nullptr;
  }
  fieldCount = 0;
  recordCount = 0;
}
