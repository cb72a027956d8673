// The chart check's figures on hand-made charts whose answers are known by construction:
// Lab linear in RGB (interpolation is then exact), holes in the grid and a 5202-patch chart
// built like the real one. CIEDE2000 answers come from lcms2. A moved patch and repeats with
// known spreads are in the end-to-end tests (chartlab_check_test), as the report shows them.
#include "chartcheck.h"
#include "preprocess5202.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <memory>
#include <tuple>

namespace {

struct Chart { std::vector<Color3> rgb, lab; };

// Exact in binary: every interpolation between grid points of a chart with this Lab is exact too.
void AddLinear(Chart& chart, double r, double g, double b)
{
    chart.rgb.push_back(Color3{{r, g, b}});
    chart.lab.push_back(Color3{{10.0 + 0.5 * r + 0.25 * g + 0.125 * b, 0.5 * r - 0.75 * g, 0.25 * g - 0.5 * b}});
}

// An n x n x n grid on the axis 0, step, 2 step, ..., B varying fastest, with linear Lab.
Chart LinearChart(int n, double step)
{
    Chart chart;
    for (int p = 0; p < n * n * n; ++p)
        AddLinear(chart, step * (p / (n * n)), step * (p / n % n), step * (p % n));
    return chart;
}

// Reduces a copy as the programs do, builds the grid and checks.
ChartCheck Check(const Chart& chart, std::size_t worst = 10)
{
    Chart reduced = chart;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> sink(std::tmpfile(), std::fclose);
    Preprocess5202Target(reduced.rgb, reduced.lab, sink.get());
    MeasuredGrid grid;
    EXPECT_EQ(GridBuild::Ok, grid.Build(reduced.rgb, reduced.lab, nullptr));
    EXPECT_EQ(0u, FirstUncheckablePatch(chart.rgb, chart.lab));
    return CheckChart(chart.rgb, chart.lab, grid, worst);
}

// Count, mean, p95 and max.
std::tuple<std::size_t, double, double, double> Figures(const DifferenceSummary& s) { return {s.count, s.mean, s.p95, s.max}; }

// The values 1, 2, ..., count, given in reverse: p95 is the value at rank ceil(0.95 count).
TEST(ChartCheck, SummaryTakesTheValueAtRankCeilOf95PercentOfTheCount)
{
    for (const auto& [count, rank] : {std::pair{1, 1}, {19, 19}, {20, 19}, {21, 20}, {40, 38}, {41, 39}, {100, 95}, {101, 96}}) {
        std::vector<float> values;
        for (int v = count; v >= 1; --v)
            values.push_back(static_cast<float>(v));
        EXPECT_EQ(Figures(Summarise(values)), std::tuple(std::size_t(count), (count + 1) / 2.0, double(rank), double(count)));
    }
    EXPECT_EQ(0u, Summarise({}).count);
}

TEST(ChartCheck, LinearChartHasNoInterpolationErrorNorAnythingElseToReport)
{
    // N = 6: the coarse grid keeps levels 0, 2, 4 and the last, 5.
    const ChartCheck c = Check(LinearChart(6, 20.0));
    EXPECT_EQ(std::tuple(216u, 6, 4, 216u - 64u), std::tuple(c.patches, c.n, c.coarseN, c.leftOut));
    for (const DifferenceSummary* d : {&c.trilinear.de76, &c.trilinear.de2000, &c.tetrahedral.de76, &c.tetrahedral.de2000})
        EXPECT_EQ(Figures(*d), std::tuple(152u, 0.0, 0.0, 0.0));
    EXPECT_TRUE(c.evenlySpaced[0] && c.evenlySpaced[1] && c.evenlySpaced[2]);
    EXPECT_EQ(0u, c.unoccupied + c.repeatedRgb + c.repeatability.de76.count + c.repeatability.de2000.count +
                      c.grays.de2000.count + c.nonmonotone);
    EXPECT_FALSE(c.hasGrays);
    // All differences tie at 0: the first left-out points in grid order, B fastest.
    ASSERT_EQ(10u, c.worst.size());
    EXPECT_EQ(20.0, c.worst[0].rgb.c[2]);
    EXPECT_EQ(60.0, c.worst[1].rgb.c[2]);
    EXPECT_EQ(20.0, c.worst[2].rgb.c[1]);
}

TEST(ChartCheck, HolesInTheGridAreSkippedNotPredicted)
{
    Chart chart = LinearChart(5, 25.0);
    // (4, 4, 4), the top corner of the top coarse cell, and (1, 1, 1), left out of the coarse grid.
    for (int hole : {124, 31}) {
        chart.rgb.erase(chart.rgb.begin() + hole);
        chart.lab.erase(chart.lab.begin() + hole);
    }
    const ChartCheck c = Check(chart);
    EXPECT_EQ(2u, c.unoccupied);
    EXPECT_EQ(98u - 1u, c.leftOut);
    // The top coarse cell holds the points with every index 3 or 4: 7 of them are left out.
    EXPECT_EQ(Figures(c.trilinear.de76), std::tuple(90u, 0.0, 0.0, 0.0));
    EXPECT_EQ(90u, c.tetrahedral.de2000.count);
    EXPECT_EQ(0u, c.nonmonotone);  // steps to or from a hole are no steps
}

TEST(ChartCheck, StepsWhereLightnessFallsAreCountedAndTheLargestKeptInGridOrder)
{
    // L* 50 everywhere but at three points: 7 lower at (2, 2, 2), 5 at (1, 1, 1), 1 at (0, 0, 2).
    Chart chart = LinearChart(3, 10.0);
    for (Color3& lab : chart.lab)
        lab.c[0] = 50.0;
    chart.lab[26].c[0] = 43.0;
    chart.lab[13].c[0] = 45.0;
    chart.lab[2].c[0] = 49.0;
    const ChartCheck c = Check(chart);
    EXPECT_EQ(7u, c.nonmonotone);
    ASSERT_EQ(k_steepestDrops, c.steepestDrops.size());
    const struct { int from[3], axis; double drop; } want[] = {
        {{1, 2, 2}, 0, 7}, {{2, 1, 2}, 1, 7}, {{2, 2, 1}, 2, 7}, {{0, 1, 1}, 0, 5}, {{1, 0, 1}, 1, 5}};
    for (std::size_t s = 0; s < k_steepestDrops; ++s) {
        const LightnessStep& step = c.steepestDrops[s];
        EXPECT_EQ(std::tuple(want[s].from[0], want[s].from[1], want[s].from[2], want[s].axis, 50.0, 50.0 - want[s].drop),
                  std::tuple(step.from[0], step.from[1], step.from[2], step.axis, step.lowerL, step.upperL)) << s;
    }
}

// A 5202-patch chart as the real ones are made: the 17-level grid, then 289 grays evenly from 0 to
// 100 (the grid's 17 gray levels among them), with Lab linear in RGB. The extra gray at
// 100 * 7 / 288 measures 0.6 too light.
TEST(ChartCheck, GraysOfA5202PatchChartArePredictedFromTheGridPatches)
{
    Chart chart = LinearChart(17, 6.25);
    for (int g = 0; g < 289; ++g) {
        const double level = g % 18 == 0 ? 6.25 * (g / 18) : 100.0 * g / 288.0;
        AddLinear(chart, level, level, level);
    }
    const std::size_t moved = 4913 + 7;
    chart.lab[moved].c[0] += 0.6;
    const ChartCheck c = Check(chart, 1);

    EXPECT_TRUE(c.hasGrays);
    EXPECT_EQ(std::tuple(306u, 289u, 289u, 289u), std::tuple(c.grayPatches, c.grayLevels, c.graysBeyond, c.grays.de76.count));
    EXPECT_NEAR(0.6, c.grays.de76.max, 1e-5);
    EXPECT_NEAR(0.0, c.grays.de76.p95, 1e-5);
    // The grid's grays are repeated by the extra ones at their levels.
    EXPECT_EQ(17u, c.repeatedRgb);
    EXPECT_EQ(34u, c.repeatability.de76.count);
    ASSERT_EQ(1u, c.worst.size());
    EXPECT_EQ(CheckedPatch::Source::Gray, c.worst[0].source);
    EXPECT_EQ(chart.rgb[moved].c[0], c.worst[0].rgb.c[0]);
    EXPECT_NEAR(chart.lab[moved].c[0] - 0.6, c.worst[0].predicted.c[0], 1e-9);
    const Color3 &measured = chart.lab[moved], &predicted = c.worst[0].predicted;
    const cmsCIELab x{float(measured.c[0]), float(measured.c[1]), float(measured.c[2])},
        y{float(predicted.c[0]), float(predicted.c[1]), float(predicted.c[2])};
    EXPECT_NEAR(cmsCIE2000DeltaE(&x, &y, 1.0, 1.0, 1.0), c.worst[0].de2000, 1e-4);

    // One gray patch fewer at a level of its own: the reduction refuses it, and so does the check.
    chart.rgb[moved] = Color3{{1.0, 2.0, 3.0}};
    const ChartCheck refused = Check(chart);
    EXPECT_FALSE(refused.hasGrays);
    EXPECT_EQ(0u, refused.graysBeyond);
}

TEST(ChartCheck, EvenSpacingAllowsTheRoundingOfSixDecimals)
{
    const struct { std::vector<double> axis; bool even; } cases[] = {
        {{0, 16.666667, 33.333333, 50}, true}, {{0, 0.062501, 0.125, 0.1875}, true},
        {{0, 0.0625, 0.1251, 0.1875}, false}, {{0, 10, 25}, false}, {{5, 7}, true},
    };
    for (const auto& c : cases) {
        const std::size_t n = c.axis.size();
        Chart chart;
        for (std::size_t p = 0; p < n * n * n; ++p) {
            chart.rgb.push_back(Color3{{c.axis[p % n], c.axis[p / n % n], c.axis[p / n / n]}});
            chart.lab.push_back(Color3{{50.0, 0.0, 0.0}});
        }
        EXPECT_EQ(c.even, Check(chart).evenlySpaced[1]) << c.axis[1];
    }
}

TEST(ChartCheck, UncheckableValuesAreFoundByPatchNumber)
{
    const double big = k_checkValueLimit, nan = std::nan("");
    const struct { Color3 rgb, lab; std::size_t want; } cases[] = {
        {{{big, -big, 0}}, {{-big, big, 0}}, 0}, {{{0, 0, 0}}, {{0, 0, nan}}, 2},
        {{{0, std::nextafter(big, 2 * big), 0}}, {{0, 0, 0}}, 2}, {{{0, 0, 0}}, {{-INFINITY, 0, 0}}, 2},
        {{{nan, 0, 0}}, {{0, 0, 0}}, 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.want, FirstUncheckablePatch({Color3{}, c.rgb, Color3{}}, {Color3{}, c.lab, Color3{}}));
    EXPECT_EQ(1u, FirstUncheckablePatch({Color3{{0, -INFINITY, 0}}}, {Color3{}}));
    // Lists of unequal length are searched to the end of the longer one.
    EXPECT_EQ(3u, FirstUncheckablePatch({Color3{}, Color3{}, Color3{{nan, 0, 0}}}, {Color3{}, Color3{}}));
    EXPECT_EQ(3u, FirstUncheckablePatch({Color3{}}, {Color3{}, Color3{}, Color3{{0, 0, nan}}}));
}

}  // namespace
