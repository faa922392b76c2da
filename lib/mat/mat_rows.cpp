#include "mat/mat_rows.h"

#include <cerrno>

#include "mat/mat_header.h"
#include "mat/mat_internal.h"

bool MATRowFile::Open(const char* filename, const char* const* names, int variables,
                      size_t count) {
  Abort();
  dataOffsets_.clear();
  count_ = count;
  // Every head first: a variable level 5 cannot hold refuses the layout
  // before the target is touched.
  std::vector<std::vector<unsigned char>> heads(static_cast<size_t>(variables > 0 ? variables : 0));
  const std::vector<mwSize> dims = {1, count};
  uint64_t offset = matlayer::kHeaderSize;
  for (int v = 0; v < variables; ++v) {
    std::vector<unsigned char>& head = heads[static_cast<size_t>(v)];
    if (!matlayer::V5VariableHead(names[v], dims, count, false, &head)) return false;
    offset += head.size();
    dataOffsets_.push_back(offset);
    offset += static_cast<uint64_t>(count) * sizeof(double);
  }
  if (!out_.Open(filename, false)) {
    errno = out_.Error();
    return false;
  }
  if (!out_.Reserve(offset)) {
    int err = errno;
    out_.Abort();
    errno = err;
    return false;
  }
  unsigned char header[matlayer::kHeaderSize];
  matlayer::MakeHeader(header, false);
  bool ok = out_.WriteAt(header, sizeof header, 0);
  for (int v = 0; ok && v < variables; ++v) {
    const std::vector<unsigned char>& head = heads[static_cast<size_t>(v)];
    ok = out_.WriteAt(head.data(), head.size(), dataOffsets_[static_cast<size_t>(v)] - head.size());
  }
  if (!ok) {
    int err = out_.Error();
    out_.Abort();
    errno = err;
    return false;
  }
  return true;
}

bool MATRowFile::Write(int v, size_t first, const double* values, size_t n) {
  if (v < 0 || static_cast<size_t>(v) >= dataOffsets_.size() || first > count_ ||
      n > count_ - first) {
    errno = EINVAL;
    return false;
  }
  return out_.WriteAt(values, n * sizeof(double),
                      dataOffsets_[static_cast<size_t>(v)] + first * sizeof(double));
}

int MATRowFile::Close() {
  if (!out_.IsOpen()) {
    errno = EBADF;
    return 1;
  }
  return matlayer::FinishFile(out_, true);
}

void MATRowFile::Abort() { out_.Abort(); }
