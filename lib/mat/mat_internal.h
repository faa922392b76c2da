// Internal shapes of the MAT layer: the array record behind mxArray, the
// file record behind MATFile (one subclass per format and direction), and
// the allocation guard every data buffer of the layer goes through.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mat/mat.h"
#include "io/qsafefile.h"

struct mxArray {
  std::vector<mwSize> dims;
  size_t count = 0;
  // malloc'd and never null (an empty array holds a one-slot buffer), so a
  // caller's memcpy of zero bytes never sees a null pointer; or, when mapping
  // is set, count doubles inside that read-only mapping of the file. Null
  // only once mxTakePr handed the buffer over.
  double* pr = nullptr;
  double* pi = nullptr;
  std::shared_ptr<const void> mapping;
  std::string name;
  ~mxArray();
};

struct MATFile {
  virtual ~MATFile() = default;
  virtual int Put(const char* name, const mxArray* array);
  virtual mxArray* Next(const char** name);
  virtual long CountRemaining() { return -1; }
  // Whether reading ended at damage rather than at the end of the file.
  virtual bool Damaged() const { return false; }
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
// of these dims (count elements); false with errno when level 5 cannot
// hold the variable (EFBIG) or the name is empty (EINVAL).
bool V5VariableHead(const char* name, const std::vector<mwSize>& dims, size_t count,
                    bool complex, std::vector<unsigned char>* head);
MATFile* OpenV73Writer(const char* filename);

// Commits a written file when ok, else discards it, leaving the target as it
// was; 0, or 1 with errno telling why, as matClose returns.
int FinishFile(QSafeFile& out, bool ok);

// file once file->Open(args...) has succeeded; else null, with file deleted
// and errno as Open left it. Every reader and writer with an Open is made
// through here.
template <class T, class... Args>
MATFile* Opened(T* file, const Args&... args) {
  std::unique_ptr<T> hold(file);
  if (!hold->Open(args...)) {
    int err = errno;
    hold.reset();
    errno = err;
    return nullptr;
  }
  return hold.release();
}
// mapped: plain level 5 doubles in the machine's byte order may stay in a
// mapping of the file (matOpen's "rm").
MATFile* OpenReader(const char* filename, bool mapped);

}  // namespace matlayer
