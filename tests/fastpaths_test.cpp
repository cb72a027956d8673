// The fast paths of the conversion against straightforward versions kept here: number
// reading against strtod, "%lf" writing against printf, and the whole derived Lab
// computation against a direct transcription with linear axis scans and a quadratic
// duplicate scan. Thousands of random inputs each; results must be identical to the bit.
#include "derivedlab.h"
#include "numbertext.h"
#include "patchtables.h"
#include "testutil.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <set>

namespace {

namespace reference {

// Between a at x01[0] and b at x01[1]; the axes are strictly increasing.
Color3 Lerp(const Color3& a, const Color3& b, double x, const double* x01)
{
    const double t = (x - x01[0]) / (x01[1] - x01[0]);
    return Color3{{a.c[0] + (b.c[0] - a.c[0]) * t, a.c[1] + (b.c[1] - a.c[1]) * t, a.c[2] + (b.c[2] - a.c[2]) * t}};
}

// Values at or below -999 never enter an axis.
std::vector<double> BuildAxis(const std::vector<Color3>& patches, int channel)
{
    std::set<double> values;
    for (const Color3& p : patches)
        if (!std::isnan(p.c[channel]) && p.c[channel] > -999.0)
            values.insert(p.c[channel]);
    return {values.begin(), values.end()};
}

// For the charts made here: lists of equal length, never 5202 patches, three axes of at most
// 7 values and of equal length.
bool ComputeDerivedLabValues(const std::vector<Color3>& rgb, const std::vector<Color3>& lab,
                             const std::vector<Color3>& targets, std::vector<Color3>* derived)
{
    const std::vector<double> axes[3] = {BuildAxis(rgb, 0), BuildAxis(rgb, 1), BuildAxis(rgb, 2)};
    const long long n = static_cast<long long>(axes[0].size());
    std::vector<long long> points;          // grid point of each patch
    std::vector<int> table(n * n * n, -1);  // last patch on each grid point
    for (const Color3& c : rgb) {
        long long point = 0;
        for (int a = 0; a < 3; ++a) {
            const auto at = std::find(axes[a].begin(), axes[a].end(), c.c[a]);  // a linear scan
            if (at == axes[a].end())
                return false;
            point = point * n + (at - axes[a].begin());
        }
        points.push_back(point);
        table[point] = static_cast<int>(points.size() - 1);
    }
    // The last patch of each group gets the group's sum, in list order, times 1 / count.
    std::vector<Color3> work = lab;
    for (std::size_t p = 0; p < rgb.size(); ++p) {
        Color3 sum;
        unsigned count = 0;
        for (std::size_t q = 0; q < rgb.size(); ++q)
            if (points[q] == points[p] && ++count)
                for (int c = 0; c < 3; ++c)
                    sum.c[c] += lab[q].c[c];
        for (int c = 0; c < 3 && count > 1 && table[points[p]] == static_cast<int>(p); ++c)
            work[p].c[c] = sum.c[c] * (1.0 / count);
    }
    for (const Color3& t : targets) {
        // The smallest i with axis[i] <= t <= axis[i + 1], found by a linear scan.
        int f[3] = {-1, -1, -1};
        for (int a = 0; a < 3; ++a)
            for (long long i = n - 2; i >= 0; --i)
                if (axes[a][i] <= t.c[a] && t.c[a] <= axes[a][i + 1])
                    f[a] = static_cast<int>(i);
        if (f[0] < 0 || f[1] < 0 || f[2] < 0)
            return false;
        Color3 e[2][2], g[2];
        for (int d = 0; d < 4; ++d) {
            const long long low = ((f[0] + d / 2) * n + f[1] + d % 2) * n + f[2];
            if (table[low] < 0 || table[low + 1] < 0)
                return false;
            e[d / 2][d % 2] = Lerp(work[table[low]], work[table[low + 1]], t.c[2], &axes[2][f[2]]);
        }
        for (int di = 0; di < 2; ++di)
            g[di] = Lerp(e[di][0], e[di][1], t.c[1], &axes[1][f[1]]);
        derived->push_back(Lerp(g[0], g[1], t.c[0], &axes[0][f[0]]));
    }
    return true;
}

}  // namespace reference

std::string Bytes(const std::vector<Color3>& v) { return {reinterpret_cast<const char*>(v.data()), v.size() * sizeof v[0]}; }
double RandomDouble(std::mt19937_64& random) { return std::bit_cast<double>(random()); }

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
    for (int i = 0; i < 20000; ++i) {
        ExpectParsesLikeStrtod(pick({"", " ", "\v\f\r"}) + pick({"", "", "+", "-"}) + digits(22) +
                               pick({"", "."}) + digits(22) + pick({"", "", "", "e", "E-", "e+"}) + digits(4) +
                               pick({"", " 1", "x"}));
    }
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
        values.insert(values.end(), {RandomDouble(random), half, std::nextafter(half, -HUGE_VAL),
                                     std::nextafter(half, HUGE_VAL), scaled, -scaled});
    }
    std::vector<Color3> triplets(values.size() / 3);
    std::string want;
    for (std::size_t i = 0; i < values.size(); ++i) {
        char printed[k_maxFixed6Chars + 1], text[k_maxFixed6Chars];
        std::snprintf(printed, sizeof printed, "%lf", values[i]);
        EXPECT_EQ(printed, std::string(text, FormatFixed6(text, values[i]))) << std::hexfloat << values[i];
        ExpectParsesLikeStrtod(printed);
        triplets[i / 3].c[i % 3] = values[i];
        want += printed + std::string(i % 3 == 2 ? "\n" : "\t");
    }
    testutil::TempDir dir;
    ASSERT_EQ(1, WriteTabDelimitedTriplets(dir.file("out").c_str(), triplets));
    EXPECT_TRUE(want == testutil::ReadFile(dir.file("out")));
}

struct Case { std::vector<Color3> rgb, lab, targets; };

// A random chart: axes evenly spaced or not, some starting at a zero of either sign; the
// grid points in random order, some measured several times, now and then one left out or
// one with a NaN; targets inside, on axis values and just beside them, NaN and infinite.
Case RandomCase(std::mt19937_64& random)
{
    const int n = 2 + static_cast<int>(random() % 6);
    std::vector<double> axes[3];
    for (auto& axis : axes) {
        const bool even = random() % 2;
        double v = (random() % 4 == 0) ? -0.0 : (random() % 3 == 0 ? 0.0 : -20.0 + random() % 40);
        for (int i = 0; i < n; ++i, v += even ? 100.0 / (n - 1) : 0.5 + static_cast<double>(random() % 1000) / 37.0)
            axis.push_back(v);
    }
    Case c;
    for (int p = 0; p < n * n * n; ++p)
        c.rgb.push_back(Color3{{axes[0][p / (n * n)], axes[1][p / n % n], axes[2][p % n]}});
    for (int extra = static_cast<int>(random() % (c.rgb.size() + 1)); extra > 0; --extra)
        c.rgb.push_back(c.rgb[random() % c.rgb.size()]);
    if (random() % 8 == 0)
        c.rgb.erase(c.rgb.begin() + static_cast<long>(random() % c.rgb.size()));
    if (random() % 16 == 0)
        c.rgb.push_back(Color3{{axes[0][0], std::nan(""), axes[2][0]}});
    std::shuffle(c.rgb.begin(), c.rgb.end(), random);
    std::uniform_real_distribution<double> labValue(-100.0, 100.0);
    for (Color3& rgb : c.rgb) {
        c.lab.push_back(Color3{{labValue(random), labValue(random), labValue(random)}});
        for (double& v : rgb.c)
            v = (v == 0.0 && random() % 2) ? -v : v;
    }
    const double specials[] = {std::nan(""), HUGE_VAL, -HUGE_VAL, -0.0, 0.0};
    c.targets.resize(200);
    for (Color3& target : c.targets)
        for (int a = 0; a < 3; ++a) {
            const std::uint64_t kind = random() % 50;
            const double onAxis = axes[a][random() % n];
            target.c[a] = kind < 30   ? std::uniform_real_distribution<double>(axes[a][0], axes[a][n - 1])(random)
                          : kind < 46 ? onAxis
                          : kind < 48 ? onAxis + (kind == 46 ? 1e-9 : -1e-9)
                                      : specials[random() % 5];
        }
    return c;
}

TEST(FastDerivedLab, MatchesTheStraightforwardComputation)
{
    std::mt19937_64 random(5);
    testutil::CaptureStdout quiet;  // the grid lines
    int succeeded = 0;
    for (int i = 0; i < 2000; ++i) {
        Case c = RandomCase(random);
        // The random targets fail often; a prefix of them shows the successes too.
        c.targets.resize(i % 2 ? random() % 4 : c.targets.size());
        std::vector<Color3> fastDerived, slowDerived;
        const bool slowOk = reference::ComputeDerivedLabValues(c.rgb, c.lab, c.targets, &slowDerived);
        ASSERT_EQ(slowOk, ComputeDerivedLabValues(c.rgb, c.lab, c.targets, &fastDerived)) << "case " << i;
        ASSERT_EQ(Bytes(slowDerived), Bytes(fastDerived)) << "case " << i;
        succeeded += slowOk;
    }
    // Both outcomes must have been exercised.
    EXPECT_TRUE(succeeded > 200 && succeeded < 1800) << succeeded;
}

}  // namespace
