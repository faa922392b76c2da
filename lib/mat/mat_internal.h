// Internal shapes of the MAT layer: the array record behind mxArray, the
// file record behind MATFile (one subclass per format and direction), and
// the allocation guard every data buffer of the layer goes through.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mat/mat.h"
#include "text/qsafefile.h"

struct mxArray {
  std::vector<mwSize> dims;
  size_t count = 0;
  // malloc'd and never null (an empty array holds a one-slot buffer), so a
  // caller's memcpy of zero bytes never sees a null pointer.
  double* pr = nullptr;
  double* pi = nullptr;
  std::string name;
  ~mxArray();
};

struct MATFile {
  virtual ~MATFile() = default;
  virtual int Put(const char* name, const mxArray* array);
  virtual mxArray* Next(const char** name);
  virtual long CountRemaining() { return -1; }
  // Finishes the file; 0 on success.
  virtual int Close() { return 0; }
};

namespace matlayer {

// Largest data size (bytes) a level 5 variable may hold.
size_t V5Limit();
// Largest single array the reader will build.
size_t MemoryLimit();

// Element count of dims, or false on overflow of size_t.
bool CountOf(const std::vector<mwSize>& dims, size_t* count);

// A new array of the given dims whose buffers hold count doubles (zeroed when
// zero is set). Null when the count overflows, passes MemoryLimit (if
// limited is set) or the memory cannot be had; nothing is reported.
mxArray* NewArray(std::vector<mwSize> dims, bool complex, bool zero, bool limited);

MATFile* OpenV5Writer(const char* filename);

// Fills *head with what precedes the real data of a level 5 double variable
// of these dims (count elements); false with errno (EFBIG) when level 5
// cannot hold the variable.
bool V5VariableHead(const char* name, const std::vector<mwSize>& dims, size_t count,
                    bool complex, std::vector<unsigned char>* head);
MATFile* OpenV73Writer(const char* filename);

// Commits a written file when ok, else discards it, leaving the target as it
// was; 0, or 1 with errno telling why, as matClose returns.
int FinishFile(QSafeFile& out, bool ok);

// A writer of type W opened on filename, or null with errno telling why.
template <class W>
MATFile* OpenWriter(const char* filename) {
  auto* w = new W;
  if (!w->Open(filename)) {
    int err = errno;
    delete w;
    errno = err;
    return nullptr;
  }
  return w;
}
MATFile* OpenReader(const char* filename);

}  // namespace matlayer
