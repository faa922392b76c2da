#include "text/qatof.h"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

using namespace qatof_detail;

bool isCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

double slowPath(const char* text, size_t length) {
  char copy[512];
  if (length < sizeof copy) {
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    return std::strtod(copy, nullptr);
  }
  char* big = static_cast<char*>(std::malloc(length + 1));
  if (!big) return 0.0;
  std::memcpy(big, text, length);
  big[length] = '\0';
  double v = std::strtod(big, nullptr);
  std::free(big);
  return v;
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
  // Plain decimal forms only: hexadecimal, inf, nan and anything odd go the
  // long way so that their quirks stay the C library's.
  if (digits < end && ((*digits >= '0' && *digits <= '9') || *digits == '.')) {
    bool hex = digits + 1 < end && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    if (!hex) {
      if (fastDecimal(digits, end, negative, &value)) return value;
      auto [ptr, ec] = std::from_chars(digits, end, value, std::chars_format::general);
      if (ec == std::errc() && ptr != digits) return negative ? -value : value;
      if (ec == std::errc::invalid_argument) return 0.0;  // no conversion at all
    }
  }
  return slowPath(text, length);
}
