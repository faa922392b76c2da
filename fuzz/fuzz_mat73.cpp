// Fuzz target: arbitrary bytes as a 7.3 MAT-file, read through the MAT layer
// (the HDF5 library in a child process per file) and LogFile::ImportMat.
// Inputs the other readers would take are rejected: fuzz_mat covers them
// far faster, and this corpus stays one of 7.3 files.
#include "fuzz_mat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzzmat::GoesToV73(data, size)) return -1;
  fuzzmat::ReadMat(data, size);
  return 0;
}
