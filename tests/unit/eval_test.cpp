// Eval against its table of results, and the three cases where the notation
// as first laid out went wrong: long texts, long expressions and the one
// quotient that does not fit 32 bits.
#include "remote/eval.h"

#include <gtest/gtest.h>

#include <string>

#include "unit_util.h"

namespace {

struct Case {
  std::string text;
  int32_t value;
};

std::string Repeat(const std::string& piece, int n, const std::string& glue) {
  std::string s;
  for (int i = 0; i < n; ++i) s += (i ? glue : "") + piece;
  return s;
}

std::string Factorial20() {
  std::string s = "1";
  for (int i = 2; i <= 20; ++i) s += "*" + std::to_string(i);
  return s;
}

}  // namespace

TEST(Eval, TableOfResults) {
  const Case cases[] = {
      {"600", 600}, {"599+1", 600}, {"1+2*3", 7}, {"1-2-3", -4}, {"8/2/2", 2},
      {"2*(3+4)", 14}, {"(2+3)x(4-1)", 15}, {"10x3", 30}, {"1|2&3", 3}, {"6&3^1", 3},
      {"6^3&1", 1}, {"100%7", 2}, {"7/0", 0}, {"7%0", 0}, {"(0-7)/2", -3}, {"(0-5)%3", -2},
      {"-1+2", -3}, {"2*-3+1", -8}, {"~0&5", -1}, {"(-2)+3", 1}, {"3*-2", -6}, {"5--2", 7},
      {"~0", -1}, {"-~0", 1}, {"0x1F", 31}, {"0X1f", 31}, {"$ff", 255}, {"$ FF", 255},
      {"0 x1F", 31}, {"#1010", 10}, {"017", 15}, {"08", 0}, {"0", 0}, {"0xFFFFFFFF", -1},
      {"2147483647+1", INT32_MIN}, {"99999999999", 1215752191}, {" 42 ", 42}, {"12abc", 12},
      {"abc", 0}, {"5 6", 5}, {"(5", 5}, {"5)", 5}, {"\t5", 0}, {"5\t+1", 5}, {"x5", 0},
      {"+", 0}, {"   ", 0}, {"", 0}, {Factorial20(), -2102132736},
  };
  for (const Case& c : cases) EXPECT_EQ(Eval(c.text.c_str()), c.value) << "'" << c.text << "'";
}

TEST(Eval, MissingOperandPopsTheLeftOverSlot) {
  // The value stack is never cleared: slot 0 still holds the 5 just pushed.
  EXPECT_EQ(Eval("5+"), 10);
  EXPECT_EQ(Eval("7*"), 49);
}

TEST(Eval, MendedFaults) {
  const Case cases[] = {
      // Texts of 128 characters and more are read whole, not wrapped around.
      {std::string(200, ' ') + "42", 42},
      {"1" + std::string(150, ' ') + "+2", 3},
      {std::string(299, '0') + "7", 7},
      {"(" + std::string(140, ' ') + "3)x(" + std::string(140, ' ') + "5)", 15},
      // 20 literals and 19 operators fill the 40 entries exactly; one more
      // literal would overrun the code list, so the whole expression gives 0.
      {Repeat("1", 20, "+"), 20},
      {Repeat("1", 21, "+"), 0},
      {Repeat("2", 40, "|"), 0},
      {"-" + Repeat("1", 20, "+"), -20},  // 40 entries with the negation
      {"--" + Repeat("1", 20, "+"), 0},   // 41
      // The most negative value divided by -1: itself, remainder 0, no trap.
      {"0x80000000/-1", INT32_MIN},
      {"0x80000000%-1", 0},
      {"(0-2147483647-1)/(0-1)", INT32_MIN},
      {"(0-2147483647-1)%(0-1)", 0},
      {"-8/-1", 8},  // the unary minus reaches over the division: -(8/-1)
      {"7%-1", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Eval(c.text.c_str()), c.value) << "'" << c.text.substr(0, 60) << "'";
}

TEST(Eval, NullTextWarns) {
  unit::ScopedTempCwd cwd;
  testing::internal::CaptureStderr();
  EXPECT_EQ(Eval(nullptr), 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Eval() is passed 0-pointer\n"), std::string::npos) << err;
  EXPECT_NE(unit::Slurp(cwd / "QLOG.txt").find("Eval() is passed 0-pointer"), std::string::npos);
}
