// Level 4 reader: a run of matrices, each a 20-byte header (type code, rows,
// columns, imaginary flag, name length), the name and the data. The type
// code carries each matrix's byte order, storage type and kind (full, text,
// sparse).
#include <cmath>
#include <cstring>
#include <memory>

#include "mat/mat_convert.h"
#include "mat/mat_reader.h"
#include "mat/mat_source.h"
#include "platform/file_io.h"

namespace matlayer {

namespace {

const uint32_t kV4Storage[6] = {miDOUBLE, miSINGLE, miINT32, miINT16, miUINT16, miUINT8};

struct V4Header {
  bool swap;
  int precision, kind;
  int64_t rows, cols, imag, nameLen;
};

class V4Reader final : public ReaderBase {
 public:
  using ReaderBase::ReaderBase;
  mxArray* Next(const char** name) override;
  long CountRemaining() override;

 private:
  // Reads and checks the header at `at`; on success *end is where the next
  // matrix starts.
  bool header(uint64_t at, V4Header* h, uint64_t* end, std::string* why);
  mxArray* sparse(const V4Header& h, FileSource& src, const std::string& name, uint64_t at);

  uint64_t pos_ = 0;
};

bool V4Reader::header(uint64_t at, V4Header* h, uint64_t* end, std::string* why) {
  if (size_ - at < 20) {
    *why = "the file ends inside a matrix header";
    return false;
  }
  unsigned char raw[20];
  if (platform::ReadAt(fd_, raw, 20, at) != 20) {
    *why = "the matrix header cannot be read";
    return false;
  }
  uint32_t w[5];
  std::memcpy(w, raw, 20);
  // The thousands digit of the type code names the byte order: 0 for
  // little-endian, 1 for big-endian (VAX and Cray formats are not read).
  h->swap = w[0] >= 5000;
  if (h->swap)
    for (uint32_t& v : w) v = Swap(v);
  uint32_t type = w[0];
  if (type / 1000 != (h->swap ? 1u : 0u) || type % 1000 / 100 != 0 || type % 100 / 10 > 5 || type % 10 > 2) {
    *why = "unknown type code " + std::to_string(type);
    return false;
  }
  h->precision = static_cast<int>(type % 100 / 10);
  h->kind = static_cast<int>(type % 10);
  h->rows = static_cast<int32_t>(w[1]);
  h->cols = static_cast<int32_t>(w[2]);
  h->imag = static_cast<int32_t>(w[3]);
  h->nameLen = static_cast<int32_t>(w[4]);
  if (h->rows < 0 || h->cols < 0 || (h->imag != 0 && h->imag != 1) || h->nameLen < 1) {
    *why = "the matrix header is malformed";
    return false;
  }
  uint64_t left = size_ - at - 20;
  uint64_t data = 0;
  bool overflow = __builtin_mul_overflow(static_cast<uint64_t>(h->rows),
                                         static_cast<uint64_t>(h->cols), &data) ||
                  __builtin_mul_overflow(
                      data, static_cast<uint64_t>(StorageSize(kV4Storage[h->precision])) * (h->imag ? 2 : 1),
                      &data);
  if (overflow || static_cast<uint64_t>(h->nameLen) > left ||
      data > left - static_cast<uint64_t>(h->nameLen)) {
    *why = "the matrix needs " + std::to_string(data + static_cast<uint64_t>(h->nameLen)) + " bytes, only " +
           std::to_string(left) + " are left in the file";
    return false;
  }
  *end = at + 20 + static_cast<uint64_t>(h->nameLen) + data;
  return true;
}

// A sparse matrix is stored as rows of (row, column, value[, imaginary]),
// 1-based, closed by a row holding the matrix's own size.
mxArray* V4Reader::sparse(const V4Header& h, FileSource& src, const std::string& name, uint64_t at) {
  size_t n = static_cast<size_t>(h.rows);
  size_t cols = static_cast<size_t>(h.cols);
  if (n < 1 || (cols != 3 && cols != 4)) {
    damaged(at, "a sparse matrix must be stored as rows of 3 or 4 values");
    return nullptr;
  }
  std::vector<double> t(n * cols);
  if (!ReadValues(src, kV4Storage[h.precision], t.size(), h.swap, t.data())) {
    damaged(at, src.Error());
    return nullptr;
  }
  auto whole = [](double v, double max) { return std::isfinite(v) && v >= 0 && v <= max && v == std::floor(v); };
  double m = t[n - 1], c = t[n - 1 + n];
  if (!whole(m, 2147483647.0) || !whole(c, 2147483647.0)) {
    damaged(at, "the size row of a sparse matrix is malformed");
    return nullptr;
  }
  std::vector<mwSize> dims = {static_cast<mwSize>(m), static_cast<mwSize>(c)};
  for (size_t k = 0; k + 1 < n; ++k) {
    if (!whole(t[k], m) || !whole(t[n + k], c) || t[k] < 1 || t[n + k] < 1) {
      damaged(at, "an index of a sparse matrix lies outside it");
      return nullptr;
    }
  }
  mxArray* a = NewArray(dims, false, true, true);
  if (!a) {
    tooLarge(name, dims);
    return nullptr;
  }
  size_t rows = dims[0];
  for (size_t k = 0; k + 1 < n; ++k)
    a->pr[(static_cast<size_t>(t[n + k]) - 1) * rows + static_cast<size_t>(t[k]) - 1] += t[2 * n + k];
  return a;
}

mxArray* V4Reader::Next(const char**) {
  while (!done_) {
    if (pos_ == size_) {
      done_ = true;
      return nullptr;
    }
    uint64_t at = pos_;
    V4Header h;
    uint64_t end;
    std::string why;
    if (!header(at, &h, &end, &why)) {
      damaged(at, why);
      return nullptr;
    }
    pos_ = end;
    FileSource src(fd_, at + 20, end - at - 20, &buffer_);
    std::vector<char> rawName(static_cast<size_t>(h.nameLen));
    if (!src.Read(rawName.data(), rawName.size())) {
      damaged(at, src.Error());
      return nullptr;
    }
    std::string name(rawName.data(), strnlen(rawName.data(), rawName.size()));
    std::unique_ptr<mxArray> a;
    if (h.kind == 2) {
      a.reset(sparse(h, src, name, at));
      if (done_) return nullptr;
      if (!a) continue;
    } else {
      std::vector<mwSize> dims = {static_cast<mwSize>(h.rows), static_cast<mwSize>(h.cols)};
      a.reset(NewArray(dims, false, false, true));
      if (!a) {
        tooLarge(name, dims);
        continue;
      }
      if (!ReadValues(src, kV4Storage[h.precision], a->count, h.swap, a->pr)) {
        damaged(at, src.Error());
        return nullptr;
      }
    }
    a->name = std::move(name);
    ++index_;
    return a.release();
  }
  return nullptr;
}

long V4Reader::CountRemaining() {
  if (done_) return 0;
  long count = 0;
  for (uint64_t at = pos_; at < size_; ++count) {
    V4Header h;
    std::string why;
    if (!header(at, &h, &at, &why)) return -1;
  }
  return count;
}

}  // namespace

MATFile* OpenV4Reader(const std::string& path, int fd, uint64_t size) { return new V4Reader(path, fd, size); }

}  // namespace matlayer
