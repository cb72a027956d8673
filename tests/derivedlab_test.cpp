// Derived Lab values from charts whose Lab is linear in RGB, which trilinear interpolation
// reproduces up to rounding, and the calls and charts the computation must refuse. The averaging
// of repeated patches is pinned in the grid tests.
#include "derivedlab.h"
#include "testutil.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

Color3 LinearLab(const Color3& rgb) { return Color3{{rgb.c[0], rgb.c[1] / 2 - 10, rgb.c[2] / 4 + 5}}; }

struct Chart { std::vector<Color3> rgb, lab; };

// An n x n x n grid on 0..100 with linear Lab, patches in a shuffled but fixed order.
Chart LinearChart(int n)
{
    Chart chart;
    for (int s = 0, count = n * n * n; s < count; ++s) {
        const int p = static_cast<int>((s * 7919LL) % count);
        const Color3 rgb{{100.0 * (p / (n * n)) / (n - 1), 100.0 * (p / n % n) / (n - 1), 100.0 * (p % n) / (n - 1)}};
        chart.rgb.push_back(rgb);
        chart.lab.push_back(LinearLab(rgb));
    }
    return chart;
}

struct Result { bool ok = false; std::vector<Color3> derived; };

Result Compute(Chart chart, const std::vector<Color3>& targets)
{
    testutil::CaptureStdout quiet;  // the grid line
    Result r;
    r.ok = ComputeDerivedLabValues(chart.rgb, chart.lab, targets, &r.derived);
    return r;
}

TEST(DerivedLab, ReproducesALinearChartEverywhereInsideTheGrid)
{
    std::vector<Color3> targets;
    for (double r : {0.0, 3.0, 6.25, 50.0, 99.9, 100.0})
        for (double g : {0.0, 37.1, 100.0})
            for (double b : {0.0, 0.01, 93.75, 100.0})
                targets.push_back(Color3{{r, g, b}});
    const Result r = Compute(LinearChart(17), targets);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(targets.size(), r.derived.size());
    for (std::size_t i = 0; i < targets.size(); ++i)
        for (int n = 0; n < 3; ++n)
            EXPECT_NEAR(LinearLab(targets[i]).c[n], r.derived[i].c[n], 1e-9) << "target " << i;
}

// A target outside the grid or in a cell with an unmeasured corner stops the computation;
// the values derived before it are kept. Bad calls and charts are refused.
TEST(DerivedLab, RefusesWhatItCannotInterpolate)
{
    Chart holed = LinearChart(5);  // its centre's patch moved onto the lowest corner
    *std::find_if(holed.rgb.begin(), holed.rgb.end(),
                  [](const Color3& c) { return c.c[0] == 50 && c.c[1] == 50 && c.c[2] == 50; }) = Color3{};
    EXPECT_TRUE(Compute(holed, {Color3{{10, 10, 10}}, Color3{{80, 80, 80}}}).ok);
    for (const Color3& bad : {Color3{{-0.001, 0, 0}}, Color3{{0, 100.001, 0}}, Color3{{40, 40, 60}}}) {
        const Result r = Compute(holed, {Color3{{1, 2, 3}}, bad, Color3{{4, 5, 6}}});
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(1u, r.derived.size());
    }
    Chart chart = LinearChart(3);
    EXPECT_FALSE(ComputeDerivedLabValues(chart.rgb, chart.lab, {}, nullptr));
    chart.lab.pop_back();
    EXPECT_FALSE(Compute(chart, {}).ok);
    // Empty lists: a 0 grid that succeeds only without targets.
    EXPECT_TRUE(Compute(Chart{}, {}).ok);
    EXPECT_FALSE(Compute(Chart{}, {Color3{}}).ok);
    // Lists that form no grid (builds are refused in the grid tests).
    chart = LinearChart(3);
    chart.rgb[0].c[0] = -1.0;
    EXPECT_FALSE(Compute(chart, {}).ok);
}

}  // namespace
