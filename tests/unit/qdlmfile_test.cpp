#include "io/qdlmfile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "unit_util.h"

namespace {

std::string Field(const QDLMFile& f, int i) {
  char buf[QDLMFile::kLineBufferSize];
  f.GetField(i, buf, sizeof buf);
  return buf;
}

// Every field of every data line, as the reader hands them out.
std::vector<std::vector<std::string>> ReadAll(const std::string& content, uint32_t* recs,
                                              int* fields) {
  unit::ScopedTempCwd cwd;
  unit::Spit(cwd / "t.log", content);
  QDLMFile f("t.log");
  *recs = f.NoofRecs();
  *fields = f.NoofFields();
  std::vector<std::vector<std::string>> lines;
  while (f.NextLine()) {
    std::vector<std::string> line;
    for (int i = 0; i < *fields + 1; ++i) line.push_back(Field(f, i));
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

TEST(QDLMFile, ReaderRules) {
  struct Case {
    const char* name;
    std::string content;
    uint32_t recs;
    int fields;
    std::vector<std::vector<std::string>> lines;
  } cases[] = {
      {"plain", "t v\n1 2\n3 4\n5 6\n", 3, 2,
       {{"t", "v", ""}, {"1", "2", ""}, {"3", "4", ""}, {"5", "6", ""}}},
      {"no final line end", "t v\n1 2\n3 4\n5 6", 3, 2,
       {{"t", "v", ""}, {"1", "2", ""}, {"3", "4", ""}, {"5", "6", ""}}},
      {"comments anywhere", "# head\nt v\n#mid\n1 2\n# tail\n", 1, 2,
       {{"t", "v", ""}, {"1", "2", ""}}},
      {"space runs", "a  b\n", 0, 2, {{"a", "b", ""}}},
      {"leading space", " a b\n", 0, 3, {{"", "a", "b", ""}}},
      {"trailing space", "a b \n", 0, 3, {{"a", "b", "", ""}}},
      {"crlf", "1 2\r\n3 4\r\n", 1, 2, {{"1", "2", ""}, {"3", "4", ""}}},
      {"cr inside a field", "a\rb c\n", 0, 2, {{"ab", "c", ""}}},
      {"blank line is data", "a b\n\n1 2\n", 2, 2, {{"a", "b", ""}, {"", "", ""}, {"1", "2", ""}}},
      {"nul first byte skipped", std::string("a\n\0x\n1\n", 7), 1, 1, {{"a", ""}, {"1", ""}}},
      {"text after nul ignored", std::string("a b\n1\0 9\n", 9), 1, 2, {{"a", "b", ""}, {"1", "", ""}}},
      {"comments only", "# x y z\n", 0, 1, {}},
      {"empty file", "", 0, 1, {}},
      {"byte-order mark at the start", "\xEF\xBB\xBFt v\n1 2\n", 1, 2, {{"t", "v", ""}, {"1", "2", ""}}},
      {"byte-order mark later is text", "t\n\xEF\xBB\xBF" "1\n", 1, 1, {{"t", ""}, {"\xEF\xBB\xBF" "1", ""}}},
  };
  for (const Case& c : cases) {
    uint32_t recs = 0;
    int fields = 0;
    auto lines = ReadAll(c.content, &recs, &fields);
    EXPECT_EQ(recs, c.recs) << c.name;
    EXPECT_EQ(fields, c.fields) << c.name;
    EXPECT_EQ(lines, c.lines) << c.name;
  }
}

TEST(QDLMFile, LongLinesComeInPiecesOf10239) {
  unit::ScopedTempCwd cwd;
  std::string longComment = "#" + std::string(10238, 'c') + "tail x\n";
  std::string longData(10239, 'd');
  unit::Spit(cwd / "t.log", "n\n" + longComment + longData + "e\n");
  QDLMFile f("t.log");
  // The comment's second piece ("tail x\n") does not start with '#': a data line.
  EXPECT_EQ(f.NoofRecs(), 3u);
  ASSERT_TRUE(f.NextLine());
  ASSERT_TRUE(f.NextLine());
  EXPECT_EQ(Field(f, 0), "tail");
  ASSERT_TRUE(f.NextLine());
  EXPECT_EQ(Field(f, 0), longData);
  ASSERT_TRUE(f.NextLine());
  EXPECT_EQ(Field(f, 0), "e");
  EXPECT_FALSE(f.NextLine());
}

// A read that brings nothing leaves the line of the last read that did,
// comment or not; the construction's count read the whole file.
TEST(QDLMFile, LineStaysAsTheLastReadLeftIt) {
  unit::ScopedTempCwd cwd;
  unit::Spit(cwd / "t.log", "t v\n1 2\n# tail words\n");
  QDLMFile f("t.log");
  EXPECT_STREQ(f.Line(), "# tail words\n");
  ASSERT_TRUE(f.NextLine());
  EXPECT_STREQ(f.Line(), "t v\n");
  ASSERT_TRUE(f.NextLine());
  EXPECT_FALSE(f.NextLine());
  EXPECT_STREQ(f.Line(), "# tail words\n");
  EXPECT_EQ(Field(f, 1), "tail");
  EXPECT_FALSE(f.NextLine());
  EXPECT_STREQ(f.Line(), "# tail words\n");

  unit::Spit(cwd / "u.log", "t\n" + std::string(10239, 'x') + "5");
  QDLMFile g("u.log");
  EXPECT_STREQ(g.Line(), "5");  // the last piece of a long last line
}

TEST(QDLMFile, GetFieldHonoursTheOutputSize) {
  unit::ScopedTempCwd cwd;
  unit::Spit(cwd / "t.log", "abcdefgh x\n");
  QDLMFile f("t.log");
  ASSERT_TRUE(f.NextLine());
  char small[5] = {'?', '?', '?', '?', '#'};
  EXPECT_TRUE(f.GetField(0, small, 4));
  EXPECT_STREQ(small, "abc");
  EXPECT_EQ(small[4], '#');
  EXPECT_EQ(Field(f, 7), "");
  EXPECT_EQ(Field(f, -1), "");
}

TEST(QDLMFile, CountIsRememberedUnlessZero) {
  unit::ScopedTempCwd cwd;
  testing::internal::CaptureStderr();
  unit::Spit(cwd / "a.log", "t\n1\n2\n");
  {
    QDLMFile f("a.log");
    EXPECT_EQ(f.NoofRecs(), 2u);
  }
  unit::Spit(cwd / "b.log", "t\n");
  {
    QDLMFile f("b.log");
    EXPECT_EQ(f.NoofRecs(), 0u);
  }
  std::string err = testing::internal::GetCapturedStderr();
  size_t twos = 0, zeros = 0;
  for (size_t p = 0; (p = err.find("QCSV: NoofRecs()=2\n", p)) != std::string::npos; ++p) ++twos;
  for (size_t p = 0; (p = err.find("QCSV: NoofRecs()=0\n", p)) != std::string::npos; ++p) ++zeros;
  EXPECT_EQ(twos, 1u);
  EXPECT_EQ(zeros, 2u);
}

TEST(QDLMFile, MissingOrDirectoryBehavesAsEmpty) {
  unit::ScopedTempCwd cwd;
  std::filesystem::create_directory(cwd / "dir");
  for (const char* name : {"missing.log", "dir"}) {
    testing::internal::CaptureStderr();
    QDLMFile f(name);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "QDLMFile ctor: can't open '" + std::string(name) + "'\n");
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.NoofRecs(), 0u);
    EXPECT_EQ(f.NoofFields(), 1);
    EXPECT_FALSE(f.NextLine());
    EXPECT_EQ(Field(f, 0), "");
    EXPECT_TRUE(f.IsEOF());
  }
}

TEST(QDLMFile, ReadOnlyFileOpens) {
  unit::ScopedTempCwd cwd;
  unit::Spit(cwd / "ro.log", "t\n1\n");
  namespace fs = std::filesystem;
  fs::permissions(cwd / "ro.log", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  QDLMFile f("ro.log");
  EXPECT_TRUE(f.IsOpen());
  EXPECT_EQ(f.NoofRecs(), 1u);
  // Windows deletes no read-only file: let the cleanup remove it.
  fs::permissions(cwd / "ro.log", fs::perms::owner_write, fs::perm_options::add);
}
