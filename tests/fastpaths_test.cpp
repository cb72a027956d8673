// The fast paths of the conversion against straightforward versions kept here: number
// reading against strtod, "%lf" writing against printf, and the whole derived Lab
// computation against a direct transcription with linear axis scans and a quadratic
// duplicate scan. Thousands of random inputs each; results must be identical to the bit.
#include "derivedlab.h"
#include "numbertext.h"
#include "patchtables.h"
#include "preprocess5202.h"
#include "testutil.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <random>
#include <set>

namespace {

namespace reference {

int GetIntegerIndex(double value, const std::vector<double>& axis)
{
    for (std::size_t i = 0; i < axis.size(); ++i)
        if (axis[i] == value)
            return static_cast<int>(i);
    return -1;
}

int GetNearestIndexFloor(double value, const std::vector<double>& axis)
{
    for (std::size_t i = 0; i + 1 < axis.size(); ++i)
        if (axis[i] <= value && axis[i + 1] >= value)
            return static_cast<int>(i);
    return -1;
}

Color3 Lerp(Color3 a, Color3 b, double x, double x0, double x1)
{
    const double t = (x - x0) / (x1 - x0);
    Color3 r;
    for (int n = 0; n < 3; ++n)
        r.c[n] = a.c[n] + (b.c[n] - a.c[n]) * t;
    return r;
}

std::vector<double> BuildAxis(const std::vector<Color3>& patches, int channel)
{
    std::vector<double> values;
    for (const Color3& p : patches)
        if (!std::isnan(p.c[channel]))
            values.push_back(p.c[channel]);
    std::sort(values.begin(), values.end());
    std::vector<double> axis;
    double last = -999.0;
    for (double v : values)
        if (v > last)
            axis.push_back(last = v);
    return axis;
}

bool ComputeDerivedLabValues(std::vector<Color3>& rgb, std::vector<Color3>& lab,
                             const std::vector<Color3>& targets, std::vector<Color3>* derived)
{
    derived->clear();
    if (rgb.size() != lab.size())
        return false;
    Preprocess5202Target(rgb, lab);
    std::vector<Color3> work = lab;
    std::vector<double> axes[3];
    for (int a = 0; a < 3; ++a)
        axes[a] = BuildAxis(rgb, a);
    if (axes[0].size() != axes[1].size() || axes[0].size() != axes[2].size())
        return false;
    const long long n = static_cast<long long>(axes[0].size());
    std::printf("Appears to be a %d x %d x %d grid.\n", int(n), int(n), int(n));
    if (n > k_maxAxisValues)
        return false;
    auto point = [&](const Color3& c) -> long long {
        const int i = GetIntegerIndex(c.c[0], axes[0]), j = GetIntegerIndex(c.c[1], axes[1]),
                  k = GetIntegerIndex(c.c[2], axes[2]);
        return (i < 0 || j < 0 || k < 0) ? -1 : (i * n + j) * n + k;
    };
    std::vector<int> table(static_cast<std::size_t>(n * n * n), -1);
    for (std::size_t p = 0; p < rgb.size(); ++p) {
        if (point(rgb[p]) < 0)
            return false;
        table[point(rgb[p])] = static_cast<int>(p);
    }
    std::set<long long> visited;
    for (std::size_t p = 0; p < rgb.size(); ++p) {
        if (!visited.insert(point(rgb[p])).second)
            continue;
        Color3 sum = work[p];
        unsigned count = 1;
        for (std::size_t q = p + 1; q < rgb.size(); ++q)
            if (rgb[q].c[0] == rgb[p].c[0] && rgb[q].c[1] == rgb[p].c[1] && rgb[q].c[2] == rgb[p].c[2]) {
                for (int c = 0; c < 3; ++c)
                    sum.c[c] += work[q].c[c];
                ++count;
            }
        if (count > 1)
            for (int c = 0; c < 3; ++c)
                work[table[point(rgb[p])]].c[c] = sum.c[c] * (1.0 / count);
    }
    for (const Color3& t : targets) {
        const int f[3] = {GetNearestIndexFloor(t.c[0], axes[0]), GetNearestIndexFloor(t.c[1], axes[1]),
                          GetNearestIndexFloor(t.c[2], axes[2])};
        if (f[0] < 0 || f[1] < 0 || f[2] < 0)
            return false;
        Color3 c[2][2][2];
        for (int di = 0; di < 2; ++di)
            for (int dj = 0; dj < 2; ++dj)
                for (int dk = 0; dk < 2; ++dk) {
                    const int patch = table[((f[0] + di) * n + (f[1] + dj)) * n + (f[2] + dk)];
                    if (patch < 0)
                        return false;
                    c[di][dj][dk] = work[patch];
                }
        const double* b = axes[2].data() + f[2];
        const double* g = axes[1].data() + f[1];
        const double* r = axes[0].data() + f[0];
        const Color3 e00 = Lerp(c[0][0][0], c[0][0][1], t.c[2], b[0], b[1]);
        const Color3 e01 = Lerp(c[0][1][0], c[0][1][1], t.c[2], b[0], b[1]);
        const Color3 e10 = Lerp(c[1][0][0], c[1][0][1], t.c[2], b[0], b[1]);
        const Color3 e11 = Lerp(c[1][1][0], c[1][1][1], t.c[2], b[0], b[1]);
        const Color3 f0 = Lerp(e00, e01, t.c[1], g[0], g[1]);
        const Color3 f1 = Lerp(e10, e11, t.c[1], g[0], g[1]);
        derived->push_back(Lerp(f0, f1, t.c[0], r[0], r[1]));
    }
    return true;
}

}  // namespace reference

std::string Bytes(const std::vector<Color3>& list)
{
    return std::string(reinterpret_cast<const char*>(list.data()), list.size() * sizeof(Color3));
}

std::string PrintfText(double v)
{
    char text[k_maxFixed6Chars + 1];
    std::snprintf(text, sizeof text, "%lf", v);
    return text;
}

std::string FastText(double v)
{
    char text[k_maxFixed6Chars];
    return std::string(text, FormatFixed6(text, v));
}

// Reads `text` both ways; the values must be the same bits and the ends the same place.
void ExpectParsesLikeStrtod(const std::string& text)
{
    SCOPED_TRACE("\"" + text + "\"");
    char* wantEnd = nullptr;
    char* gotEnd = nullptr;
    const double want = std::strtod(text.c_str(), &wantEnd);
    const double got = ParseDouble(text.c_str(), &gotEnd);
    EXPECT_EQ(0, std::memcmp(&want, &got, sizeof want)) << want << " " << got;
    EXPECT_EQ(wantEnd - text.c_str(), gotEnd - text.c_str());
}

TEST(FastNumberText, ReadsEverySpellingAsStrtodDoes)
{
    for (const char* text :
         {"", " ", "-", "+", ".", "-.", "e5", ".e5", "0x", "0x1.8p3", "-0X.8P-2", "0x1p-1074", "inf", "-INFINITY",
          "infinit", "nan", "-nan", "nan(123)", "NaNx", "1e400", "-1e400", "1e-400", "4.9e-324", "2.4e-324",
          "2.2250738585072011e-308", "2.2250738585072014e-308", "1.7976931348623157e308",
          "1.7976931348623159e308", "9007199254740993", "9007199254740992", "123456789012345678901234567890",
          "0.1", "-0", "+0.0", "-0e10", "00000000000000000000001.5", "1.5abc", "1.5e", "1.5e+", "1.5E-x",
          "1,5", "  \t\n\v\f\r7", "1e22", "1e23", "3e-22", "3e-23", "1e99999", "1e-99999", "1e0000000000005",
          "12.34.56", "0.000000000000000000000000000001", "4503599627370497.5", "\xa0" "5"})
        ExpectParsesLikeStrtod(text);

    std::mt19937_64 random(7);
    auto pick = [&](std::initializer_list<const char*> options) {
        return std::string(options.begin()[random() % options.size()]);
    };
    auto digits = [&](int most) {
        std::string s;
        for (int n = static_cast<int>(random() % (most + 1)); n > 0; --n)
            s += static_cast<char>('0' + random() % 10);
        return s;
    };
    for (int i = 0; i < 20000; ++i) {
        std::string text = pick({"", " ", "\t", "\n ", "\v\f\r"}) + pick({"", "", "+", "-"}) + digits(22);
        if (random() % 2) {
            text += '.';
            text += digits(22);
        }
        if (random() % 3 == 0)
            text += pick({"e", "E"}) + pick({"", "+", "-"}) + digits(4);
        ExpectParsesLikeStrtod(text + pick({"", " 1", "x", "\n"}));

        // Doubles of every size, spelled as printf spells them.
        double v = 0.0;
        const std::uint64_t bits = random();
        std::memcpy(&v, &bits, sizeof v);
        char spelled[64];
        std::snprintf(spelled, sizeof spelled, random() % 2 ? "%.*g" : "%.*e", static_cast<int>(random() % 20), v);
        ExpectParsesLikeStrtod(spelled);
    }
}

TEST(FastNumberText, WritesEveryDoubleAsPrintfDoes)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double v : {0.0, -0.0, inf, -inf, nan, -nan, 1.0 / 128, 3.0 / 128, -5.0 / 128, 0.0000005, -0.0000004,
                     1e300, -1.7976931348623157e308, 4.9e-324, 123456.0000005, 0.1, 2.5, 999999.9999995,
                     std::ldexp(1.0, 43), std::nextafter(std::ldexp(1.0, 43), 0.0), 8796093022207.9999995,
                     -std::ldexp(1.0, -20), std::ldexp(3.0, -22), 0.0000005000000000000001})
        EXPECT_EQ(PrintfText(v), FastText(v)) << v;

    std::mt19937_64 random(11);
    for (int i = 0; i < 20000; ++i) {
        double v = 0.0;
        const std::uint64_t bits = random();
        std::memcpy(&v, &bits, sizeof v);
        EXPECT_EQ(PrintfText(v), FastText(v)) << std::hexfloat << v;
        // Halfway cases: odd multiples of 2^-7 have a 5 in the seventh decimal; their
        // neighbours one bit away do not.
        const double half = static_cast<double>(static_cast<std::int64_t>(random() % 2000001) - 1000000) / 128.0;
        for (double h : {half, std::nextafter(half, -HUGE_VAL), std::nextafter(half, HUGE_VAL)})
            EXPECT_EQ(PrintfText(h), FastText(h)) << std::hexfloat << h;
        // Values of every magnitude around the integer path's limit of 2^43 and below.
        const double scaled = std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 140));
        EXPECT_EQ(PrintfText(scaled), FastText(scaled)) << std::hexfloat << scaled;
        EXPECT_EQ(PrintfText(-scaled), FastText(-scaled)) << std::hexfloat << scaled;
    }
}

TEST(FastNumberText, TheWriterMatchesFprintfAcrossItsBuffer)
{
    // More than one buffer's worth of lines, long ones among them.
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> lab(-150.0, 150.0);
    std::vector<Color3> triplets;
    std::string want;
    for (int i = 0; i < 60000; ++i) {
        Color3 t{{lab(random), lab(random), lab(random)}};
        if (i % 997 == 0)
            t.c[i % 3] = (i % 2 ? -1.0 : 1.0) * 1e300;
        if (i % 1009 == 0)
            t.c[1] = std::numeric_limits<double>::quiet_NaN();
        triplets.push_back(t);
        want += PrintfText(t.c[0]) + "\t" + PrintfText(t.c[1]) + "\t" + PrintfText(t.c[2]) + "\n";
    }
    testutil::TempDir dir;
    ASSERT_EQ(1, WriteTabDelimitedTriplets(dir.file("out").c_str(), triplets));
    EXPECT_EQ(want, testutil::ReadFile(dir.file("out")));
}

struct Case {
    std::vector<Color3> rgb, lab, targets;
};

// A random chart: axes evenly spaced or not, with a negative zero now and then; the grid
// points in random order, some measured several times, now and then one left out or one
// off the grid; targets inside, on axis values, at the edges and beyond, NaN and infinite.
Case RandomCase(std::mt19937_64& random)
{
    const int n = 2 + static_cast<int>(random() % 6);
    std::vector<double> axes[3];
    for (auto& axis : axes) {
        const bool even = random() % 2;
        double v = (random() % 4 == 0) ? -0.0 : (random() % 3 == 0 ? 0.0 : -20.0 + random() % 40);
        for (int i = 0; i < n; ++i) {
            axis.push_back(v);
            v += even ? 100.0 / (n - 1) : 0.5 + static_cast<double>(random() % 1000) / 37.0;
        }
    }
    std::uniform_real_distribution<double> labValue(-100.0, 100.0);
    Case c;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < n; ++k)
                c.rgb.push_back(Color3{{axes[0][i], axes[1][j], axes[2][k]}});
    for (int extra = static_cast<int>(random() % (c.rgb.size() + 1)); extra > 0; --extra)
        c.rgb.push_back(c.rgb[random() % c.rgb.size()]);
    if (random() % 8 == 0)
        c.rgb.erase(c.rgb.begin() + static_cast<long>(random() % c.rgb.size()));
    if (random() % 16 == 0)
        c.rgb.push_back(Color3{{axes[0][0] + 0.25, axes[1][0], axes[2][0]}});
    std::shuffle(c.rgb.begin(), c.rgb.end(), random);
    for (std::size_t p = 0; p < c.rgb.size(); ++p) {
        c.lab.push_back(Color3{{labValue(random), labValue(random), labValue(random)}});
        // Zeros of either sign on a zero axis value: which one the axis keeps must not matter.
        for (double& v : c.rgb[p].c)
            if (v == 0.0 && random() % 2)
                v = -v;
    }

    const double specials[] = {std::nan(""), HUGE_VAL, -HUGE_VAL, -0.0, 0.0};
    for (int t = 0; t < 200; ++t) {
        Color3 target;
        for (int a = 0; a < 3; ++a) {
            const std::vector<double>& axis = axes[a];
            const std::uint64_t kind = random() % 100;
            std::uniform_real_distribution<double> inside(axis.front(), axis.back());
            if (kind < 60)
                target.c[a] = inside(random);
            else if (kind < 95)
                target.c[a] = axis[random() % axis.size()];
            else if (kind < 98)
                target.c[a] = axis[random() % 2 ? 0 : axis.size() - 1] + (random() % 2 ? 1e-9 : -1e-9);
            else
                target.c[a] = specials[random() % 5];
        }
        c.targets.push_back(target);
    }
    return c;
}

TEST(FastDerivedLab, MatchesTheStraightforwardComputation)
{
    std::mt19937_64 random(5);
    int succeeded = 0;
    for (int i = 0; i < 3000; ++i) {
        SCOPED_TRACE(i);
        Case fast = RandomCase(random);
        // The random targets fail often; a prefix of them shows the successes too.
        if (i % 2)
            fast.targets.resize(random() % 4);
        Case slow = fast;
        std::vector<Color3> fastDerived, slowDerived;
        testutil::CaptureStdout capture;
        const bool fastOk = ComputeDerivedLabValues(fast.rgb, fast.lab, fast.targets, &fastDerived);
        const std::string fastText = capture.Text();
        const bool slowOk = reference::ComputeDerivedLabValues(slow.rgb, slow.lab, slow.targets, &slowDerived);
        const std::string slowText = capture.Text().substr(fastText.size());
        ASSERT_EQ(slowOk, fastOk);
        ASSERT_EQ(slowText, fastText);
        ASSERT_EQ(Bytes(slowDerived), Bytes(fastDerived));
        ASSERT_EQ(Bytes(slow.lab), Bytes(fast.lab));
        succeeded += fastOk;
    }
    // Both outcomes must have been exercised.
    EXPECT_GT(succeeded, 300);
    EXPECT_LT(succeeded, 2700);
}

}  // namespace
