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
