#include "derivedlab.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

// Lab linear in RGB, which trilinear interpolation reproduces up to rounding.
Color3 LinearLab(const Color3& rgb)
{
    return Color3{{rgb.c[0], rgb.c[1] / 2 - 10, rgb.c[2] / 4 + 5}};
}

struct Chart {
    std::vector<Color3> rgb;
    std::vector<Color3> lab;

    void Add(const Color3& rgb_, const Color3& lab_)
    {
        rgb.push_back(rgb_);
        lab.push_back(lab_);
    }
};

// An n x n x n grid on 0..100 with linear Lab, patches in a shuffled but fixed order.
Chart LinearChart(int n)
{
    Chart chart;
    const int count = n * n * n;
    for (int s = 0; s < count; ++s) {
        const int p = static_cast<int>((s * 7919LL) % count);
        const Color3 rgb{{100.0 * (p / (n * n)) / (n - 1), 100.0 * (p / n % n) / (n - 1),
                          100.0 * (p % n) / (n - 1)}};
        chart.Add(rgb, LinearLab(rgb));
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
        for (double g : {0.0, 37.1, 100.0})
            for (double b : {0.0, 0.01, 93.75, 100.0})
                targets.push_back(Color3{{r, g, b}});
    const Result r = Compute(LinearChart(17), targets);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ("Appears to be a 17 x 17 x 17 grid.\n", r.printed);
    ASSERT_EQ(targets.size(), r.derived.size());
    for (std::size_t i = 0; i < targets.size(); ++i)
        for (int n = 0; n < 3; ++n)
            EXPECT_NEAR(LinearLab(targets[i]).c[n], r.derived[i].c[n], 1e-9) << "target " << i;
    // The lowest corner has weight 0 on every axis: the measurement itself.
    EXPECT_EQ(LinearLab(targets[0]).c[1], r.derived[0].c[1]);
}

TEST(DerivedLab, StopsAtTheFirstTargetOutsideTheGrid)
{
    for (const Color3& bad : {Color3{{-0.001, 0, 0}}, Color3{{0, 100.001, 0}}}) {
        const Result r = Compute(LinearChart(5), {Color3{{1, 2, 3}}, bad, Color3{{4, 5, 6}}});
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(1u, r.derived.size());
    }
    Chart chart = LinearChart(3);
    EXPECT_FALSE(ComputeDerivedLabValues(chart.rgb, chart.lab, {}, nullptr));
    chart.lab.pop_back();
    EXPECT_FALSE(Compute(chart, {}).ok);
}

TEST(DerivedLab, RefusesReferencesThatAreNoFullGrid)
{
    // 17 R values but 16 B values: no grid line.
    Chart chart = LinearChart(17);
    for (Color3& c : chart.rgb)
        c.c[2] = std::min(c.c[2], 93.75);
    EXPECT_EQ("", Compute(chart, {}).printed);

    // Empty lists: a 0 grid that succeeds only without targets.
    EXPECT_TRUE(Compute(Chart{}, {}).ok);
    EXPECT_FALSE(Compute(Chart{}, {Color3{}}).ok);

    // Five patches on the gray diagonal form a 5 x 5 x 5 grid with 120 unmeasured points.
    chart = Chart{};
    for (double v : {0.0, 25.0, 50.0, 75.0, 100.0})
        chart.Add(Color3{{v, v, v}}, Color3{{v, 0, 0}});
    Result r = Compute(chart, {Color3{{10, 10, 10}}});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ("Appears to be a 5 x 5 x 5 grid.\n", r.printed);

    // A full grid less its centre: only the cells touching the centre fail.
    chart = LinearChart(5);
    const auto centre = std::find_if(chart.rgb.begin(), chart.rgb.end(),
                                     [](const Color3& c) { return c.c[0] == 50 && c.c[1] == 50 && c.c[2] == 50; });
    chart.lab.erase(chart.lab.begin() + (centre - chart.rgb.begin()));
    chart.rgb.erase(centre);
    EXPECT_TRUE(Compute(chart, {Color3{{10, 10, 10}}, Color3{{80, 80, 80}}}).ok);
    EXPECT_FALSE(Compute(chart, {Color3{{40, 40, 60}}}).ok);

    // More than 256 values per axis: refused after the grid line.
    chart = Chart{};
    for (int i = 0; i < 257; ++i)
        chart.Add(Color3{{double(i), double(i), double(i)}}, Color3{});
    r = Compute(chart, {});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ("Appears to be a 257 x 257 x 257 grid.\n", r.printed);
}

TEST(DerivedLab, AveragesDuplicatePatches)
{
    // A 2 x 2 x 2 chart with the lowest corner measured three times, the highest twice.
    Chart chart = LinearChart(2);
    for (Color3& lab : chart.lab)
        lab.c[0] = (lab.c[2] == 5) ? 1.0 : 90.0;
    chart.Add(Color3{{0, 0, 0}}, Color3{{2.0, 0, 0}});
    chart.Add(Color3{{100, 100, 100}}, Color3{{91.0, 0, 0}});
    chart.Add(Color3{{0, 0, 0}}, Color3{{4.5, 0, 0}});
    const std::vector<Color3> before = chart.lab;
    std::vector<Color3> derived;
    testutil::CaptureStdout capture;
    ASSERT_TRUE(ComputeDerivedLabValues(chart.rgb, chart.lab, {Color3{{0, 0, 0}}, Color3{{100, 100, 100}}},
                                        &derived));
    // Summed in list order, then multiplied by the reciprocal of the count.
    EXPECT_EQ((1.0 + 2.0 + 4.5) * (1.0 / 3), derived[0].c[0]);
    EXPECT_DOUBLE_EQ(90.5, derived[1].c[0]);
    // The caller's measurements keep their individual values.
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(before[i].c[0], chart.lab[i].c[0]);
}

}  // namespace
