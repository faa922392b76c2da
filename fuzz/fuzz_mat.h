// What fuzz_mat and fuzz_mat73 share: which reader a file's first bytes pick,
// and the reading of one input through the MAT layer (every variable, its
// shape and values) and LogFile::ImportMat.
//
// The reader checks every size a file declares against the bytes there
// before allocating. Some shapes are rightly larger than their bytes: a
// sparse matrix's rows, a 7.3 dataset of fill values, and LogFile pads every
// column to the longest. The layer's memory cap is lowered to 4 MiB per array
// so that these end in its "too large" warning rather than in libFuzzer's
// memory limit (the unit tests hold the reader to refusing false claims as
// damage).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_util.h"
#include "logtable/logfile.h"
#include "mat/mat.h"

namespace fuzzmat {

// True when matOpen would hand the bytes to the 7.3 reader, which runs the
// HDF5 library in a child process per file: an HDF5 signature at byte 0, or
// a level 5 header of version 0x0200 (as OpenReader tells them apart; a
// zero among the first four bytes means level 4 first).
inline bool GoesToV73(const uint8_t* data, size_t size) {
  static const uint8_t kHdf5[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};
  if (size >= 8 && std::memcmp(data, kHdf5, 8) == 0) return true;
  if (size < 128 || !data[0] || !data[1] || !data[2] || !data[3]) return false;
  if (data[126] == 'I' && data[127] == 'M') return (data[124] | data[125] << 8) == 0x0200;
  if (data[126] == 'M' && data[127] == 'I') return (data[125] | data[124] << 8) == 0x0200;
  return false;
}

// Touches every value so that a buffer shorter than its declared count
// shows up under AddressSanitizer.
inline double Sum(const mxArray* array) {
  const double* values = mxGetPr(array);
  double s = 0;
  for (mwSize i = 0; i < mxGetNumberOfElements(array); ++i) s += values[i];
  const mwSize* dims = mxGetDimensions(array);
  for (mwSize i = 0; i < mxGetNumberOfDimensions(array); ++i) s += static_cast<double>(dims[i]);
  return s;
}

inline void ReadMat(const uint8_t* data, size_t size) {
  static fuzzutil::InputFile input("input.mat");
  static bool limited = (matSetMemoryLimitForTesting(4u << 20), true);
  (void)limited;
  if (!input.Write(data, size)) return;

  if (MATFile* file = matOpen(input.Path(), "r")) {
    matCountRemaining(file);
    const char* name = nullptr;
    volatile double sink = 0;
    while (mxArray* array = matGetNextVariable(file, &name)) {
      sink = sink + Sum(array) + (name ? name[0] : 0);
      mxDestroyArray(array);
    }
    matGetNextVariable(file, &name);  // after the end or the damage: still null
    matClose(file);
  }

  LogFile table;
  table.ImportMat(input.Path());
}

}  // namespace fuzzmat
