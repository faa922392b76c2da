#include "text/qfmtg.h"

#include <cstdint>
#include <cstring>

// How it works: with v = m * 2^q exactly (m an integer below 2^53) and e the
// decimal exponent of v, the six significant digits are N = m * 2^q * 10^(5-e)
// rounded to an integer. We compute the floor of N and the exact remainder,
// so rounding ties are seen exactly and go to even as glibc does. Values
// between 2^-56 and 2^128 fit unsigned 128-bit arithmetic; the rest (tiny,
// subnormal, huge) take a small fixed-size big-number path. Nothing is
// estimated, so no value needs the C library as a fallback.
//
// Most values never get that far: a quick route in plain double arithmetic
// (see below) settles every value whose seventh digit is not close to one
// half, which is nearly all of them, and hands the rest to the exact route.

namespace {

using u128 = unsigned __int128;

constexpr uint32_t kMillion = 1000000;

constexpr uint64_t kPow10[20] = {
    1ull,
    10ull,
    100ull,
    1000ull,
    10000ull,
    100000ull,
    1000000ull,
    10000000ull,
    100000000ull,
    1000000000ull,
    10000000000ull,
    100000000000ull,
    1000000000000ull,
    10000000000000ull,
    100000000000000ull,
    1000000000000000ull,
    10000000000000000ull,
    100000000000000000ull,
    1000000000000000000ull,
    10000000000000000000ull,
};

u128 pow10u128(int k) {  // k in 0..38
  if (k < 20) return kPow10[k];
  return static_cast<u128>(kPow10[19]) * kPow10[k - 19];
}

// floor(log10(2^b)) for |b| < 1650 (the usual fixed-point approximation).
int floorLog10Pow2(int b) { return (b * 78913) >> 18; }

// Where the discarded part of N lies: zero, or relative to one half.
enum Frac { kZero, kBelowHalf, kHalf, kAboveHalf };

uint32_t roundHalfEven(uint64_t n, Frac f) {
  if (f == kAboveHalf || (f == kHalf && (n & 1))) ++n;
  return static_cast<uint32_t>(n);
}

Frac compareHalf(u128 twiceRem, u128 den) {
  if (twiceRem < den) return twiceRem == 0 ? kZero : kBelowHalf;
  return twiceRem == den ? kHalf : kAboveHalf;
}

// floor(m * 2^q * 10^s) and the position of the remainder, for
// 2^-56 <= m * 2^q < 2^128 and s = 5 - e with e in -17..38.
uint64_t scaleSmallRange(uint64_t m, int q, int s, Frac* frac) {
  if (s >= 0) {
    // v < 10^6 < 2^53 here, so q < 0: a multiply and a shift of at most 109.
    u128 num = static_cast<u128>(m) * pow10u128(s);
    int shift = -q;
    u128 n = num >> shift;
    u128 rem = num - (n << shift);
    *frac = compareHalf(rem << 1, static_cast<u128>(1) << shift);
    return static_cast<uint64_t>(n);
  }
  if (q < 0) {
    uint64_t p = kPow10[-s];  // -s <= 10 here
    // 10^6 <= v < 2^53: shift out the binary fraction, then one 64-bit division.
    int shift = -q;
    uint64_t whole = m >> shift;
    uint64_t low = m & ((uint64_t{1} << shift) - 1);
    uint64_t n = whole / p;
    uint64_t r = whole % p;
    u128 rem = (static_cast<u128>(r) << shift) + low;
    *frac = compareHalf(rem << 1, static_cast<u128>(p) << shift);
    return n;
  }
  // 2^53 <= v < 2^128: v is an integer.
  u128 num = static_cast<u128>(m) << q;
  u128 den = pow10u128(-s);
  u128 n = num / den;
  u128 rem = num - n * den;
  *frac = compareHalf(rem << 1, den);
  return static_cast<uint64_t>(n);
}

// A non-negative integer of up to 40 32-bit limbs, least significant first;
// enough for m * 10^329 (the smallest subnormal) and for m * 2^971.
struct Big {
  uint32_t limb[40];
  int size;

  explicit Big(uint64_t v) : limb{}, size(0) {
    while (v) {
      limb[size++] = static_cast<uint32_t>(v);
      v >>= 32;
    }
  }
  void MulSmall(uint32_t k) {
    uint64_t carry = 0;
    for (int i = 0; i < size; ++i) {
      uint64_t t = static_cast<uint64_t>(limb[i]) * k + carry;
      limb[i] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    if (carry) limb[size++] = static_cast<uint32_t>(carry);
  }
  void MulPow10(int k) {
    for (; k >= 9; k -= 9) MulSmall(1000000000u);
    if (k > 0) MulSmall(static_cast<uint32_t>(kPow10[k]));
  }
  void ShiftLeft(int bits) {
    int words = bits / 32, b = bits % 32;
    for (int i = size - 1; i >= 0; --i) {
      uint64_t t = static_cast<uint64_t>(limb[i]) << b;
      limb[i + words + 1] |= static_cast<uint32_t>(t >> 32);
      limb[i + words] = static_cast<uint32_t>(t);
    }
    for (int i = 0; i < words; ++i) limb[i] = 0;
    size += words + 1;
    trim();
  }
  uint32_t DivSmall(uint32_t d) {  // returns the remainder
    uint64_t rem = 0;
    for (int i = size - 1; i >= 0; --i) {
      uint64_t t = (rem << 32) | limb[i];
      limb[i] = static_cast<uint32_t>(t / d);
      rem = t % d;
    }
    trim();
    return static_cast<uint32_t>(rem);
  }
  bool Bit(int i) const {
    return i / 32 < size && ((limb[i / 32] >> (i % 32)) & 1);
  }
  bool AnyBitBelow(int n) const {
    for (int i = 0; i < n / 32 && i < size; ++i)
      if (limb[i]) return true;
    if (n % 32 && n / 32 < size) return (limb[n / 32] & ((1u << (n % 32)) - 1)) != 0;
    return false;
  }
  uint64_t Low64ShiftedRight(int n) const {  // (this >> n) mod 2^64
    uint64_t r = 0;
    for (int k = 0; k < 64; ++k)
      if (Bit(n + k)) r |= uint64_t{1} << k;
    return r;
  }
  uint64_t Low64() const {
    uint64_t r = size > 0 ? limb[0] : 0;
    if (size > 1) r |= static_cast<uint64_t>(limb[1]) << 32;
    return r;
  }

 private:
  void trim() {
    while (size > 0 && limb[size - 1] == 0) --size;
  }
};

// floor(m * 2^q * 10^s) with its remainder position, for any finite v; the
// result is assumed below 2^64 (it is below 10^7 for the s we ask about).
uint64_t scaleAnyRange(uint64_t m, int q, int s, Frac* frac) {
  Big x(m);
  if (q >= 0) x.ShiftLeft(q);
  if (s >= 0) x.MulPow10(s);
  if (q < 0) {
    int p = -q;
    bool half = x.Bit(p - 1);
    bool sticky = x.AnyBitBelow(p - 1);
    if (half) *frac = sticky ? kAboveHalf : kHalf;
    else *frac = sticky ? kBelowHalf : kZero;
    return x.Low64ShiftedRight(p);
  }
  // Divide by 10^-s in steps; only the last step's remainder decides the
  // side of one half, earlier ones only whether it is exact.
  int k = -s;
  bool sticky = false;
  uint32_t rem = 0, den = 1;
  while (k > 0) {
    int step = k > 9 ? 9 : k;
    sticky = sticky || rem != 0;
    den = static_cast<uint32_t>(kPow10[step]);
    rem = x.DivSmall(den);
    k -= step;
  }
  uint64_t twice = static_cast<uint64_t>(rem) * 2;
  if (twice < den) *frac = (twice == 0 && !sticky) ? kZero : kBelowHalf;
  else if (twice > den) *frac = kAboveHalf;
  else *frac = sticky ? kAboveHalf : kHalf;
  return x.Low64();
}

const char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

uint64_t digitPair(uint32_t k) {  // k < 100, as two ASCII bytes, first digit lowest
  uint16_t pair;
  std::memcpy(&pair, kDigitPairs + 2 * k, 2);
  return pair;
}

// Writes the six digits of d (100000..999999) as "%g" lays them out for the
// decimal exponent x, trailing zeros dropped. The digits are kept as one
// 64-bit word (first digit in the lowest byte), so each layout is a few
// fixed-size stores; the count of digits that stay comes from the word's
// '0' bytes, not from a loop. Bytes past the returned length are scratch;
// out has room for QFMTG_WIDEROOM.
inline int emit(bool negative, uint32_t d, int x, char* out) {
  out[0] = '-';
  char* p = out + negative;
  uint64_t digits = digitPair(d / 10000) | digitPair(d / 100 % 100) << 16 |
                    digitPair(d % 100) << 32;
  // Bytes that are '0' become zero; the six digits sit in the low six bytes,
  // so the leading zero bytes of the word moved up by two bytes are the
  // trailing zeros of the digits (the first digit is never '0').
  uint64_t zeros = (digits ^ 0x303030303030ull) << 16;
  int count = 6 - (__builtin_clzll(zeros) >> 3);

  if (static_cast<unsigned>(x) < 6) {
    int whole = x + 1;
    std::memcpy(p, &digits, 8);
    p[whole] = '.';
    uint64_t rest = digits >> (8 * whole);
    std::memcpy(p + whole + 1, &rest, 8);
    int len = count <= whole ? whole : count + 1;
    return static_cast<int>(p - out) + len;
  }
  if (x >= -4 && x < 0) {
    std::memcpy(p, "0.000000", 8);
    int lead = 1 - x;  // "0." and -x-1 zeros
    std::memcpy(p + lead, &digits, 8);
    return static_cast<int>(p - out) + lead + count;
  }
  p[0] = static_cast<char>(digits);
  p[1] = '.';
  uint64_t rest = digits >> 8;
  std::memcpy(p + 2, &rest, 8);
  p += count > 1 ? count + 1 : 1;
  p[0] = 'e';
  p[1] = x < 0 ? '-' : '+';
  unsigned ax = static_cast<unsigned>(x < 0 ? -x : x);
  p += 2;
  if (ax >= 100) {
    *p++ = static_cast<char>('0' + ax / 100);
    ax %= 100;
  }
  std::memcpy(p, kDigitPairs + 2 * ax, 2);
  return static_cast<int>(p - out) + 2;
}

// The exact route, for every finite non-zero value: see the note at the top.
__attribute__((noinline)) int formatExact(bool negative, int biased, uint64_t fraction,
                                          char* out) {
  uint64_t m;
  int q;
  if (biased == 0) {
    m = fraction;
    q = -1074;
  } else {
    m = fraction | (uint64_t{1} << 52);
    q = biased - 1075;
  }
  int topBit = 63 - __builtin_clzll(m);
  int binaryExp = topBit + q;  // 2^binaryExp <= v < 2^(binaryExp+1)
  int e = floorLog10Pow2(binaryExp);
  bool small = binaryExp >= -56 && binaryExp < 128;

  Frac frac;
  uint64_t n = small ? scaleSmallRange(m, q, 5 - e, &frac)
                     : scaleAnyRange(m, q, 5 - e, &frac);
  if (n >= kMillion) {
    // e was floor(log10 v) - 1: drop one digit into the discarded part.
    uint32_t r = static_cast<uint32_t>(n % 10);
    n /= 10;
    ++e;
    if (r < 5) frac = (r == 0 && frac == kZero) ? kZero : kBelowHalf;
    else if (r == 5) frac = frac == kZero ? kHalf : kAboveHalf;
    else frac = kAboveHalf;
  }
  uint32_t d = roundHalfEven(n, frac);
  if (d >= kMillion) {
    d /= 10;
    ++e;
  }
  return emit(negative, d, e, out);
}

// The quick route. For decimal exponents e in kQuickMin..kQuickMax the
// scaled value x = |v| * 10^(5-e) is taken in double arithmetic:
// P = fl(|v| * fl(10^(5-e))). P lies below 2^20 (after at most one retry
// with e one higher), so |P - x| is below half an ulp of P (2^-33) plus
// x * 2^-53 for the rounded power: under 3e-10 in all. Unless P's fraction
// lies within kTieMargin of one half, x rounds to the same integer as P;
// near one half (exact ties included) the exact route decides. Telemetry
// values, mostly a few digits of a decimal, hardly ever come near.
constexpr int kQuickMin = -30;
constexpr int kQuickMax = 22;
constexpr double kTieMargin = 1e-8;

// fl(10^k) for k = 5 - kQuickMax - 1 .. 5 - kQuickMin; the literals are
// rounded correctly by the compiler.
constexpr double kPow10Double[] = {
    1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7,
    1e-6,  1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,  1e4,  1e5,
    1e6,   1e7,   1e8,   1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15, 1e16, 1e17,
    1e18,  1e19,  1e20,  1e21,  1e22,  1e23,  1e24,  1e25,  1e26,  1e27, 1e28, 1e29,
    1e30,  1e31,  1e32,  1e33,  1e34,  1e35,
};
constexpr int kPow10DoubleFirst = 5 - kQuickMax - 1;
static_assert(sizeof kPow10Double / sizeof kPow10Double[0] ==
                  static_cast<size_t>(5 - kQuickMin - kPow10DoubleFirst + 1),
              "one power per exponent the quick route may ask for");

double pow10Double(int k) { return kPow10Double[k - kPow10DoubleFirst]; }

// QFormatG's text at out, which has QFMTG_WIDEROOM bytes of room; bytes past
// the returned length are scratch.
inline __attribute__((always_inline)) int formatWide(double v, char* out) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  bool negative = bits >> 63;
  int biased = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);

  if (biased != 0 && biased != 0x7FF) {
    int e = floorLog10Pow2(biased - 1023);  // floor(log10 |v|) or one less
    if (e >= kQuickMin && e <= kQuickMax) {
      uint64_t absBits = bits & ~(uint64_t{1} << 63);
      double a;
      std::memcpy(&a, &absBits, sizeof a);
      // e one too low shows as a scaled value of seven digits; both
      // products are taken so that no branch hangs on which.
      double scaled = a * pow10Double(5 - e);
      double scaledDown = a * pow10Double(4 - e);
      bool up = scaled >= 1e6;
      e += up;
      scaled = up ? scaledDown : scaled;
      uint64_t whole = static_cast<uint64_t>(scaled);
      double rest = scaled - static_cast<double>(whole);
      if (rest < 0.5 - kTieMargin || rest > 0.5 + kTieMargin) {
        uint32_t d = static_cast<uint32_t>(whole) + (rest > 0.5);
        if (d >= kMillion) {  // 999999.5 and up: one more digit left of the point
          d = kMillion / 10;
          ++e;
        }
        return emit(negative, d, e, out);
      }
    }
    return formatExact(negative, biased, fraction, out);
  }

  char* p = out;
  if (biased == 0x7FF) {
    if (negative) *p++ = '-';
    std::memcpy(p, fraction ? "nan" : "inf", 3);
    return static_cast<int>(p - out) + 3;
  }
  if (fraction == 0) {
    if (negative) *p++ = '-';
    *p++ = '0';
    return static_cast<int>(p - out);
  }
  return formatExact(negative, biased, fraction, out);
}

}  // namespace

char* QFormatGLine(const double* values, int count, char* out) {
  if (count <= 0) {
    *out = '\n';
    return out + 1;
  }
  for (int j = 0; j < count; ++j) {
    out += formatWide(values[j], out);
    *out++ = ' ';
  }
  out[-1] = '\n';
  return out;
}

int QFormatG(double v, char* out) {
  char text[QFMTG_WIDEROOM];
  int n = formatWide(v, text);
  std::memcpy(out, text, QFMTG_MAXLEN);
  return n;
}
