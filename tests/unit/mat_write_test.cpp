// The MAT layer's writers: exact level 5 layout, refusals, and failure paths
// that must leave an existing target as it was.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "mat/mat.h"
#include "mat/mat_rows.h"
#include "unit/mat_test_util.h"

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#endif

namespace {

using mattest::ReadAll;
using mattest::ScratchDir;

uint32_t word(const std::vector<unsigned char>& b, size_t at) {
  uint32_t v = 0;
  if (at + 4 <= b.size()) std::memcpy(&v, b.data() + at, 4);
  return v;
}

int putRow(MATFile* f, const char* name, std::vector<double> values) {
  mxArray* a = mxCreateDoubleMatrix(1, values.size(), mxREAL);
  if (!a) return -1;
  if (!values.empty()) std::memcpy(mxGetPr(a), values.data(), values.size() * sizeof(double));
  int rc = matPutVariable(f, name, a);
  mxDestroyArray(a);
  return rc;
}

// Every name length crosses a padding rule: packed into the tag (1-4 bytes),
// and padded to the next multiple of 8. An empty name is refused.
TEST(MatWrite, Level5LayoutPadsEveryElement) {
  struct Case {
    std::string name;
    size_t values;
    uint32_t nameTagWord;  // first word of the name element
    size_t nameElementBytes;
  } cases[] = {
      {"x", 1, (1u << 16) | 1, 8}, {"abcd", 2, (4u << 16) | 1, 8},
      {"abcde", 3, 1, 16},     {"abcdefgh", 3, 1, 16},      {"abcdefghi", 5, 1, 24},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir / "layout.mat";
    MATFile* f = matOpen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::vector<double> v(c.values);
    for (size_t i = 0; i < v.size(); ++i) v[i] = 0.5 + static_cast<double>(i);
    ASSERT_EQ(putRow(f, c.name.c_str(), v), 0);
    ASSERT_EQ(matClose(f), 0);
    auto b = ReadAll(path);
    ASSERT_GE(b.size(), 128u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 19), "MATLAB 5.0 MAT-file");
    EXPECT_EQ(b[124], 0x00);
    EXPECT_EQ(b[125], 0x01);
    EXPECT_EQ(b[126], 'I');
    EXPECT_EQ(b[127], 'M');
    size_t elementBytes = 16 + 16 + c.nameElementBytes + 8 + 8 * c.values;
    EXPECT_EQ(word(b, 128), 14u);  // miMATRIX
    EXPECT_EQ(word(b, 132), elementBytes);
    EXPECT_EQ(b.size(), 128 + 8 + elementBytes);
    EXPECT_EQ(word(b, 136), 6u);   // flags: miUINT32, 8 bytes, class double
    EXPECT_EQ(word(b, 144), 6u);
    EXPECT_EQ(word(b, 152), 5u);   // dims: miINT32, 1 x N
    EXPECT_EQ(word(b, 156), 8u);
    EXPECT_EQ(word(b, 160), 1u);
    EXPECT_EQ(word(b, 164), c.values);
    EXPECT_EQ(word(b, 168), c.nameTagWord);
    if (c.name.size() > 4) {
      EXPECT_EQ(word(b, 172), c.name.size());
      EXPECT_EQ(std::string(b.begin() + 176, b.begin() + 176 + c.name.size()), c.name);
    } else {
      EXPECT_EQ(std::string(b.begin() + 172, b.begin() + 172 + c.name.size()), c.name);
    }
    size_t data = 168 + c.nameElementBytes;
    EXPECT_EQ(word(b, data), 9u);  // miDOUBLE
    EXPECT_EQ(word(b, data + 4), 8 * c.values);
    for (size_t i = 0; i < c.values; ++i) {
      double d;
      std::memcpy(&d, b.data() + data + 8 + 8 * i, 8);
      EXPECT_EQ(d, v[i]);
    }
  }
}

TEST(MatWrite, UnwritableDirectoryGivesNull) {
  for (const char* mode : {"w", "w7.3"}) {
    EXPECT_EQ(matOpen("/nonexistent-dir/x.mat", mode), nullptr) << mode;
    EXPECT_EQ(errno, ENOENT) << mode;
  }
  EXPECT_EQ(matOpen("/tmp/x.mat", "a"), nullptr);
}

// A variable too large for level 5 is refused before a byte is written, and
// the variables around it still make a good file.
TEST(MatWrite, Level5LimitRefusesWithoutHarm) {
  matSetV5LimitForTesting(80);
  EXPECT_FALSE(matNeedsV73(9));
  EXPECT_TRUE(matNeedsV73(10));
  ScratchDir dir;
  std::string path = dir / "limit.mat";
  MATFile* f = matOpen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(putRow(f, "small", std::vector<double>(9, 1.0)), 0);
  EXPECT_NE(putRow(f, "big", std::vector<double>(10, 2.0)), 0);
  EXPECT_EQ(errno, EFBIG);
  EXPECT_EQ(putRow(f, "after", {3.0}), 0);
  EXPECT_EQ(matClose(f), 0);
  matSetV5LimitForTesting(0);
  EXPECT_FALSE(matNeedsV73((size_t{1} << 28) - 1));
  EXPECT_TRUE(matNeedsV73(size_t{1} << 28));

  // Two variables remain: 128 + (8+16+16+16+8+72) + (8+16+16+16+8+8).
  EXPECT_EQ(ReadAll(path).size(), 128u + 136u + 72u);
}

// Writes that fail part-way (a file size limit stands in for a full disk)
// poison the file: later puts fail, matClose fails, the old target stays and
// no temporary file is left.
TEST(MatWrite, FailedWriteLeavesTargetIntact) {
#if defined(_WIN32)
  GTEST_SKIP() << "no file size limit on Windows to stand in for a full disk";
#else
  ScratchDir dir;
  std::string path = dir / "keep.mat";
  ASSERT_TRUE(mattest::WriteAll(path, {'o', 'l', 'd'}));
  for (const char* mode : {"w", "w7.3"}) {
    SCOPED_TRACE(mode);
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    MATFile* f = matOpen(path.c_str(), mode);
    ASSERT_NE(f, nullptr);
    struct rlimit small = old;
    small.rlim_cur = 256 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int first = putRow(f, "a", std::vector<double>(200000, 1.0));
    int second = putRow(f, "b", {1.0});
    int closed = matClose(f);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_NE(first, 0);
    EXPECT_NE(second, 0);
    EXPECT_NE(closed, 0);
    EXPECT_EQ(ReadAll(path), (std::vector<unsigned char>{'o', 'l', 'd'}));
    EXPECT_EQ(dir.List(), std::vector<std::string>{"keep.mat"});
  }
#endif
}

// A 7.3 row file whose data writes fail part-way (a file size limit stands
// in for a failing disk) is discarded whole: the old target stays and no
// temporary file is left.
TEST(MatWrite, FailedV73RowWriteLeavesTargetIntact) {
#if defined(_WIN32)
  GTEST_SKIP() << "no file size limit on Windows to stand in for a failing disk";
#else
  ScratchDir dir;
  std::string path = dir / "keep.mat";
  ASSERT_TRUE(mattest::WriteAll(path, {'o', 'l', 'd'}));
  matSetV5LimitForTesting(64);
  const char* names[] = {"a", "b"};
  std::vector<double> values(100000, 1.5);
  MATRowFile f;
  ASSERT_TRUE(f.Open(path.c_str(), names, 2, values.size()));
  EXPECT_TRUE(f.Write(1, 0, values.data(), 1000));
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 256 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool written = f.Write(1, 50000, values.data(), 50000);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  matSetV5LimitForTesting(0);
  EXPECT_FALSE(written);
  EXPECT_NE(f.Close(), 0);
  EXPECT_EQ(ReadAll(path), (std::vector<unsigned char>{'o', 'l', 'd'}));
  EXPECT_EQ(dir.List(), std::vector<std::string>{"keep.mat"});
#endif
}

// matPutDoubleRow writes the caller's values as matPutVariable writes a copy
// of them, in either layout.
TEST(MatWrite, PutDoubleRowWritesWhatPutVariableWrites) {
  ScratchDir dir;
  std::vector<double> v = {0.5, -0.0, 1e300, -7.25, 3.0};
  for (const char* mode : {"w", "w7.3"}) {
    SCOPED_TRACE(mode);
    if (std::string(mode) == "w7.3" && mattest::NoHdf5()) continue;
    std::string path = dir / "row.mat";
    MATFile* f = matOpen(path.c_str(), mode);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(matPutDoubleRow(f, "row", v.data(), v.size()), 0);
    EXPECT_EQ(putRow(f, "copy", v), 0);
    EXPECT_EQ(matPutDoubleRow(f, "none", nullptr, 0), 0);
    EXPECT_NE(matPutDoubleRow(f, "null", nullptr, 2), 0);
    EXPECT_EQ(errno, EINVAL);
    ASSERT_EQ(matClose(f), 0);
    f = matOpen(path.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::vector<std::vector<double>> got;
    const char* name = nullptr;
    while (mxArray* a = matGetNextVariable(f, &name)) {
      EXPECT_EQ(mxGetDimensions(a)[0], 1u) << name;
      got.emplace_back(mxGetPr(a), mxGetPr(a) + mxGetNumberOfElements(a));
      mxDestroyArray(a);
    }
    matClose(f);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(std::memcmp(got[0].data(), v.data(), v.size() * sizeof(double)), 0);
    EXPECT_EQ(got[1], got[0]);
    EXPECT_TRUE(got[2].empty());
  }
}

TEST(MatWrite, ReplacesExistingFileWhole) {
  ScratchDir dir;
  std::string path = dir / "replace.mat";
  ASSERT_TRUE(mattest::WriteAll(path, std::vector<unsigned char>(5000, 'x')));
  MATFile* f = matOpen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(putRow(f, "v", {1, 2}), 0);
  ASSERT_EQ(matClose(f), 0);
  EXPECT_EQ(ReadAll(path).size(), 128u + 8 + 16 + 16 + 8 + 8 + 16);
}

TEST(MatWrite, V73RefusesNamesHdf5CannotHold) {
  if (mattest::NoHdf5()) GTEST_SKIP() << "no HDF5 library for 7.3 files";
  ScratchDir dir;
  std::string path = dir / "names.mat";
  MATFile* f = matOpen(path.c_str(), "w7.3");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(putRow(f, "a", {1}), 0);
  EXPECT_NE(putRow(f, "a", {2}), 0);
  EXPECT_NE(putRow(f, "", {3}), 0);
  EXPECT_NE(putRow(f, "x/y", {4}), 0);
  EXPECT_EQ(putRow(f, "b", {}), 0);
  EXPECT_EQ(matClose(f), 0);
  auto b = ReadAll(path);
  ASSERT_GT(b.size(), 512u);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 19), "MATLAB 7.3 MAT-file");
  EXPECT_EQ(b[125], 0x02);
  EXPECT_EQ(std::string(b.begin() + 126, b.begin() + 128), "IM");
  EXPECT_EQ(std::string(b.begin() + 513, b.begin() + 516), "HDF");
}

}  // namespace
