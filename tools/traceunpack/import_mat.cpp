// LogFile::ImportMat: fills the table from a MAT-file, one field per
// variable in file order, and tells the user each variable's dimensions.
//
// The MAT layer hands every variable over as doubles whatever its class, so
// this side only copies. Variables may differ in length: the record count is
// the longest seen, shorter columns are padded with NaN, and columns read
// before a longer variable grow to the new count, so every column always
// holds one value per sample.
//
// Damage (reported by the MAT layer) ends the import; the variables read
// before it stand.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "logtable/logfile.h"
#include "mat/mat.h"
#include "msg/qlog.h"
#include "platform/memory.h"

namespace {

void fillNaN(double* column, size_t from, size_t to) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (size_t k = from; k < to; ++k) column[k] = nan;
}

// Padding shorter columns costs fields x records doubles, whatever the file
// holds; a table that would not fit in half the machine's memory is refused
// rather than left to the out-of-memory killer.
bool tableFits(size_t fields, size_t records) {
  uint64_t memory = platform::PhysicalMemory();
  if (memory == 0) return true;
  double budget = static_cast<double>(memory) / 2;
  return static_cast<double>(fields) * static_cast<double>(records) * sizeof(double) <= budget;
}

}  // namespace

void LogFile::ImportMat(const char* matFileName) {
  MATFile* file = matOpen(matFileName, "r");
  if (!file) {
    QWarning("LogFile:ImportMat(); can't open Matlab file");
    return;
  }
  imported = true;
  ReleaseColumns();

  int i = 0;
  bool cutShort = false;  // the reading stopped before the file's end
  while (i < kMaxFields) {
    const char* rawName = nullptr;
    mxArray* array = matGetNextVariable(file, &rawName);
    if (!array) {
      cutShort = matReadDamaged(file);
      break;
    }
    const char* name = rawName ? rawName : "";

    size_t nd = mxGetNumberOfDimensions(array);
    QPrintf("Array %s has %d dimensions: ", name, static_cast<int>(nd));
    const mwSize* dims = mxGetDimensions(array);
    size_t count = 1;
    bool overflow = false;
    for (size_t k = 0; k < nd; ++k) {
      // %zu prints what %d would for every size a log can hold, and stays
      // truthful beyond.
      std::printf(k ? "x%zu" : "%zu", static_cast<size_t>(dims[k]));
      if (dims[k] != 0 && count > SIZE_MAX / dims[k]) overflow = true;
      count *= dims[k];
    }
    if (nd == 0) count = 0;
    if (overflow) count = SIZE_MAX;
    std::printf(" (=%zu)\n", count);
    // Keeps the two halves of the line together where both streams meet.
    std::fflush(stdout);

    if (count > static_cast<size_t>(INT_MAX)) {
      QWarning("LogFile:ImportMat(); '%s' holds more values than a log can take, import ends here",
               name);
      mxDestroyArray(array);
      cutShort = true;
      break;
    }
    size_t records = static_cast<size_t>(recordCount);
    size_t newRecords = count > records ? count : records;
    double* column = nullptr;
    if (tableFits(static_cast<size_t>(i) + 1, newRecords))
      column = static_cast<double*>(std::malloc((newRecords ? newRecords : 1) * sizeof(double)));
    bool grown = column != nullptr;
    for (int j = 0; grown && j < i && newRecords > records; ++j) {
      double* bigger =
          static_cast<double*>(std::realloc(columns[j], newRecords * sizeof(double)));
      if (!bigger) {
        grown = false;
        break;
      }
      columns[j] = bigger;
      fillNaN(bigger, records, newRecords);
    }
    if (!grown) {
      // Columns already grown keep their spare room; the record count, and
      // with it every column's meaning, stays as it was.
      std::free(column);
      QWarning("LogFile:ImportMat(); not enough memory for '%s', import ends here", name);
      mxDestroyArray(array);
      cutShort = true;
      break;
    }

    recordCount = static_cast<int>(newRecords);
    names[i].Assign(name);
    size_t available = mxGetNumberOfElements(array);
    size_t copied = count < available ? count : available;
    const double* data = mxGetPr(array);
    if (copied > 0 && data) std::memcpy(column, data, copied * sizeof(double));
    else copied = 0;
    fillNaN(column, copied, newRecords);
    columns[i] = column;
    mxDestroyArray(array);
    ++i;
  }

  if (i == kMaxFields) {
    long remaining = matCountRemaining(file);
    if (remaining > 0) {
      QWarning("LogFile:ImportMat(); only the first %d variables were converted, %ld more left out",
               kMaxFields, remaining);
    } else if (remaining < 0) {
      const char* extraName = nullptr;
      if (mxArray* extra = matGetNextVariable(file, &extraName)) {
        mxDestroyArray(extra);
        QWarning("LogFile:ImportMat(); only the first %d variables were converted, the rest left out",
                 kMaxFields);
      }
    }
  }
  fieldCount = i;
  // A file cut short before its first variable gave nothing to convert: an
  // empty log would only replace what the target held. A sound file
  // without variables still gives its empty log.
  if (i == 0 && cutShort) imported = false;
  matClose(file);
}
