#include "mat/mat_rows.h"

#include <cerrno>
#include <new>

#include "mat/mat_header.h"
#include "mat/mat_internal.h"
#include "mat/mat_v73_writer.h"

MATRowFile::MATRowFile() = default;
MATRowFile::~MATRowFile() = default;

bool MATRowFile::Open(const char* filename, const char* const* names, int variables,
                      size_t count) {
  Abort();
  dataOffsets_.clear();
  count_ = count;
  if (matNeedsV73(count)) return openV73(filename, names, variables, count);
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

// The 7.3 layout is HDF5's: each variable's place is known only once HDF5
// has made room for it, and the file is the writer's to finish.
bool MATRowFile::openV73(const char* filename, const char* const* names, int variables,
                         size_t count) {
  std::unique_ptr<matlayer::V73Writer> file(new (std::nothrow) matlayer::V73Writer);
  bool ok = file && file->Open(filename, false, true);
  for (int v = 0; ok && v < variables; ++v) {
    uint64_t offset = 0;
    ok = file->Reserve(names[v], count, &offset) == 0;
    if (ok) dataOffsets_.push_back(offset);
  }
  if (!ok) {
    int err = file ? errno : ENOMEM;
    file.reset();
    dataOffsets_.clear();
    errno = err;
    return false;
  }
  v73_ = std::move(file);
  return true;
}

bool MATRowFile::Write(int v, size_t first, const double* values, size_t n) {
  if (v < 0 || static_cast<size_t>(v) >= dataOffsets_.size() || first > count_ ||
      n > count_ - first) {
    errno = EINVAL;
    return false;
  }
  uint64_t offset = dataOffsets_[static_cast<size_t>(v)] + first * sizeof(double);
  if (v73_) return v73_->WriteAt(values, n * sizeof(double), offset);
  return out_.WriteAt(values, n * sizeof(double), offset);
}

int MATRowFile::Close() {
  if (v73_) {
    int result = v73_->Close();
    int err = errno;
    v73_.reset();
    errno = err;
    return result;
  }
  if (!out_.IsOpen()) {
    errno = EBADF;
    return 1;
  }
  return matlayer::FinishFile(out_, true);
}

// A 7.3 file goes with its writer, which discards what it has not closed.
void MATRowFile::Abort() {
  v73_.reset();
  out_.Abort();
}
