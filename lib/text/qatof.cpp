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
    uint64_t chunk;
    std::memcpy(&chunk, p, 8);
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
// Returns where the number ends, or null for anything that must take the
// general road.
const char* fastDecimal(const char* p, const char* end, bool negative, double* out) {
  uint64_t mantissa = 0;
  int digits = 0;
  if (!takeDigits(p, end, mantissa, digits)) return nullptr;
  int exponent = 0;
  if (p < end && *p == '.') {
    ++p;
    int before = digits;
    if (!takeDigits(p, end, mantissa, digits)) return nullptr;
    exponent = before - digits;
  }
  if (digits == 0) return nullptr;
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
      p = q;
    }
  }
  double value;
  if (mantissa == 0) {
    value = 0.0;
  } else {
    if (mantissa > (uint64_t{1} << 53) || exponent < -22 || exponent > 22) return nullptr;
    value = static_cast<double>(mantissa);
    value = exponent >= 0 ? value * kPow10[exponent] : value / kPow10[-exponent];
  }
  *out = negative ? -value : value;
  return p;
}

}  // namespace

double QAtof(const char* text, size_t length) {
  // atof stops at a terminator; so does the copy it would be given.
  if (const void* nul = std::memchr(text, '\0', length))
    length = static_cast<size_t>(static_cast<const char*>(nul) - text);
  const char* p = text;
  const char* end = text + length;
  while (p < end && isCSpace(*p)) ++p;
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
      double value = 0.0;
      if (fastDecimal(digits, end, negative, &value)) return value;
      auto [ptr, ec] = std::from_chars(digits, end, value, std::chars_format::general);
      if (ec == std::errc() && ptr != digits) return negative ? -value : value;
      if (ec == std::errc::invalid_argument) return 0.0;  // no conversion at all
    }
  }
  return slowPath(text, length);
}

const char* qatof_detail::LongDecimal(const char* text, const char* end, double* value) {
  const char* p = text;
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  if (p + 1 < end && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) return nullptr;
  return fastDecimal(p, end, negative, value);
}
