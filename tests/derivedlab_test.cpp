#include "derivedlab.h"
#include "log.h"
#include "testutil.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

// A chart whose Lab is linear in RGB, which trilinear interpolation reproduces exactly up to
// rounding: L = R, a = G / 2 - 10, b = B / 4 + 5.
Color3 LinearLab(const Color3& rgb)
{
    return Color3{{rgb.c[0], rgb.c[1] / 2 - 10, rgb.c[2] / 4 + 5}};
}

struct Chart {
    std::vector<Color3> rgb;
    std::vector<Color3> lab;
};

// An n x n x n grid on 0..100, patches in a shuffled (but fixed) order.
Chart LinearChart(int n)
{
    Chart chart;
    const int count = n * n * n;
    for (int s = 0; s < count; ++s) {
        const int p = static_cast<int>((static_cast<long long>(s) * 7919) % count);
        const Color3 rgb{{100.0 * (p / (n * n)) / (n - 1), 100.0 * (p / n % n) / (n - 1),
                          100.0 * (p % n) / (n - 1)}};
        chart.rgb.push_back(rgb);
        chart.lab.push_back(LinearLab(rgb));
    }
    return chart;
}

struct Result {
    bool ok;
    std::vector<Color3> derived;
    std::string printed;
};

Result Compute(Chart chart, const std::vector<Color3>& targets)
{
    testutil::CaptureStdout capture;
    Result r;
    r.ok = ComputeDerivedLabValues(chart.rgb, chart.lab, targets, &r.derived);
    r.printed = capture.Text();
    return r;
}

TEST(DerivedLab, ReproducesALinearChartEverywhereInsideTheGrid)
{
    std::vector<Color3> targets;
    for (double r : {0.0, 3.0, 6.25, 50.0, 99.9, 100.0})
        for (double g : {0.0, 12.5, 37.1, 100.0})
            for (double b : {0.0, 0.01, 93.75, 100.0})
                targets.push_back(Color3{{r, g, b}});
    const Result r = Compute(LinearChart(17), targets);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ("Appears to be a 17 x 17 x 17 grid.\n", r.printed);
    ASSERT_EQ(targets.size(), r.derived.size());
    for (std::size_t i = 0; i < targets.size(); ++i)
        for (int n = 0; n < 3; ++n)
            EXPECT_NEAR(LinearLab(targets[i]).c[n], r.derived[i].c[n], 1e-9) << "target " << i;
    // The lowest corner has weight 0 everywhere: the measured value itself.
    EXPECT_EQ(LinearLab(targets[0]).c[1], r.derived[0].c[1]);
}

TEST(DerivedLab, StopsAtTheFirstTargetItCannotInterpolate)
{
    const double nan = std::nan("");
    for (const Color3& bad : {Color3{{-0.001, 0, 0}}, Color3{{0, 100.001, 0}}, Color3{{0, 0, nan}},
                              Color3{{HUGE_VAL, 0, 0}}}) {
        const Result r = Compute(LinearChart(5), {Color3{{1, 2, 3}}, bad, Color3{{4, 5, 6}}});
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(1u, r.derived.size());
    }
    Chart chart = LinearChart(3);
    EXPECT_FALSE(ComputeDerivedLabValues(chart.rgb, chart.lab, {}, nullptr));
}

TEST(DerivedLab, RefusesReferencesThatAreNoGrid)
{
    // 17 R values but 16 B values: no grid line.
    Chart chart = LinearChart(17);
    for (Color3& c : chart.rgb)
        if (c.c[2] == 100.0)
            c.c[2] = 93.75;
    Result r = Compute(chart, {});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ("", r.printed);

    // One shared RGB: a 1 x 1 x 1 grid that cannot interpolate anything.
    chart.rgb.assign(3, Color3{{5, 5, 5}});
    chart.lab.assign(3, Color3{{1, 1, 1}});
    r = Compute(chart, {Color3{{5, 5, 5}}});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ("Appears to be a 1 x 1 x 1 grid.\n", r.printed);

    // Empty lists: a 0 grid that succeeds with no targets only.
    r = Compute(Chart{}, {});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ("Appears to be a 0 x 0 x 0 grid.\n", r.printed);
    EXPECT_FALSE(Compute(Chart{}, {Color3{}}).ok);

    // Unequal reference lists have no pairing.
    chart = LinearChart(3);
    chart.lab.pop_back();
    EXPECT_FALSE(Compute(chart, {}).ok);
}

TEST(DerivedLab, RefusesCellsWithUnmeasuredCorners)
{
    // Five patches on the gray diagonal: a 5 x 5 x 5 grid with 5 occupied points.
    Chart chart;
    for (double v : {0.0, 25.0, 50.0, 75.0, 100.0}) {
        chart.rgb.push_back(Color3{{v, v, v}});
        chart.lab.push_back(Color3{{v, 0, 0}});
    }
    Result r = Compute(chart, {Color3{{10, 10, 10}}});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ("Appears to be a 5 x 5 x 5 grid.\n", r.printed);

    // A full grid with one patch missing: only the cells touching that point fail.
    chart = LinearChart(5);
    for (std::size_t i = 0; i < chart.rgb.size(); ++i)
        if (chart.rgb[i].c[0] == 50 && chart.rgb[i].c[1] == 50 && chart.rgb[i].c[2] == 50) {
            chart.rgb.erase(chart.rgb.begin() + static_cast<long>(i));
            chart.lab.erase(chart.lab.begin() + static_cast<long>(i));
        }
    EXPECT_TRUE(Compute(chart, {Color3{{10, 10, 10}}, Color3{{80, 80, 80}}}).ok);
    EXPECT_FALSE(Compute(chart, {Color3{{40, 40, 60}}}).ok);
}

TEST(DerivedLab, AveragesDuplicatePatches)
{
    Chart chart = LinearChart(2);
    const std::vector<Color3> measured = chart.lab;
    // The corner (0, 0, 0) measured three times, (100, 100, 100) twice.
    for (const Color3& extra : {Color3{{0, 0, 0}}, Color3{{0, 0, 0}}, Color3{{100, 100, 100}}}) {
        chart.rgb.push_back(extra);
        chart.lab.push_back(LinearLab(extra));
    }
    std::vector<Color3>& lab = chart.lab;
    for (std::size_t i = 0; i < lab.size(); ++i) {
        if (chart.rgb[i].c[0] == 0 && chart.rgb[i].c[2] == 0 && chart.rgb[i].c[1] == 0)
            lab[i].c[0] = (i < 8) ? 1.0 : (i == 8 ? 2.0 : 4.5);
        if (chart.rgb[i].c[0] == 100 && chart.rgb[i].c[2] == 100 && chart.rgb[i].c[1] == 100)
            lab[i].c[0] = (i < 8) ? 90.0 : 91.0;
    }
    const std::vector<Color3> before = chart.lab;
    std::vector<Color3> derived;
    testutil::CaptureStdout capture;
    ASSERT_TRUE(ComputeDerivedLabValues(chart.rgb, chart.lab, {Color3{{0, 0, 0}}, Color3{{100, 100, 100}}},
                                        &derived));
    EXPECT_EQ((1.0 + 2.0 + 4.5) * (1.0 / 3), derived[0].c[0]);
    EXPECT_DOUBLE_EQ(90.5, derived[1].c[0]);
    // The caller's measurements keep their individual values.
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(before[i].c[0], chart.lab[i].c[0]);
}

TEST(DerivedLab, RefusesGridsBeyondTheTableLimit)
{
    Chart chart;
    for (int i = 0; i < 257; ++i) {
        chart.rgb.push_back(Color3{{double(i), double(i), double(i)}});
        chart.lab.push_back(Color3{});
    }
    const Result r = Compute(chart, {});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ("Appears to be a 257 x 257 x 257 grid.\n", r.printed);
}

}  // namespace
