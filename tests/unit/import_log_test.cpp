// LogFile::ImportLog's fast value pass (split once, exact fast conversion,
// parallel ranges) against the plain reader: GetField and atof per field.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>

#include <sstream>
#include <vector>

#include "io/qdlmfile.h"
#include "text/qatof.h"
#include "logtable/logfile.h"
#include "mat/mat.h"
#include "msg/qlog.h"
#include "tracepack/import_log.h"
#include "tracepack/pack_log.h"
#include "unit/mat_test_util.h"
#include "unit_util.h"

namespace {

std::string MessyLog(int records, int fields, uint32_t seed) {
  std::mt19937 rng(seed);
  const char* odd[] = {"nan", "-inf", "0x1p-2", "7x",  "",      "1e999",   "-0",    ".5",
                       "abc", "1\r2",  "+5",     "1\t2", "-.5e-3", "1e+100", "3", "0"};
  std::string log = "# head\n";
  for (int j = 0; j < fields; ++j) log += (j ? " c" : "c") + std::to_string(j);
  log += "\r\n";
  char buf[64];
  for (int r = 0; r < records; ++r) {
    if (rng() % 997 == 0) log += "# comment " + std::to_string(r) + "\n";
    if (rng() % 4999 == 0) log += std::string(12000, '8') + " 1\n";  // two pieces
    int n = static_cast<int>(rng() % 50 == 0 ? rng() % (fields + 3) : fields);
    for (int j = 0; j < n; ++j) {
      if (j || rng() % 100 == 0) log += rng() % 20 ? " " : "   ";
      if (rng() % 40 == 0) {
        log += odd[rng() % (sizeof odd / sizeof *odd)];
      } else {
        std::snprintf(buf, sizeof buf, rng() % 2 ? "%g" : "%.17g",
                      (static_cast<double>(rng()) - 2e9) * std::pow(10.0, static_cast<int>(rng() % 40) - 20));
        log += buf;
      }
    }
    log += rng() % 3 ? "\n" : "\r\n";
  }
  return log;
}

// The value the plain reader expects of a field: atof's. Windows' C runtime
// parts from glibc on the odd spellings (nan, inf, hexadecimal, "-nan"'s
// sign), so there only plain decimals, where both round correctly, ask it;
// the odd ones are QAtof's, whose glibc values qatof_test pins, and this test
// still shows that each of them lands in its record and column.
double FieldValue(const char* field) {
#if defined(_WIN32)
  const char* p = field + (*field == '-' || *field == '+');
  for (; *p; ++p)
    if (!(*p >= '0' && *p <= '9') && *p != '.' && *p != 'e' && *p != 'E' && *p != '-' &&
        *p != '+')
      return QAtof(field, std::strlen(field));
#endif
  return std::atof(field);
}

// Every variable of a MAT-file as one string: its name, its dimensions and
// the bytes of its values.
std::vector<std::string> Variables(const std::string& path) {
  std::vector<std::string> vars;
  MATFile* f = matOpen(path.c_str(), "r");
  if (!f) return vars;
  const char* name = nullptr;
  while (mxArray* a = matGetNextVariable(f, &name)) {
    const mwSize* dims = mxGetDimensions(a);
    std::string v = std::string(name) + " " + std::to_string(dims[0]) + "x" + std::to_string(dims[1]) + " ";
    v.append(reinterpret_cast<const char*>(mxGetPr(a)), mxGetNumberOfElements(a) * sizeof(double));
    vars.push_back(v);
    mxDestroyArray(a);
  }
  matClose(f);
  return vars;
}

// The lines of the converters' own messages, "LogFile:...".
std::string TableMessages(const std::string& err) {
  std::istringstream in(err);
  std::string line, out;
  while (std::getline(in, line))
    if (line.rfind("LogFile:", 0) == 0) out += line + "\n";
  return out;
}

}  // namespace

TEST(ImportLog, FastPassEqualsFieldByFieldAtof) {
  unit::ScopedTempCwd cwd;
  const int fields = 7;
  // Enough records for several parallel ranges, with ragged and odd lines.
  unit::Spit(cwd / "m.log", MessyLog(100000, fields, 42));
  testing::internal::CaptureStderr();
  LogFile table;
  table.ImportLog("m.log");
  QDLMFile reader("m.log");
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(table.fieldCount, fields);
  // The count (made in parts, one per core, on a log this size) against a
  // plain walk over the lines.
  int lines = 0;
  while (reader.NextLine()) ++lines;
  ASSERT_EQ(table.recordCount, lines - 1);
  reader.Rewind();
  reader.NextLine();
  char field[QDLMFile::kLineBufferSize];
  int mismatches = 0;
  for (int r = 0; r < table.recordCount; ++r) {
    reader.NextLine();
    for (int j = 0; j < fields; ++j) {
      reader.GetField(j, field, sizeof field);
      double expect = FieldValue(field);
      if (std::memcmp(&expect, &table.columns[j][r], sizeof expect) != 0 && ++mismatches < 5)
        ADD_FAILURE() << "record " << r << " field " << j << " '" << field << "'";
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// tracepack writes the rows straight into the laid-out MAT-file where it
// can; the file must be the one the table would have given, byte for byte
// after the header text.
TEST(ImportLog, WritingStraightIntoTheMatFileGivesTheTablesFile) {
  unit::ScopedTempCwd cwd;
  // Enough records for several blocks a thread, on up to 8 cores.
  unit::Spit(cwd / "m.log", MessyLog(320000, 5, 7));
  testing::internal::CaptureStderr();
  {
    LogFile table;
    table.ImportLog("m.log");
    table.ExportMat("table.mat");
  }
  PackLog("m.log", "streamed.mat");
  std::string log = testing::internal::GetCapturedStderr();
  std::string expect = unit::Slurp(cwd / "table.mat");
  std::string got = unit::Slurp(cwd / "streamed.mat");
  ASSERT_EQ(got.size(), expect.size());
  EXPECT_TRUE(got.compare(116, std::string::npos, expect, 116, std::string::npos) == 0);
  EXPECT_EQ(log.find("LogFile:"), std::string::npos) << log;
}

// A log cut short after its records were counted is a read error, never
// records of zeros.
TEST(ImportLog, LogCutShortAfterTheCountIsAReadError) {
  unit::ScopedTempCwd cwd;
  std::string log = "a b\n";
  for (int i = 0; i < 100000; ++i) log += std::to_string(i) + " 1.5\n";
  unit::Spit(cwd / "cut.log", log);
  testing::internal::CaptureStderr();
  LogFile table;
  QDLMFile reader("cut.log");
  uint32_t records = ReadLogHeader(reader, table);
  std::error_code cut;
  std::filesystem::resize_file(cwd / "cut.log", log.size() / 2, cut);
  std::optional<QProgress> progress;
  if (!cut) ReadIntoColumns(reader, records, "cut.log", table, progress);
  std::string said = testing::internal::GetCapturedStderr();
  if (cut) GTEST_SKIP() << "the system does not cut short a file open for reading";
  EXPECT_FALSE(table.imported);
  EXPECT_NE(said.find("can't read 'cut.log'"), std::string::npos) << said;
}

// Fields too long for level 5 go straight into a 7.3 file, which must hold
// the table's columns, with the table's messages. A name 7.3 cannot hold (a
// repeated one, one with a '/') leaves the rows to the table, which writes
// the other fields and warns about those.
TEST(ImportLog, WritingStraightIntoA73FileGivesTheTablesVariables) {
  if (mattest::NoHdf5()) GTEST_SKIP() << "no HDF5 library for 7.3 files";
  unit::ScopedTempCwd cwd;
  std::string messy = MessyLog(40000, 5, 7);
  struct Case {
    std::string log;
    std::vector<int> written;  // the fields the file holds
    size_t messages;
  } cases[] = {
      {messy, {0, 1, 2, 3, 4}, 1},
      // Two warnings about the names, the 7.3 notice, two fields refused.
      {"t t a/b u v\n" + messy.substr(messy.find("\r\n") + 2), {0, 3, 4}, 5},
  };
  QPrintf("%s", "");  // the start marker, if this process has not given it yet
  for (const Case& c : cases) {
    unit::Spit(cwd / "m.log", c.log);
    matSetV5LimitForTesting(1000 * sizeof(double));
    testing::internal::CaptureStderr();
    std::vector<std::string> columns;
    {
      LogFile table;
      table.ImportLog("m.log");
      for (int i : c.written) {
        std::string v = std::string(table.names[i].CStr()) + " 1x" + std::to_string(table.recordCount) + " ";
        v.append(reinterpret_cast<const char*>(table.columns[i]), table.recordCount * sizeof(double));
        columns.push_back(v);
      }
      table.ExportMat("out.mat");
    }
    std::string tableErr = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(Variables("out.mat") == columns);
    testing::internal::CaptureStderr();
    PackLog("m.log", "out.mat");
    std::string packErr = testing::internal::GetCapturedStderr();
    matSetV5LimitForTesting(0);
    EXPECT_TRUE(Variables("out.mat") == columns);
    std::string messages = TableMessages(tableErr);
    EXPECT_EQ(TableMessages(packErr), messages);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), static_cast<long>(c.messages)) << messages;
    EXPECT_NE(messages.find("is written as MAT 7.3"), std::string::npos) << messages;
    for (const auto& e : std::filesystem::directory_iterator(cwd.path()))
      EXPECT_NE(e.path().extension(), ".tmp") << e.path();
  }
}
