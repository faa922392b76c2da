// Internal to the number parser (text/qatof.h, qatof.cpp): only the parser
// and its tests reach into qatof_detail; callers include text/qatof.h. The
// parts live here, inline, so that QAtofField and QFieldEnd16 stay in a
// scanning loop's registers and QAtof shares the very same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qatof_detail {

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr uint64_t kPow10Int[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000,
                                  100000000};

inline bool isDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

inline uint64_t load8(const char* p) {
  uint64_t chunk;
  std::memcpy(&chunk, p, 8);
  return chunk;
}

// How many of the 8 characters in chunk (first character in the lowest
// byte) are decimal digits before the first that is not. Borrows and carries
// only run towards later characters, so they never disturb that count.
inline int leadingDigits(uint64_t chunk) {
  uint64_t x = chunk - 0x3030303030303030ULL;
  uint64_t notDigit = ((x + 0x7676767676767676ULL) | x) & 0x8080808080808080ULL;
  return notDigit ? __builtin_ctzll(notDigit) >> 3 : 8;
}

// The value of the first n (1 to 8) digits of chunk: pairs of digits, then
// pairs of pairs, each step one multiplication that adds ten, a hundred or
// ten thousand times the earlier part to the later one.
inline uint64_t digitsValue(uint64_t chunk, int n) {
  uint64_t v = (chunk - 0x3030303030303030ULL) << (8 * (8 - n));
  v = ((v * (1 + (10 << 8))) >> 8) & 0x00FF00FF00FF00FFULL;
  v = ((v * (1 + (100 << 16))) >> 16) & 0x0000FFFF0000FFFFULL;
  return (v * (1 + (uint64_t{10000} << 32))) >> 32;
}

// The value of mantissa times ten to the exponent, rounded once: exact
// where mantissa fits 53 bits and the exponent lies within +-22, since both
// factors are exact doubles then.
inline double scaledExactly(uint64_t mantissa, int exponent, bool negative) {
  double v = static_cast<double>(mantissa);
  v = exponent >= 0 ? v * kPow10[exponent] : v / kPow10[-exponent];
  return negative ? -v : v;
}

// Bit k set where text[k], of the 16 characters at text, is not a decimal
// digit. The plain version serves where SSE2 is missing.
inline unsigned nonDigits16Plain(const char* text) {
  unsigned marks = 0;
  for (int k = 0; k < 16; ++k) marks |= static_cast<unsigned>(!isDigit(text[k])) << k;
  return marks;
}

inline unsigned nonDigits16(const char* text) {
#if defined(__SSE2__)
  __m128i digits = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text)),
                                _mm_set1_epi8('0'));
  __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(digits, _mm_set1_epi8(9)), digits);
  return ~static_cast<unsigned>(_mm_movemask_epi8(isDigit)) & 0xFFFFu;
#else
  return nonDigits16Plain(text);
#endif
}

// How far from text the first character at or below a space is (a space, a
// line break, a NUL or another control character): where a field of a log
// line ends. 16 when none of the 16 characters at text is.
inline int firstStop16Plain(const char* text) {
  // Bytes below 0x21 get their top bit set; those above the first may be
  // marked wrongly, which does not matter for finding the first.
  auto marks = [](uint64_t w) { return (w - 0x2121212121212121ULL) & ~w & 0x8080808080808080ULL; };
  if (uint64_t m = marks(load8(text))) return __builtin_ctzll(m) >> 3;
  uint64_t m = marks(load8(text + 8));
  return m ? 8 + (__builtin_ctzll(m) >> 3) : 16;
}

inline int firstStop16(const char* text) {
#if defined(__SSE2__)
  __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
  __m128i stops = _mm_cmpeq_epi8(_mm_min_epu8(chars, _mm_set1_epi8(' ')), chars);
  return __builtin_ctz(static_cast<unsigned>(_mm_movemask_epi8(stops)) | 0x10000u);
#else
  return firstStop16Plain(text);
#endif
}

// QAtofField's work, and QAtof's first try. The field's length is known, so
// nothing here looks for where the number ends: where its digit runs end
// comes from one mask of the field's first 16 characters, and the shape must
// then fill the field. Reads at most the 25 characters at p, wherever end
// is, so kQAtofFieldRoom covers it.
__attribute__((always_inline)) inline bool fieldDecimal(const char* p, const char* end,
                                                        double* out) {
  // A lone digit (a flag, a gear, a count) needs none of the work below.
  unsigned lone = static_cast<unsigned char>(*p) - unsigned{'0'};
  if (end - p == 1 && lone <= 9) {
    *out = static_cast<double>(static_cast<int>(lone));
    return true;
  }
  bool negative = *p == '-';
  unsigned first = negative;  // where the digits start
  // Marks past the 16 characters read as non-digits, so that every run ends.
  unsigned marks = nonDigits16(p) | ~0xFFFFu;
  unsigned digits = static_cast<unsigned>(__builtin_ctz(marks >> first));
  unsigned at = first + digits;  // just past the integer digits
  const char* q = p + at;
  uint64_t mantissa;
  int exponent = 0;
  // At most 15 digits fit the 16 characters: the mantissa stays below 2^53
  // and the exponent within -15 .. 0 until an exponent part is read.
  if (*q == '.') {
    unsigned n = static_cast<unsigned>(__builtin_ctz(marks >> (at + 1)));
    unsigned all = digits + n;
    uint64_t tail = load8(q + 1);
    if (all <= 8 && digits < 8) {
      // Integer and fraction digits converted together, as one word.
      if (all == 0) return false;
      uint64_t integer = load8(p + first) & ((uint64_t{1} << (8 * digits)) - 1);
      mantissa = digitsValue(integer | (tail << (8 * digits)), static_cast<int>(all));
    } else {
      if (digits >= 8) return false;
      unsigned firstRun = n < 8 ? n : 8;
      mantissa = digitsValue(tail, static_cast<int>(firstRun));
      if (digits > 0)
        mantissa += digitsValue(load8(p + first), static_cast<int>(digits)) * kPow10Int[firstRun];
      if (n > 8)
        mantissa = mantissa * kPow10Int[n - 8] + digitsValue(load8(q + 9), static_cast<int>(n - 8));
    }
    q += 1 + n;
    exponent = -static_cast<int>(n);
  } else {
    // More than 8 integer digits are left to the general road.
    if (digits == 0 || digits > 8) return false;
    mantissa = digitsValue(load8(p + first), static_cast<int>(digits));
  }
  if (q != end) {
    if ((*q | 0x20) != 'e') return false;
    ++q;
    bool negExp = *q == '-';
    q += negExp || *q == '+';
    unsigned e = static_cast<unsigned char>(*q) - unsigned{'0'};
    if (e > 9) return false;
    unsigned next = static_cast<unsigned char>(*++q) - unsigned{'0'};
    if (next <= 9) {
      e = e * 10 + next;
      ++q;
    }
    if (q != end) return false;
    exponent += negExp ? -static_cast<int>(e) : static_cast<int>(e);
    if (exponent < -22 || exponent > 22) return false;
  }
  *out = scaledExactly(mantissa, exponent, negative);
  return true;
}

}  // namespace qatof_detail
