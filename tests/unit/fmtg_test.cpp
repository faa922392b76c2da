// QFormatG against the C library's own "%g": every input of every set must
// give the same bytes as snprintf. The sets aim at where a formatter of its
// own goes wrong: decimal rounding boundaries and exact binary ties, the
// switch between fixed and exponent form, subnormals and the extremes, and
// the spelling of the non-numbers.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "text/qfmtg.h"

namespace {

double FromBits(uint64_t bits) {
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// The C library's "%g", which is glibc's text. mingw's printf drops the
// sign of a NaN that glibc (and QFormatG, everywhere) prints: that one known
// deviation of the reference is put back.
void ReferenceG(double v, char* out, size_t size) {
  std::snprintf(out, size, "%g", v);
#if defined(_WIN32)
  if (std::isnan(v) && std::signbit(v)) std::snprintf(out, size, "-nan");
#endif
}

// Compares every value, keeps going, and reports the first few mismatches
// with the exact binary value so a failure can be replayed.
class Differ {
 public:
  void Check(double v) {
    char ours[64];
    char theirs[64];
    std::memset(ours, 'X', sizeof ours);
    int n = QFormatG(v, ours);
    ReferenceG(v, theirs, sizeof theirs);
    ++checked_;
    bool same = n >= 0 && n <= QFMTG_MAXLEN && std::string(ours, static_cast<size_t>(n)) == theirs &&
                ours[QFMTG_MAXLEN] == 'X';  // nothing written past the bound
    if (!same && ++failed_ <= 10) {
      ADD_FAILURE() << "value " << std::hexfloat << v << " (bits " << std::hex << Bits(v)
                    << "): QFormatG gave '" << std::string(ours, n > 0 && n < 64 ? n : 0)
                    << "', snprintf '" << theirs << "'";
    }
  }
  // The value and its neighbours a few units in the last place away.
  void CheckAround(double v, int ulps = 2) {
    Check(v);
    double up = v, down = v;
    for (int k = 0; k < ulps; ++k) {
      up = std::nextafter(up, INFINITY);
      down = std::nextafter(down, -INFINITY);
      Check(up);
      Check(down);
    }
  }
  long checked() const { return checked_; }
  long failed() const { return failed_; }

 private:
  static uint64_t Bits(double v) {
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
  }
  long checked_ = 0;
  long failed_ = 0;
};

TEST(FormatG, MatchesSnprintfOnRandomBitPatterns) {
  Differ d;
  std::mt19937_64 rng(20240611);
  for (int i = 0; i < 2000000; ++i) d.Check(FromBits(rng()));
  EXPECT_EQ(d.failed(), 0) << "of " << d.checked();
}

TEST(FormatG, MatchesSnprintfOnTelemetryLikeValues) {
  // Values of a few digits at every scale, and integers around the switch
  // to exponent form: what real logs are made of.
  Differ d;
  std::mt19937_64 rng(7);
  for (int i = 0; i < 1000000; ++i) {
    long mantissa = static_cast<long>(rng() % 20000001) - 10000000;
    int scale = static_cast<int>(rng() % 30) - 15;
    d.Check(static_cast<double>(mantissa) * std::pow(10.0, scale));
    d.Check(std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 200) - 120));
  }
  for (long n = -1100000; n <= 1100000; n += 7) d.Check(static_cast<double>(n));
  EXPECT_EQ(d.failed(), 0) << "of " << d.checked();
}

TEST(FormatG, MatchesSnprintfAtPowersOfTenAndRoundingBoundaries) {
  Differ d;
  char text[64];
  for (int e = -330; e <= 310; ++e) {
    std::snprintf(text, sizeof text, "1e%d", e);
    d.CheckAround(std::strtod(text, nullptr), 3);
    // The seventh digit at one half: where the rounding goes either way,
    // and where rounding up carries into a new decimal exponent (999999.5,
    // 9.999995e-5) or across the fixed/exponent switch.
    for (const char* digits : {"1000005", "9999995", "9999994999", "1234565", "1234575",
                               "5000005", "9999985", "1000015", "99999949999999"}) {
      std::snprintf(text, sizeof text, "%se%d", digits, e);
      d.CheckAround(std::strtod(text, nullptr), 3);
    }
  }
  for (const char* literal : {"0.0001", "0.00009999995", "0.000099999949999", "999999.5",
                              "999999.4999999", "9.999995e-5", "99999.95", "0.5", "1.5",
                              "2.5", "123456.5", "100000", "1000000", "1e+06", "1e-05"}) {
    d.CheckAround(std::strtod(literal, nullptr), 4);
  }
  EXPECT_EQ(d.failed(), 0) << "of " << d.checked();
}

TEST(FormatG, MatchesSnprintfJustOffTies) {
  // The quick route rounds a double-arithmetic product and hands values
  // whose seventh digit sits within a narrow band around one half to the
  // exact route. Values just outside, on and just inside that band, on both
  // sides of the half, at every decimal exponent the quick route takes and
  // a few beyond, check both the band's width and the hand-over.
  Differ d;
  std::mt19937_64 rng(31);
  char text[80];
  for (int e = -36; e <= 28; ++e) {
    for (int k = 0; k < 8; ++k) {
      unsigned six = 100000 + static_cast<unsigned>(rng() % 900000);
      if (k == 0) six = 999999;  // rounding up carries into the next exponent
      for (int place = 6; place <= 13; ++place) {
        std::string above = "0000000000000";
        above[static_cast<size_t>(place - 1)] = '1';
        std::string below(static_cast<size_t>(place), '9');
        std::snprintf(text, sizeof text, "%u.5%se%d", six, above.substr(0, place).c_str(), e - 5);
        d.CheckAround(std::strtod(text, nullptr), 2);
        d.CheckAround(-std::strtod(text, nullptr), 2);
        std::snprintf(text, sizeof text, "%u.4%se%d", six, below.c_str(), e - 5);
        d.CheckAround(std::strtod(text, nullptr), 2);
        d.CheckAround(-std::strtod(text, nullptr), 2);
      }
    }
  }
  EXPECT_EQ(d.failed(), 0) << "of " << d.checked();
}

TEST(FormatG, MatchesSnprintfOnExactBinaryTies) {
  // A tie needs the exact binary value to have seven significant decimal
  // digits ending in 5; glibc then rounds to even. Integers t ending in 5
  // (times powers of ten while exact), and m / 2^k with m * 5^k of seven
  // digits, are exactly such values.
  Differ d;
  for (long t = 1000005; t < 10000000; t += 10) {
    d.Check(static_cast<double>(t));
    if (t % 1000 == 5) {
      double scaled = static_cast<double>(t);
      for (int j = 1; j <= 22; ++j) {
        scaled *= 10;
        d.Check(scaled);
        d.Check(-scaled);
      }
    }
  }
  long pow5 = 1;
  for (int k = 1; k <= 10; ++k) {
    pow5 *= 5;
    for (long m = 1; m * pow5 < 10000000; m += 2) {
      if (m * pow5 < 1000000) continue;
      d.Check(std::ldexp(static_cast<double>(m), -k));
      d.Check(-std::ldexp(static_cast<double>(m), -k));
    }
  }
  EXPECT_EQ(d.failed(), 0) << "of " << d.checked();
}

TEST(FormatG, MatchesSnprintfOnSubnormalsExtremesAndSpecials) {
  Differ d;
  std::mt19937_64 rng(99);
  for (int i = 0; i < 200000; ++i) {
    uint64_t fraction = rng() & ((uint64_t{1} << 52) - 1);
    d.Check(FromBits(fraction));                          // subnormal
    d.Check(FromBits(fraction | (uint64_t{1} << 63)));    // negative subnormal
    d.Check(FromBits(fraction | (uint64_t{0x7FF} << 52)));  // inf or NaN payload
    d.Check(FromBits(fraction | (uint64_t{0xFFF} << 52)));  // with the sign bit
  }
  for (double v : {0.0, -0.0, DBL_MIN, DBL_MAX, DBL_TRUE_MIN, DBL_EPSILON, 1.0, -1.0,
                   std::ldexp(1.0, -56), std::ldexp(1.0, -57), std::ldexp(1.0, 53),
                   std::ldexp(1.0, 127), std::ldexp(1.0, 128), std::ldexp(1.0, 1023)}) {
    d.CheckAround(v, 3);
    d.CheckAround(-v, 3);
  }
  for (int b = -1074; b <= 1023; ++b) d.CheckAround(std::ldexp(1.0, b), 1);
  EXPECT_EQ(d.failed(), 0) << "of " << d.checked();
}

TEST(FormatG, LineJoinsTheValuesAndStaysInItsRoom) {
  // QFormatGLine stores in fixed-size pieces past each value's text; with
  // every value at the longest text, the last pieces reach furthest, and
  // they must stay within the room the header promises.
  std::mt19937_64 rng(12);
  std::vector<double> longest = {-1.23457e-308, -9.99999e+307, -0.000123457, -123456, -12345.6};
  for (int count = 0; count <= 7; ++count) {
    for (int trial = 0; trial < 50; ++trial) {
      std::vector<double> values(static_cast<size_t>(count));
      std::string expected;
      char text[64];
      for (double& v : values) {
        if (trial % 2) v = longest[rng() % longest.size()];
        else v = FromBits(rng());
        ReferenceG(v, text, sizeof text);
        expected += (expected.empty() ? "" : " ") + std::string(text);
      }
      expected += "\n";
      size_t room = (count ? static_cast<size_t>(count) * (QFMTG_MAXLEN + 1) : 1) + QFMTG_WIDEROOM;
      std::vector<char> buffer(room + 16, 'X');
      char* end = QFormatGLine(values.data(), count, buffer.data());
      EXPECT_EQ(std::string(buffer.data(), end), expected);
      EXPECT_EQ(std::string(buffer.data() + room, 16), std::string(16, 'X')) << count;
    }
  }
}

TEST(FormatG, SpellsWhatTheLogShows) {
  // The texts users and the log reader meet; a readable list beside the
  // differential sets above.
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {3.14159265, "3.14159"}, {1234567, "1.23457e+06"}, {0.5, "0.5"}, {2, "2"},
      {-0.000123, "-0.000123"}, {1e-300, "1e-300"}, {1e300, "1e+300"}, {-0.0, "-0"},
      {INFINITY, "inf"}, {-INFINITY, "-inf"}, {std::nan(""), "nan"}, {-std::nan(""), "-nan"},
      {999999.5, "1e+06"}, {0.0001, "0.0001"}, {0.00001, "1e-05"}, {100000, "100000"},
  };
  for (const Case& c : cases) {
    char out[QFMTG_MAXLEN];
    int n = QFormatG(c.value, out);
    EXPECT_EQ(std::string(out, static_cast<size_t>(n)), c.text);
  }
}

}  // namespace
