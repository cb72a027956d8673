// The fast paths of the conversion against independent answers: number reading against
// strtod and "%lf" writing against printf on thousands of random inputs, to the bit; and the
// axis lookups on unevenly spaced axes against a chart whose interpolation is exact.
#include "derivedlab.h"
#include "numbertext.h"
#include "patchtables.h"
#include "testutil.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>

namespace {

// Reads `text` both ways; the values must be the same bits and the ends the same place.
void ExpectParsesLikeStrtod(const std::string& text)
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

// Lab equals RGB on axes whose steps are powers of two, so that trilinear interpolation of
// these targets is exact whichever cell a value on an axis point is given to. The patches
// come in reverse order, some measured twice (their mean is the point itself). Every value
// on an axis, between two and at both ends is found; a step outside, NaN and infinity are not.
TEST(FastDerivedLab, FindsTargetsOnUnevenAxes)
{
    const std::vector<double> axis = {-0.0, 1, 3, 7, 8, 16, 48}, inside = {0, 0.5, 1, 2, 3, 6.5, 7, 7.25, 8, 9, 16, 40, 48};
    std::vector<Color3> rgb, lab, targets;
    for (double r : axis)
        for (double g : axis)
            for (double b : axis) {
                rgb.insert(rgb.begin(), Color3{{r, g, b}});
                lab.insert(lab.begin(), Color3{{r - (g == 3), g, b}});
                if (g == 3)
                    rgb.push_back(rgb.front()), lab.push_back(Color3{{r + 1, g, b}});
            }
    for (double r : inside)
        for (double g : inside)
            for (double b : inside)
                targets.push_back(Color3{{r, g, b}});
    testutil::CaptureStdout quiet;  // the grid line
    std::vector<Color3> derived;
    ASSERT_TRUE(ComputeDerivedLabValues(rgb, lab, targets, &derived));
    for (std::size_t t = 0; t < targets.size(); ++t)
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ(targets[t].c[c], derived[t].c[c]) << t;
    for (const double outside : {-1e-300, 48.000001, std::nan(""), HUGE_VAL, -HUGE_VAL})
        for (int c = 0; c < 3; ++c) {
            Color3 target{{3, 3, 3}};
            target.c[c] = outside;
            EXPECT_FALSE(ComputeDerivedLabValues(rgb, lab, {target}, &derived)) << outside;
        }
}

}  // namespace
