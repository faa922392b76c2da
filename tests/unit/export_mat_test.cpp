// LogFile::ExportMat on tables built in the test, read back by our reader.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "logtable/logfile.h"
#include "mat/mat.h"
#include "msg/qlog.h"
#include "unit_util.h"

namespace {

void Fill(LogFile& t, const std::vector<std::string>& names, int records) {
  t.fieldCount = static_cast<int>(names.size());
  t.recordCount = records;
  t.imported = true;
  for (int i = 0; i < t.fieldCount; ++i) {
    t.names[i].Assign(names[i].c_str());
    t.columns[i] = static_cast<double*>(std::malloc(sizeof(double) * (records ? records : 1)));
    for (int r = 0; r < records; ++r) t.columns[i][r] = i * 1000.0 + r + 0.25;
  }
}

struct Var {
  std::string name;
  std::vector<size_t> dims;
  std::vector<double> values;
};

std::vector<Var> ReadBack(const std::string& path) {
  std::vector<Var> vars;
  MATFile* f = matOpen(path.c_str(), "r");
  if (!f) return vars;
  const char* name = nullptr;
  while (mxArray* a = matGetNextVariable(f, &name)) {
    Var v{name, {}, {}};
    const mwSize* d = mxGetDimensions(a);
    v.dims.assign(d, d + mxGetNumberOfDimensions(a));
    v.values.assign(mxGetPr(a), mxGetPr(a) + mxGetNumberOfElements(a));
    vars.push_back(v);
    mxDestroyArray(a);
  }
  matClose(f);
  return vars;
}

std::string Header(const std::string& path) { return unit::Slurp(path).substr(0, 20); }

}  // namespace

TEST(ExportMat, FieldsBecomeRowVectorsInOrder) {
  unit::ScopedTempCwd cwd;
  LogFile t;
  Fill(t, {"time", "speed", "speed"}, 3);
  t.ExportMat("out.mat");
  auto vars = ReadBack("out.mat");
  ASSERT_EQ(vars.size(), 3u);
  EXPECT_EQ(vars[0].name, "time");
  EXPECT_EQ(vars[2].name, "speed");
  EXPECT_EQ(vars[1].dims, (std::vector<size_t>{1, 3}));
  EXPECT_EQ(vars[2].values, (std::vector<double>{2000.25, 2001.25, 2002.25}));
  EXPECT_EQ(Header("out.mat").substr(0, 10), "MATLAB 5.0");
}

TEST(ExportMat, LongFieldsSwitchTheFileTo73) {
  unit::ScopedTempCwd cwd;
  matSetV5LimitForTesting(64 * sizeof(double));
  LogFile t;
  Fill(t, {"a", "b"}, 64);
  QPrintf("%s", "");  // the start marker, if this process has not given it yet
  testing::internal::CaptureStderr();
  t.ExportMat("big.mat");
  std::string err = testing::internal::GetCapturedStderr();
  matSetV5LimitForTesting(0);
  // Windows machines have HDF5 only where the user installed it.
  if (err.find("no HDF5 library") != std::string::npos) GTEST_SKIP() << err;
  EXPECT_EQ(err, "LogFile:ExportMat(); 64 samples per field exceed a MAT v5 variable, "
                 "'big.mat' is written as MAT 7.3\n");
  EXPECT_EQ(Header("big.mat").substr(0, 10), "MATLAB 7.3");
  auto vars = ReadBack("big.mat");
  ASSERT_EQ(vars.size(), 2u);
  EXPECT_EQ(vars[1].name, "b");
  EXPECT_EQ(vars[1].dims, (std::vector<size_t>{1, 64}));
  EXPECT_EQ(vars[1].values[63], 1063.25);

  // One sample fewer stays level 5.
  LogFile s;
  Fill(s, {"a"}, 63);
  matSetV5LimitForTesting(64 * sizeof(double));
  s.ExportMat("small.mat");
  matSetV5LimitForTesting(0);
  EXPECT_EQ(Header("small.mat").substr(0, 10), "MATLAB 5.0");
}
