// LogFile::ImportMat: fills the table from a MAT-file, one field per
// variable in file order, and tells the user each variable's dimensions.
//
// The MAT layer hands every variable over as doubles whatever its class, and
// the table takes them where they are rather than copying them: the layer's
// buffer becomes the column, or, for a plain level 5 variable of doubles,
// the column borrows the values from the layer's mapping of the file, so
// that such a file costs no memory of the table's own however large.
// Variables may differ in length: the record count is the longest seen,
// shorter columns are padded with NaN, and columns read before a longer
// variable grow to the new count, so every column always holds one value per
// sample. A borrowed column that needs padding becomes a copy of the table's
// own.
//
// Damage (reported by the MAT layer) ends the import; the variables read
// before it stand.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "logtable/logfile.h"
#include "mat/mat.h"
#include "msg/qlog.h"
#include "platform/mapping.h"
#include "platform/memory.h"

namespace {

std::atomic<size_t> memoryLimit{0};

void fillNaN(double* column, size_t from, size_t to) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (size_t k = from; k < to; ++k) column[k] = nan;
}

// Padding shorter columns costs fields x records doubles, whatever the file
// holds; a table whose own columns would not fit in half the machine's
// memory is refused rather than left to the out-of-memory killer. Borrowed
// columns do not count: they are file pages, which the system can drop and
// read again.
bool tableFits(size_t ownedColumns, size_t records) {
  double budget = static_cast<double>(memoryLimit.load());
  if (budget == 0) {
    uint64_t memory = platform::PhysicalMemory();
    if (memory == 0) return true;
    budget = static_cast<double>(memory) / 2;
  }
  return static_cast<double>(ownedColumns) * static_cast<double>(records) * sizeof(double) <= budget;
}

// A column of the table's own with room for records values: the first have
// taken from a mapped file, the rest NaN. Null when the memory cannot be
// had, or, with *lost set, when the file lost those pages meanwhile.
double* ownedCopy(const double* mapped, size_t have, size_t records, int* lost) {
  auto* column = static_cast<double*>(platform::AllocateLarge((records ? records : 1) * sizeof(double)));
  if (!column) return nullptr;
  auto copy = [&] { std::memcpy(column, mapped, have * sizeof(double)); };
  if (have > 0) *lost = platform::RunGuarded(copy);
  if (*lost) {
    std::free(column);
    return nullptr;
  }
  fillNaN(column, have, records);
  return column;
}

}  // namespace

void LogFile::SetMemoryLimitForTesting(size_t bytes) { memoryLimit = bytes; }

void LogFile::ImportMat(const char* matFileName) {
  MATFile* file = matOpen(matFileName, "rm");
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
    size_t available = mxGetNumberOfElements(array);
    size_t have = std::min(count, available);
    std::shared_ptr<const void> mapping = mxGetMapping(array);
    // Only a mapped variable as long as the table stays where it is; every
    // other column, and every column a longer variable pads, is the table's.
    bool borrow = mapping && have == newRecords;
    size_t owned = borrow ? 0 : 1;
    for (int j = 0; j < i; ++j)
      if (!lenders[j] || newRecords > records) ++owned;
    bool grown = tableFits(owned, newRecords);
    int lost = 0;
    const char* lostName = name;
    for (int j = 0; grown && j < i && newRecords > records; ++j) {
      double* bigger;
      if (lenders[j]) {
        bigger = ownedCopy(columns[j], records, newRecords, &lost);
        if (lost) lostName = names[j].CStr();
      } else {
        bigger = static_cast<double*>(std::realloc(columns[j], newRecords * sizeof(double)));
        if (bigger) fillNaN(bigger, records, newRecords);
      }
      if (!bigger) {
        grown = false;
        break;
      }
      columns[j] = bigger;
      lenders[j].reset();
    }
    double* column = nullptr;
    if (grown && borrow) {
      column = mxGetPr(array);
    } else if (grown && mapping) {
      column = ownedCopy(mxGetPr(array), have, newRecords, &lost);
    } else if (grown) {
      column = mxTakePr(array);
      if (column && newRecords > std::max<size_t>(available, 1)) {
        double* bigger = static_cast<double*>(std::realloc(column, newRecords * sizeof(double)));
        if (!bigger) std::free(column);
        column = bigger;
      }
      if (column) fillNaN(column, have, newRecords);
    }
    if (!column) {
      // Columns already grown keep their spare room; the record count, and
      // with it every column's meaning, stays as it was.
      if (lost)
        QWarning("LogFile:ImportMat(); can't read '%s' (%s), import ends here",
                 lostName ? lostName : "", std::strerror(lost));
      else
        QWarning("LogFile:ImportMat(); not enough memory for '%s', import ends here", name);
      mxDestroyArray(array);
      cutShort = true;
      break;
    }

    recordCount = static_cast<int>(newRecords);
    names[i].Assign(name);
    columns[i] = column;
    if (borrow) lenders[i] = std::move(mapping);
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
