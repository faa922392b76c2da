#include "msg/qlog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/file_io.h"
#include "platform/process.h"
#include "unit_util.h"

namespace {

// QLOG.txt lines without their time stamps.
std::vector<std::string> Entries(const std::string& path) {
  std::vector<std::string> out;
  std::istringstream in(unit::Slurp(path));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t p = line.find(" (");
    out.push_back(p == std::string::npos ? line : line.substr(p + 1));
  }
  return out;
}

std::string Tag(const char* level) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "(%-5s): [vovizi/%d] ", level, platform::ProcessId());
  return buf;
}

}  // namespace

TEST(QLog, SinksOfEachRoutine) {
  unit::ScopedTempCwd cwd;
  QPrintf("warm up\n");  // the start marker is per process; get it out of the way
  std::filesystem::remove("QLOG.txt");
  testing::internal::CaptureStderr();
  QPrintf("progress %d\n", 1);
  QInfo("info %s", "x");
  QWarning("warn\n\n");
  QError("error");
  QLogMessage(0x41, "both");
  QLogMessage(0x100, "%s", "");
  QLogMessage(0x100, "glued");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "progress 1\ninfo x\nwarn\n\nboth\n");
  auto lines = Entries(cwd / "QLOG.txt");
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], Tag("INFO") + "info x");
  EXPECT_EQ(lines[1], Tag("WARN") + "warn");
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(lines[3], Tag("ERR") + "error");
  EXPECT_EQ(lines[4], Tag("ERR") + "both");  // 0x041: ERR wins over FATAL
  // An empty text gets no line end: the next QLOG line continues it.
  EXPECT_EQ(lines[5].substr(0, Tag("?").size()), Tag("?"));
  EXPECT_EQ(lines[5].substr(lines[5].size() - Tag("?").size() - 5), Tag("?") + "glued");
}

TEST(QLog, TimeStampFormat) {
  unit::ScopedTempCwd cwd;
  QInfo("stamp");
  std::string qlog = unit::Slurp(cwd / "QLOG.txt");
  // "Mon Dec 04 14:44:15 (INFO ): ..."
  ASSERT_GE(qlog.size(), 20u);
  EXPECT_EQ(qlog[3], ' ');
  EXPECT_EQ(qlog[7], ' ');
  EXPECT_EQ(qlog[10], ' ');
  EXPECT_EQ(qlog[13], ':');
  EXPECT_EQ(qlog.substr(19, 8), " (INFO )");
  // A text file with the platform's own line ends.
  EXPECT_EQ(qlog.substr(qlog.size() - 3), platform::kTextFilesUseCRLF ? "p\r\n" : "mp\n");
}

TEST(QLog, RotatesPastTenMillionBytes) {
  unit::ScopedTempCwd cwd;
  QPrintf("%s", "");  // the start marker, if this process has not given it yet
  unit::Spit(cwd / "QLOG_OLD.txt", "older\n");
  unit::Spit(cwd / "QLOG.txt", std::string(10000000, 'x'));
  QInfo("at the limit");
  EXPECT_GT(unit::Slurp(cwd / "QLOG.txt").size(), 10000000u);
  EXPECT_TRUE(unit::Slurp(cwd / "QLOG_OLD.txt") == "older\n");
  QInfo("past the limit");
  EXPECT_EQ(Entries(cwd / "QLOG.txt"), std::vector<std::string>{Tag("INFO") + "past the limit"});
  EXPECT_GT(unit::Slurp(cwd / "QLOG_OLD.txt").size(), 10000000u);
}

TEST(QLog, UnopenableLogReportsOnTheConsole) {
  unit::ScopedTempCwd cwd;
  QPrintf("%s", "");  // the start marker, if this process has not given it yet
  // A directory in the log's place cannot be opened for writing, even by root.
  std::filesystem::remove(cwd / "QLOG.txt");
  std::filesystem::create_directory(cwd / "QLOG.txt");
  testing::internal::CaptureStderr();
  QError("lost");
  QPrintf("still here\n");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "** [vovizi/" + std::to_string(platform::ProcessId()) +
                     "] Can't open log file (QLOG)\nstill here\n");
}

TEST(QLog, OverlongTextsAreCutNotOverrun) {
  unit::ScopedTempCwd cwd;
  std::string huge(50000, 'h');
  testing::internal::CaptureStderr();
  QWarning("%s", huge.c_str());
  QPrintf("%s", huge.c_str());
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.size(), 10239u + 10239u);
  EXPECT_EQ(err[10238], '\n');
  auto lines = Entries(cwd / "QLOG.txt");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().size(), Tag("WARN").size() + 10238u);
}
