// The MAT layer's reader: round trips through the writers, and hand-built
// files that are cut, lie about their sizes or carry broken compressed data.
// Damage must end the reading with a warning that says where, hand on
// nothing partly read and allocate nothing a size field merely claims (the
// tests lower the memory limit: a claim that reached an allocation would
// show up as "too large" instead of "damaged").
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "mat/mat.h"
#include "unit/mat_test_util.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace {

using mattest::ScratchDir;
using Bytes = std::vector<unsigned char>;

struct Var {
  std::string name;
  std::vector<size_t> dims;
  std::vector<double> values;
  bool mapped = false;  // left in the mapped file ("rm")
};

// Reads every variable; the warnings given on the way land in *warnings.
std::vector<Var> readAll(const std::string& path, std::string* warnings, bool* opened = nullptr,
                         const char* mode = "r") {
  testing::internal::CaptureStderr();
  std::vector<Var> vars;
  MATFile* f = matOpen(path.c_str(), mode);
  if (opened) *opened = f != nullptr;
  bool damaged = false;
  if (f) {
    const char* name;
    while (mxArray* a = matGetNextVariable(f, &name)) {
      Var v{name, {}, {}};
      v.dims.assign(mxGetDimensions(a), mxGetDimensions(a) + mxGetNumberOfDimensions(a));
      v.values.assign(mxGetPr(a), mxGetPr(a) + mxGetNumberOfElements(a));
      v.mapped = mxGetMapping(a) != nullptr;
      vars.push_back(v);
      mxDestroyArray(a);
    }
    damaged = matReadDamaged(f);
    matClose(f);
  }
  *warnings = testing::internal::GetCapturedStderr();
  // The reader says it ended at damage exactly when it reported damage.
  if (f) {
    EXPECT_EQ(damaged, warnings->find("damaged") != std::string::npos) << *warnings;
  }
  return vars;
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * 8) == 0);
}

// Little builders for hand-made level 5 files.
void put32(Bytes& b, uint32_t v, bool big = false) {
  if (big) v = __builtin_bswap32(v);
  unsigned char raw[4];
  std::memcpy(raw, &v, 4);
  b.insert(b.end(), raw, raw + 4);
}
void pad8(Bytes& b) { b.resize((b.size() + 7) / 8 * 8, 0); }

Bytes header(bool big = false, uint64_t subsys = 0) {
  Bytes h(128, ' ');
  std::memcpy(h.data(), "MATLAB 5.0 MAT-file, hand made", 30);
  if (big) subsys = __builtin_bswap64(subsys);
  std::memcpy(h.data() + 116, &subsys, 8);
  h[124] = big ? 0x01 : 0x00;
  h[125] = big ? 0x00 : 0x01;
  h[126] = big ? 'M' : 'I';
  h[127] = big ? 'I' : 'M';
  return h;
}

// One miMATRIX element: class, dims, name, real data of storage type `type`.
Bytes matrix(uint32_t cls, std::vector<int32_t> dims, const std::string& name, uint32_t type, const Bytes& data,
             bool big = false, uint32_t flags = 0, const Bytes& tail = {}) {
  Bytes body;
  put32(body, 6, big);
  put32(body, 8, big);
  put32(body, cls | flags, big);
  put32(body, 0, big);
  put32(body, 5, big);
  put32(body, static_cast<uint32_t>(4 * dims.size()), big);
  for (int32_t d : dims) put32(body, static_cast<uint32_t>(d), big);
  pad8(body);
  put32(body, 1, big);
  put32(body, static_cast<uint32_t>(name.size()), big);
  body.insert(body.end(), name.begin(), name.end());
  pad8(body);
  put32(body, type, big);
  put32(body, static_cast<uint32_t>(data.size()), big);
  body.insert(body.end(), data.begin(), data.end());
  pad8(body);
  body.insert(body.end(), tail.begin(), tail.end());
  Bytes e;
  put32(e, 14, big);
  put32(e, static_cast<uint32_t>(body.size()), big);
  e.insert(e.end(), body.begin(), body.end());
  return e;
}

Bytes doubles(std::vector<double> v, bool big = false) {
  Bytes b(v.size() * 8);
  for (size_t i = 0; i < v.size(); ++i) {
    uint64_t bits;
    std::memcpy(&bits, &v[i], 8);
    if (big) bits = __builtin_bswap64(bits);
    std::memcpy(b.data() + 8 * i, &bits, 8);
  }
  return b;
}

Bytes compressed(const Bytes& inner, const Bytes& trailer = {}) {
  uLongf n = compressBound(inner.size());
  Bytes z(n);
  compress2(z.data(), &n, inner.data(), inner.size(), 6);
  z.resize(n);
  z.insert(z.end(), trailer.begin(), trailer.end());
  Bytes e;
  put32(e, 15);
  put32(e, static_cast<uint32_t>(z.size()));
  e.insert(e.end(), z.begin(), z.end());
  return e;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class MatRead : public testing::Test {
 protected:
  void SetUp() override {
    // QLOG.txt goes to the current directory: keep it in the scratch one.
    old_ = std::filesystem::current_path();
    std::error_code ec;
    std::filesystem::current_path(dir_.path(), ec);
    ASSERT_FALSE(ec) << ec.message();
    matSetMemoryLimitForTesting(1 << 20);
  }
  void TearDown() override {
    matSetMemoryLimitForTesting(0);
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
  }
  std::string file(const Bytes& b, const char* name = "t.mat") {
    std::string p = dir_ / name;
    mattest::WriteAll(p, b);
    return p;
  }
  ScratchDir dir_;
  std::filesystem::path old_;
};

TEST_F(MatRead, WritersRoundTrip) {
  const double inf = INFINITY;
  std::vector<Var> vars = {
      {"time", {1, 5}, {0, 0.001, -0.0, inf, -inf}},
      {"", {1, 0}, {}},
      {"n", {1, 1}, {NAN}},
      {"a_name_longer_than_eight", {1, 3}, {5e-324, 1e308, -1}},
      {"time", {1, 2}, {7, 8}},
  };
  std::vector<double> big(300000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = std::sin(static_cast<double>(i));
  vars.push_back({"big", {1, big.size()}, big});
  for (const char* mode : {"w", "w7.3"}) {
    SCOPED_TRACE(mode);
    if (std::string(mode) == "w7.3" && mattest::NoHdf5()) GTEST_SKIP() << "no HDF5 library for 7.3 files";
    matSetMemoryLimitForTesting(0);
    std::string path = dir_ / "rt.mat";
    MATFile* f = matOpen(path.c_str(), mode);
    ASSERT_NE(f, nullptr);
    std::vector<Var> expect;
    for (const Var& v : vars) {
      mxArray* a = mxCreateDoubleMatrix(1, v.values.size(), mxREAL);
      if (!v.values.empty()) std::memcpy(mxGetPr(a), v.values.data(), v.values.size() * 8);
      if (matPutVariable(f, v.name.c_str(), a) == 0) expect.push_back(v);
      mxDestroyArray(a);
    }
    ASSERT_EQ(matClose(f), 0);
    // Both refuse the empty name; 7.3 also the repeated one.
    EXPECT_EQ(expect.size(), std::string(mode) == "w" ? vars.size() - 1 : vars.size() - 2);
    std::string warnings;
    MATFile* r = matOpen(path.c_str(), "r");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(matCountRemaining(r), static_cast<long>(expect.size()));
    matClose(r);
    auto got = readAll(path, &warnings);
    ASSERT_EQ(got.size(), expect.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].name, expect[i].name);
      EXPECT_EQ(got[i].dims, expect[i].dims) << got[i].name;
      EXPECT_TRUE(sameBits(got[i].values, expect[i].values)) << got[i].name;
    }
    EXPECT_EQ(warnings.find("damaged"), std::string::npos) << warnings;
  }
}

// Cut at every byte, a file must give exactly the variables that are whole
// before the cut, with their exact values, and a warning unless the cut
// falls between variables.
TEST_F(MatRead, TruncatedAtEveryByte) {
  Bytes a = matrix(6, {1, 3}, "a", 9, doubles({1, 2, 3}));
  Bytes b = matrix(7, {2, 1}, "bb", 7, Bytes{0, 0, 0x80, 0x3f, 0, 0, 0, 0x40});  // single 1, 2
  Bytes c = compressed(matrix(12, {1, 2}, "c", 2, Bytes{7, 9}));               // int32 class, uint8 data
  Bytes v5 = cat({header(), a, b, c});
  std::vector<size_t> ends = {128, 128 + a.size(), 128 + a.size() + b.size(), v5.size()};
  std::vector<Var> whole = {{"a", {1, 3}, {1, 2, 3}}, {"bb", {2, 1}, {1, 2}}, {"c", {1, 2}, {7, 9}}};

  Bytes v4;
  for (int k = 0; k < 2; ++k) {
    put32(v4, 0);
    put32(v4, 1);
    put32(v4, 2);
    put32(v4, 0);
    put32(v4, 2);
    v4.push_back(k ? 'y' : 'x');
    v4.push_back(0);
    Bytes d = doubles({1.5 + k, 2.5});
    v4.insert(v4.end(), d.begin(), d.end());
  }
  std::vector<size_t> ends4 = {0, 38, 76};
  std::vector<Var> whole4 = {{"x", {1, 2}, {1.5, 2.5}}, {"y", {1, 2}, {2.5, 2.5}}};

  struct Case {
    const Bytes* bytes;
    const std::vector<size_t>* ends;
    const std::vector<Var>* vars;
    size_t opens;  // shortest file taken for a MAT-file at all
    const char* mode;
  } cases[] = {{&v5, &ends, &whole, 128, "r"}, {&v4, &ends4, &whole4, 4, "r"}, {&v5, &ends, &whole, 128, "rm"}};
  for (const Case& c4 : cases) {
    for (size_t cut = 0; cut <= c4.bytes->size(); ++cut) {
      SCOPED_TRACE(std::string(c4.mode) + " " + std::to_string(cut));
      std::string path = file(Bytes(c4.bytes->begin(), c4.bytes->begin() + cut));
      std::string warnings;
      bool opened;
      auto got = readAll(path, &warnings, &opened, c4.mode);
      size_t complete = 0;
      while (complete + 1 < c4.ends->size() && (*c4.ends)[complete + 1] <= cut) ++complete;
      EXPECT_EQ(opened, cut >= c4.opens);
      if (!opened) continue;
      ASSERT_EQ(got.size(), complete);
      for (size_t i = 0; i < complete; ++i) {
        EXPECT_EQ(got[i].name, (*c4.vars)[i].name);
        EXPECT_TRUE(sameBits(got[i].values, (*c4.vars)[i].values));
      }
      bool boundary = false;
      for (size_t e : *c4.ends) boundary |= e == cut;
      if (boundary)
        EXPECT_EQ(warnings.find("damaged"), std::string::npos) << warnings;
      else
        EXPECT_NE(warnings.find("damaged at byte"), std::string::npos) << warnings;
    }
  }
}

// Sizes that claim far more than the file holds must be caught as damage
// before anything of that size is allocated.
TEST_F(MatRead, ClaimsBeyondTheFileAreDamage) {
  Bytes good = matrix(6, {1, 1}, "ok", 9, doubles({4}));
  Bytes hugeTag = cat({header(), good, Bytes{14, 0, 0, 0, 0xf0, 0xff, 0xff, 0xff}, Bytes(64, 0)});
  Bytes hugeDims = cat({header(), good, matrix(6, {65535, 65535}, "d", 9, doubles({1}))});
  Bytes hugeData = cat({header(), good, matrix(6, {1, 1}, "e", 9, doubles({1}))});
  hugeData[hugeData.size() - 12] = 0xff;  // the real part's size: 8 -> 0xff000008
  hugeData[hugeData.size() - 9] = 0xff;
  // A compressed element whose inner tag claims 4 GB.
  Bytes inner = matrix(6, {1, 1}, "z", 9, doubles({1}));
  inner[4] = inner[5] = inner[6] = inner[7] = 0xff;
  Bytes hugeInflate = cat({header(), good, compressed(inner)});
  Bytes v4;
  for (uint32_t w : {0u, 1u << 30, 1u << 30, 0u, 2u}) put32(v4, w);
  v4.insert(v4.end(), {'q', 0});
  Bytes negative = cat({header(), good, matrix(6, {-1, 2}, "n", 9, doubles({1}))});
  // Sizes whose product wraps to 0 in 64 bits (complex doubles, 2^30 x 2^30).
  Bytes v4wrap;
  for (uint32_t w : {0u, 1u << 30, 1u << 30, 1u, 2u}) put32(v4wrap, w);
  v4wrap.insert(v4wrap.end(), {'w', 0});
  // A cell array of 20 million elements in a few dozen bytes.
  Bytes cell = cat({header(), good, matrix(1, {1, 20000000}, "c", 9, doubles({}))});
  // And a struct of as many elements, its one field given once: the field
  // name length, then the names ("a"), then one field.
  Bytes structTail = cat({Bytes{1, 0, 0, 0, 2, 0, 0, 0, 'a', 0, 0, 0, 0, 0, 0, 0}, good});
  Bytes structs = cat({header(), good, matrix(2, {1, 20000000}, "s", 5, Bytes{2, 0, 0, 0}, false, 0, structTail)});

  struct Case {
    const char* what;
    const Bytes* bytes;
    size_t before;  // variables read before the damage
    const char* says;
  } cases[] = {
      {"element size", &hugeTag, 1, "claims 4294967280 bytes"},
      {"dimensions", &hugeDims, 1, "values"},
      {"data size", &hugeData, 1, "only"},
      {"inflated size", &hugeInflate, 1, "more than"},
      {"level 4 size", &v4, 0, "needs"},
      {"negative dimension", &negative, 1, "negative"},
      {"level 4 size wrapping", &v4wrap, 0, "needs"},
      {"cell elements", &cell, 1, "claims 20000000 elements"},
      {"struct elements", &structs, 1, "claims 20000000 elements of 1 fields"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string warnings;
    auto got = readAll(file(*c.bytes), &warnings);
    EXPECT_EQ(got.size(), c.before);
    EXPECT_NE(warnings.find("damaged"), std::string::npos) << warnings;
    EXPECT_NE(warnings.find(c.says), std::string::npos) << warnings;
    EXPECT_EQ(warnings.find("too large"), std::string::npos) << warnings;
  }
}

// 7.3 files fuzz_mat found: the HDF5 library frees a wild pointer on the
// first (the 7.3 reader's child process dies); on the second it would
// allocate and fill 4 GB for an element size the file claims. Either is
// damage, the variables before it are kept, and the child stays small.
TEST_F(MatRead, Hdf5LibraryFailuresAreDamage) {
  if (mattest::NoHdf5()) GTEST_SKIP() << "no HDF5 library for 7.3 files";
  struct Case {
    const char* file;
    bool opens;
    std::vector<std::string> names;
    const char* says;
  } cases[] = {
      // Whether the library's wild free kills the child or it gives up on
      // the file depends on the allocator: either way nothing is opened.
      {"crash-hdf5-link-names.mat", false, {}, nullptr},
      {"oom-hdf5-element-size.mat", true, {"time", "speed"}, "damaged in variable 3 ('gear')"},
      // An object header claiming 4 GiB: the library asks for that much (the
      // child's address space only), fails, and the variable is damage.
      {"oom-hdf5-object-header.mat", true, {"time", "gear"}, "damaged in variable 3 ('empty')"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::string warnings;
    bool opened = !c.opens;
    auto got = readAll(std::string(TRACE_SOURCE_DIR "/fuzz/regress/mat73/") + c.file, &warnings, &opened);
    EXPECT_EQ(opened, c.opens);
    std::vector<std::string> names;
    for (const Var& v : got) names.push_back(v.name);
    EXPECT_EQ(names, c.names);
    if (c.says)
      EXPECT_NE(warnings.find(c.says), std::string::npos) << warnings;
    else
      EXPECT_TRUE(warnings.empty() ||
                  warnings.find("damaged: the HDF5 library failed opening it (signal ") !=
                      std::string::npos)
          << warnings;
  }
#if !defined(_WIN32)
  // Windows keeps no peak memory of the children once they are gone.
  struct rusage children;
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &children), 0);
  EXPECT_LT(children.ru_maxrss, 1L << 20) << "kilobytes";
#endif
}

// A variable without numbers (function handle, unknown class, struct without
// fields) stands for at most one NaN per byte of its element; beyond that its
// dimensions are damage. The memory limit is that bound in doubles, so any
// stand-ins made beyond it would show as "too large".
TEST_F(MatRead, NoNumbersBoundByTheirBytes) {
  Bytes good = matrix(6, {1, 1}, "ok", 9, doubles({4}));
  // 56 bytes after the tag: flags, dimensions, name, an empty data element.
  auto handle = [](int32_t n) { return matrix(16, {1, n}, "f", 9, {}); };
  Bytes fieldless = matrix(2, {8000, 8000}, "s", 5, Bytes{1, 0, 0, 0}, false, 0, Bytes{1, 0, 0, 0, 0, 0, 0, 0});
  struct Case {
    const char* what;
    Bytes element;
    const char* says;  // null: read as NaN
  } cases[] = {
      {"function handle", matrix(16, {8000, 8000}, "f", 9, {}), "function handle claims 64000000 elements"},
      {"unknown class, compressed", compressed(matrix(99, {8000, 8000}, "u", 9, {})),
       "array of unknown class claims 64000000 elements"},
      {"struct without fields", fieldless, "struct claims 64000000 elements, more than the 72 bytes"},
      {"at the bound", handle(56), nullptr},
      {"one past the bound", handle(57), "claims 57 elements, more than the 56 bytes"},
  };
  matSetMemoryLimitForTesting(56 * sizeof(double));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string warnings;
    auto got = readAll(file(cat({header(), good, c.element})), &warnings);
    ASSERT_GE(got.size(), 1u);
    EXPECT_EQ(got[0].name, "ok");
    EXPECT_EQ(warnings.find("too large"), std::string::npos) << warnings;
    if (c.says) {
      EXPECT_EQ(got.size(), 1u);
      EXPECT_NE(warnings.find("damaged at byte"), std::string::npos) << warnings;
      EXPECT_NE(warnings.find(c.says), std::string::npos) << warnings;
    } else {
      ASSERT_EQ(got.size(), 2u);
      EXPECT_EQ(got[1].values.size(), 56u);
      EXPECT_NE(warnings.find("'f' holds no numbers (function handle); read as 56 NaN"), std::string::npos);
    }
  }
  // A 7.3 cell whose dataspace claims 8000x8000 references in 2568 bytes.
  if (mattest::NoHdf5()) GTEST_SKIP() << "no HDF5 library for 7.3 files";
  std::string warnings;
  auto got = readAll(TRACE_SOURCE_DIR "/fuzz/regress/mat73/oom-cell-dataspace.mat", &warnings);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].name, "a");
  EXPECT_NE(warnings.find("damaged in variable 2 ('c'): the cell claims 8000x8000 elements"), std::string::npos)
      << warnings;
}

// A compressed element must inflate to exactly its variable and end its
// stream there.
TEST_F(MatRead, CompressedDataMustMatchExactly) {
  Bytes inner = matrix(6, {1, 2}, "v", 9, doubles({1, 2}));
  Bytes shorter = inner;
  shorter[4] += 8;  // declares 8 bytes more than the stream holds
  Bytes longer = inner;
  longer.insert(longer.end(), 8, 0);  // the stream holds 8 bytes past its variable
  Bytes good = compressed(inner);
  Bytes corrupt = good;
  corrupt[good.size() - 1] ^= 0x55;  // the stream's check value
  Bytes cut = compressed(inner);
  cut.resize(cut.size() - 6);
  uint32_t cutLen = static_cast<uint32_t>(cut.size() - 8);
  std::memcpy(cut.data() + 4, &cutLen, 4);

  struct Case {
    const char* what;
    Bytes element;
    const char* says;
  } cases[] = {
      {"fewer bytes", compressed(shorter), "fewer bytes than declared"},
      {"more bytes", compressed(longer), "more bytes than declared"},
      {"corrupt", corrupt, "corrupt compressed data"},
      {"cut", cut, "cut short"},
      {"trailing", compressed(inner, Bytes{1, 2, 3}), "follow the end"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string warnings;
    auto got = readAll(file(cat({header(), good, c.element})), &warnings);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(sameBits(got[0].values, {1, 2}));
    EXPECT_NE(warnings.find("damaged at byte " + std::to_string(128 + good.size())), std::string::npos)
        << warnings;
    EXPECT_NE(warnings.find(c.says), std::string::npos) << warnings;
  }
}

// A compressed variable beyond the reader's first allocation grows as it
// inflates: its values, converted from another storage type, and the
// variable after it must come out as if it had been allocated whole.
TEST_F(MatRead, LargeCompressedVariableGrowsIntoPlace) {
  matSetMemoryLimitForTesting(0);
  const int32_t n = (1 << 24) + 3;  // past two growth steps of the reader
  Bytes data(static_cast<size_t>(n) * 2);
  for (int32_t k = 0; k < n; ++k) {
    int16_t v = static_cast<int16_t>(k % 30011 - 15000);
    std::memcpy(data.data() + 2 * k, &v, 2);
  }
  // Class single stored as int16 (storage type 3), then a plain double.
  Bytes f = cat({header(), compressed(matrix(7, {1, n}, "big", 3, data)),
                 compressed(matrix(6, {1, 1}, "after", 9, doubles({42})))});
  std::string warnings;
  auto got = readAll(file(f), &warnings);
  EXPECT_EQ(warnings, "");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].dims, (std::vector<size_t>{1, static_cast<size_t>(n)}));
  ASSERT_EQ(got[0].values.size(), static_cast<size_t>(n));
  size_t wrong = 0;
  for (int32_t k = 0; k < n; ++k) wrong += got[0].values[k] != k % 30011 - 15000;
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(got[1].values, std::vector<double>{42});
}

// Big-endian files, small data elements, other classes and the function
// workspace: what MATLAB and other writers produce besides plain doubles.
TEST_F(MatRead, ClassesAndLayouts) {
  Bytes be = cat({header(true), matrix(6, {2, 2}, "big", 9, doubles({1, 2, 3, -4}, true), true)});
  // A small element packs up to 4 bytes into its tag: int16 class, 2 values.
  Bytes small = matrix(10, {1, 2}, "s", 3, Bytes{}, false);
  small.resize(small.size() - 8);
  put32(small, (4u << 16) | 3);
  small.insert(small.end(), {0xff, 0xff, 0x05, 0x00});
  // Six cells: each element at least a tag of its own (here one block of 48
  // bytes stands for them; the reader does not look inside).
  Bytes cellVar = matrix(1, {2, 3}, "cel", 14, Bytes(40, 0));
  Bytes workspace = matrix(9, {1, 4}, "", 2, Bytes{1, 2, 3, 4});
  Bytes after = matrix(6, {1, 1}, "x", 9, doubles({9}));
  Bytes mixed = cat({header(false, 128 + small.size() + cellVar.size()), small, cellVar, workspace, after});
  // Sparse 3 x 2 with (3,1) = 5 and (1,2) = 6, logical flag not set.
  Bytes sp;
  {
    Bytes body;
    for (uint32_t w : {6u, 8u, 5u, 1u, 5u, 8u, 3u, 2u}) put32(body, w);
    put32(body, (2u << 16) | 1);
    body.insert(body.end(), {'s', 'p', 0, 0});
    for (uint32_t w : {5u, 8u, 2u, 0u}) put32(body, w);
    for (uint32_t w : {5u, 12u, 0u, 1u, 2u, 0u}) put32(body, w);
    Bytes d = doubles({5, 6});
    put32(body, 9);
    put32(body, 16);
    body.insert(body.end(), d.begin(), d.end());
    put32(sp, 14);
    put32(sp, static_cast<uint32_t>(body.size()));
    sp.insert(sp.end(), body.begin(), body.end());
  }
  Bytes sparseFile = cat({header(), sp});
  Bytes hugeSparse = sparseFile;
  hugeSparse[128 + 8 + 16 + 8] = 0x00;  // 3 x 2 -> 3*2^24 x 2: full would be 96 MiB
  hugeSparse[128 + 8 + 16 + 8 + 3] = 0x03;

  struct Case {
    const char* what;
    const Bytes* bytes;
    std::vector<Var> vars;
    const char* warns;
  } cases[] = {
      {"big-endian", &be, {{"big", {2, 2}, {1, 2, 3, -4}}}, nullptr},
      {"small element, cell, workspace", &mixed,
       {{"s", {1, 2}, {-1, 5}}, {"cel", {2, 3}, std::vector<double>(6, NAN)}, {"x", {1, 1}, {9}}},
       "'cel' holds no numbers (cell array)"},
      {"sparse", &sparseFile, {{"sp", {3, 2}, {0, 0, 5, 6, 0, 0}}}, nullptr},
      {"sparse too large", &hugeSparse, {}, "too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string warnings;
    auto got = readAll(file(*c.bytes), &warnings);
    ASSERT_EQ(got.size(), c.vars.size()) << warnings;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].name, c.vars[i].name);
      EXPECT_EQ(got[i].dims, c.vars[i].dims);
      EXPECT_TRUE(sameBits(got[i].values, c.vars[i].values)) << got[i].name;
    }
    if (c.warns) {
      EXPECT_NE(warnings.find(c.warns), std::string::npos) << warnings;
    }
    EXPECT_EQ(warnings.find("damaged"), std::string::npos) << warnings;
  }
}

// "rm" leaves just the plain level 5 doubles of the machine's byte order in
// the mapped file, with the values "r" reads.
TEST_F(MatRead, MappedReadingLeavesPlainDoublesInTheFile) {
  Bytes plain = matrix(6, {1, 3}, "p", 9, doubles({1.5, -0.0, NAN}));
  // Four bytes after its data put the element after it off 8 bytes.
  Bytes offEight = matrix(6, {1, 1}, "m", 9, doubles({7}), false, 0, Bytes(4, 0));
  Bytes imaginary = cat({Bytes{9, 0, 0, 0, 8, 0, 0, 0}, doubles({2})});
  struct Case {
    const char* what;
    Bytes bytes;
    std::vector<bool> mapped;
  } cases[] = {
      {"plain, then off 8 bytes", cat({header(), plain, offEight, plain}), {true, true, false}},
      {"empty", cat({header(), matrix(6, {0, 0}, "e", 9, {})}), {false}},
      {"big-endian", cat({header(true), matrix(6, {1, 2}, "b", 9, doubles({1, 2}, true), true)}), {false}},
      {"compressed", cat({header(), compressed(plain)}), {false}},
      {"complex", cat({header(), matrix(6, {1, 1}, "c", 9, doubles({1}), false, 0x800, imaginary)}), {false}},
      {"single stored as double", cat({header(), matrix(7, {1, 1}, "s", 9, doubles({0.1}))}), {false}},
      {"double stored as uint8", cat({header(), matrix(6, {1, 2}, "u", 2, Bytes{3, 4})}), {false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = file(c.bytes), warnings;
    std::vector<Var> expect = readAll(path, &warnings), got = readAll(path, &warnings, nullptr, "rm");
    ASSERT_EQ(got.size(), c.mapped.size()) << warnings;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].mapped, c.mapped[i]) << i;
      EXPECT_TRUE(sameBits(got[i].values, expect[i].values)) << i;
    }
  }
}

TEST_F(MatRead, NotAMatFile) {
  for (const Bytes& b : {Bytes{}, Bytes(200, 'x'), Bytes{'M', 'A', 'T'}}) {
    std::string warnings;
    bool opened;
    readAll(file(b), &warnings, &opened);
    EXPECT_FALSE(opened);
  }
  EXPECT_EQ(matOpen((dir_ / "missing.mat").c_str(), "r"), nullptr);
  EXPECT_EQ(matOpen(dir_.path().c_str(), "r"), nullptr);
}

}  // namespace
