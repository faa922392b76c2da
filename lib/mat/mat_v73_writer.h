// V73Writer: the writer of matOpen(.., "w7.3"), and of MATRowFile where the
// variables are too long for level 5.
//
// HDF5 lays out the file and writes its metadata; the real data of a
// variable are ours to write, at the place HDF5 gave them (Reserve), with
// positioned writes from any number of threads (WriteAt). matPutVariable does
// both in one go, straight from the array's memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "io/qsafefile.h"
#include "mat/mat_internal.h"

namespace matlayer {

class V73Writer final : public MATFile {
 public:
  ~V73Writer() override;

  // inPlace as QSafeFile::Open takes it. Without the HDF5 library: false
  // with ELIBACC, and a warning unless quiet.
  bool Open(const char* filename, bool inPlace = true, bool quiet = false);
  int Put(const char* name, const mxArray* array) override;
  int Close() override;

  // Lays out a 1 x count real double variable (count > 0) with its disk
  // space claimed, and gives the file offset of its data in *offset. 0, or
  // 1 with errno as Put gives it.
  int Reserve(const char* name, size_t count, uint64_t* offset);
  // Data of reserved variables; safe from several threads. A failure
  // poisons the file, as a failed Put does.
  bool WriteAt(const void* data, size_t size, uint64_t offset);

 private:
  int refusal(const char* name);
  bool claim(const char* name, uint64_t bytes, uint64_t* end);
  bool createReal(const char* name, const std::vector<mwSize>& dims, size_t count, uint64_t end,
                  uint64_t* offset);
  bool write(const char* name, const mxArray* array);

  QSafeFile out_;
  int fd_ = -1;
  int64_t file_ = -1;  // the HDF5 file (a hid_t)
  bool poisoned_ = false;
};

}  // namespace matlayer
