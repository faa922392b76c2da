// Fuzz target: arbitrary bytes as a level 4 or level 5 MAT-file (plain and
// compressed), read in this process through the MAT layer and
// LogFile::ImportMat. Inputs that would go to the 7.3 reader are rejected
// (kept out of the corpus) at once: its child process per file would cut
// this harness from thousands of runs a second to a few; fuzz_mat73 fuzzes
// that path.
#include "fuzz_mat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (fuzzmat::GoesToV73(data, size)) return -1;
  fuzzmat::ReadMat(data, size);
  return 0;
}
