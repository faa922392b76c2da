// MATRowFile: a MAT-file of 1 x count real double variables whose layout is
// fixed when it is opened, so that the values of every variable can be
// written at their places in any order, by several threads at once.
//
// The file is level 5, the one matOpen(.., "w") and matPutVariable would
// write for the same names and values; or, where count doubles are too many
// for a level 5 variable (matNeedsV73), 7.3, as matOpen(.., "w7.3") and
// matPutVariable would write it. It is written beside the target and renamed
// over it by Close only when every write succeeded, exactly as matClose does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "io/qsafefile.h"

namespace matlayer {
class V73Writer;
}

class MATRowFile {
 public:
  MATRowFile();
  ~MATRowFile();

  // Lays out the file and claims its disk space. False, with errno telling
  // why, when the target is not a regular file (or a new one), a variable
  // has no name (or, in 7.3, one HDF5 cannot hold or a repeated one), 7.3
  // has no HDF5 library (nothing is reported), or the space cannot be
  // claimed; nothing is left behind then.
  bool Open(const char* filename, const char* const* names, int variables, size_t count);
  // Values [first, first + n) of variable v. Safe from several threads.
  bool Write(int v, size_t first, const double* values, size_t n);
  // Commits the file; 0, or 1 with errno telling why (the target is then
  // left as it was), as matClose returns.
  int Close();
  // Drops the file, leaving the target as it was.
  void Abort();
  bool IsOpen() const { return out_.IsOpen() || v73_; }

 private:
  bool openV73(const char* filename, const char* const* names, int variables, size_t count);

  QSafeFile out_;
  std::unique_ptr<matlayer::V73Writer> v73_;  // the file, where it is 7.3
  std::vector<uint64_t> dataOffsets_;
  size_t count_ = 0;
};
