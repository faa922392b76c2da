#include "text/qatof.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace {

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
      auto [ptr, ec] = std::from_chars(digits, end, value, std::chars_format::general);
      if (ec == std::errc() && ptr != digits) return negative ? -value : value;
      if (ec == std::errc::invalid_argument) return 0.0;  // no conversion at all
    }
  }
  return slowPath(text, length);
}
