// QAtof: the C library's atof over a piece of text, without its cost.
//
// Gives exactly what atof would give for the same characters followed by a
// terminator: leading white space skipped, the longest numeric prefix taken
// (decimal, hexadecimal, inf and nan spellings), 0.0 when there is none,
// +-HUGE_VAL on overflow. Plain decimal numbers are converted without locale
// look-ups or allocation; the rare rest is handed to strtod. Never throws.
#pragma once

#include <cstddef>

double QAtof(const char* text, size_t length);

// The fast road alone, for callers that scan the text themselves: converts a
// plain decimal number at the very start of [text, end) (no white space
// skipped), sets *value and returns where the number ends, or returns null
// when the text needs QAtof. A non-null result always agrees with QAtof.
const char* QAtofFast(const char* text, const char* end, double* value);
