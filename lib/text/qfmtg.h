// QFormatG: the text of a double as the C library's "%g" writes it.
//
// The log writer prints millions of values, and snprintf spends most of its
// time on locale look-ups and argument parsing. QFormatG gives the very bytes
// that glibc's snprintf(buf, n, "%g", v) gives for every double: six
// significant digits rounded from the exact binary value (ties to even),
// trailing zeros and a bare point dropped, exponent form for exponents below
// -4 or of 6 and more with at least two exponent digits, "-0" for negative
// zero, "inf"/"-inf" and "nan"/"-nan" after the sign bit.
#pragma once

// The longest text QFormatG writes ("-1.23457e-308" has 13 characters).
constexpr int QFMTG_MAXLEN = 13;

// Writes the text of v to out (at least QFMTG_MAXLEN bytes of room; no
// terminating NUL) and returns its length. Never allocates, never fails,
// thread-safe; it reads no locale, so the point is always '.'.
int QFormatG(double v, char* out);

// Scratch room QFormatGLine needs past the end of its longest line.
constexpr int QFMTG_WIDEROOM = 32;

// One line of a log: the count values separated by single spaces, then a
// newline (a bare newline for none), the text QFormatG gives for each. For
// writers that lay out many lines in one buffer: out needs count *
// (QFMTG_MAXLEN + 1) bytes (1 for none) plus QFMTG_WIDEROOM, since values
// are laid out with fixed-size stores whose surplus the next value
// overwrites; returns the end of the line.
char* QFormatGLine(const double* values, int count, char* out);
