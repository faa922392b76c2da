// Level 5 writer: one uncompressed miMATRIX element of class double per
// variable, written through QSafeFile so the target changes only on success.
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "io/qsafefile.h"
#include "mat/mat_header.h"
#include "mat/mat_internal.h"
#include "platform/process.h"

static_assert(std::endian::native == std::endian::little,
              "the writers emit host-order data and declare it little-endian");

namespace matlayer {

void MakeHeader(unsigned char* out, bool v73) {
  char stamp[64];
  std::time_t now = std::time(nullptr);
  struct tm tmv;
  if (!platform::LocalTime(now, &tmv) || !std::strftime(stamp, sizeof stamp, "%a %b %d %H:%M:%S %Y", &tmv))
    std::strcpy(stamp, "unknown");
  char text[160];
  int n = std::snprintf(text, sizeof text, "MATLAB %s MAT-file, written by tracepack, Created on: %s%s",
                        v73 ? "7.3" : "5.0", stamp, v73 ? " HDF5 schema 1.00 ." : "");
  if (n < 0) n = 0;
  std::memset(out, ' ', 116);
  std::memcpy(out, text, static_cast<size_t>(n) < 116 ? static_cast<size_t>(n) : 116);
  std::memset(out + 116, 0, 8);
  out[124] = 0x00;
  out[125] = v73 ? 0x02 : 0x01;
  out[126] = 'I';
  out[127] = 'M';
}

namespace {

enum : uint32_t { miINT8 = 1, miINT32 = 5, miUINT32 = 6, miDOUBLE = 9, miMATRIX = 14 };
constexpr uint32_t kDoubleClass = 6;
constexpr uint32_t kComplexFlag = 0x800;

uint64_t pad8(uint64_t n) { return (n + 7) & ~uint64_t{7}; }

void put32(std::vector<unsigned char>& b, uint32_t v) {
  unsigned char raw[4];
  std::memcpy(raw, &v, 4);
  b.insert(b.end(), raw, raw + 4);
}

}  // namespace

bool V5VariableHead(const char* name, const std::vector<mwSize>& dims, size_t count,
                    bool complex, std::vector<unsigned char>* out) {
  uint64_t nameLen = std::strlen(name);
  if (nameLen == 0) {
    errno = EINVAL;
    return false;
  }
  uint64_t dataBytes = static_cast<uint64_t>(count) * sizeof(double);
  uint64_t allData = complex ? 2 * dataBytes : dataBytes;
  if (count > UINT64_MAX / 16 || allData >= V5Limit() || nameLen > UINT32_MAX) {
    errno = EFBIG;
    return false;
  }
  for (mwSize d : dims) {
    if (d > INT32_MAX) {
      errno = EFBIG;
      return false;
    }
  }
  uint64_t dimsBytes = 4 * static_cast<uint64_t>(dims.size());
  uint64_t nameBytes = nameLen <= 4 ? 8 : 8 + pad8(nameLen);
  uint64_t total = 16 + 8 + pad8(dimsBytes) + nameBytes + 8 + dataBytes + (complex ? 8 + dataBytes : 0);
  if (total > UINT32_MAX) {
    errno = EFBIG;
    return false;
  }
  std::vector<unsigned char>& head = *out;
  head.clear();
  head.reserve(64 + nameLen);
  put32(head, miMATRIX);
  put32(head, static_cast<uint32_t>(total));
  put32(head, miUINT32);
  put32(head, 8);
  put32(head, kDoubleClass | (complex ? kComplexFlag : 0));
  put32(head, 0);
  put32(head, miINT32);
  put32(head, static_cast<uint32_t>(dimsBytes));
  for (mwSize d : dims) put32(head, static_cast<uint32_t>(d));
  head.resize(pad8(head.size()), 0);
  if (nameLen <= 4) {
    put32(head, static_cast<uint32_t>(nameLen << 16) | miINT8);
    size_t at = head.size();
    head.resize(at + 4, 0);
    std::memcpy(head.data() + at, name, nameLen);
  } else {
    put32(head, miINT8);
    put32(head, static_cast<uint32_t>(nameLen));
    head.insert(head.end(), name, name + nameLen);
    head.resize(pad8(head.size()), 0);
  }
  put32(head, miDOUBLE);
  put32(head, static_cast<uint32_t>(dataBytes));
  return true;
}

namespace {

class V5Writer final : public MATFile {
 public:
  bool Open(const char* filename) {
    if (!out_.Open(filename)) {
      errno = out_.Error();
      return false;
    }
    unsigned char header[kHeaderSize];
    MakeHeader(header, false);
    if (!out_.Write(header, sizeof header)) {
      errno = out_.Error();
      return false;
    }
    return true;
  }

  int Put(const char* name, const mxArray* a) override {
    if (out_.Failed() || !out_.IsOpen()) {
      errno = out_.Error() ? out_.Error() : EBADF;
      return 1;
    }
    // Refusals leave the file as good as it was; only a failed write
    // poisons it (QSafeFile keeps the error).
    bool complex = a->pi != nullptr;
    std::vector<unsigned char> head;
    if (!V5VariableHead(name, a->dims, a->count, complex, &head)) return 1;
    uint64_t dataBytes = static_cast<uint64_t>(a->count) * sizeof(double);
    bool ok = out_.Write(head.data(), head.size()) && out_.Write(a->pr, dataBytes);
    if (ok && complex) {
      unsigned char tag[8];
      uint32_t words[2] = {miDOUBLE, static_cast<uint32_t>(dataBytes)};
      std::memcpy(tag, words, 8);
      ok = out_.Write(tag, 8) && out_.Write(a->pi, dataBytes);
    }
    if (!ok) {
      errno = out_.Error();
      return 1;
    }
    return 0;
  }

  int Close() override { return FinishFile(out_, true); }

 private:
  QSafeFile out_;
};

}  // namespace

MATFile* OpenV5Writer(const char* filename) { return Opened(new V5Writer, filename); }

}  // namespace matlayer
