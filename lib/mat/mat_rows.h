// MATRowFile: a level 5 MAT-file of 1 x count real double variables whose
// layout is fixed when it is opened, so that the values of every variable
// can be written at their places in any order, by several threads at once.
//
// The file is the one matOpen(.., "w") and matPutVariable would write for the
// same names and values, written beside the target and renamed over it by
// Close only when every write succeeded, exactly as matClose does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "io/qsafefile.h"

class MATRowFile {
 public:
  // Lays out the file and claims its disk space. False, with errno telling
  // why, when the target is not a regular file (or a new one), a variable
  // does not fit level 5 or has no name, or the space cannot be claimed;
  // nothing is left behind then.
  bool Open(const char* filename, const char* const* names, int variables, size_t count);
  // Values [first, first + n) of variable v. Safe from several threads.
  bool Write(int v, size_t first, const double* values, size_t n);
  // Commits the file; 0, or 1 with errno telling why (the target is then
  // left as it was), as matClose returns.
  int Close();
  // Drops the file, leaving the target as it was.
  void Abort();
  bool IsOpen() const { return out_.IsOpen(); }

 private:
  QSafeFile out_;
  std::vector<uint64_t> dataOffsets_;
  size_t count_ = 0;
};
