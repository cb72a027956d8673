#include "numbertext.h"

#include <charconv>
#include <cstdlib>

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The white space of the "C" locale, which strtod skips.
bool IsSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// End of the decimal spelling that starts at `p` (digits, point, digits, exponent). An 'e'
// not followed by a digit, after an optional sign, is not part of the number.
const char* DecimalEnd(const char* p)
{
    while (IsDigit(*p))
        ++p;
    if (*p == '.') {
        ++p;
        while (IsDigit(*p))
            ++p;
    }
    if (*p == 'e' || *p == 'E') {
        const char* exponent = p + 1;
        if (*exponent == '+' || *exponent == '-')
            ++exponent;
        if (IsDigit(*exponent)) {
            p = exponent;
            while (IsDigit(*p))
                ++p;
        }
    }
    return p;
}

}  // namespace

double ParseDouble(const char* text, char** end)
{
    const char* p = text;
    while (IsSpace(*p))
        ++p;
    const bool negative = (*p == '-');
    if (*p == '+' || *p == '-')
        ++p;
    const bool decimal = IsDigit(p[0]) || (p[0] == '.' && IsDigit(p[1]));
    // "0x" starts a hexadecimal float, which strtod reads and from_chars does not.
    if (!decimal || (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')))
        return std::strtod(text, end);

    const char* last = DecimalEnd(p);
    double value = 0.0;
    const std::from_chars_result r = std::from_chars(p, last, value, std::chars_format::general);
    // Out of range: strtod decides between infinity, a subnormal and zero.
    if (r.ec != std::errc() || r.ptr != last)
        return std::strtod(text, end);
    if (end)
        *end = const_cast<char*>(last);
    return negative ? -value : value;
}

char* FormatFixed6(char* out, double value)
{
    return std::to_chars(out, out + k_maxFixed6Chars, value, std::chars_format::fixed, 6).ptr;
}
