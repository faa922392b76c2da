#include "logtable/logfile.h"

#include <cstdlib>

LogFile::LogFile() = default;

LogFile::~LogFile() { ReleaseColumns(); }

void LogFile::ReleaseColumns() {
  for (int j = 0; j < kMaxFields; ++j) {
    if (!lenders[j]) std::free(columns[j]);
    columns[j] = nullptr;
    lenders[j].reset();
  }
  fieldCount = 0;
  recordCount = 0;
}
