// The fast paths of the conversion against the C library: number reading against strtod and
// "%lf" writing against printf, on thousands of random inputs, to the bit. The fast grid
// lookups are checked by the end-to-end golden files and the derived Lab tests.
#include "numbertext.h"
#include "patchtables.h"
#include "testutil.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>

// Reads `text` both ways; the values must be the same bits and the ends the same place.
static void ExpectParsesLikeStrtod(const std::string& text)
{
    char *wantEnd = nullptr, *gotEnd = nullptr;
    const double want = std::strtod(text.c_str(), &wantEnd), got = ParseDouble(text.c_str(), &gotEnd);
    EXPECT_EQ(std::pair(std::bit_cast<std::uint64_t>(want), wantEnd - text.c_str()),
              std::pair(std::bit_cast<std::uint64_t>(got), gotEnd - text.c_str())) << '"' << text << '"';
}

TEST(FastNumberText, ReadsEverySpellingAsStrtodDoes)
{
    for (const char* text : {"", "-.", "e5", "0x1.8p3", "-INFINITY", "nan(123)", "1e-400", "4.9e-324",
                             "2.2250738585072011e-308", "1.7976931348623159e308", "9007199254740993", "1.5E-x",
                             "1e23", "3e-23", "1e0000000000005", "4503599627370497.5", "  \t\n\v\f\r7", "\xa0" "5"})
        ExpectParsesLikeStrtod(text);
    std::mt19937_64 random(7);
    auto pick = [&](std::initializer_list<const char*> l) { return std::string(l.begin()[random() % l.size()]); };
    auto digits = [&](int most) {
        std::string s(random() % (most + 1), '0');
        std::generate(s.begin(), s.end(), [&] { return static_cast<char>('0' + random() % 10); });
        return s;
    };
    for (int i = 0; i < 20000; ++i)
        ExpectParsesLikeStrtod(pick({"", " ", "\v\f\r"}) + pick({"", "", "+", "-"}) + digits(22) + pick({"", "."}) +
                               digits(22) + pick({"", "", "", "e", "E-", "e+"}) + digits(4) + pick({"", " 1", "x"}));
}

// Each value alone, then all of them as lines of three through the file writer, whose
// buffer they fill several times over.
TEST(FastNumberText, WritesEveryDoubleAsPrintfDoes)
{
    std::vector<double> values = {0.0, -0.0, HUGE_VAL, -HUGE_VAL, std::nan(""), -std::nan(""), -0.0000004, 0.0000005,
                                  999999.9999995, std::ldexp(1.0, 43), std::nextafter(std::ldexp(1.0, 43), 0.0),
                                  8796093022207.9999995};
    std::mt19937_64 random(11);
    for (int i = 0; i < 12000; ++i) {
        // Odd multiples of 2^-7 have a 5 in the seventh decimal; their neighbours do not.
        const double half = static_cast<double>(static_cast<std::int64_t>(random() % 2000001) - 1000000) / 128.0;
        // Values of every magnitude around the integer path's limit of 2^43 and below.
        const double scaled = std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 140));
        values.insert(values.end(), {std::bit_cast<double>(random()), half, std::nextafter(half, -HUGE_VAL),
                                     std::nextafter(half, HUGE_VAL), scaled, -scaled});
    }
    std::vector<Color3> triplets(values.size() / 3);
    std::string want;
    for (std::size_t i = 0; i < values.size(); ++i) {
        char printed[k_maxFixed6Chars + 1], text[k_maxFixed6Chars];
        std::snprintf(printed, sizeof printed, "%lf", values[i]);
        EXPECT_EQ(printed, std::string(text, FormatFixed6(text, values[i]))) << std::hexfloat << values[i];
        triplets[i / 3].c[i % 3] = values[i];
        want += printed + std::string(i % 3 == 2 ? "\n" : "\t");
    }
    testutil::TempDir dir;
    ASSERT_EQ(1, WriteTabDelimitedTriplets(dir.file("out").c_str(), triplets));
    EXPECT_TRUE(want == testutil::ReadFile(dir.file("out")));
}
