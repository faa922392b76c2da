// Fuzz target: arbitrary bytes as a MAT-file, read through the MAT layer
// (every variable, its shape and values) and imported with LogFile::ImportMat.
//
// The reader must check every size a file declares against the bytes there
// before allocating; the memory limit stays the machine's, so a claim that
// reaches an allocation shows up as an out-of-memory report from libFuzzer.
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
