// traceunpack run end to end in fresh temporary directories: MAT-files made
// by scipy in the test, then standard output, standard error, QLOG.txt and
// the written log checked whole. The expected log values come from the C
// library's own "%g" on the values scipy stored, never from our formatter.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_util.h"

#ifndef TRACEUNPACK_BIN
#define TRACEUNPACK_BIN ""
#endif

namespace {

const char kBanner[] = "Traceunpack 1.0\n";
// The first message of a run is preceded by the start marker on the console.
const char kStart[] = "--- application start ---\n";

// Makes in.mat from the variables that body appends to V (name, array), and
// expect.txt with each variable's name, dimensions and values (column-major,
// as hex floats) so the test can derive what must come out.
std::string MakeMatScript(const std::string& body, const std::string& format = "5") {
  return "import numpy as np, scipy.io as sio\n"
         "V = []\n" +
         body +
         "\nsio.savemat('in.mat', dict(V), format='" + format +
         "')\n"
         "with open('expect.txt', 'w') as f:\n"
         "    for name, a in V:\n"
         "        a = np.asarray(a, dtype=float)\n"
         "        dims = 'x'.join(str(d) for d in a.shape)\n"
         "        vals = ' '.join(float(x).hex() for x in a.flatten(order='F').tolist())\n"
         "        f.write(name + '\\t' + dims + '\\t' + vals + '\\n')\n";
}

struct Variable {
  std::string name;
  std::vector<std::string> dims;
  std::vector<double> values;
};

std::vector<Variable> ReadExpect(const std::string& path) {
  std::vector<Variable> vars;
  std::istringstream in(e2e::ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    Variable v;
    size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
    v.name = line.substr(0, tab1);
    std::istringstream dims(line.substr(tab1 + 1, tab2 - tab1 - 1));
    std::string d;
    while (std::getline(dims, d, 'x')) v.dims.push_back(d);
    std::istringstream vals(line.substr(tab2 + 1));
    std::string hex;
    while (vals >> hex) v.values.push_back(std::strtod(hex.c_str(), nullptr));
    vars.push_back(v);
  }
  return vars;
}

std::string G(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

// The log body (all but the header line) for the first 100 variables, with
// shorter ones padded with NaN to the longest.
std::string ExpectedBody(const std::vector<Variable>& vars) {
  size_t fields = std::min<size_t>(vars.size(), 100), records = 0;
  for (size_t j = 0; j < fields; ++j) records = std::max(records, vars[j].values.size());
  std::string body;
  for (size_t j = 0; j < fields; ++j) body += (j ? " " : "") + vars[j].name;
  body += "\n";
  for (size_t i = 0; i < records; ++i) {
    for (size_t j = 0; j < fields; ++j)
      body += (j ? " " : "") + G(i < vars[j].values.size() ? vars[j].values[i] : NAN);
    body += "\n";
  }
  return body;
}

// "(LEVEL): [vovizi/N] text" without time stamps and process ids.
std::vector<std::string> Qlog(const std::string& dir) {
  std::vector<std::string> lines = e2e::QlogEntries(dir);
  for (std::string& line : lines) {
    size_t slash = line.find("[vovizi/"), close = line.find(']');
    if (slash != std::string::npos && close != std::string::npos)
      line = line.substr(0, slash + 8) + "N" + line.substr(close);
  }
  return lines;
}

std::string Header(const std::string& log) { return log.substr(0, log.find('\n') + 1); }
std::string Body(const std::string& log) {
  size_t end = log.find('\n');
  return end == std::string::npos ? "" : log.substr(end + 1);
}

bool HeaderIsWellFormed(const std::string& header, long samples) {
  std::string form = "# Log file written by traceunpack on dd-dd-dddd, dd:dd:dd (" +
                     std::to_string(samples) + " samples)\n";
  if (header.size() != form.size()) return false;
  for (size_t k = 0; k < form.size(); ++k)
    if (form[k] == 'd' ? !std::isdigit(static_cast<unsigned char>(header[k])) : header[k] != form[k])
      return false;
  return true;
}

class Unpack : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(TRACEUNPACK_BIN).empty()) GTEST_SKIP() << "traceunpack not built";
  }
  e2e::Result Unpack_(const std::string& dir, const std::vector<std::string>& args,
                      const std::string& env = "") {
    return e2e::Run(dir, TRACEUNPACK_BIN, args, env);
  }
  void MakeMat(const e2e::TempDir& dir, const std::string& body, const std::string& format = "5") {
    e2e::Result py = e2e::Python(dir.path(), MakeMatScript(body, format));
    ASSERT_EQ(py.status, 0) << py.err;
  }
};

TEST_F(Unpack, ConvertsMatFilesAsTheLogRulesSay) {
  struct Case {
    const char* what;
    std::string vars;              // Python appending (name, array) to V
    std::string literalBody;       // when set, the log body must be exactly this
    std::string warning;           // expected between the dimension lines and the export
  };
  std::string hundredTwenty =
      "for k in range(120): V.append(('v%03d' % k, np.array([[k, k + 0.5]])))\n";
  std::vector<Case> cases = {
      {"three column vectors of 500",
       "r = np.random.default_rng(1)\n"
       "for n in 'abc': V.append((n, r.normal(0, 100, (500, 1))))\n",
       "", ""},
      {"no variables", "", "\n", ""},
      {"row vector of 1 x 250", "V.append(('row', np.arange(250.0).reshape(1, 250) / 7))\n", "", ""},
      {"2 x 3 x 4 array", "V.append(('cube', np.arange(24.0).reshape(2, 3, 4, order='F')))\n", "",
       ""},
      {"3 x 2 matrix read column after column",
       "V.append(('m', np.array([[1.0, 2], [3, 4], [5, 6]])))\n", "m\n1\n3\n5\n2\n4\n6\n", ""},
      {"values that stress %g",
       "V.append(('v', np.array([[3.14159265, 1234567, 0.5, 2, -0.000123, 1e-300, 1e300,"
       " np.nan, np.inf, -0.0]]).T))\n",
       "v\n3.14159\n1.23457e+06\n0.5\n2\n-0.000123\n1e-300\n1e+300\nnan\ninf\n-0\n", ""},
      {"unequal lengths padded with NaN",
       "V.append(('short', np.array([[1.0, 2]])))\n"
       "V.append(('long', np.array([[1.0, 2, 3, 4]])))\n"
       "V.append(('empty', np.zeros((0, 0))))\n"
       "V.append(('mid', np.array([[7.0, 8, 9]])))\n",
       "short long empty mid\n1 1 nan 7\n2 2 nan 8\nnan 3 nan 9\nnan 4 nan nan\n", ""},
      {"120 variables", hundredTwenty, "",
       "LogFile:ImportMat(); only the first 100 variables were converted, 20 more left out\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    e2e::TempDir dir;
    MakeMat(dir, c.vars);
    std::vector<Variable> vars = ReadExpect(dir / "expect.txt");
    std::filesystem::remove(dir / "expect.txt");

    e2e::Result r = Unpack_(dir.path(), {"in.mat", "out.log"});
    EXPECT_EQ(r.status, 0);

    std::string out = kBanner, err = kStart;
    size_t records = 0;
    for (size_t j = 0; j < vars.size() && j < 100; ++j) {
      std::string dims;
      for (const std::string& d : vars[j].dims) dims += (dims.empty() ? "" : "x") + d;
      out += dims + " (=" + std::to_string(vars[j].values.size()) + ")\n";
      err += "Array " + vars[j].name + " has " + std::to_string(vars[j].dims.size()) +
             " dimensions: ";
      records = std::max(records, vars[j].values.size());
    }
    err += c.warning + "Export Vantor log file.\n";
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, err);

    std::vector<std::string> qlog = {"(INFO ): [vovizi/N] --- application start ---"};
    if (!c.warning.empty())
      qlog.push_back("(WARN ): [vovizi/N] " + c.warning.substr(0, c.warning.size() - 1));
    EXPECT_EQ(Qlog(dir.path()), qlog);

    std::string log = e2e::ReadFile(dir / "out.log");
    EXPECT_TRUE(HeaderIsWellFormed(Header(log), static_cast<long>(records))) << Header(log);
    EXPECT_EQ(Body(log), ExpectedBody(vars));
    if (!c.literalBody.empty()) {
      EXPECT_EQ(Body(log), c.literalBody);
    }
  }
}

TEST_F(Unpack, UsageAndExtraArguments) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{}, {"in.mat"}}) {
    e2e::TempDir dir;
    e2e::Result r = Unpack_(dir.path(), args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string(kBanner) +
                         "Usage: traceunpack <matfile> <logfile>\n"
                         "Converts Matlab (v5+) files to Vantor log (ASCII) files.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));  // not even QLOG.txt
  }
  e2e::TempDir dir;
  MakeMat(dir, "V.append(('x', np.array([[1.0, 2]])))\n");
  e2e::Result r = Unpack_(dir.path(), {"in.mat", "out.log", "third", "fourth"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(kBanner) + "1x2 (=2)\n");
  EXPECT_EQ(Body(e2e::ReadFile(dir / "out.log")), "x\n1\n2\n");
  EXPECT_FALSE(e2e::Exists(dir / "third"));
}

// Runs a shell prefix that makes a plain user of root, so that permission
// checks bite; empty when the tests already run as a plain user.
std::string AsPlainUser() {
  if (::geteuid() != 0) return "";
  return "setpriv --reuid=65534 --regid=65534 --clear-groups";
}

TEST_F(Unpack, FailuresLeaveAnExistingLogUntouched) {
  const std::string old = "# an older log\nx\n1\n";
  struct Case {
    const char* what;
    std::string setup;    // shell run in the directory first ("" for none)
    std::string mat;      // the MAT-file argument
    std::string target;   // the log argument
    std::string env;      // shell prefix of the run
    std::string err;      // expected standard error
    bool plainUser;
    const char* linuxOnly = nullptr;  // why the case can't run on Windows
  };
  std::vector<Case> cases = {
      // A warning as the first message writes the start marker to QLOG.txt
      // only; progress text first (QPrintf) shows it on the console too.
      {"MAT-file missing", "", "missing.mat", "out.log", "",
       "LogFile:ImportMat(); can't open Matlab file\nExport Vantor log file.\n"
       "LogFile:ExportLog(); nothing imported, 'out.log' left unchanged\n",
       false},
      {"MAT-file that is not one", "printf 'MATLAB 5.0 but not really' > bad.mat", "bad.mat",
       "out.log", "",
       "LogFile:ImportMat(); can't open Matlab file\nExport Vantor log file.\n"
       "LogFile:ExportLog(); nothing imported, 'out.log' left unchanged\n",
       false},
      // Damage before the first variable leaves nothing to write: the old
      // log stays, as with no MAT-file at all.
      {"MAT-file damaged before its first variable", "head -c 300 in.mat > cut.mat", "cut.mat",
       "out.log", "",
       "matGetNextVariable(); 'cut.mat' damaged at byte 128 (variable 1): an element claims "
       "2400048 bytes, only 164 are left in the file\nExport Vantor log file.\n"
       "LogFile:ExportLog(); nothing imported, 'out.log' left unchanged\n",
       false},
      {"target directory missing", "", "in.mat", "nodir/out.log", "",
       std::string(kStart) + "Array x has 2 dimensions: Export Vantor log file.\n"
       "LogFile:ExportLog(); can't open nodir/out.log for writing.\n",
       false},
      {"disk full", "", "in.mat", "out.log", "trap '' XFSZ; ulimit -f 256;",
       std::string(kStart) + "Array x has 2 dimensions: Export Vantor log file.\n"
       "LogFile:ExportLog(); can't write out.log (File too large), the file was left as it was\n",
       false, "a full disk is made by a file size limit (setrlimit)"},
      {"target not writable", "chmod 0444 out.log", "in.mat", "out.log", AsPlainUser(),
       std::string(kStart) + "Array x has 2 dimensions: Export Vantor log file.\n"
       "LogFile:ExportLog(); can't open out.log for writing.\n",
       true},
      {"directory of the target not writable", "mkdir ro && cp out.log ro/ && chmod 0555 ro",
       "in.mat", "ro/out.log", AsPlainUser(),
       std::string(kStart) + "Array x has 2 dimensions: Export Vantor log file.\n"
       "LogFile:ExportLog(); can't open ro/out.log for writing.\n",
       true, "wine takes no notice of a directory's mode bits"},
  };
#ifdef NO_HDF5_DIR
  // The HDF5 library is loaded only for a 7.3 file; one without its entry
  // points is named, not followed.
  cases.push_back({"HDF5 library without its entry points",
                   "cp " + e2e::Quote(TRACE_SOURCE_DIR "/fuzz/corpus/mat73/v73.mat") + " .",
                   "v73.mat", "out.log", "LD_LIBRARY_PATH=" + e2e::Quote(NO_HDF5_DIR),
                   "matOpen(); can't read 'v73.mat': no HDF5 library (an entry point is missing: "
                   "H5open)\nLogFile:ImportMat(); can't open Matlab file\nExport Vantor log file.\n"
                   "LogFile:ExportLog(); nothing imported, 'out.log' left unchanged\n",
                   false, "the HDF5 stand-in is found by LD_LIBRARY_PATH"});
#endif
  int skipped = 0;
  for (Case c : cases) {
    SCOPED_TRACE(c.what);
    if (e2e::OnWindows()) {
      if (c.linuxOnly) {
        ++skipped;
        continue;
      }
      // Windows refuses to write a read-only file to anyone, so the plain
      // user (a Linux means) is not needed there.
      c.env = "";
    }
    e2e::TempDir dir;
    // 300000 values make a log far beyond the 128 KiB that "ulimit -f 256" allows.
    MakeMat(dir, "V.append(('x', np.linspace(0, 1, 300000).reshape(300000, 1)))\n");
    e2e::WriteFile(dir / "out.log", old);
    if (c.plainUser) ::chmod(dir.path().c_str(), 0777);  // the plain user keeps QLOG.txt here
    if (!c.setup.empty()) {
      std::string cmd = "cd " + e2e::Quote(dir.path()) + " && " + c.setup;
      ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    std::string target = dir / c.target;
    std::string before = e2e::ReadFile(target);

    e2e::Result r = Unpack_(dir.path(), {c.mat, c.target}, c.env);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(e2e::ReadFile(target), before);
    // Nothing else left beside the target: no temporary file survives.
    std::vector<std::string> names;
    std::string folder = std::filesystem::path(target).parent_path();
    if (std::filesystem::is_directory(folder))
      for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename());
    for (const std::string& n : names)
      EXPECT_TRUE(n == "out.log" || n == "QLOG.txt" || n == "in.mat" || n == "bad.mat" || n == "cut.mat" ||
                  n == "expect.txt" || n == "ro" || n == "v73.mat")
          << n;
    std::vector<std::string> qlog = Qlog(dir.path());
    ASSERT_FALSE(qlog.empty());
    EXPECT_EQ(qlog.back().substr(0, 20), "(WARN ): [vovizi/N] ");
    std::error_code ec;
    std::filesystem::permissions(dir / "ro", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  if (skipped) GTEST_SKIP() << skipped << " cases need Linux means (file size limit, directory modes, LD_LIBRARY_PATH)";
}

}  // namespace
