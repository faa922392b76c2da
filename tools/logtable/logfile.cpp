#include "logtable/logfile.h"

#include <cstdlib>

LogFile::LogFile() = default;

LogFile::~LogFile() { ReleaseColumns(); }

void LogFile::ReleaseColumns() {
  for (double*& column : columns) {
    std::free(column);
    column = nullptr;
  }
  fieldCount = 0;
  recordCount = 0;
}
