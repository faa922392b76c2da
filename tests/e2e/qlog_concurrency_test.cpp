// Eight conversions at once in one directory, all logging into QLOG.txt
// while it passes its rotation size: every line must arrive whole, once,
// either in QLOG.txt or in QLOG_OLD.txt, and the lines of the log that was
// rotated away must all be in QLOG_OLD.txt.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <sstream>
#include <string>

#include "e2e/e2e_util.h"

#ifndef TRACEUNPACK_BIN
#define TRACEUNPACK_BIN ""
#endif

namespace {

// Rotation happens once a message finds QLOG.txt beyond this size.
constexpr long kRotateSize = 10000000;

// What a whole line of one of the runs says ("start", "cells", "missing"),
// or "" for anything else. Digits are compared as '#'.
std::string Kind(std::string line) {
  for (char& c : line)
    if (c >= '0' && c <= '9') c = '#';
  const std::string stamp = "AAA AAA ## ##:##:## (";
  if (line.size() < stamp.size()) return "";
  for (size_t k = 0; k < stamp.size(); ++k)
    if (stamp[k] == 'A' ? !std::isalpha(static_cast<unsigned char>(line[k])) : line[k] != stamp[k])
      return "";
  line = line.substr(stamp.size());
  size_t tag = line.find("] ");
  if (tag == std::string::npos) return "";
  std::string who = line.substr(0, tag + 2), text = line.substr(tag + 2);
  if (who.find_first_not_of('#', 16) != who.size() - 2) return "";
  if (who.rfind("INFO ): [vovizi/", 0) == 0)
    return text == "--- application start ---" ? "start" : "";
  if (who.rfind("WARN ): [vovizi/", 0) != 0) return "";
  if (text == "matGetNextVariable(); 'cells.mat': variable 'c##' holds no numbers (cell "
              "array); read as # NaN")
    return "cells";
  if (text == "QDLMFile ctor: can't open 'missing.log'" ||
      text == "LogFile:ExportMat(); nothing imported, 'out#.mat' left unchanged")
    return "missing";
  return "";
}

TEST(QlogConcurrency, LinesStayWholeAndNoneIsLostAcrossARotation) {
  if (std::string(TRACEUNPACK_BIN).empty()) GTEST_SKIP() << "traceunpack not built";
  e2e::TempDir dir;
  // 100 cell arrays: each traceunpack run logs 100 warnings.
  e2e::Result py = e2e::Python(dir.path(), R"(
import numpy as np, scipy.io as sio
sio.savemat('cells.mat', {('c%02d' % k): np.array([[1.0, 2.0]], dtype=object) for k in range(100)})
)");
  ASSERT_EQ(py.status, 0) << py.err;

  const std::string filler = std::string(89, 'f') + " filler\n";
  const long fillerLines = (kRotateSize - 30000) / static_cast<long>(filler.size());
  std::string prefill;
  prefill.reserve(static_cast<size_t>(fillerLines) * filler.size());
  for (long i = 0; i < fillerLines; ++i) prefill += filler;

  // Several rounds, each from a log just below the rotation size: the races
  // around a rotation do not show every time.
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    e2e::WriteFile(dir / "QLOG.txt", prefill);
    e2e::WriteFile(dir / "QLOG_OLD.txt", "older\n");
    std::string script;
    for (int k = 0; k < 4; ++k) {
      std::string n = std::to_string(k);
      script += e2e::Command(TRACEUNPACK_BIN) + " cells.mat out" + n + ".log >/dev/null 2>&1 & " +
                e2e::Command(TRACEPACK_BIN) + " missing.log out" + n + ".mat >/dev/null 2>&1 & ";
    }
    e2e::Result r = e2e::Run(dir.path(), "/bin/sh", {"-c", script + "wait"});
    ASSERT_EQ(r.status, 0);

    std::map<std::string, int> kinds;
    long fillers = 0, bad = 0;
    for (const char* name : {"QLOG.txt", "QLOG_OLD.txt"}) {
      std::istringstream in(e2e::ReadQlog(dir / name));
      for (std::string l; std::getline(in, l);) {
        if (l + "\n" == filler) {
          ++fillers;
        } else if (std::string kind = Kind(l); !kind.empty()) {
          ++kinds[kind];
        } else if (l != "older" && ++bad <= 5) {
          ADD_FAILURE() << name << ": broken line '" << l << "'";
        }
      }
    }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(fillers, fillerLines);
    // 8 start markers, 400 cell warnings, 4 x 2 warnings of the tracepack runs.
    EXPECT_EQ(kinds, (std::map<std::string, int>{{"start", 8}, {"cells", 400}, {"missing", 8}}));
    EXPECT_LT(e2e::ReadFile(dir / "QLOG.txt").size(), 100000u);  // it did rotate
  }
}

}  // namespace
