#include "numbertext.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

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

// Exact powers of ten: every one up to 10^22 is a double.
constexpr double k_powersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int k_maxExactPower = 22;
// Mantissas up to 2^53 are exact doubles; 19 digits always fit in 64 bits.
constexpr std::uint64_t k_maxExactMantissa = std::uint64_t(1) << 53;
constexpr int k_maxMantissaDigits = 19;
// Exponents beyond this are left to from_chars, which sees every digit.
constexpr int k_maxExponentDigits = 5;

// A decimal spelling (digits, point, digits, exponent) starting at `p`: its end, and its
// value when one rounding of mantissa * 10^exponent gives it exactly (the mantissa and the
// power are both exact doubles, so the single multiplication or division rounds correctly).
struct Decimal {
    const char* end = nullptr;
    bool exact = false;
    double value = 0.0;
};

Decimal ScanDecimal(const char* p)
{
    std::uint64_t mantissa = 0;
    int digits = 0;
    int exponent = 0;
    for (; IsDigit(*p); ++p, ++digits)
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    if (*p == '.') {
        for (++p; IsDigit(*p); ++p, ++digits, --exponent)
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    bool exact = digits <= k_maxMantissaDigits;
    // An 'e' not followed by a digit, after an optional sign, is not part of the number.
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        const bool negative = (*q == '-');
        if (*q == '+' || *q == '-')
            ++q;
        if (IsDigit(*q)) {
            int written = 0;
            int digitCount = 0;
            for (p = q; IsDigit(*p); ++p, ++digitCount)
                written = (digitCount < k_maxExponentDigits) ? written * 10 + (*p - '0') : written;
            exact = exact && digitCount <= k_maxExponentDigits;
            exponent += negative ? -written : written;
        }
    }
    Decimal d;
    d.end = p;
    d.exact = exact && mantissa <= k_maxExactMantissa && exponent >= -k_maxExactPower &&
              exponent <= k_maxExactPower;
    if (d.exact) {
        const double m = static_cast<double>(mantissa);
        d.value = (exponent < 0) ? m / k_powersOfTen[-exponent] : m * k_powersOfTen[exponent];
    }
    return d;
}

// Values below 2^43 have fewer than 2^63 rounded millionths and take the integer path.
constexpr int k_exponentBias = 1023;
constexpr int k_maxFastExponent = 43;
__extension__ typedef unsigned __int128 Uint128;

// "00" to "99".
struct DigitPairs {
    char pair[100][2];
    constexpr DigitPairs() : pair()
    {
        for (int n = 0; n < 100; ++n) {
            pair[n][0] = static_cast<char>('0' + n / 10);
            pair[n][1] = static_cast<char>('0' + n % 10);
        }
    }
    const char* operator[](unsigned n) const { return pair[n]; }
};
constexpr DigitPairs k_digitPairs;

// Below 2^32 the integer part and the decimals are taken apart, both exactly; the decimals
// times 10^6, below 10^6, then lie within 2^-33 of the exact product. When its fraction is
// farther than 2^-11 from one half, the exact product rounds the same way, and `decimals` is
// the rounded product (10^6 when the decimals carry into the integer part). Near a tie, and
// for larger values and NaN, false.
constexpr double k_maxQuickValue = 4294967296.0;  // 2^32
constexpr double k_tieMargin = 1.0 / 2048;

bool QuickDecimals(double magnitude, std::uint64_t* integer, std::uint32_t* decimals)
{
    if (!(magnitude < k_maxQuickValue))
        return false;
    const auto whole = static_cast<std::uint32_t>(magnitude);
    const double scaled = (magnitude - static_cast<double>(whole)) * 1e6;
    const auto millionths = static_cast<std::uint32_t>(scaled);
    const double rest = scaled - static_cast<double>(millionths);  // exact
    if (std::fabs(rest - 0.5) <= k_tieMargin)
        return false;
    *integer = whole;
    *decimals = rest > 0.5 ? millionths + 1 : millionths;
    return true;
}

// |value| * 10^6 rounded to nearest, ties to even, from the bits of a value below 2^43.
std::uint64_t ExactMillionths(std::uint64_t bits, int biasedExponent)
{
    // |value| = mantissa / 2^shift; below 2^43 the shift is at least 10.
    std::uint64_t mantissa = bits & ((std::uint64_t(1) << 52) - 1);
    int shift = k_exponentBias + 51;
    if (biasedExponent > 0) {
        mantissa |= std::uint64_t(1) << 52;
        shift = k_exponentBias + 52 - biasedExponent;
    }
    // millionths = mantissa * 10^6 / 2^shift, rounded to nearest, ties to even. The product
    // is below 2^73, so from a shift of 74 on the quotient is below one half and rounds to 0.
    std::uint64_t millionths = 0;
    if (shift < 74) {
        const Uint128 product = static_cast<Uint128>(mantissa) * 1000000u;
        millionths = static_cast<std::uint64_t>(product >> shift);
        const Uint128 rest = product - (static_cast<Uint128>(millionths) << shift);
        const Uint128 half = static_cast<Uint128>(1) << (shift - 1);
        if (rest > half || (rest == half && (millionths & 1)))
            ++millionths;
    }
    return millionths;
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

    const Decimal d = ScanDecimal(p);
    double value = d.value;
    if (!d.exact) {
        const std::from_chars_result r = std::from_chars(p, d.end, value, std::chars_format::general);
        // Out of range: strtod decides between infinity, a subnormal and zero.
        if (r.ec != std::errc() || r.ptr != d.end)
            return std::strtod(text, end);
    }
    if (end)
        *end = const_cast<char*>(d.end);
    return negative ? -value : value;
}

char* FormatFixed6(char* out, double value)
{
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const int biasedExponent = static_cast<int>((bits >> 52) & 0x7ff);
    // Large values, infinities and NaN: the rounded millionths would not fit in 64 bits.
    if (biasedExponent >= k_exponentBias + k_maxFastExponent)
        return std::to_chars(out, out + k_maxFixed6Chars, value, std::chars_format::fixed, 6).ptr;

    std::uint64_t integer = 0;
    std::uint32_t decimals = 0;
    if (!QuickDecimals(std::fabs(value), &integer, &decimals)) {
        const std::uint64_t millionths = ExactMillionths(bits, biasedExponent);
        integer = millionths / 1000000;
        decimals = static_cast<std::uint32_t>(millionths % 1000000);
    }
    if (decimals == 1000000) {
        ++integer;
        decimals = 0;
    }
    // printf keeps the sign of every negative value, -0.0 and those rounding to zero too.
    if (bits >> 63)
        *out++ = '-';
    // Integer parts below 100, the usual ones, from the digit pairs.
    if (integer < 10) {
        *out++ = static_cast<char>('0' + integer);
    } else if (integer < 100) {
        std::memcpy(out, k_digitPairs[static_cast<unsigned>(integer)], 2);
        out += 2;
    } else {
        out = std::to_chars(out, out + k_maxFixed6Chars, integer).ptr;
    }
    *out++ = '.';
    // The six decimals as three pairs of digits.
    std::memcpy(out, k_digitPairs[decimals / 10000], 2);
    std::memcpy(out + 2, k_digitPairs[decimals / 100 % 100], 2);
    std::memcpy(out + 4, k_digitPairs[decimals % 100], 2);
    return out + 6;
}
