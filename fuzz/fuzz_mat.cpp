// Fuzz target: arbitrary bytes as a MAT-file, read through the MAT layer
// (every variable, its shape and values) and imported with LogFile::ImportMat.
//
// The reader checks every size a file declares against the bytes there
// before allocating. Some shapes are rightly larger than their bytes: a
// sparse matrix's rows, a struct without fields, a 7.3 dataset of fill
// values, and LogFile pads every column to the longest. The layer's memory
// cap is lowered to 4 MiB per array so that these end in its "too large"
// warning rather than in libFuzzer's memory limit (the unit tests hold the
// reader to refusing false claims as damage).
#include <cstddef>
#include <cstdint>

#include "fuzz_util.h"
#include "logtable/logfile.h"
#include "mat/mat.h"

namespace {

// Touches every value so that a buffer shorter than its declared count
// shows up under AddressSanitizer.
double sum(const mxArray* array) {
  const double* values = mxGetPr(array);
  double s = 0;
  for (mwSize i = 0; i < mxGetNumberOfElements(array); ++i) s += values[i];
  const mwSize* dims = mxGetDimensions(array);
  for (mwSize i = 0; i < mxGetNumberOfDimensions(array); ++i) s += static_cast<double>(dims[i]);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzutil::InputFile input("input.mat");
  static bool limited = (matSetMemoryLimitForTesting(4u << 20), true);
  (void)limited;
  if (!input.Write(data, size)) return 0;

  if (MATFile* file = matOpen(input.Path(), "r")) {
    matCountRemaining(file);
    const char* name = nullptr;
    volatile double sink = 0;
    while (mxArray* array = matGetNextVariable(file, &name)) {
      sink = sink + sum(array) + (name ? name[0] : 0);
      mxDestroyArray(array);
    }
    matGetNextVariable(file, &name);  // after the end or the damage: still null
    matClose(file);
  }

  LogFile table;
  table.ImportMat(input.Path());
  return 0;
}
