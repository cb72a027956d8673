// Numbers as the tables spell them: reading a double the way strtod does, and writing one
// the way printf "%lf" does, only faster.
//
// Reading: optional white space (space, \t, \n, \v, \f, \r), an optional sign, then decimal
// digits with an optional point and exponent. A spelling of at most 19 digits whose value is
// mantissa * 10^e with mantissa <= 2^53 and |e| <= 22 is one exact multiplication or
// division, correctly rounded as strtod rounds; other decimal spellings go to
// std::from_chars, which also rounds correctly. Every other spelling ("inf", "nan",
// hexadecimal floats, no number at all) and every result out of range (overflow to
// infinity, subnormals, underflow) is handed to strtod itself.
//
// Writing: std::to_chars in fixed notation with six decimals gives the exactly rounded
// decimal value (ties to even), which is what printf prints, including "-0.000000",
// "inf", "-inf", "nan" and "-nan".
#pragma once

#include <cstddef>

// Longest "%lf" text of a double: sign, 309 integer digits, point and six decimals.
inline constexpr std::size_t k_maxFixed6Chars = 320;

// Same result and same *end as std::strtod(text, end) in the "C" locale.
double ParseDouble(const char* text, char** end);

// Writes the "%lf" text of `value` at `out` (k_maxFixed6Chars bytes available, no
// terminating NUL) and returns the position after it.
char* FormatFixed6(char* out, double value);
