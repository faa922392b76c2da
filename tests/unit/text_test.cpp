#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "msg/qclock.h"
#include "msg/qexpand.h"
#include "platform/process.h"
#include "unit_util.h"

TEST(QExpandFilename, VolumesDriveLettersAndLimits) {
  unit::ScopedTempCwd cwd;  // an over-long name logs an error to QLOG.txt
  const std::string dir = "/dev/src/tv/ironleaf/ov_lund/exec";
  struct Case {
    std::string in;
    bool expanded;
    std::string out;
  } cases[] = {
      {"run.txt", false, ""},
      {"C:/data/run.txt", false, ""},
      {":run.txt", false, ""},
      {"orbitvale:run.txt", false, ""},
      {"ORBITVALEX:run.txt", false, ""},
      {"ORBITVALE:run.txt", true, dir + "/run.txt"},
      {"ORBITVALE:", true, dir + "/"},
      {"ORBITVALE:a:b", true, dir + "/a:b"},
      {"ORBITVALE:/a.txt", true, dir + "//a.txt"},
      {std::string(1024, 'n'), false, ""},
      {std::string(1025, 'n'), false, ""},
      // Would not fit the 1024-character buffer: kept as it is.
      {"ORBITVALE:" + std::string(1000, 'r'), false, ""},
  };
  for (const Case& c : cases) {
    const char* result = QExpandFilename(c.in.c_str());
    if (c.expanded) {
      EXPECT_NE(result, c.in.c_str()) << c.in;
      EXPECT_EQ(std::string(result), c.out);
    } else {
      EXPECT_EQ(result, c.in.c_str()) << c.in.substr(0, 40);
    }
  }
  std::string qlog = unit::Slurp(cwd / "QLOG.txt");
  EXPECT_NE(qlog.find("(ERR  ): "), std::string::npos);
  EXPECT_NE(qlog.find("QExpandFilename() called on string with length>256"), std::string::npos);
  EXPECT_NE(qlog.find("name kept"), std::string::npos);
}

TEST(QExpandFilename, ResultLivesInOneSharedBuffer) {
  char* first = QExpandFilename("ORBITVALE:one");
  char* second = QExpandFilename("ORBITVALE:two");
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "/dev/src/tv/ironleaf/ov_lund/exec/two");
}

TEST(QClock, DefaultFormatsAndSeparateBuffers) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  platform::LocalTime(now, &local);
  char expect[40];
  std::strftime(expect, sizeof expect, "%d-%m-%Y", &local);
  const char* date = QCurrentDate(nullptr);
  const char* time = QCurrentTime(nullptr);
  EXPECT_NE(date, time);
  EXPECT_STREQ(date, expect);
  EXPECT_EQ(std::string(time).size(), 8u);
  EXPECT_EQ(time[2], ':');
  EXPECT_EQ(std::string(QCurrentDate("%d-%m-%y")).size(), 8u);
  // A result longer than 39 characters leaves the buffer empty, not garbage.
  EXPECT_STREQ(QCurrentDate("%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y"), "");
}
