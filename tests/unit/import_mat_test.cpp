// LogFile::ImportMat over files of the MAT layer's writer, plain and
// compressed: which columns the table borrows from the mapped file and which
// it owns, exact values and NaN padding either way, the memory limit that
// counts owned columns only, and a mapped file cut short before the export.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "logtable/logfile.h"
#include "mat/mat.h"
#include "unit/mat_test_util.h"
#include "unit/unit_util.h"

namespace {

struct Var {
  std::string name;
  std::vector<double> values;
};

std::vector<double> Wave(size_t n, double step) {
  std::vector<double> v(n);
  for (size_t k = 0; k < n; ++k) v[k] = std::sin(static_cast<double>(k) * step) * 1e5;
  return v;
}

// A level 5 file as the writer makes it, or with every element compressed.
void WriteMat(const std::string& path, const std::vector<Var>& vars, bool compress) {
  MATFile* f = matOpen(path.c_str(), "w");
  for (const Var& v : vars) {
    mxArray* a = mxCreateDoubleMatrix(1, v.values.size(), mxREAL);
    std::copy(v.values.begin(), v.values.end(), mxGetPr(a));
    ASSERT_EQ(matPutVariable(f, v.name.c_str(), a), 0);
    mxDestroyArray(a);
  }
  ASSERT_EQ(matClose(f), 0);
  std::vector<unsigned char> in = mattest::ReadAll(path), out(in.begin(), in.begin() + 128);
  for (size_t at = 128; compress && at < in.size();) {
    uint32_t tag[2];
    std::memcpy(tag, &in[at], 8);
    uLongf n = compressBound(8 + tag[1]);
    std::vector<unsigned char> z(8 + n);
    ASSERT_EQ(compress2(z.data() + 8, &n, &in[at], 8 + tag[1], 6), Z_OK);
    at += 8 + tag[1];
    tag[0] = 15, tag[1] = static_cast<uint32_t>(n);
    std::memcpy(z.data(), tag, 8);
    out.insert(out.end(), z.begin(), z.begin() + 8 + static_cast<long>(n));
  }
  if (compress) {
    ASSERT_TRUE(mattest::WriteAll(path, out));
  }
}

class ImportMat : public testing::Test {
 protected:
  void TearDown() override { LogFile::SetMemoryLimitForTesting(0); }
  unit::ScopedTempCwd cwd_;
};

TEST_F(ImportMat, BorrowsPlainColumnsOwnsPaddedOnesAndCountsOnlyThoseOwned) {
  // c and f are the longest: a and b grow into owned copies, d and e are
  // padded copies from the start.
  std::vector<Var> mixed = {{"a", {1, 2, 3, 4}}, {"b", {-0.0, 5e-324, INFINITY, NAN}}, {"c", Wave(6, 0.5)},
                            {"d", {7, 8}},       {"e", {}},                             {"f", Wave(6, 0.25)}};
  // With room for one and a half columns of 1000 values.
  std::vector<Var> same = {{"a", Wave(1000, 1)}, {"b", Wave(1000, 2)}, {"c", Wave(1000, 3)}};
  std::vector<Var> shortTail = same;
  shortTail.insert(shortTail.end(), {{"d", Wave(10, 4)}, {"e", Wave(10, 5)}});
  struct Case {
    const char* what;
    const std::vector<Var>& vars;
    bool compress;
    size_t limit, kept;
    std::string borrowed, warning;
  } cases[] = {
      {"mixed lengths", mixed, false, 0, 6, "--b--b", ""},
      {"mixed lengths compressed", mixed, true, 0, 6, "------", ""},
      {"same lengths past the limit", same, false, 12000, 3, "bbb", ""},
      {"compressed past the limit", same, true, 12000, 1, "-", "not enough memory for 'b'"},
      // d is padded into a column of the table's own, e would be the second.
      {"short ones past the limit", shortTail, false, 12000, 4, "bbb-", "not enough memory for 'e'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteMat(cwd_ / "in.mat", c.vars, c.compress);
    LogFile::SetMemoryLimitForTesting(c.limit);
    LogFile table;
    testing::internal::CaptureStderr();
    table.ImportMat("in.mat");
    std::string err = testing::internal::GetCapturedStderr();
    size_t records = 0;
    for (size_t j = 0; j < c.kept; ++j) records = std::max(records, c.vars[j].values.size());
    ASSERT_EQ(table.fieldCount, static_cast<int>(c.kept));
    ASSERT_EQ(table.recordCount, static_cast<int>(records));
    std::string borrowed;
    for (size_t j = 0; j < c.kept; ++j) {
      EXPECT_STREQ(table.names[j].CStr(), c.vars[j].name.c_str());
      std::vector<double> expect = c.vars[j].values;
      expect.resize(records, NAN);
      EXPECT_EQ(std::memcmp(table.columns[j], expect.data(), records * sizeof(double)), 0) << j;
      borrowed += table.lenders[j] ? 'b' : '-';
    }
    EXPECT_EQ(borrowed, c.borrowed);
    EXPECT_EQ(err.find("LogFile:ImportMat(); " + c.warning) != std::string::npos, !c.warning.empty()) << err;
  }
}

TEST_F(ImportMat, MappedFileCutShortFailsTheExportAndKeepsTheOldLog) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows refuses to cut short a mapped file";
#else
  WriteMat(cwd_ / "in.mat", {{"a", Wave(200000, 1)}, {"b", Wave(200000, 2)}}, false);
  unit::Spit(cwd_ / "out.log", "# old log\n");
  LogFile table;
  table.ImportMat("in.mat");
  ASSERT_NE(table.lenders[1], nullptr);
  std::filesystem::resize_file(cwd_ / "in.mat", 4096);
  testing::internal::CaptureStderr();
  table.ExportLog("out.log");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("can't write out.log (Input/output error), the file was left as it was"), std::string::npos)
      << err;
  EXPECT_EQ(unit::Slurp(cwd_ / "out.log"), "# old log\n");
  // No temporary file is left: in.mat, out.log and QLOG.txt.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(cwd_.path()), {}), 3);
#endif
}

}  // namespace
