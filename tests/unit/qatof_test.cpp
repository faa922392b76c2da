#include "text/qatof.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>

// On Windows the C runtime's atof is no reference: its strtod parts from
// glibc's on the rare spellings by design. The glibc table below stands in.
#if defined(_WIN32)
#define SKIP_WITHOUT_GLIBC() \
  GTEST_SKIP() << "the C runtime is not glibc; MatchesGlibcWhereCLibrariesDiffer covers it"
#else
#define SKIP_WITHOUT_GLIBC() static_cast<void>(0)
#endif

namespace {

// Bitwise equality, so that -0.0 and NaN payloads count too.
bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void ExpectLikeAtof(const std::string& s) {
  double expect = std::atof(s.c_str());
  // From a buffer of exactly the text's size, so that reading past it shows.
  std::unique_ptr<char[]> exact(new char[s.size()]);
  if (!s.empty()) std::memcpy(exact.get(), s.data(), s.size());
  double got = QAtof(exact.get(), s.size());
  ASSERT_TRUE(SameBits(expect, got)) << "'" << s << "': atof " << expect << " QAtof " << got;
  char* strtodEnd = nullptr;
  std::strtod(s.c_str(), &strtodEnd);
  // As a whole field (no space or control character in it), followed by a
  // space and more text within reach: an answer must be the whole field's.
  bool fieldText = !s.empty();
  for (char c : s) fieldText = fieldText && static_cast<unsigned char>(c) > ' ';
  if (fieldText) {
    std::string line = s + " " + std::string(40, '7');
    double field = 0.0;
    if (QAtofField(line.data(), line.data() + s.size(), &field)) {
      ASSERT_TRUE(SameBits(expect, field)) << "'" << s << "': QAtofField " << field;
      ASSERT_EQ(strtodEnd - s.c_str(), static_cast<ptrdiff_t>(s.size())) << "'" << s << "'";
    }
  }
  // The last field of a line with the next line after it, in reach of
  // QAtof's wider reads: nothing past the line feed may be taken in.
  if (s.find('\0') == std::string::npos) {
    std::string line = s + "\n" + std::string(40, '7');
    double whole = QAtof(line.data(), line.size());
    ASSERT_TRUE(SameBits(std::atof(line.c_str()), whole)) << "'" << s << "' as last field";
  }
}

}  // namespace

// glibc's atof on the spellings where C libraries part ways, as bit
// patterns taken from glibc once: the reference on every platform.
TEST(QAtof, MatchesGlibcWhereCLibrariesDiffer) {
  struct Case {
    const char* text;
    uint64_t bits;
  } cases[] = {
      {"", 0x0000000000000000},
      {"-", 0x0000000000000000},
      {"--1", 0x0000000000000000},
      {"+-1", 0x0000000000000000},
      {"--38633x96780562e0", 0x0000000000000000},
      {"1d5", 0x3ff0000000000000},
      {"1e+", 0x3ff0000000000000},
      {"-.e5", 0x0000000000000000},
      {"-0", 0x8000000000000000},
      {" \t\v\f\r\n-12.5e-1", 0xbff4000000000000},
      {"0x", 0x0000000000000000},
      {"-0x", 0x8000000000000000},
      {"0x.p1", 0x0000000000000000},
      {"0xg", 0x0000000000000000},
      {"00x1p3", 0x0000000000000000},
      {"0X1p4", 0x4030000000000000},
      {"-0x1.8p1", 0xc008000000000000},
      {"0x.8", 0x3fe0000000000000},
      {"0x1p", 0x3ff0000000000000},
      {"0x1p+-9", 0x3ff0000000000000},
      {"0x1.fffffffffffff8p1023", 0x7ff0000000000000},
      {"0x1p-1074", 0x0000000000000001},
      {"0x1p-1075", 0x0000000000000000},
      {"0x1.0000000000001p-1075", 0x0000000000000001},
      {"-0x1.8p-1074", 0x8000000000000002},
      {"0x94dc33e81dda84p-1082", 0x00094dc33e81dda},
      {"inf", 0x7ff0000000000000},
      {"-INF", 0xfff0000000000000},
      {"infinit", 0x7ff0000000000000},
      {"-Infinity", 0xfff0000000000000},
      {"nan", 0x7ff8000000000000},
      {"-nan", 0xfff8000000000000},
      {"+NaN", 0x7ff8000000000000},
      {"nan(123)", 0x7ff800000000007b},
      {"-nan(0x10)", 0xfff8000000000010},
      {"nan(0777)", 0x7ff80000000001ff},
      {"nan(12x)", 0x7ff8000000000000},
      {"nan(0x1fffffffffffff)", 0x7fffffffffffffff},
      {"nan(", 0x7ff8000000000000},
      {"-1e999", 0xfff0000000000000},
      {"1.7976931348623159e308", 0x7ff0000000000000},
      {"1.7976931348623158e308", 0x7fefffffffffffff},
      {"4.9e-324", 0x0000000000000001},
      {"2.4703282292062327e-324", 0x0000000000000000},
      {"2.4703282292062328e-324", 0x0000000000000001},
      {"-1e-400", 0x8000000000000000},
      {"2.2250738585072011e-308", 0x000fffffffffffff},
      {"9007199254740993", 0x4340000000000000},
      {"9007199254740993.000000000000000000001", 0x4340000000000001},
      {"1.00000000000000011102230246251565404236316680908203125", 0x3ff0000000000000},
      {"1.00000000000000011102230246251565404236316680908203126", 0x3ff0000000000001},
      {"100000000000000000000000000000000000000000000000000000000000000000000000000000000001e-80", 0x408f400000000000},
      {"1e-99999999999999999999", 0x0000000000000000},
  };
  for (const Case& c : cases) {
    std::string s = c.text;
    std::unique_ptr<char[]> exact(new char[s.size()]);
    std::memcpy(exact.get(), s.data(), s.size());
    double got = QAtof(exact.get(), s.size());
    uint64_t bits;
    std::memcpy(&bits, &got, sizeof bits);
    EXPECT_EQ(bits, c.bits) << "'" << s << "'";
    // A control character after it ends every one of these numbers, and
    // what follows within reach must not count.
    std::string line = s + "\x01" + std::string(40, '7');
    got = QAtof(line.data(), line.size());
    std::memcpy(&bits, &got, sizeof bits);
    EXPECT_EQ(bits, c.bits) << "'" << s << "' followed by more";
  }
  // A terminator inside the text ends it, as it would end atof's copy.
  EXPECT_EQ(QAtof("12\0" "34", 5), 12.0);
}

TEST(QAtof, AdversarialSpellings) {
  SKIP_WITHOUT_GLIBC();
  const char* cases[] = {
      "", " ", "0", "-0", "+0", "-", "+", ".", "-.", "+.5", ".5", "5.", "1e", "1e+", "1e-",
      "1e5", "1E5", "1e+05", "1e-005", "1e999", "-1e999", "1e-999", "4.9e-324", "2.4e-324",
      "2.5e-324", "2.2250738585072011e-308", "2.2250738585072014e-308",
      "1.7976931348623157e308", "1.7976931348623159e308", "0x10", "0X1p4", "-0x1.8p1",
      "0x", "0xg", "00x1p3", "inf", "-inf", "INF", "infinity", "-Infinity", "infinit", "nan",
      "-nan", "NAN", "nan(123)", "nan(", "nanx", " \t\v\f12", "\t-3.5", "12abc", "1.2.3",
      "1,5", "--1", "+-1", "e5", "1 2", "9007199254740993", "0.1000000000000000055511151231257827",
      "123456789012345678901234567890", "0.000000000000000000000000000000000001234",
      "3.14159265", "1234567", "-0.000123", "1e-300", "1e300", "1d5", "1_000",
      "100000000000000000000000000000000000000000000000000000000000000000000000000000000001e-80",
      "1234567.12345678", "0.1234567812345678", "1234567.123456781234567", "-0.000218879",
      "1.e5", "0x1A", "12x", "-8.72155e-10", "1e22", "1e-22", "1e23", "4.5e-23", "1e100",
      "12345678", "9007199254740993.5", "00000000000000000001.5", "0.00000000000000000001",
      ".0746355471029347729336", ".12345678", "1.1234567", "1234.5678", "-.00000001",
      "12345678.1234567", "-1234567.1234567", "123456.123456789", "0.123456789012345",
      "1.5\x01", "2.5\x7f", "\x01", "1.5e5\t9", "-1e-5\v", "+.5 7", "8e22", "8e-22",
  };
  for (const char* c : cases) ExpectLikeAtof(c);
}

// The shapes of a "%g" log take the field road, not the general one.
TEST(QAtof, FieldRoadTakesTheCommonShapes) {
  const char* cases[] = {"0",          "5",          "-3",          "999000",       "12345678",
                         "42.5614",    "-0.0411153", "0.997",       "-0.000218879", ".5",
                         "5.",         "-8.72155e-10", "1.00698e+06", "4.30439E-5", "1e5",
                         "0.12345678123456", "1234567.1234567"};
  for (const char* c : cases) {
    std::string line = std::string(c) + " " + std::string(40, '7');
    double field = 0.0;
    ASSERT_TRUE(QAtofField(line.data(), line.data() + std::strlen(c), &field)) << c;
    ASSERT_TRUE(SameBits(std::atof(c), field)) << c;
  }
  // Left to QAtof: a plus sign, three exponent digits, more than 8 integer
  // digits, more than 16 characters before the exponent, hexadecimal, no
  // digits.
  for (const char* c : {"+1", "1e100", "123456789", "12345678.5", "0x1A", "1e", "-",
                        "0.1234567812345678"}) {
    std::string line = std::string(c) + " " + std::string(40, '7');
    double field = 0.0;
    EXPECT_FALSE(QAtofField(line.data(), line.data() + std::strlen(c), &field)) << c;
  }
}

// The vector scans of the field road against their plain versions, which
// serve where SSE2 is missing: every byte value, in every position.
TEST(QAtof, FieldScansAgreeWithTheirPlainVersions) {
  std::mt19937_64 rng(16);
  const char common[] = "0123456789 .-eE+\n\r\t";
  char text[16];
  for (int i = 0; i < 200000; ++i) {
    for (char& c : text)
      c = rng() % 2 ? common[rng() % (sizeof common - 1)] : static_cast<char>(rng() % 256);
    ASSERT_EQ(qatof_detail::nonDigits16(text), qatof_detail::nonDigits16Plain(text));
    ASSERT_EQ(QFieldEnd16(text), qatof_detail::firstStop16Plain(text));
  }
}

TEST(QAtof, RandomDoublesInEveryTextForm) {
  SKIP_WITHOUT_GLIBC();
  std::mt19937_64 rng(20261208);
  const char* formats[] = {"%.17g", "%g", "%.3e", "%.25f", "%a", "%.0f", "%.12g"};
  char buf[512];
  for (int i = 0; i < 300000; ++i) {
    uint64_t bits = rng();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (i % 3 == 0) v = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 80) - 40);
    const char* fmt = formats[i % 7];
    std::snprintf(buf, sizeof buf, fmt, v);
    ExpectLikeAtof(buf);
  }
}

TEST(QAtof, RandomDigitStrings) {
  SKIP_WITHOUT_GLIBC();
  std::mt19937_64 rng(7);
  const char alphabet[] = "0123456789.eE+-x ";
  for (int i = 0; i < 200000; ++i) {
    std::string s;
    int len = 1 + static_cast<int>(rng() % 40);
    for (int k = 0; k < len; ++k) {
      // Mostly digits, so that long mantissas and exponents come up often.
      s += (rng() % 4) ? static_cast<char>('0' + rng() % 10) : alphabet[rng() % (sizeof alphabet - 1)];
    }
    ExpectLikeAtof(s);
  }
}

// The spellings that bypass the decimal roads: hexadecimal with points and
// binary exponents at the edges of the range, inf and nan in mixed case with
// payloads, signs doubled, and stray characters among them.
TEST(QAtof, RandomRareShapes) {
  SKIP_WITHOUT_GLIBC();
  std::mt19937_64 rng(11);
  const char* heads[] = {"0x", "0X", "-0x", "+0x", "inf", "-iNf", "infinity", "nan", "-NaN",
                         "nan(", "-", "--", "+-", " "};
  const char* pieces[] = {"1", "f", "A", "0", ".", "p", "P", "-", "+", "1074", "1075", "1023",
                          "1024", "ity", "(", ")", "x", "_", "0x", "8000000000001", "fffffffffffff",
                          "e", "9"};
  for (int i = 0; i < 100000; ++i) {
    std::string s = heads[rng() % (sizeof heads / sizeof *heads)];
    int n = static_cast<int>(rng() % 8);
    for (int k = 0; k < n; ++k) s += pieces[rng() % (sizeof pieces / sizeof *pieces)];
    ExpectLikeAtof(s);
  }
}
