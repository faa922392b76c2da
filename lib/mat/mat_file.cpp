// matOpen, matClose and the per-file calls: they pick the format's reader or
// writer and keep every failure inside the layer (no exception leaves it).
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "mat/mat_internal.h"
#include "msg/qlog.h"
#include "platform/memory.h"

namespace {

constexpr size_t kV5Limit = size_t{1} << 31;
std::atomic<size_t> v5Limit{kV5Limit};
std::atomic<size_t> memoryLimit{0};

}  // namespace

namespace matlayer {

size_t V5Limit() { return v5Limit.load(); }

size_t MemoryLimit() {
  size_t limit = memoryLimit.load();
  if (limit) return limit;
  // An array larger than the machine's memory can only end in swapping or a
  // failed allocation half-way; refuse it up front.
  uint64_t memory = platform::PhysicalMemory();
  if (memory == 0) return SIZE_MAX;
  return static_cast<size_t>(std::min<uint64_t>(memory, SIZE_MAX));
}

}  // namespace matlayer

int MATFile::Put(const char*, const mxArray*) {
  errno = EBADF;
  return 1;
}

mxArray* MATFile::Next(const char**) { return nullptr; }

int matlayer::FinishFile(QSafeFile& out, bool ok) {
  if (!ok || out.Failed()) {
    int err = out.Error() ? out.Error() : EIO;
    out.Abort();
    errno = err;
    return 1;
  }
  if (!out.Commit()) {
    errno = out.Error();
    return 1;
  }
  return 0;
}

void matSetV5LimitForTesting(size_t bytes) { v5Limit = bytes ? bytes : kV5Limit; }

void matSetMemoryLimitForTesting(size_t bytes) { memoryLimit = bytes; }

bool matNeedsV73(size_t elements) {
  return elements >= matlayer::V5Limit() / sizeof(double) + (matlayer::V5Limit() % sizeof(double) != 0);
}

MATFile* matOpen(const char* filename, const char* mode) {
  if (!filename || !mode) {
    errno = EINVAL;
    return nullptr;
  }
  try {
    if (std::strcmp(mode, "w") == 0) return matlayer::OpenV5Writer(filename);
    if (std::strcmp(mode, "w7.3") == 0) return matlayer::OpenV73Writer(filename);
    if (std::strcmp(mode, "r") == 0) return matlayer::OpenReader(filename, false);
    if (std::strcmp(mode, "rm") == 0) return matlayer::OpenReader(filename, true);
  } catch (...) {
    errno = ENOMEM;
    return nullptr;
  }
  errno = EINVAL;
  return nullptr;
}

int matClose(MATFile* file) {
  if (!file) {
    errno = EINVAL;
    return 1;
  }
  int result;
  try {
    result = file->Close();
  } catch (...) {
    errno = ENOMEM;
    result = 1;
  }
  int saved = errno;
  delete file;
  errno = saved;
  return result;
}

int matPutVariable(MATFile* file, const char* name, const mxArray* array) {
  // A variable without a name cannot be loaded back: readers take it for
  // a hidden workspace or refuse the whole file.
  if (!file || !name || !*name || !array) {
    errno = EINVAL;
    return 1;
  }
  try {
    return file->Put(name, array);
  } catch (...) {
    errno = ENOMEM;
    return 1;
  }
}

int matPutDoubleRow(MATFile* file, const char* name, const double* values, size_t n) {
  if (!file || !name || !*name || (!values && n > 0) || n > SIZE_MAX / sizeof(double)) {
    errno = EINVAL;
    return 1;
  }
  // An array record that borrows the values: it lets go of them before it
  // goes, so it never frees them.
  struct Borrowed {
    mxArray array;
    ~Borrowed() { array.pr = nullptr; }
  };
  static const double kNone = 0.0;
  try {
    Borrowed row;
    row.array.dims = {1, n};
    row.array.count = n;
    row.array.pr = const_cast<double*>(n > 0 ? values : &kNone);
    return file->Put(name, &row.array);
  } catch (...) {
    errno = ENOMEM;
    return 1;
  }
}

mxArray* matGetNextVariable(MATFile* file, const char** name) {
  if (name) *name = nullptr;
  if (!file) return nullptr;
  try {
    mxArray* a = file->Next(name);
    if (a && name) *name = a->name.c_str();
    return a;
  } catch (...) {
    QWarning("matGetNextVariable(); out of memory");
    return nullptr;
  }
}

bool matReadDamaged(MATFile* file) { return file && file->Damaged(); }

long matCountRemaining(MATFile* file) {
  if (!file) return -1;
  try {
    return file->CountRemaining();
  } catch (...) {
    return -1;
  }
}
