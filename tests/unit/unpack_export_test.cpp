// LogFile::ExportLog on tables built by hand: the exact bytes against a
// reference written value by value with fprintf, and the failure paths that
// must leave an existing log exactly as it was.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "logtable/logfile.h"
#include "unit/unit_util.h"

namespace {

// A table as ImportMat leaves it: imported, every column recordCount long.
void Fill(LogFile& t, const std::vector<std::string>& names,
          const std::vector<std::vector<double>>& columns) {
  t.fieldCount = static_cast<int>(names.size());
  t.recordCount = columns.empty() ? 0 : static_cast<int>(columns[0].size());
  for (size_t j = 0; j < names.size(); ++j) {
    t.names[j].Assign(names[j].c_str());
    t.columns[j] = static_cast<double*>(std::malloc((columns[j].size() + 1) * sizeof(double)));
    std::copy(columns[j].begin(), columns[j].end(), t.columns[j]);
  }
  t.imported = true;
}

// What the log's rules say, written the slow way: one fprintf per item.
std::string Reference(const std::vector<std::string>& names,
                      const std::vector<std::vector<double>>& columns) {
  std::string text;
  for (size_t j = 0; j < names.size(); ++j) text += (j ? " " : "") + names[j];
  text += "\n";
  size_t records = columns.empty() ? 0 : columns[0].size();
  char value[64];
  for (size_t i = 0; i < records; ++i) {
    for (size_t j = 0; j < columns.size(); ++j) {
      std::snprintf(value, sizeof value, "%g", columns[j][i]);
#if defined(_WIN32)
      // mingw's printf drops the sign of a NaN, which the log's rules keep.
      if (std::isnan(columns[j][i]) && std::signbit(columns[j][i])) std::snprintf(value, sizeof value, "-nan");
#endif
      text += (j ? " " : "") + std::string(value);
    }
    text += "\n";
  }
  return text;
}

// Splits off the header line and checks its form and sample count.
std::string Body(const std::string& log, int samples) {
  size_t end = log.find('\n');
  EXPECT_NE(end, std::string::npos);
  std::string header = log.substr(0, end + 1);
  // "dd-mm-yyyy, hh:mm:ss" with every d, m, y, h and s a digit.
  std::string form = "# Log file written by traceunpack on dd-dd-dddd, dd:dd:dd (" +
                     std::to_string(samples) + " samples)\n";
  bool matches = header.size() == form.size();
  for (size_t k = 0; matches && k < form.size(); ++k)
    matches = form[k] == 'd' ? std::isdigit(static_cast<unsigned char>(header[k]))
                            : header[k] == form[k];
  EXPECT_TRUE(matches) << header;
  return end == std::string::npos ? log : log.substr(end + 1);
}

bool QlogHas(const std::string& dir, const std::string& text) {
  return unit::Slurp(dir + "/QLOG.txt").find(text) != std::string::npos;
}

bool OnlyFilesAre(const std::string& dir, std::vector<std::string> expected) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    found.push_back(entry.path().filename().string());
  std::sort(found.begin(), found.end());
  std::sort(expected.begin(), expected.end());
  return found == expected;
}

TEST(UnpackExport, WritesTheBytesOfTheLogRules) {
  struct Case {
    const char* what;
    std::vector<std::string> names;
    std::vector<std::vector<double>> columns;
  };
  std::mt19937_64 rng(5);
  std::vector<double> mixed(20000);
  for (double& v : mixed) {
    uint64_t bits = rng();
    std::memcpy(&v, &bits, sizeof v);
  }
  std::vector<double> stress = {3.14159265, 1234567, 0.5, 2, -0.000123, 1e-300,
                                1e300, NAN, INFINITY, -0.0, -INFINITY, -NAN};
  // Enough rows of 100 fields to span several blocks, so that the blocks
  // formatted on two threads must come out in order.
  std::vector<std::string> hundredNames;
  std::vector<std::vector<double>> hundred;
  for (int j = 0; j < 100; ++j) {
    hundredNames.push_back("f" + std::to_string(j));
    std::vector<double> column(9000);
    for (double& v : column) v = std::ldexp(static_cast<double>(rng() >> 20), -(j % 40));
    hundred.push_back(column);
  }
  std::vector<Case> cases = {
      {"two fields, three samples", {"time", "speed"}, {{0, 0.5, 1}, {10, 12.25, -3}}},
      {"no fields", {}, {}},
      {"one field", {"x"}, {{1, 2, 3}}},
      {"fields without samples", {"a", "b"}, {{}, {}}},
      {"values that stress %g", {"v"}, {stress}},
      {"random bit patterns", {"bits"}, {mixed}},
      {"names kept as given", {"with space", "", "tab\there"}, {{1}, {2}, {3}}},
      {"100 fields over several blocks", hundredNames, hundred},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    unit::ScopedTempCwd cwd;
    LogFile table;
    Fill(table, c.names, c.columns);
    table.ExportLog("out.log");
    std::string log = unit::Slurp(cwd / "out.log");
    EXPECT_EQ(Body(log, table.recordCount), Reference(c.names, c.columns));
    EXPECT_TRUE(OnlyFilesAre(cwd.path(), {"out.log"}));  // no temporary left
  }
}

#if !defined(_WIN32)
// Runs the export of a large table in a child whose file size limit is
// tiny, as a full disk would stop it.
void ExportInChildWithSizeLimit(const std::string& target, rlim_t limit) {
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &rl);
    LogFile table;
    std::vector<double> values(200000, 1.5);
    Fill(table, {"a", "b"}, {values, values});
    table.ExportLog(target.c_str());
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
#endif

TEST(UnpackExport, FailuresLeaveTheOldLogAsItWas) {
  const std::string old = "# old log\nkeep me\n1 2\n";

#if !defined(_WIN32)  // Windows has no fork nor file size limit to stand in for a full disk.
  {
    SCOPED_TRACE("file size limit reached mid-way (a full disk)");
    unit::ScopedTempCwd cwd;
    unit::Spit(cwd / "out.log", old);
    ExportInChildWithSizeLimit("out.log", 64 * 1024);
    EXPECT_EQ(unit::Slurp(cwd / "out.log"), old);
    EXPECT_TRUE(QlogHas(cwd.path(), "LogFile:ExportLog(); can't write out.log"));
    EXPECT_TRUE(OnlyFilesAre(cwd.path(), {"out.log", "QLOG.txt"}));
  }
#endif
  {
    SCOPED_TRACE("directory missing");
    unit::ScopedTempCwd cwd;
    LogFile table;
    Fill(table, {"a"}, {{1}});
    table.ExportLog("missing/out.log");
    EXPECT_TRUE(QlogHas(cwd.path(), "LogFile:ExportLog(); can't open missing/out.log for writing."));
    EXPECT_TRUE(OnlyFilesAre(cwd.path(), {"QLOG.txt"}));
  }
  {
    SCOPED_TRACE("target is a directory");
    unit::ScopedTempCwd cwd;
    std::filesystem::create_directory(cwd / "out.log");
    LogFile table;
    Fill(table, {"a"}, {{1}});
    table.ExportLog("out.log");
    EXPECT_TRUE(QlogHas(cwd.path(), "LogFile:ExportLog(); can't open out.log for writing."));
    EXPECT_TRUE(std::filesystem::is_directory(cwd / "out.log"));
  }
  {
    SCOPED_TRACE("nothing imported");
    unit::ScopedTempCwd cwd;
    unit::Spit(cwd / "out.log", old);
    LogFile table;
    table.ExportLog("out.log");
    EXPECT_EQ(unit::Slurp(cwd / "out.log"), old);
    EXPECT_TRUE(QlogHas(cwd.path(), "LogFile:ExportLog(); nothing imported, 'out.log' left unchanged"));
  }
}

TEST(UnpackExport, WritesThroughLinksAndIntoPipes) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows links want a privilege and the library does not follow them; no FIFOs";
#else
  unit::ScopedTempCwd cwd;
  LogFile table;
  Fill(table, {"a", "b"}, {{1, 2}, {0.25, -1e-7}});
  const std::string body = "a b\n1 0.25\n2 -1e-07\n";

  // A link keeps pointing where it did; the file it names gets the log.
  std::filesystem::create_directory(cwd / "real");
  unit::Spit(cwd / "real/target.log", "old\n");
  std::filesystem::create_symlink("real/target.log", cwd / "link.log");
  table.ExportLog("link.log");
  EXPECT_TRUE(std::filesystem::is_symlink(cwd / "link.log"));
  EXPECT_EQ(Body(unit::Slurp(cwd / "real/target.log"), 2), body);

  // A pipe cannot be renamed over: it is written in place and stays a pipe.
  ASSERT_EQ(::mkfifo((cwd / "pipe").c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = unit::Slurp(cwd / "pipe"); });
  table.ExportLog("pipe");
  reader.join();
  EXPECT_EQ(Body(received, 2), body);
  struct stat st;
  ASSERT_EQ(::stat((cwd / "pipe").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
#endif
}

}  // namespace
