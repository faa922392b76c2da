// Level 5 reader (plain and compressed elements, either byte order). Every
// size a tag declares is checked against what its element still holds before
// anything is read or allocated; a compressed element must inflate to
// exactly one whole miMATRIX element and end its stream there.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "mat/mat_convert.h"
#include "mat/mat_reader.h"
#include "mat/mat_source.h"
#include "platform/file_io.h"
#include "platform/mapping.h"

namespace matlayer {

namespace {

enum ArrayClass : uint32_t {
  kCell = 1, kStruct = 2, kObject = 3, kChar = 4, kSparse = 5, kDouble = 6, kSingle = 7,
  kUint64 = 15, kFunction = 16, kOpaque = 17,
};
constexpr uint32_t kComplexFlag = 0x800;
constexpr uint32_t kLogicalFlag = 0x200;
constexpr uint32_t kUint8Class = 9;
// zlib cannot inflate beyond about 1032 bytes per compressed byte.
constexpr uint64_t kMaxInflateRatio = 1032;
// Values of a compressed variable beyond this many are not allocated at the
// size the variable claims but grow as they inflate (see readGrowing).
constexpr size_t kGrowFrom = size_t{1} << 23;

const char* className(uint32_t cls) {
  switch (cls) {
    case kCell: return "cell array";
    case kStruct: return "struct";
    case kObject: return "object";
    case kFunction: return "function handle";
    case kOpaque: return "opaque object";
    default: return "array of unknown class";
  }
}

// kNoNumbers: a variable of a class without numbers, parsed and bounded; its
// NaN stand-ins are made by NaNs once the element has proved whole.
enum class Outcome { kArray, kNoNumbers, kSkipped, kDamaged };

// One sub-element tag: type, size, and the data of a small element (packed
// into the tag's second word).
struct Sub {
  uint32_t type = 0;
  uint32_t bytes = 0;
  bool small = false;
  unsigned char inl[4] = {};
};

// Parses one miMATRIX element's payload from a source.
class MatrixParser {
 public:
  // inflating: src is a compressed stream, which may hold far less than it
  // claims while passing every size check.
  MatrixParser(Source& src, uint64_t length, bool swap, bool inflating)
      : src_(src), length_(length), left_(length), swap_(swap), inflating_(inflating) {}

  Outcome Parse(mxArray** out, std::string* name);
  // An element read straight from file, with the whole file in map: its
  // real doubles of the machine's byte order are handed out where they lie
  // instead of being read.
  void MapFrom(const FileSource* file, const std::shared_ptr<const void>* map) {
    mapFile_ = file;
    map_ = map;
  }
  // The NaN stand-ins of a variable Parse found kNoNumbers.
  Outcome NaNs(mxArray** out);
  const std::string& Error() const { return error_.empty() ? src_.Error() : error_; }
  uint64_t Left() const { return left_; }

  // Filled for the reader's messages.
  std::vector<mwSize> dims;
  const char* noNumberClass = nullptr;
  uint32_t cls_ = 0;
  bool tooLarge = false;

 private:
  bool fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    return false;
  }
  uint32_t word(const unsigned char* p) const {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return swap_ ? Swap(v) : v;
  }
  bool readSub(Sub* s, const char* what);
  bool padding(const Sub& s);
  bool subBytes(const Sub& s, std::vector<unsigned char>* out);
  bool readValues(const Sub& s, size_t count, double* dst);
  bool readGrowing(const Sub& s, size_t count, mxArray* a);
  bool readInts(const Sub& s, const char* what, std::vector<int64_t>* out);
  Outcome numeric(uint32_t cls, bool complex, mxArray** out);
  Outcome inPlace(const Sub& s, size_t count, mxArray** out);
  Outcome sparse(bool complex, bool logical, mxArray** out);

  Source& src_;
  const uint64_t length_;
  uint64_t left_;
  bool swap_;
  bool inflating_;
  const FileSource* mapFile_ = nullptr;
  const std::shared_ptr<const void>* map_ = nullptr;
  std::string error_;
};

bool MatrixParser::readSub(Sub* s, const char* what) {
  if (left_ < 8) return fail(std::string("the ") + what + " is missing");
  unsigned char raw[8];
  if (!src_.Read(raw, 8)) return false;
  left_ -= 8;
  uint32_t w0 = word(raw);
  if (w0 >> 16) {
    s->small = true;
    s->bytes = w0 >> 16;
    s->type = w0 & 0xffff;
    if (s->bytes > 4) return fail(std::string("the ") + what + " claims " + std::to_string(s->bytes) + " bytes in a small element");
    std::memcpy(s->inl, raw + 4, 4);
    return true;
  }
  s->small = false;
  s->type = w0;
  s->bytes = word(raw + 4);
  if (s->bytes > left_)
    return fail(std::string("the ") + what + " claims " + std::to_string(s->bytes) + " bytes, only " +
                std::to_string(left_) + " are left in the variable");
  return true;
}

bool MatrixParser::padding(const Sub& s) {
  if (s.small) return true;
  uint64_t pad = (8 - s.bytes % 8) % 8;
  if (pad > left_) pad = left_;
  left_ -= pad;
  return src_.Skip(pad);
}

// Small sizes only (names, dimensions): grows with the bytes that actually
// arrive, so a false size in a compressed element costs nothing.
bool MatrixParser::subBytes(const Sub& s, std::vector<unsigned char>* out) {
  out->clear();
  if (s.small) {
    out->assign(s.inl, s.inl + s.bytes);
    return true;
  }
  uint64_t n = s.bytes;
  left_ -= n;
  while (n > 0) {
    size_t step = n < (1u << 20) ? static_cast<size_t>(n) : (1u << 20);
    size_t at = out->size();
    out->resize(at + step);
    if (!src_.Read(out->data() + at, step)) return false;
    n -= step;
  }
  return padding(s);
}

bool MatrixParser::readValues(const Sub& s, size_t count, double* dst) {
  if (s.small) {
    Convert(s.type, s.inl, count, swap_, dst);
    return true;
  }
  left_ -= s.bytes;
  if (!ReadValues(src_, s.type, count, swap_, dst)) return false;
  return padding(s);
}

// Reads the count values of a compressed variable into a (created empty),
// growing its buffer as the values arrive: a stream that claims gigabytes but
// holds a few bytes costs no more than those bytes, and one that does inflate
// to its claim ends with exactly count values. A buffer that cannot grow
// leaves the variable too large; the rest of its values are skipped.
bool MatrixParser::readGrowing(const Sub& s, size_t count, mxArray* a) {
  left_ -= s.bytes;
  size_t size = StorageSize(s.type);
  size_t have = 0, room = 0;
  while (have < count) {
    if (have == room) {
      room = std::min(count, std::max(kGrowFrom, 2 * room));
      void* bigger = std::realloc(a->pr, room * sizeof(double));
      if (!bigger) {
        tooLarge = true;
        return src_.Skip(static_cast<uint64_t>(count - have) * size) && padding(s);
      }
      a->pr = static_cast<double*>(bigger);
    }
    size_t n = std::min(room - have, kGrowFrom);
    if (!ReadValues(src_, s.type, n, swap_, a->pr + have)) return false;
    have += n;
  }
  a->count = count;
  a->dims = dims;
  return padding(s);
}

bool MatrixParser::readInts(const Sub& s, const char* what, std::vector<int64_t>* out) {
  if (s.type != miINT32 && s.type != miUINT32)
    return fail(std::string("the ") + what + " has storage type " + std::to_string(s.type));
  if (s.bytes % 4) return fail(std::string("the ") + what + " has a size that is not a multiple of 4");
  std::vector<unsigned char> raw;
  if (!subBytes(s, &raw)) return false;
  out->resize(raw.size() / 4);
  for (size_t i = 0; i < out->size(); ++i) {
    uint32_t w = word(raw.data() + 4 * i);
    (*out)[i] = s.type == miINT32 ? static_cast<int64_t>(static_cast<int32_t>(w)) : static_cast<int64_t>(w);
  }
  return true;
}

Outcome MatrixParser::NaNs(mxArray** out) {
  mxArray* a = NewArray(dims, false, false, true);
  if (!a) {
    tooLarge = true;
    return Outcome::kSkipped;
  }
  for (size_t i = 0; i < a->count; ++i) a->pr[i] = std::numeric_limits<double>::quiet_NaN();
  *out = a;
  return Outcome::kArray;
}

Outcome MatrixParser::Parse(mxArray** out, std::string* name) {
  *out = nullptr;
  Sub s;
  if (!readSub(&s, "array flags")) return Outcome::kDamaged;
  if ((s.type != miUINT32 && s.type != miINT32) || s.bytes != 8 || s.small) {
    fail("the array flags are malformed");
    return Outcome::kDamaged;
  }
  std::vector<unsigned char> raw;
  if (!subBytes(s, &raw)) return Outcome::kDamaged;
  uint32_t flags = word(raw.data());
  uint32_t cls = flags & 0xff;
  cls_ = cls;
  bool complex = flags & kComplexFlag;

  if (cls != kOpaque) {
    std::vector<int64_t> d;
    if (!readSub(&s, "dimensions") || !readInts(s, "dimensions", &d)) return Outcome::kDamaged;
    if (d.empty()) {
      fail("the array has no dimensions");
      return Outcome::kDamaged;
    }
    for (int64_t v : d) {
      if (v < 0) {
        fail("a dimension is negative");
        return Outcome::kDamaged;
      }
      dims.push_back(static_cast<mwSize>(v));
    }
  } else {
    // An opaque object keeps no dimensions of its own; it stands as one.
    dims = {1, 1};
  }
  if (!readSub(&s, "array name") || !subBytes(s, &raw)) return Outcome::kDamaged;
  name->assign(raw.begin(), raw.end());

  size_t count;
  if (!CountOf(dims, &count)) {
    fail("the dimensions multiply beyond any possible size");
    return Outcome::kDamaged;
  }
  if ((cls >= kDouble && cls <= kUint64) || cls == kChar) return numeric(cls, complex, out);
  if (cls == kSparse) return sparse(complex, flags & kLogicalFlag, out);
  // Classes without numbers (and ones this reader does not know) keep their
  // contents unread; the caller skips the rest of the element.
  noNumberClass = className(cls);
  // Every element of a cell array is a whole element of its own (a tag of
  // 8 bytes at the least): a count the bytes cannot hold is a claim, not data.
  if (cls == kCell && count > left_ / 8) {
    fail("the cell array claims " + std::to_string(count) + " elements, only " +
         std::to_string(left_) + " bytes are left in the variable");
    return Outcome::kDamaged;
  }
  // Likewise every field of every element of a struct or object (after the
  // object's class name, the longest field name and the names themselves).
  // A struct without fields holds its elements in no bytes at all: only the
  // bound below keeps its count to what the file can stand for.
  if (cls == kStruct || cls == kObject) {
    std::vector<unsigned char> names;
    std::vector<int64_t> nameLength;
    if (cls == kObject && (!readSub(&s, "class name") || !subBytes(s, &names))) return Outcome::kDamaged;
    if (!readSub(&s, "field name length") || !readInts(s, "field name length", &nameLength))
      return Outcome::kDamaged;
    if (nameLength.size() != 1 || nameLength[0] <= 0) {
      fail("the field name length is malformed");
      return Outcome::kDamaged;
    }
    if (!readSub(&s, "field names") || !subBytes(s, &names)) return Outcome::kDamaged;
    uint64_t fields = names.size() / static_cast<uint64_t>(nameLength[0]);
    if (fields > 0 && count > left_ / 8 / fields) {
      fail("the " + std::string(noNumberClass) + " claims " + std::to_string(count) + " elements of " +
           std::to_string(fields) + " fields, only " + std::to_string(left_) + " bytes are left in the variable");
      return Outcome::kDamaged;
    }
  }
  // A variable without numbers stands for at most one NaN per byte of its
  // element (of its inflated bytes, when compressed): as many values as the
  // densest numbers, one byte each, would fill. So it never makes the reader
  // allocate more than 8 bytes, nor the log take more than one row, per byte
  // the file holds; dimensions beyond that are a claim, not data.
  if (count > length_) {
    fail("the " + std::string(noNumberClass) + " claims " + std::to_string(count) + " elements, more than the " +
         std::to_string(length_) + " bytes of the variable stand for");
    return Outcome::kDamaged;
  }
  return Outcome::kNoNumbers;
}

Outcome MatrixParser::numeric(uint32_t cls, bool complex, mxArray** out) {
  size_t count;
  CountOf(dims, &count);
  Sub s;
  if (count == 0 && left_ == 0) {
    *out = NewArray(dims, false, false, true);
    return *out ? Outcome::kArray : Outcome::kDamaged;
  }
  if (!readSub(&s, "real part")) return Outcome::kDamaged;
  bool utf8 = cls == kChar && s.type == miUTF8;
  size_t size = StorageSize(s.type);
  if (!utf8 && (size == 0 || s.bytes % size || s.bytes / size != count)) {
    fail("the real part holds " + std::to_string(s.bytes) + " bytes of storage type " + std::to_string(s.type) +
         " for " + std::to_string(count) + " values");
    return Outcome::kDamaged;
  }
  if (utf8 && (count > s.bytes || (s.bytes && s.small && s.bytes > 4))) {
    fail("the characters need more bytes than stored");
    return Outcome::kDamaged;
  }
  // Level 5 keeps every element on 8 bytes, and the data with it; data that
  // are not (a hand-made file) are read rather than mapped.
  if (map_ && cls == kDouble && !complex && s.type == miDOUBLE && !swap_ && !s.small && count > 0 &&
      mapFile_->Position() % alignof(double) == 0)
    return inPlace(s, count, out);
  bool grow = inflating_ && !utf8 && !s.small && count > kGrowFrom;
  mxArray* a = grow ? NewArray({0}, false, false, true) : NewArray(dims, false, false, true);
  if (!a || (grow && count > MemoryLimit() / sizeof(double))) {
    delete a;
    tooLarge = true;
    return Outcome::kSkipped;
  }
  std::unique_ptr<mxArray> hold(a);
  if (grow) {
    if (!readGrowing(s, count, a)) return Outcome::kDamaged;
    if (tooLarge) return Outcome::kSkipped;
  } else if (utf8) {
    std::vector<unsigned char> bytes;
    if (!subBytes(s, &bytes)) return Outcome::kDamaged;
    // Broken sequences read as U+FFFD, one per maximal broken run, as
    // other readers decode them, rather than losing the variable.
    size_t n = 0;
    for (size_t i = 0; i < bytes.size();) {
      unsigned char c = bytes[i];
      size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
      uint32_t cp = 0xFFFD;
      size_t used = 1;
      if (len == 1) {
        cp = c;
      } else if (len) {
        uint32_t v = c & (0x7f >> len);
        size_t k = 1;
        while (k < len && i + k < bytes.size() && (bytes[i + k] & 0xc0) == 0x80) v = v << 6 | (bytes[i + k++] & 0x3f);
        used = k;
        if (k == len) cp = v;
      }
      if (n == count) {
        fail("more characters are stored than the dimensions hold");
        return Outcome::kDamaged;
      }
      a->pr[n++] = cp;
      i += used;
    }
    if (n != count) {
      fail("fewer characters are stored than the dimensions hold");
      return Outcome::kDamaged;
    }
  } else {
    if (!readValues(s, count, a->pr)) return Outcome::kDamaged;
  }
  if (!utf8 && cls == kSingle && s.type != miSINGLE && size >= 4)
    for (size_t i = 0; i < count; ++i) a->pr[i] = static_cast<float>(a->pr[i]);
  if (complex) {
    // Only the real part is handed on, but the imaginary part must be there.
    Sub im;
    if (!readSub(&im, "imaginary part")) return Outcome::kDamaged;
    size_t isize = StorageSize(im.type);
    if (isize == 0 || im.bytes % isize || im.bytes / isize != count) {
      fail("the imaginary part does not match the real part");
      return Outcome::kDamaged;
    }
    if (!im.small) {
      left_ -= im.bytes;
      if (!src_.Skip(im.bytes) || !padding(im)) return Outcome::kDamaged;
    }
  }
  *out = hold.release();
  return Outcome::kArray;
}

// The values stay in the mapping: the array points there and keeps it alive.
// Nothing is allocated for them, so the memory cap does not apply.
Outcome MatrixParser::inPlace(const Sub& s, size_t count, mxArray** out) {
  auto a = std::make_unique<mxArray>();
  a->dims = dims;
  a->count = count;
  a->mapping = *map_;
  const char* at = static_cast<const char*>(map_->get()) + mapFile_->Position();
  a->pr = const_cast<double*>(reinterpret_cast<const double*>(at));
  left_ -= s.bytes;
  if (!src_.Skip(s.bytes) || !padding(s)) return Outcome::kDamaged;
  *out = a.release();
  return Outcome::kArray;
}

Outcome MatrixParser::sparse(bool complex, bool logical, mxArray** out) {
  if (dims.size() != 2) {
    fail("a sparse array must have two dimensions");
    return Outcome::kDamaged;
  }
  uint64_t m = dims[0], n = dims[1];
  Sub s;
  std::vector<int64_t> ir, jc;
  if (!readSub(&s, "row indices") || !readInts(s, "row indices", &ir)) return Outcome::kDamaged;
  if (!readSub(&s, "column starts") || !readInts(s, "column starts", &jc)) return Outcome::kDamaged;
  if (jc.size() != n + 1 || jc[0] != 0) {
    fail("the column starts do not match the columns");
    return Outcome::kDamaged;
  }
  for (size_t j = 0; j < n; ++j) {
    if (jc[j + 1] < jc[j]) {
      fail("the column starts decrease");
      return Outcome::kDamaged;
    }
  }
  uint64_t nnz = static_cast<uint64_t>(jc[n]);
  if (nnz > ir.size()) {
    fail("the column starts count more values than there are row indices");
    return Outcome::kDamaged;
  }
  for (uint64_t k = 0; k < nnz; ++k) {
    if (ir[k] < 0 || static_cast<uint64_t>(ir[k]) >= m) {
      fail("a row index lies outside the matrix");
      return Outcome::kDamaged;
    }
  }
  if (!readSub(&s, "values")) return Outcome::kDamaged;
  // MATLAB tags the values of a logical sparse matrix as doubles but
  // stores one byte per value.
  if (logical && s.type == miDOUBLE && s.bytes == nnz) s.type = miUINT8;
  size_t size = StorageSize(s.type);
  if (size == 0 || s.bytes % size || s.bytes / size < nnz) {
    fail("the sparse values are fewer than the column starts count");
    return Outcome::kDamaged;
  }
  size_t stored = s.bytes / size;
  std::vector<double> values(stored);
  if (!readValues(s, stored, values.data())) return Outcome::kDamaged;
  if (complex) {
    Sub im;
    if (!readSub(&im, "imaginary part")) return Outcome::kDamaged;
    if (!im.small) {
      left_ -= im.bytes;
      if (!src_.Skip(im.bytes) || !padding(im)) return Outcome::kDamaged;
    }
  }
  // The full matrix is what is handed on: its size comes from the
  // dimensions alone, so it is where the memory guard matters most.
  mxArray* a = NewArray(dims, false, true, true);
  if (!a) {
    tooLarge = true;
    return Outcome::kSkipped;
  }
  for (uint64_t j = 0; j < n; ++j)
    for (int64_t k = jc[j]; k < jc[j + 1]; ++k) a->pr[j * m + static_cast<uint64_t>(ir[k])] += values[k];
  *out = a;
  return Outcome::kArray;
}

class V5Reader final : public ReaderBase {
 public:
  V5Reader(const std::string& path, int fd, uint64_t size, const unsigned char* header, bool mapped)
      : ReaderBase(path, fd, size) {
    swap_ = header[126] == 'M';
    mapWanted_ = mapped && !swap_;
    uint64_t off;
    std::memcpy(&off, header + 116, 8);
    if (swap_) off = Swap(off);
    // Blanks or zeros there mean no subsystem data.
    if (off != 0 && off != 0x2020202020202020ull) subsys_ = off;
  }

  mxArray* Next(const char** name) override;
  long CountRemaining() override;

 private:
  bool tagAt(uint64_t at, uint32_t* type, uint32_t* bytes, std::string* why);
  const std::shared_ptr<const void>* mapping();

  bool swap_ = false;
  bool mapWanted_ = false;
  // The whole file, read-only, once mapped; arrays in it share the handle.
  std::shared_ptr<const void> map_;
  uint64_t pos_ = 128;
  uint64_t subsys_ = 0;
};

bool V5Reader::tagAt(uint64_t at, uint32_t* type, uint32_t* bytes, std::string* why) {
  if (size_ - at < 8) {
    *why = "the file ends inside an element tag";
    return false;
  }
  unsigned char raw[8];
  if (platform::ReadAt(fd_, raw, 8, at) != 8) {
    *why = "the element tag cannot be read";
    return false;
  }
  uint32_t w[2];
  std::memcpy(w, raw, 8);
  if (swap_) w[0] = Swap(w[0]), w[1] = Swap(w[1]);
  if (w[0] >> 16) {
    *why = "a small element stands where a variable should";
    return false;
  }
  *type = w[0];
  *bytes = w[1];
  if (*bytes > size_ - at - 8) {
    *why = "an element claims " + std::to_string(*bytes) + " bytes, only " + std::to_string(size_ - at - 8) +
           " are left in the file";
    return false;
  }
  if (*type != miMATRIX && *type != miCOMPRESSED) {
    *why = "an element of type " + std::to_string(*type) + " stands where a variable should";
    return false;
  }
  return true;
}

// Maps the file at the first plain element; a file that cannot be mapped
// is read as without "rm".
const std::shared_ptr<const void>* V5Reader::mapping() {
  if (mapWanted_) {
    mapWanted_ = false;
    if (const char* at = platform::MapFile(fd_, size_)) {
      uint64_t size = size_;
      map_ = std::shared_ptr<const void>(
          at, [size](const void* map) { platform::UnmapFile(static_cast<const char*>(map), size); });
    }
  }
  return map_ ? &map_ : nullptr;
}

mxArray* V5Reader::Next(const char**) {
  while (!done_) {
    if (pos_ == size_) {
      done_ = true;
      return nullptr;
    }
    uint64_t start = pos_;
    uint32_t type, bytes;
    std::string why;
    if (!tagAt(start, &type, &bytes, &why)) {
      damaged(start, why);
      return nullptr;
    }
    pos_ = start + 8 + bytes;
    // The nameless element MATLAB adds for function handles (its function
    // workspace) is the subsystem's, not a variable of the user.
    if (start == subsys_) continue;

    FileSource file(fd_, start + 8, bytes, &buffer_);
    std::unique_ptr<InflateSource> inflated;
    Source* src = &file;
    uint64_t length = bytes;
    if (type == miCOMPRESSED) {
      inflated = std::make_unique<InflateSource>(&file);
      unsigned char raw[8];
      if (!inflated->Read(raw, 8)) {
        damagedInflated(start, 0, inflated->Error());
        return nullptr;
      }
      uint32_t w[2];
      std::memcpy(w, raw, 8);
      if (swap_) w[0] = Swap(w[0]), w[1] = Swap(w[1]);
      if (w[0] != miMATRIX) {
        damagedInflated(start, 0, "the compressed element holds type " + std::to_string(w[0]) + ", not a variable");
        return nullptr;
      }
      if (w[1] > uint64_t{bytes} * kMaxInflateRatio) {
        damagedInflated(start, 0, "the variable claims " + std::to_string(w[1]) + " bytes, more than " +
                                      std::to_string(bytes) + " compressed bytes can inflate to");
        return nullptr;
      }
      src = inflated.get();
      length = w[1];
    }
    MatrixParser parser(*src, length, swap_, inflated != nullptr);
    if (!inflated) parser.MapFrom(&file, mapping());
    mxArray* array = nullptr;
    std::string name;
    Outcome outcome = parser.Parse(&array, &name);
    std::unique_ptr<mxArray> hold(array);
    if (outcome != Outcome::kDamaged && inflated) {
      // The rest of a compressed variable is inflated anyway: only then is
      // it known that the stream holds what it declared and ends there.
      if (!inflated->Skip(parser.Left()) || !inflated->Finish()) outcome = Outcome::kDamaged;
    }
    if (outcome == Outcome::kDamaged) {
      std::string error = parser.Error();
      if (error.empty()) error = src->Error();
      if (inflated)
        damagedInflated(start, inflated->Consumed(), error);
      else
        damaged(start + 8 + file.Consumed(), error);
      return nullptr;
    }
    // Only now, with a compressed stream inflated to its end, are the bytes
    // that the count of stand-ins rests on known to be there.
    if (outcome == Outcome::kNoNumbers) {
      outcome = parser.NaNs(&array);
      hold.reset(array);
    }
    if (outcome == Outcome::kSkipped) {
      tooLarge(name, parser.dims);
      continue;
    }
    // Without a subsystem offset in the header, the function workspace is
    // known by its shape: a nameless uint8 array.
    if (name.empty() && parser.cls_ == kUint8Class) continue;
    if (parser.noNumberClass) noNumbers(name, parser.noNumberClass, hold->count);
    hold->name = std::move(name);
    ++index_;
    return hold.release();
  }
  return nullptr;
}

long V5Reader::CountRemaining() {
  if (done_) return 0;
  long count = 0;
  for (uint64_t at = pos_; at < size_;) {
    uint32_t type, bytes;
    std::string why;
    if (!tagAt(at, &type, &bytes, &why)) return -1;
    if (at != subsys_) ++count;
    at += 8 + uint64_t{bytes};
  }
  return count;
}

}  // namespace

MATFile* OpenV5Reader(const std::string& path, int fd, uint64_t size, const unsigned char* header,
                      bool mapped) {
  return new V5Reader(path, fd, size, header, mapped);
}

}  // namespace matlayer
