#include "text/qatof.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

using namespace qatof_detail;

bool isCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Folds an ASCII letter to lower case; other bytes stay apart from letters.
char lower(char c) { return static_cast<char>(c | 0x20); }

int hexDigit(char c) {
  if (isDigit(c)) return c - '0';
  char l = lower(c);
  return l >= 'a' && l <= 'f' ? l - 'a' + 10 : -1;
}

// Whether [p, end) starts with word, ignoring the case of letters.
bool startsWith(const char* p, const char* end, const char* word) {
  for (; *word; ++p, ++word)
    if (p == end || lower(*p) != *word) return false;
  return true;
}

double withSign(double v, bool negative) { return negative ? -v : v; }

// Whether a number that std::from_chars found out of range, [p, end) with
// the sign taken off, is too large rather than too small: the place of its
// first nonzero digit plus its exponent. Out of range lies beyond 1e308 or
// below 1e-323, far from zero
// either way, so the sign of that sum decides. The exponent saturates, and
// the digit counts stay within the text's length, so nothing overflows.
__attribute__((noinline, cold)) bool tooLarge(const char* p, const char* end) {
  int64_t place = 0;
  bool found = false;
  for (; p < end && isDigit(*p); ++p) {
    found = found || *p != '0';
    place += found;
  }
  if (p < end && *p == '.') {
    for (++p; p < end && isDigit(*p); ++p) {
      if (found) continue;
      found = *p != '0';
      place -= !found;
    }
  }
  int64_t exponent = 0;
  if (p < end && lower(*p) == 'e') {
    ++p;
    bool negExp = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+')) ++p;
    for (; p < end && isDigit(*p); ++p)
      if (exponent < (int64_t{1} << 40)) exponent = exponent * 10 + (*p - '0');
    if (negExp) exponent = -exponent;
  }
  return place + exponent > 0;
}

// What std::from_chars leaves to the caller: a value too large for a
// double is HUGE_VAL, one that rounds below the least subnormal is zero,
// each with the number's sign, as the C library gives them.
double fromChars(const char* p, const char* end, bool negative) {
  double value = 0.0;
  auto [ptr, ec] = std::from_chars(p, end, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) value = tooLarge(p, ptr) ? HUGE_VAL : 0.0;
  else if (ec != std::errc()) return 0.0;  // no conversion: the sign is not applied
  return withSign(value, negative);
}

// The payload of "nan(chars)": the characters read as one unsigned integer
// in C's base-0 manner (0x hexadecimal, a leading 0 octal, else decimal),
// saturating; 0 unless all of them are digits of that base.
uint64_t nanPayload(const char* p, const char* end) {
  unsigned base = 10;
  if (end - p >= 2 && p[0] == '0' && lower(p[1]) == 'x') {
    if (end - p == 2) return 0;  // "0x" alone is a 0 followed by a stray x
    base = 16;
    p += 2;
  } else if (p < end && p[0] == '0') {
    base = 8;
  }
  uint64_t value = 0;
  for (; p < end; ++p) {
    int d = hexDigit(*p);
    if (d < 0 || static_cast<unsigned>(d) >= base) return 0;
    if (value > (UINT64_MAX - static_cast<unsigned>(d)) / base) value = UINT64_MAX;
    else value = value * base + static_cast<unsigned>(d);
  }
  return value;
}

// The value of the hexadecimal number at p (past the "0x", at least one
// digit in it), as glibc rounds it: correctly to nearest-even, except that
// a subnormal result is rounded from the number already cut to 53 bits,
// with the bits past the 54th still counting but the 54th itself lost, so
// that it can end on a tie where the full number lies just above one.
double hexValue(const char* p, const char* end, bool negative) {
  uint64_t mantissa = 0;  // the first 16 significant digits
  int taken = 0;
  bool sticky = false;    // a nonzero digit past those
  int64_t exponent = 0;   // of two, for mantissa's last bit
  auto digit = [&](int d, bool fraction) {
    if (taken == 16) {
      sticky = sticky || d != 0;
      if (!fraction) exponent += 4;
      return;
    }
    if (fraction) exponent -= 4;
    if (taken > 0 || d != 0) {
      mantissa = mantissa << 4 | static_cast<unsigned>(d);
      ++taken;
    }
  };
  for (; p < end && hexDigit(*p) >= 0; ++p) digit(hexDigit(*p), false);
  if (p < end && *p == '.')
    for (++p; p < end && hexDigit(*p) >= 0; ++p) digit(hexDigit(*p), true);
  if (p < end && lower(*p) == 'p') {
    const char* e = p + 1;
    bool negExp = e < end && *e == '-';
    if (e < end && (*e == '-' || *e == '+')) ++e;
    int64_t power = 0;  // saturates, far beyond any double's range
    for (; e < end && isDigit(*e); ++e)
      if (power < (int64_t{1} << 40)) power = power * 10 + (*e - '0');
    exponent += negExp ? -power : power;
  }
  if (mantissa == 0) return withSign(0.0, negative);
  int top = 63 - __builtin_clzll(mantissa);
  int64_t scale = top + exponent;  // the value lies in [2^scale, 2^(scale + 1))
  if (scale > 1023) return withSign(HUGE_VAL, negative);
  // Cut to 53 bits: the round bit (the 54th) and whether any below it is set.
  int cut = top - 52;
  uint64_t kept = cut > 0 ? mantissa >> cut : mantissa << -cut;
  bool round = cut > 0 && (mantissa >> (cut - 1) & 1);
  bool below = sticky || (cut > 1 && (mantissa & ((uint64_t{1} << (cut - 1)) - 1)) != 0);
  uint64_t bits;
  if (scale < -1022) {
    int64_t shift = -1022 - scale;
    if (shift > 53) return withSign(0.0, negative);
    below = below || (shift > 1 && (kept & ((uint64_t{1} << (shift - 1)) - 1)) != 0);
    round = kept >> (shift - 1) & 1;
    kept >>= shift;
    kept += round && (below || (kept & 1));
    bits = kept;  // a carry into bit 52 makes it the least normal number
  } else {
    kept += round && (below || (kept & 1));
    if (kept >> 53) {
      kept >>= 1;
      if (++scale > 1023) return withSign(HUGE_VAL, negative);
    }
    bits = static_cast<uint64_t>(scale + 1023) << 52 | (kept & ((uint64_t{1} << 52) - 1));
  }
  bits |= uint64_t{negative} << 63;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Everything but a plain decimal: p is past the white space and the sign.
// Kept out of QAtof's body (cold), so that the common roads stay as tight
// as they were.
// Hexadecimal with an optional point and binary exponent, "inf" and
// "infinity", "nan" and "nan(chars)" with the chars as the low bits of a
// quiet NaN, all regardless of case; 0 without the sign for anything else.
// Our own reading of the C library's grammar, so that no platform's strtod
// (which differ in these corners) is asked.
__attribute__((noinline, cold)) double rarePath(const char* p, const char* end, bool negative) {
  if (end - p >= 2 && p[0] == '0' && lower(p[1]) == 'x') {
    const char* q = p + 2;
    // Without a hexadecimal digit the number is the "0" before the x.
    bool digits = q < end && (hexDigit(*q) >= 0 ||
                              (*q == '.' && q + 1 < end && hexDigit(q[1]) >= 0));
    if (!digits) return withSign(0.0, negative);
    return hexValue(q, end, negative);
  }
  if (startsWith(p, end, "inf")) return withSign(HUGE_VAL, negative);
  if (startsWith(p, end, "nan")) {
    uint64_t bits = 0x7FF8000000000000ULL | (uint64_t{negative} << 63);
    const char* open = p + 3;
    if (open < end && *open == '(') {
      const char* q = open + 1;
      while (q < end && (isDigit(*q) || (lower(*q) >= 'a' && lower(*q) <= 'z') || *q == '_')) ++q;
      if (q < end && *q == ')') bits |= nanPayload(open + 1, q) & 0x000FFFFFFFFFFFFFULL;
    }
    double nan;
    std::memcpy(&nan, &bits, sizeof nan);
    return nan;
  }
  return 0.0;
}

// Appends the run of digits at p to mantissa, 8 at a time where the text
// allows; false when the digits would pass 19 in all.
bool takeDigits(const char*& p, const char* end, uint64_t& mantissa, int& digits) {
  while (end - p >= 8) {
    uint64_t chunk = load8(p);
    int n = leadingDigits(chunk);
    if (n == 0) return true;
    if (digits + n > 19) return false;
    mantissa = mantissa * kPow10Int[n] + digitsValue(chunk, n);
    digits += n;
    p += n;
    if (n < 8) return true;
  }
  while (p < end && isDigit(*p)) {
    if (++digits > 19) return false;
    mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
    ++p;
  }
  return true;
}

// The common case of log values ("%g" text and the like): at most 19
// digits whose integer fits 53 bits, and a decimal exponent within +-22.
// Both the mantissa and the power of ten are then exact doubles, so one
// multiplication or division rounds correctly, exactly as strtod does.
// False for anything that must take the general road.
bool fastDecimal(const char* p, const char* end, bool negative, double* out) {
  uint64_t mantissa = 0;
  int digits = 0;
  if (!takeDigits(p, end, mantissa, digits)) return false;
  int exponent = 0;
  if (p < end && *p == '.') {
    ++p;
    int before = digits;
    if (!takeDigits(p, end, mantissa, digits)) return false;
    exponent = before - digits;
  }
  if (digits == 0) return false;
  if (p < end && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    bool negExp = false;
    if (q < end && (*q == '-' || *q == '+')) negExp = *q++ == '-';
    if (q < end && isDigit(*q)) {
      int e = 0;
      while (q < end && isDigit(*q)) {
        if (e < 100000) e = e * 10 + (*q - '0');
        ++q;
      }
      exponent += negExp ? -e : e;
    }
  }
  if (mantissa == 0) {
    *out = negative ? -0.0 : 0.0;
  } else {
    if (mantissa > (uint64_t{1} << 53) || exponent < -22 || exponent > 22) return false;
    *out = scaledExactly(mantissa, exponent, negative);
  }
  return true;
}

// Text that is one plain short field, or starts with one that a space or a
// control character ends (no number runs on past those), takes the field
// road. Up to 16 characters with too little room after them for the road's
// reads are copied out first, with spaces after them.
bool fieldRoad(const char* p, const char* end, double* out) {
  ptrdiff_t left = end - p;
  if (left >= kQAtofFieldRoom) {
    int stop = QFieldEnd16(p);
    return stop > 0 && stop < 16 && QAtofField(p, p + stop, out);
  }
  if (left == 0 || left > 16) return false;
  // The copy is gathered in two words by loads that overlap, none past end,
  // and stored in one piece: a 16-character read of what several smaller
  // stores just wrote would wait for them to reach the cache.
  constexpr uint64_t kSpaces = 0x2020202020202020ULL;
  uint64_t lo;
  uint64_t hi = kSpaces;
  if (left >= 8) {
    lo = load8(p);
    if (left > 8)
      hi = (load8(end - 8) >> (8 * (16 - left))) | (left < 16 ? kSpaces << (8 * (left - 8)) : 0);
  } else if (left >= 4) {
    uint32_t head;
    uint32_t tail;
    std::memcpy(&head, p, 4);
    std::memcpy(&tail, end - 4, 4);
    lo = head | (uint64_t{tail} << (8 * (left - 4))) | (kSpaces << (8 * left));
  } else {
    auto byte = [](char c) { return uint64_t{static_cast<unsigned char>(c)}; };
    lo = byte(p[0]) | byte(p[left / 2]) << (8 * (left / 2)) |
         byte(p[left - 1]) << (8 * (left - 1)) | kSpaces << (8 * left);
  }
  alignas(16) char room[kQAtofFieldRoom];
#if defined(__SSE2__)
  _mm_store_si128(reinterpret_cast<__m128i*>(room),
                  _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo)));
  _mm_store_si128(reinterpret_cast<__m128i*>(room + 16), _mm_set1_epi8(' '));
#else
  std::memcpy(room, &lo, 8);
  std::memcpy(room + 8, &hi, 8);
  std::memset(room + 16, ' ', 16);
#endif
  int stop = QFieldEnd16(room);
  return stop > 0 && QAtofField(room, room + stop, out);
}

}  // namespace

double QAtof(const char* text, size_t length) {
  // atof stops at a terminator; so does the copy it would be given.
  if (const void* nul = std::memchr(text, '\0', length))
    length = static_cast<size_t>(static_cast<const char*>(nul) - text);
  const char* p = text;
  const char* end = text + length;
  while (p < end && isCSpace(*p)) ++p;
  double value = 0.0;
  if (fieldRoad(p, end, &value)) return value;
  bool negative = false;
  const char* digits = p;
  if (digits < end && (*digits == '-' || *digits == '+')) {
    negative = *digits == '-';
    ++digits;
  }
  // Plain decimal forms only here: hexadecimal, inf, nan and anything odd
  // take the rare path.
  if (digits < end && (isDigit(*digits) || *digits == '.') &&
      !(end - digits >= 2 && digits[0] == '0' && lower(digits[1]) == 'x')) {
    if (fastDecimal(digits, end, negative, &value)) return value;
    return fromChars(digits, end, negative);
  }
  return rarePath(digits, end, negative);
}
