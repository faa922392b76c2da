// QAtof: the C library's atof over a piece of text, without its cost, and
// QAtofField with QFieldEnd16, the same conversion for the fields of a log
// line when the caller has found where they end. Nothing here throws.
#pragma once

#include <cstddef>

#include "text/qatof_fast.h"

// Exactly what glibc's atof gives for these characters followed by a
// terminator, on every platform and without the C runtime: leading white
// space skipped, the longest numeric prefix taken (decimal, hexadecimal, inf
// and nan spellings, "nan(chars)" with its payload), 0.0 when there is none,
// +-HUGE_VAL on overflow, the correctly rounded subnormal or zero below.
// Reads only [text, text + length); takes no locale look-up or allocation.
double QAtof(const char* text, size_t length);

// How many bytes past a field's start QAtofField and QFieldEnd16 may read,
// wherever the field ends: a caller guarantees that much readable memory.
constexpr ptrdiff_t kQAtofFieldRoom = 32;

// Converts the whole field [text, end), known to hold no space or control
// character, when it is exactly a plain decimal of the common short shapes:
// an optional minus, at most 8 integer digits, a point and fraction digits
// within the first 16 characters, and an exponent of one or two digits.
// False for anything else (QAtof has the answer then). A true result always
// agrees with QAtof over the field.
inline bool QAtofField(const char* text, const char* end, double* value) {
  return qatof_detail::fieldDecimal(text, end, value);
}

// How far from text the first character at or below a space is (a space, a
// line break, a NUL or another control character), within the 16 characters
// at text; 16 when there is none. Where a field of a log line ends.
inline int QFieldEnd16(const char* text) { return qatof_detail::firstStop16(text); }
