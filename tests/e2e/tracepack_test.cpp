// tracepack run as a user runs it: in a fresh directory, checking standard
// output, standard error, QLOG.txt and the MAT-file (read back by scipy).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "e2e/e2e_util.h"

namespace {

const std::string kBanner = "Tracepack 1.0\n";

// The variables of a MAT-file as scipy sees them: "name shape v1 v2 ...",
// one line each, values with repr() (exact).
std::string ScipyDump(const e2e::TempDir& dir, const std::string& mat) {
  e2e::Result r = e2e::Python(dir.path(), R"(
import scipy.io, sys
m = scipy.io.loadmat(')" + mat + R"(')
# scipy files a variable without a name as '__function_workspace__'.
for k in [k for k in m if not k.startswith('__') or k == '__function_workspace__']:
    v = m[k]
    print('' if k == '__function_workspace__' else k, 'x'.join(map(str, v.shape)), ' '.join(repr(float(x)) for x in v.ravel()))
)");
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

std::string Messages(const std::string& body) {
  return "--- application start ---\n" + body;
}

}  // namespace

TEST(Tracepack, UsageWithTooFewArguments) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"run.log"}}) {
    e2e::TempDir dir;
    e2e::Result r = e2e::Run(dir.path(), TRACEPACK_BIN, args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kBanner + "Usage: tracepack <logfile> <matfile>\n"
                               "Converts Vantor log files to a single Matlab (v5+) file.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(e2e::Exists(dir / "QLOG.txt"));
  }
}

TEST(Tracepack, ConvertsAndReportsInOrder) {
  e2e::TempDir dir;
  e2e::WriteFile(dir / "run.log", "time speed\n0 10.5\n0.1 11\n0.2 11.5\n");
  e2e::Result r = e2e::Run(dir.path(), TRACEPACK_BIN, {"run.log", "run.mat", "ignored"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(r.err, Messages("QCSV: NoofRecs()=3\n3 records.\n2 fields\nField 0: time\n"
                            "Field 1: speed\nReading log file...\nExport material file.\n"));
  auto qlog = e2e::QlogEntries(dir.path());
  ASSERT_EQ(qlog.size(), 1u);
  EXPECT_NE(qlog[0].find("(INFO ): [vovizi/"), std::string::npos);
  EXPECT_NE(qlog[0].find("] --- application start ---"), std::string::npos);
  EXPECT_EQ(ScipyDump(dir, "run.mat"), "time 1x3 0.0 0.1 0.2\nspeed 1x3 10.5 11.0 11.5\n");
}

TEST(Tracepack, ReaderRulesReachTheMatFile) {
  e2e::TempDir dir;
  // A piece of exactly 10239 characters: "5", spaces, "6"; its line feed then
  // comes as a blank line of its own.
  std::string longLine = "5" + std::string(10237, ' ') + "6";
  e2e::WriteFile(dir / "odd.log",
                 "# header\r\n"
                 "  a b  c\r\n"         // leading run: empty field 0
                 "1 2 3 4 5\r\n"        // the fifth value is ignored
                 "# between\n"
                 "\n"                    // blank line: all zero
                 " 6   7x nonsense\n"    // short line, numeric prefix, garbage
                 "-1e3 0x10 inf -nan 1e999\n" +
                     longLine + "\n"
                     "9");                // last line without a line end
  e2e::Result r = e2e::Run(dir.path(), TRACEPACK_BIN, {"odd.log", "odd.mat"});
  EXPECT_EQ(r.err, Messages("QCSV: NoofRecs()=7\n7 records.\n4 fields\nField 0: \nField 1: a\n"
                            "Field 2: b\nField 3: c\nReading log file...\n"
                            "Export material file.\n"
                            "LogFile:ExportMat(); can't write variable '' (field 0 has no name)\n"));
  EXPECT_EQ(ScipyDump(dir, "odd.mat"),
            "a 1x7 2.0 0.0 6.0 16.0 6.0 0.0 0.0\n"
            "b 1x7 3.0 0.0 7.0 inf 0.0 0.0 0.0\n"
            "c 1x7 4.0 0.0 0.0 nan 0.0 0.0 0.0\n");
}

TEST(Tracepack, KeepsTheFirstHundredFields) {
  e2e::TempDir dir;
  std::string names, values;
  for (int i = 0; i < 103; ++i) {
    names += (i ? " f" : "f") + std::to_string(i);
    values += (i ? " " : "") + std::to_string(i);
  }
  e2e::WriteFile(dir / "wide.log", names + "\n" + values + "\n");
  e2e::Result r = e2e::Run(dir.path(), TRACEPACK_BIN, {"wide.log", "wide.mat"});
  EXPECT_NE(r.err.find("1 records.\n100 fields\n"
                       "LogFile:ImportLog(); 103 fields found, only the first 100 are kept\n"
                       "Field 0: f0\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Field 99: f99\nReading"), std::string::npos);
  std::string dump = ScipyDump(dir, "wide.mat");
  EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 100);
  EXPECT_NE(dump.find("f99 1x1 99.0\n"), std::string::npos);
}

TEST(Tracepack, EmptyAndHeaderOnlyLogs) {
  e2e::TempDir dir;
  e2e::WriteFile(dir / "names.log", "time speed\n");
  e2e::Result r = e2e::Run(dir.path(), TRACEPACK_BIN, {"names.log", "names.mat"});
  // A count of 0 is not remembered: the reader counts and reports twice.
  EXPECT_EQ(r.err, Messages("QCSV: NoofRecs()=0\nQCSV: NoofRecs()=0\n0 records.\n2 fields\n"
                            "Field 0: time\nField 1: speed\nReading log file...\n"
                            "Export material file.\n"));
  EXPECT_EQ(ScipyDump(dir, "names.mat"), "time 1x0 \nspeed 1x0 \n");
}

// A MAT-file variable needs a name: fields without one are left out with a
// warning, the others written. A byte-order mark is not part of the first name.
TEST(Tracepack, NamelessFieldsAreLeftOutAndAByteOrderMarkIsSkipped) {
  struct Case {
    const char* what;
    std::string log;
    std::string warnings;  // after "Export material file.\n"
    std::string variables;
  } cases[] = {
      {"spaces around the names", " a b \n1 2\n",
       "LogFile:ExportMat(); can't write variable '' (field 0 has no name)\n"
       "LogFile:ExportMat(); can't write variable '' (field 3 has no name)\n",
       "a 1x1 2.0\nb 1x1 0.0\n"},
      {"blank line before the names", "\ntime v\n1 2\n",
       "LogFile:ExportMat(); can't write variable '' (field 0 has no name)\n", ""},
      {"nothing but comments", "# one\n# two words\n",
       "LogFile:ExportMat(); can't write variable '' (field 0 has no name)\n", ""},
      {"byte-order mark", "\xEF\xBB\xBFtime v\n1 2\n", "", "time 1x1 1.0\nv 1x1 2.0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    e2e::TempDir dir;
    e2e::WriteFile(dir / "in.log", c.log);
    e2e::Result r = e2e::Run(dir.path(), TRACEPACK_BIN, {"in.log", "out.mat"});
    EXPECT_EQ(r.status, 0);
    size_t exported = r.err.find("Export material file.\n");
    ASSERT_NE(exported, std::string::npos) << r.err;
    EXPECT_EQ(r.err.substr(exported + 22), c.warnings);
    EXPECT_EQ(ScipyDump(dir, "out.mat"), c.variables);
  }
}

TEST(Tracepack, NamesMatlabCannotLoadAreWarnedOfAndWrittenAsTheyAre) {
  e2e::TempDir dir;
  const std::string longest(63, 'n'), tooLong = "x" + std::string(63, '1');
  e2e::WriteFile(dir / "in.log", "time 1abc a-b _x " + longest + " " + tooLong +
                                     " time a-b t_2 T_2 t_2\n1 2 3 4 5 6 7 8 9 10 11\n");
  e2e::Result r = e2e::Run(dir.path(), TRACEPACK_BIN, {"in.log", "out.mat"});
  EXPECT_EQ(r.status, 0);
  const std::string unloadable =
      "', which MATLAB cannot load (a name is a letter, then letters, digits and underscores, "
      "at most 63 characters)";
  const std::string warnings =
      "LogFile:ImportLog(); field 1 is named '1abc" + unloadable + "\n" +
      "LogFile:ImportLog(); field 2 is named 'a-b" + unloadable + "\n" +
      "LogFile:ImportLog(); field 3 is named '_x" + unloadable + "\n" +
      "LogFile:ImportLog(); field 5 is named '" + tooLong + unloadable + "\n" +
      "LogFile:ImportLog(); field 6 is named 'time' like field 0: the later one replaces the "
      "earlier one in MATLAB\n"
      "LogFile:ImportLog(); field 7 is named 'a-b" + unloadable + "\n" +
      "LogFile:ImportLog(); field 10 is named 't_2' like field 8: the later one replaces the "
      "earlier one in MATLAB\n";
  size_t after = r.err.find("Field 10: t_2\n");
  ASSERT_NE(after, std::string::npos) << r.err;
  EXPECT_EQ(r.err.substr(after + 14), warnings + "Reading log file...\nExport material file.\n");
  // The same warnings, in order, in QLOG.txt.
  std::string logged;
  for (const std::string& e : e2e::QlogEntries(dir.path()))
    if (e.find("(WARN ): ") != std::string::npos) logged += e.substr(e.find("] ") + 2) + "\n";
  EXPECT_EQ(logged, warnings);
  // Every field is written under its own name, in order.
  ASSERT_EQ(e2e::Run(dir.path(), TRACEUNPACK_BIN, {"out.mat", "back.log"}).status, 0);
  std::string back = e2e::ReadFile(dir / "back.log");
  EXPECT_NE(back.find("\ntime 1abc a-b _x " + longest + " " + tooLong + " time a-b t_2 T_2 t_2\n"),
            std::string::npos)
      << back;
}

TEST(Tracepack, MissingLogLeavesAnExistingMatFileAlone) {
  e2e::TempDir dir;
  e2e::WriteFile(dir / "run.mat", "precious");
  e2e::Result r = e2e::Run(dir.path(), TRACEPACK_BIN, {"nosuch.log", "run.mat"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(r.err, "QDLMFile ctor: can't open 'nosuch.log'\n"
                   "0 records.\n1 fields\nField 0: \nReading log file...\n"
                   "Export material file.\n"
                   "LogFile:ExportMat(); nothing imported, 'run.mat' left unchanged\n");
  EXPECT_EQ(e2e::ReadFile(dir / "run.mat"), "precious");
  auto qlog = e2e::QlogEntries(dir.path());
  ASSERT_EQ(qlog.size(), 3u);
  EXPECT_NE(qlog[0].find("(INFO ): "), std::string::npos);
  EXPECT_NE(qlog[1].find("(WARN ): "), std::string::npos);
  EXPECT_NE(qlog[1].find("QDLMFile ctor: can't open 'nosuch.log'"), std::string::npos);
}

TEST(Tracepack, PipeAsLogIsRefusedAndTheTargetKept) {
  if (e2e::OnWindows()) GTEST_SKIP() << "a FIFO is a Linux means";
  e2e::TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe.log").c_str(), 0644), 0);
  e2e::WriteFile(dir / "run.mat", "precious");
  e2e::Result r = e2e::Run(dir.path(), TRACEPACK_BIN, {"pipe.log", "run.mat"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "QDLMFile ctor: 'pipe.log' is not a regular file, can't read it\n"
                   "0 records.\n1 fields\nField 0: \nReading log file...\n"
                   "Export material file.\n"
                   "LogFile:ExportMat(); nothing imported, 'run.mat' left unchanged\n");
  EXPECT_EQ(e2e::ReadFile(dir / "run.mat"), "precious");
}

TEST(Tracepack, ReadOnlyLogConvertsAndExistingTargetIsReplaced) {
  e2e::TempDir dir;
  e2e::WriteFile(dir / "ro.log", "x\n1\n2\n");
  ::chmod((dir / "ro.log").c_str(), 0444);
  e2e::WriteFile(dir / "ro.mat", std::string(5000, 'z'));
  e2e::Result r = e2e::Run(dir.path(), TRACEPACK_BIN, {"ro.log", "ro.mat"});
  EXPECT_EQ(r.err.find("can't"), std::string::npos) << r.err;
  EXPECT_EQ(ScipyDump(dir, "ro.mat"), "x 1x2 1.0 2.0\n");
}

TEST(Tracepack, UnwritableTargetsKeepTheOldFile) {
  e2e::TempDir dir;
  e2e::WriteFile(dir / "run.log", "a b\n1 2\n");
  e2e::WriteFile(dir / "file", "not a directory");
  for (const std::string target : {"missing/run.mat", "file/run.mat"}) {
    e2e::Result r = e2e::Run(dir.path(), TRACEPACK_BIN, {"run.log", target});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Export material file.\nLogFile:ExportMat(); can't open Matlab file\n"),
              std::string::npos)
        << r.err;
  }
  if (e2e::OnWindows()) GTEST_SKIP() << "a full disk is made by a file size limit (setrlimit)";
  // A full disk, made by a file size limit: the old target survives whole and
  // no temporary file is left behind.
  std::string big = "v\n";
  for (int i = 0; i < 200000; ++i) big += std::to_string(i) + ".25\n";
  e2e::WriteFile(dir / "big.log", big);
  e2e::WriteFile(dir / "big.mat", "old contents");
  e2e::Result r = e2e::Run(dir.path(), TRACEPACK_BIN, {"big.log", "big.mat"},
                           "ulimit -f 200 && trap '' XFSZ &&");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("LogFile:ExportMat(); can't write variable 'v' (File too large)\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("LogFile:ExportMat(); can't complete 'big.mat' (File too large), the file was left as it "
                       "was\n"),
            std::string::npos);
  EXPECT_EQ(e2e::ReadFile(dir / "big.mat"), "old contents");
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 5);  // run.log file big.log big.mat QLOG.txt
}
