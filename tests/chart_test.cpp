// The chart code on hand-made charts whose answers are known by construction: the measured grid
// (what a build refuses, its points and cells), where derived Lab values stop, the 5202-patch
// reduction, the chart check's figures, the inverse of the interpolation (the index against a
// scan of every cell, folded, flat and incomplete charts, the cell's orientation, the Lab bins)
// and the chart profile as Little CMS reads it. What the programs print and write, and the
// interpolated values on the bundled charts, are pinned end to end (chartlab_test, rgb2lab_test);
// each test names what it leaves to them.
#include "cellindex.h"
#include "cellinverse.h"
#include "chartcheck.h"
#include "chartprofile.h"
#include "colorcommon.h"
#include "derivedlab.h"
#include "inverse.h"
#include "preprocess5202.h"
#include "testutil.h"
#include "vmath.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <memory>
#include <numeric>
#include <random>
#include <set>
#include <tuple>

namespace {

const Interpolation k_both[2] = {Interpolation::Trilinear, Interpolation::Tetrahedral};

struct Chart { std::vector<Color3> rgb, lab; };

std::vector<double> Values(const Color3& c) { return {c.c[0], c.c[1], c.c[2]}; }

// Exact in binary: every interpolation between grid points of a chart with this Lab is exact too.
Color3 Linear(const Color3& c)
{
    return Color3{{10.0 + 0.5 * c.c[0] + 0.25 * c.c[1] + 0.125 * c.c[2], 0.5 * c.c[0] - 0.75 * c.c[1],
                   0.25 * c.c[1] - 0.5 * c.c[2]}};
}

// Every point of `axis`^3 once, B varying fastest, Lab from `lab`. (Charts in any order are
// rgb2lab_test's: the bundled 5202-patch chart is shuffled.)
template <typename F>
Chart MakeChart(const std::vector<double>& axis, F lab)
{
    Chart chart;
    const int n = static_cast<int>(axis.size());
    for (int p = 0; p < n * n * n; ++p) {
        chart.rgb.push_back(Color3{{axis[p / (n * n)], axis[p / n % n], axis[p % n]}});
        chart.lab.push_back(lab(chart.rgb.back()));
    }
    return chart;
}

// The axis 0, step, 2 step, ... of n values.
std::vector<double> Axis(int n, double step)
{
    std::vector<double> axis;
    for (int i = 0; i < n; ++i)
        axis.push_back(step * i);
    return axis;
}

MeasuredGrid MakeGrid(const Chart& chart)
{
    MeasuredGrid grid;
    EXPECT_EQ(GridBuild::Ok, grid.Build(chart.rgb, chart.lab, nullptr));
    return grid;
}

// What cannot form a grid: lists of unequal length, and a patch at -999 (values at or below it
// never enter an axis). A refused build leaves no grid behind. (The limit of 256 values per axis,
// unequal axes and NaN patches are pinned end to end by chartlab_test and rgb2lab_test.)
TEST(MeasuredGrid, RefusesUnequalListsAndAPatchAtTheFloor)
{
    Chart unequal = MakeChart({0.0, 1.0}, Linear), floor = unequal;
    unequal.lab.pop_back();
    floor.rgb[1] = Color3{{-999.0, -999.0, -999.0}};
    MeasuredGrid grid;
    EXPECT_EQ(GridBuild::UnequalLists, grid.Build(unequal.rgb, unequal.lab, nullptr));
    EXPECT_EQ(GridBuild::OffAxis, grid.Build(floor.rgb, floor.lab, nullptr));
    EXPECT_EQ(0, grid.N());
}

// A target on an interior axis point lies in the cell below it, also where the guess of an
// evenly spaced axis lands one cell too high (R 90 on the axis 0, 90, 95, 100): a hole in the
// cell above, at (95, 0, 0), does not stop it. G has an axis of its own, 0, 45, 47.5, 50: each
// channel is interpolated along its own axis.
TEST(MeasuredGrid, AValueOnAnAxisPointBelongsToTheCellBelowIt)
{
    Chart chart = MakeChart({0.0, 90.0, 95.0, 100.0}, Linear);
    chart.rgb.erase(chart.rgb.begin() + 32);
    chart.lab.erase(chart.lab.begin() + 32);
    for (Color3& rgb : chart.rgb)  // the Lab is now Linear of (R, 2 G, B)
        rgb.c[1] /= 2;
    const MeasuredGrid grid = MakeGrid(chart);
    const Color3 target{{90.0, 25.0, 50.0}}, want = Linear(Color3{{90.0, 50.0, 50.0}});
    Color3 lab;
    ASSERT_EQ(GridLookup::Ok, grid.Interpolate(target, Interpolation::Trilinear, &lab));
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(want.c[c], lab.c[c], 1e-12);
}

// The mean of a point's repeated measurements is their sum times the reciprocal of their count.
// A target on an axis value lies in the cell below it, one on the first value in the first cell;
// NaN and anything beyond the axes (-1e-300 too) lie outside. (Interpolation's refusals, and the
// fractions that tetrahedral interpolation takes, are pinned end to end by chartlab_test.)
TEST(MeasuredGrid, ExposesItsPointsAndCells)
{
    Chart chart = MakeChart({0.0, 50.0, 100.0}, [](const Color3& c) { return c; });
    // (100, 100, 100) measured twice more; (50, 50, 50) not at all.
    chart.rgb.insert(chart.rgb.end(), {Color3{{100, 100, 100}}, Color3{{100, 100, 100}}});
    chart.lab.insert(chart.lab.end(), {Color3{{91, 0, 0}}, Color3{{97, 0, 3}}});
    chart.rgb[13] = Color3{};
    const MeasuredGrid grid = MakeGrid(chart);
    EXPECT_EQ(std::tuple(29u, std::vector<double>{0.0, 50.0, 100.0}), std::tuple(grid.PatchCount(), grid.Axis(2)));
    EXPECT_EQ(Values(grid.Lab(2, 2, 2)), (std::vector<double>{(100.0 + 91 + 97) * (1.0 / 3), 100.0 * (1.0 / 3),
                                                              (100.0 + 0 + 3) * (1.0 / 3)}));
    const struct { Color3 rgb; bool inside; std::array<int, 3> index; } cases[] = {
        {{{0, 50, 100}}, true, {0, 0, 1}}, {{{100, 0, 0}}, true, {1, 0, 0}}, {{{-0.0, 0, 0}}, true, {0, 0, 0}},
        {{{25, 75, 10}}, true, {0, 1, 0}}, {{{0, 100.0001, 0}}, false, {}}, {{{-1e-300, 0, 0}}, false, {}},
        {{{0, 0, std::nan("")}}, false, {}},
    };
    for (const auto& c : cases) {
        GridCell cell;
        EXPECT_EQ(c.inside, grid.Locate(c.rgb, &cell) == GridLookup::Ok);
        EXPECT_EQ(c.index, (std::array{cell.index[0], cell.index[1], cell.index[2]})) << c.rgb.c[0];
    }
}

// A target outside the grid or in a cell with an unmeasured corner stops the computation,
// keeping the values derived before it; so do unequal lists, lists that form no grid and no
// output list. (The values themselves are rgb2lab's out, pinned end to end by rgb2lab_test
// against an independent model on both bundled charts, the 5202-patch one in shuffled order.)
TEST(DerivedLab, StopsAtWhatItCannotInterpolate)
{
    const auto compute = [](Chart chart, const std::vector<Color3>& targets, std::vector<Color3>* derived) {
        testutil::CaptureStdout quiet;  // the grid line
        return ComputeDerivedLabValues(chart.rgb, chart.lab, targets, derived);
    };
    Chart holed = MakeChart(Axis(5, 25.0), Linear);
    holed.rgb[62] = Color3{};  // the centre's patch moved onto the lowest corner
    std::vector<Color3> derived;
    EXPECT_TRUE(compute(holed, {Color3{{10, 10, 10}}, Color3{{80, 80, 80}}}, &derived) && derived.size() == 2);
    for (const Color3& bad : {Color3{{-0.001, 0, 0}}, Color3{{0, 100.001, 0}}, Color3{{40, 40, 60}}})
        EXPECT_TRUE(!compute(holed, {Color3{{1, 2, 3}}, bad, Color3{{4, 5, 6}}}, &derived) && derived.size() == 1)
            << bad.c[0] << " " << bad.c[1];
    Chart unequal = holed, offAxis = holed;
    unequal.lab.pop_back();
    offAxis.rgb[0].c[0] = -1.0;
    EXPECT_FALSE(compute(holed, {}, nullptr) || compute(unequal, {}, &derived) || compute(offAxis, {}, &derived));
    // Empty lists: a 0 grid that succeeds only without targets.
    EXPECT_TRUE(compute(Chart{}, {}, &derived) && !compute(Chart{}, {Color3{}}, &derived));
}

// Lists of any length but 5202 are left alone. (The reduction of a 5202-patch chart is
// pinned by rgb2lab_test against the independent model's out and samples, and by the gray check
// below.)
TEST(Preprocess5202, LeavesOtherListsAlone)
{
    for (auto [rgbSize, labSize] : {std::pair(0, 0), {4913, 4913}, {5201, 5201}, {5203, 5203}, {5202, 5201}}) {
        Chart other{std::vector<Color3>(rgbSize, Color3{{1, 1, 1}}), std::vector<Color3>(labSize)};
        Preprocess5202Target(other.rgb, other.lab);
        EXPECT_EQ(std::pair(rgbSize, labSize), std::pair(int(other.rgb.size()), int(other.lab.size())));
    }
}

// Reduces a copy as the programs do, builds the grid and checks.
ChartCheck Check(const Chart& chart, std::size_t worst = 10)
{
    Chart reduced = chart;
    testutil::CaptureStdout quiet;  // the samples
    Preprocess5202Target(reduced.rgb, reduced.lab);
    return CheckChart(chart.rgb, chart.lab, MakeGrid(reduced), worst);
}

// Count, mean, p95 and max.
auto Figures(const DifferenceSummary& s) { return std::tuple(s.count, s.mean, s.p95, s.max); }

// The values 1, 2, ..., count, given in reverse: p95 is the value at rank ceil(0.95 count). (An
// empty set, count 0, is chartlab_test's: the JSON report of a chart without repeats.)
TEST(ChartCheck, SummaryTakesTheValueAtRankCeilOf95PercentOfTheCount)
{
    for (const auto& [count, rank] : {std::pair{1, 1}, {19, 19}, {20, 19}, {21, 20}, {40, 38}, {41, 39}, {101, 96}}) {
        std::vector<float> values(static_cast<std::size_t>(count));
        std::iota(values.rbegin(), values.rend(), 1.0f);
        EXPECT_EQ(Figures(Summarise(values)),
                  std::tuple(std::size_t(count), (count + 1) / 2.0, double(rank), double(count)));
    }
}

// N = 6: the coarse grid keeps levels 0, 2, 4 and the last, 5, and predicts every left-out point
// exactly. (The odd N of the hand-made chart, the spacing, the repeats and the order of the worst
// patches are pinned by chartlab_test's golden report.) With two holes, (4, 4, 4), the top corner
// of the top coarse cell, and (1, 1, 1), left out of the coarse grid, the 7 points of the top
// coarse cell go unpredicted.
TEST(ChartCheck, LinearChartHasNoInterpolationErrorAndHolesAreSkippedNotPredicted)
{
    const ChartCheck c = Check(MakeChart(Axis(6, 20.0), Linear));
    EXPECT_EQ(std::tuple(216u, 6, 4, 216u - 64u), std::tuple(c.patches, c.n, c.coarseN, c.leftOut));
    for (const DifferenceSummary* figures : {&c.trilinear.de76, &c.tetrahedral.de2000})
        EXPECT_EQ(Figures(*figures), std::tuple(152u, 0.0, 0.0, 0.0));

    Chart holed = MakeChart(Axis(5, 25.0), Linear);
    for (int hole : {124, 31}) {
        holed.rgb.erase(holed.rgb.begin() + hole);
        holed.lab.erase(holed.lab.begin() + hole);
    }
    const ChartCheck h = Check(holed);
    EXPECT_EQ(std::tuple(2u, 98u - 1u, 90u), std::tuple(h.unoccupied, h.leftOut, h.tetrahedral.de2000.count));
    EXPECT_EQ(Figures(h.trilinear.de76), std::tuple(90u, 0.0, 0.0, 0.0));
    EXPECT_EQ(0u, h.nonmonotone);  // steps to or from a hole are no steps
}

TEST(ChartCheck, StepsWhereLightnessFallsAreCountedAndTheLargestKeptInGridOrder)
{
    // L* 50 everywhere but at three points: 7 lower at (2, 2, 2), 5 at (1, 1, 1), 1 at (0, 0, 2).
    Chart chart = MakeChart(Axis(3, 10.0), [](const Color3& c) { return Color3{{50.0, c.c[0], c.c[1]}}; });
    chart.lab[26].c[0] = 43.0;
    chart.lab[13].c[0] = 45.0;
    chart.lab[2].c[0] = 49.0;
    const ChartCheck c = Check(chart);
    EXPECT_EQ(7u, c.nonmonotone);
    // From, along, the lower point's L* and the upper's.
    std::vector<std::tuple<int, int, int, int, double, double>> drops;
    for (const LightnessStep& s : c.steepestDrops)
        drops.emplace_back(s.from[0], s.from[1], s.from[2], s.axis, s.lowerL, s.upperL);
    EXPECT_EQ(drops, (decltype(drops){{1, 2, 2, 0, 50, 43}, {2, 1, 2, 1, 50, 43}, {2, 2, 1, 2, 50, 43},
                                      {0, 1, 1, 0, 50, 45}, {1, 0, 1, 1, 50, 45}}));
}

// A 5202-patch chart as the real ones are made: the 17-level grid, then 289 grays evenly from 0 to
// 100 (the grid's 17 gray levels among them), with Lab linear in RGB. The extra gray at
// 100 * 7 / 288 measures 0.6 too light: the worst patch, from the gray check. (The gray counts
// and figures of the bundled chart are pinned by chartlab_test's README report, the CIEDE2000
// figures by Little CMS there.)
TEST(ChartCheck, GraysOfA5202PatchChartArePredictedFromTheGridPatches)
{
    Chart chart = MakeChart(Axis(17, 6.25), Linear);
    for (int g = 0; g < 289; ++g) {
        const double level = g % 18 == 0 ? 6.25 * (g / 18) : 100.0 * g / 288.0;
        chart.rgb.push_back(Color3{{level, level, level}});
        chart.lab.push_back(Linear(chart.rgb.back()));
    }
    const std::size_t moved = 4913 + 7;
    chart.lab[moved].c[0] += 0.6;
    const ChartCheck c = Check(chart, 1);
    ASSERT_EQ(1u, c.worst.size());
    EXPECT_EQ(std::pair(CheckedPatch::Source::Gray, chart.rgb[moved].c[0]),
              std::pair(c.worst[0].source, c.worst[0].rgb.c[0]));
    EXPECT_NEAR(chart.lab[moved].c[0] - 0.6, c.worst[0].predicted.c[0], 1e-9);
    EXPECT_NEAR(0.6, c.worst[0].de76, 1e-6);

    // 306 gray patches at 290 levels (an extra gray moved off a grid level), then 305 at 289 (the
    // gray at 100 * 7 / 288 made a colour): the reduction refuses both, and so does the check.
    chart.rgb[4913 + 18] = Color3{{1.0, 1.0, 1.0}};
    EXPECT_FALSE(Check(chart).hasGrays);
    chart.rgb[moved] = Color3{{1.0, 2.0, 3.0}};
    const ChartCheck refused = Check(chart);
    EXPECT_EQ(std::tuple(false, 0u), std::tuple(refused.hasGrays, refused.graysBeyond));
}

TEST(ChartCheck, EvenSpacingAllowsTheRoundingOfSixDecimals)
{
    const struct { std::vector<double> axis; bool even; } cases[] = {
        {{0, 16.666667, 33.333333, 50}, true}, {{0, 0.062501, 0.125, 0.1875}, true},
        {{0, 0.0625, 0.1251, 0.1875}, false}, {{0, 10, 25}, false}, {{5, 7}, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.even, Check(MakeChart(c.axis, [](const Color3&) { return Color3{{50, 0, 0}}; })).evenlySpaced[1])
            << c.axis[1];
}

TEST(ChartCheck, UncheckableValuesAreFoundByPatchNumber)
{
    const double big = k_checkValueLimit, nan = std::nan("");
    const struct { Color3 rgb, lab; std::size_t want; } cases[] = {
        {{{big, -big, 0}}, {{-big, big, 0}}, 0}, {{{0, std::nextafter(big, 2 * big), 0}}, {{0, 0, 0}}, 2},
        {{{0, 0, 0}}, {{0, 0, nan}}, 2}, {{{0, 0, 0}}, {{-INFINITY, 0, 0}}, 2}, {{{nan, 0, 0}}, {{0, 0, 0}}, 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.want, FirstUncheckablePatch({Color3{}, c.rgb, Color3{}}, {Color3{}, c.lab, Color3{}}));
    // Lists of unequal length are searched to the end of the longer one.
    EXPECT_EQ(3u, FirstUncheckablePatch({Color3{}, Color3{}, Color3{{nan, 0, 0}}}, {Color3{}, Color3{}}));
    EXPECT_EQ(3u, FirstUncheckablePatch({Color3{}}, {Color3{}, Color3{}, Color3{{0, 0, nan}}}));
}

// A display: sRGB on 0..255.
Color3 Display(const Color3& rgb)
{
    const double unit[3] = {rgb.c[0] / 255.0, rgb.c[1] / 255.0, rgb.c[2] / 255.0};
    Color3 lab;
    srgb_to_lab_d50(unit, lab.c);
    return lab;
}

// A grid's inverses under one interpolation, through the index and by scanning every cell. Each
// answer is checked for what every answer must hold: the grid accepts its RGB, which gives its Lab,
// at its distance from the wanted value.
struct Inverse {
    Inverse(const MeasuredGrid& g, Interpolation h) : grid(g), how(h)
    {
        EXPECT_TRUE(indexed.Build(grid, how) && scan.Build(grid, how, InverseSearch::Scan));
    }
    InverseResult operator()(const Color3& lab, bool scanning = false) const
    {
        InverseResult r;
        EXPECT_TRUE((scanning ? scan : indexed).Invert(lab, &r));
        Color3 reached;
        EXPECT_EQ(GridLookup::Ok, grid.Interpolate(r.rgb, how, &reached));
        EXPECT_EQ(DeltaE76(reached, lab), r.deltaE);
        EXPECT_EQ(Values(reached), Values(r.lab));
        return r;
    }
    const MeasuredGrid& grid;
    const Interpolation how;
    GridInverse indexed, scan;
};

// On a display with more than 33 values per axis (its cells indexed in blocks, their models made
// on demand), the index and the scan agree. In gamut, the Lab of random RGB (every third
// component on an axis value) comes back to 1e-9 as the very same RGB. Out of gamut, one value
// below black (nearest in the first cell) and random ones around the gamut: the same distance.
// (The nearest colour is checked against a fine lattice and by the folded chart's known answers
// below, and by the box gamut's in chartlab_test; a noisy chart on uneven axes comes back to
// its Lab there too.)
TEST(GridInverse, TheIndexAndTheScanGiveTheSameAnswers)
{
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> along(0.0, 255.0), l(-20.0, 120.0), ab(-140.0, 140.0);
    const MeasuredGrid grid = MakeGrid(MakeChart(Axis(35, 7.5), Display));
    for (Interpolation how : k_both) {
        SCOPED_TRACE(int(how));
        const Inverse inverse(grid, how);
        for (int t = 0; t < 100; ++t) {
            Color3 rgb, lab;
            for (int a = 0; a < 3; ++a)
                rgb.c[a] = random() % 3 ? along(random) : grid.Axis(a)[random() % grid.Axis(a).size()];
            ASSERT_EQ(GridLookup::Ok, grid.Interpolate(rgb, how, &lab));
            const InverseResult a = inverse(lab), b = inverse(lab, true);
            EXPECT_TRUE(a.inGamut && a.deltaE < 1e-9) << "target " << t << ": " << a.deltaE;
            EXPECT_EQ(Values(a.rgb), Values(b.rgb)) << "target " << t;
        }
        int outside = 0;
        for (int t = 0; t < 12; ++t) {
            const Color3 wanted = t ? Color3{{l(random), ab(random), ab(random)}} : Color3{{-5, 0, 0}};
            const InverseResult result = inverse(wanted);
            EXPECT_NEAR(inverse(wanted, true).deltaE, result.deltaE, 1e-6) << "target " << t;
            outside += !result.inGamut;
        }
        EXPECT_GE(outside, 6);
    }
}

// Folded: L rises with R up to R = 50 and falls beyond; a and b follow G and B. Every L below the
// top is reached twice, at R and 100 - R, and the first cell in grid order answers; L = 100 is
// reached along the ridge at R = 50. Flat: Lab changes with neither B nor L, so every tetrahedron
// is flat, the trilinear Jacobian singular and every cell's box flat; each value comes back, from
// the lowest cell along B (B within 25 of 25).
TEST(GridInverse, FoldedAndFlatChartsGiveTheFirstCellInGridOrder)
{
    const MeasuredGrid folded = MakeGrid(MakeChart(Axis(5, 25.0), [](const Color3& c) {
        return Color3{{100.0 - std::fabs(c.c[0] - 50.0), c.c[1] - 50.0, c.c[2] - 50.0}};
    }));
    const MeasuredGrid flat = MakeGrid(MakeChart(Axis(5, 25.0), [](const Color3& c) {
        return Color3{{50.0, c.c[0], c.c[1] - 0.2 * c.c[0]}};
    }));
    const struct { const MeasuredGrid* grid; Color3 lab, rgb; double deltaE, slackB; } cases[] = {
        {&folded, {{80.0, 10.0, -5.0}}, {{30.0, 60.0, 45.0}}, 0.0, 1e-6},
        {&folded, {{50.0, -50.0, 50.0}}, {{0.0, 0.0, 100.0}}, 0.0, 1e-6},
        {&folded, {{107.0, 20.0, 30.0}}, {{50.0, 70.0, 80.0}}, 7.0, 1e-6},   // beyond the ridge: nearest on it
        {&folded, {{103.0, 54.0, -50.0}}, {{50.0, 100.0, 0.0}}, 5.0, 1e-6},  // beyond a corner of the ridge
        {&flat, {{50.0, 0.0, 0.0}}, {{0.0, 0.0, 25.0}}, 0.0, 25.0},
        {&flat, {{50.0, 35.0, 67.0}}, {{35.0, 74.0, 25.0}}, 0.0, 25.0},
    };
    for (Interpolation how : k_both)
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << int(how) << " L " << c.lab.c[0] << " a " << c.lab.c[1]);
            const InverseResult result = Inverse(*c.grid, how)(c.lab);
            for (int a = 0; a < 3; ++a)
                EXPECT_NEAR(c.rgb.c[a], result.rgb.c[a], a == 2 ? c.slackB : 1e-6) << a;
            EXPECT_NEAR(c.deltaE, result.deltaE, 1e-9);
            EXPECT_EQ(c.deltaE == 0.0, result.inGamut);
        }
}

// The nearest colour of a value outside the gamut is never farther than the nearest point of a
// 101 x 101 lattice on each face of the grid: on one cell whose corners make its faces bend and
// its orientation change (searched whole), and on a display's 3 x 3 x 3 grid (searched over its
// outer faces, halved where they cannot be bounded closely enough).
TEST(GridInverse, NearestColourIsNoFartherThanAFineLatticeOnTheFaces)
{
    const MeasuredGrid grids[] = {MakeGrid(MakeChart({0.0, 255.0}, [](const Color3& c) {
                                      const double r = c.c[0] / 255, g = c.c[1] / 255, b = c.c[2] / 255;
                                      return Color3{{20 + 60 * r + 40 * g * b - 30 * r * g, 60 * g - 90 * r * b,
                                                     50 * b - 70 * r * g * b}};
                                  })),
                                  MakeGrid(MakeChart(Axis(3, 127.5), Display))};
    std::mt19937_64 random(9);
    std::uniform_real_distribution<double> l(-10.0, 110.0), ab(-80.0, 80.0);
    for (const MeasuredGrid& grid : grids) {
        const Inverse inverse(grid, Interpolation::Trilinear);
        int outside = 0;
        for (int t = 0; t < 12; ++t) {
            const Color3 wanted{{l(random), ab(random), ab(random)}};
            double nearest = HUGE_VAL;
            for (int face = 0; face < 6; ++face)
                for (int u = 0; u <= 100; ++u)
                    for (int v = 0; v <= 100; ++v) {
                        Color3 rgb, lab;
                        rgb.c[face / 2] = face % 2 ? 255.0 : 0.0;
                        rgb.c[(face / 2 + 1) % 3] = 2.55 * u;
                        rgb.c[(face / 2 + 2) % 3] = 2.55 * v;
                        grid.Interpolate(rgb, Interpolation::Trilinear, &lab);
                        nearest = std::min(nearest, DeltaE76(lab, wanted));
                    }
            const InverseResult result = inverse(wanted);
            outside += !result.inGamut;
            EXPECT_TRUE(result.inGamut || result.deltaE <= nearest + 1e-9)
                << grid.N() << " " << t << ": " << result.deltaE << " " << nearest;
        }
        EXPECT_GE(outside, 6) << grid.N();
    }
}

// Grid point (0, 0, 0) unmeasured and (3, 3, 3) NaN: the cells at both ends are unusable; so are
// the two below and above (0, 2, 0), NaN too. The Lab of RGB (10, 5, 5), on the lowest face of
// cell (1, 0, 0), and that of (10, 15, 5), on the lowest face of cell (1, 1, 0), come back; those
// of (0, 0, 0) and (30, 30, 30) get the nearest point of a usable cell; so does a value so far
// away that every distance overflows. A value with a component that is not finite is refused, the result left
// as it was; so is every value before a build, and after one that finds no usable cell (a single
// cell with an infinite corner, or no grid at all).
TEST(GridInverse, IncompleteChartsAnswerInsideTheirUsableCellsOrNotAtAll)
{
    Chart chart = MakeChart(Axis(4, 10.0), [](const Color3& c) {
        return Color3{{c.c[0] + 0.5 * c.c[1], c.c[1] - 0.25 * c.c[2], c.c[2] + 0.1 * c.c[0]}};
    });
    chart.lab[8].c[1] = chart.lab.back().c[1] = std::nan("");
    chart.rgb.erase(chart.rgb.begin());
    chart.lab.erase(chart.lab.begin());
    const MeasuredGrid grid = MakeGrid(chart);
    for (Interpolation how : k_both)
        for (const Color3& lab : {Color3{{12.5, 3.75, 6.0}}, Color3{{17.5, 13.75, 6.0}}, Color3{{0, 0, 0}},
                                  Color3{{45, 22.5, 33}}, Color3{{1e300, -1e300, 1e300}}}) {
            SCOPED_TRACE(testing::Message() << int(how) << " L " << lab.c[0]);
            const InverseResult result = Inverse(grid, how)(lab);
            GridCell cell;
            ASSERT_EQ(GridLookup::Ok, grid.Locate(result.rgb, &cell));
            EXPECT_NE(0, cell.index[0] + cell.index[1] + cell.index[2]);
            EXPECT_NE(6, cell.index[0] + cell.index[1] + cell.index[2]);
            const bool inside = lab.c[2] == 6.0;  // the two that come back, at R 10
            EXPECT_EQ(inside, result.inGamut);
            EXPECT_TRUE(std::isfinite(result.deltaE));
            EXPECT_NEAR(inside ? 10.0 : result.rgb.c[0], result.rgb.c[0], 1e-12);
        }
    GridInverse inverse;
    InverseResult result;
    result.deltaE = 42.0;
    EXPECT_FALSE(inverse.Invert(Color3{{50, 0, 0}}, &result));
    ASSERT_TRUE(inverse.Build(grid, Interpolation::Tetrahedral));
    for (const Color3& bad : {Color3{{std::nan(""), 0, 0}}, Color3{{0, INFINITY, 0}}, Color3{{0, 0, -INFINITY}}})
        EXPECT_FALSE(inverse.Invert(bad, &result));
    EXPECT_EQ(42.0, result.deltaE);
    Chart single = MakeChart({0.0, 1.0}, Display);
    single.lab[3].c[0] = INFINITY;
    const MeasuredGrid singleGrid = MakeGrid(single);
    EXPECT_FALSE(inverse.Build(singleGrid, Interpolation::Trilinear));
    EXPECT_FALSE(inverse.Invert(Color3{{50, 0, 0}}, &result));
    EXPECT_FALSE(inverse.Build(MeasuredGrid(), Interpolation::Trilinear));
}

// The eight corners of a cell whose Lab is `lab` of the fractions.
template <typename F>
void CellCorners(F lab, Color3 corners[8])
{
    for (int d = 0; d < 8; ++d)
        corners[d] = lab(std::array{double(d >> 2), double((d >> 1) & 1), double(d & 1)}.data());
}

TEST(CellInverse, OrientationTellsOneSignedCellsFromFolds)
{
    const struct { const char* name; Color3 (*lab)(const double f[3]); int sign; } cases[] = {
        {"sheared", [](const double f[3]) { return Color3{{f[0] + 0.3 * f[1], f[1] - 0.2 * f[2], f[2]}}; }, 1},
        {"mirrored", [](const double f[3]) { return Color3{{-f[0], f[1] + 0.2 * f[0] * f[2], f[2]}}; }, -1},
        {"folded", [](const double f[3]) { return Color3{{f[0] * (1.0 - 2.0 * f[1]), f[1], f[2]}}; }, 0},
        {"flat", [](const double f[3]) { return Color3{{f[0] + f[1], f[2], 0.0}}; }, 0},
        {"bent corner", [](const double f[3]) { return Color3{{f[0] - 1.2 * f[0] * f[1] * f[2], f[1], f[2]}}; }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Color3 corners[8];
        CellCorners(c.lab, corners);
        for (Interpolation how : k_both)
            EXPECT_EQ(c.sign, cellinverse::CellOrientation(corners, how)) << int(how);
    }
}

// From the fractions a bent cell's linear model starts from, Newton's method reaches the value;
// in a cell whose Lab does not change along B (a singular Jacobian) it reaches it by least
// squares from the centre. (The inverse falls back on halving the cell when it fails.)
TEST(CellInverse, NewtonsMethodFindsTheValue)
{
    const auto bent = [](const double f[3]) {
        return Color3{{f[0] + 0.4 * f[1] * f[2], f[1] - 0.3 * f[0] * f[2], f[2] + 0.35 * f[0] * f[1]}};
    };
    const auto flat = [](const double f[3]) { return Color3{{f[0] + 0.2 * f[0] * f[1], f[1] - 0.1 * f[0], 0.5}}; };
    Color3 b[8], c[8];
    CellCorners(bent, b);
    CellCorners(flat, c);
    for (const auto& f : {std::array{0.0, 0.0, 0.0}, {1.0, 0.0, 1.0}, {0.5, 0.2, 0.9}, {0.01, 0.99, 0.6}}) {
        double start[3], centre[3] = {0.5, 0.5, 0.5};
        EXPECT_TRUE(cellinverse::MayReach(cellinverse::ModelCell(b, 1e-12), bent(f.data()), start));
        EXPECT_TRUE(cellinverse::SolveTrilinearNewton(b, bent(f.data()), 1e-12, start));
        EXPECT_TRUE(cellinverse::SolveTrilinearNewton(c, flat(f.data()), 1e-12, centre));
        const double want[5] = {f[0], f[1], f[2], f[0], f[1]};
        const double got[5] = {start[0], start[1], start[2], centre[0], centre[1]};
        for (int n = 0; n < 5; ++n)
            EXPECT_NEAR(want[n], got[n], 1e-9) << n;
    }
}

// Every block whose box holds a point is visited, with each of its cells, even when a few blocks'
// boxes cover everything and the bins must be coarsened to stay within their cap. Blocks are one
// cell, in every fifth row two along B.
TEST(CellBins, FindEveryBlockHoldingAPointWithinTheirMemoryCap)
{
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> where(0.0, 1.0), size(0.001, 0.05);
    const int m = 20;
    std::vector<CellBlock> blocks;
    for (int row = 0; row < m * m; ++row)
        for (int k = 0, width = row % 5 ? 1 : 2; k < m; k += width) {
            CellBlock b{{row / m, row % m, k}, {row / m + 1, row % m + 1, k + width}, {}};
            const double extent = blocks.size() % 400 == 7 ? 3.0 : size(random);
            for (int a = 0; a < 3; ++a)
                b.box.hi[a] = (b.box.lo[a] = where(random) - extent) + 2 * extent;
            blocks.push_back(b);
        }
    CellBins bins;
    bins.Build(m, blocks, 0.0);
    EXPECT_LE(static_cast<long long>(bins.EntryCount()), CellBins::EntryCap(blocks.size()));
    for (int t = 0; t < 200; ++t) {
        Color3 p{{where(random), where(random), where(random)}};
        if (t % 4 == 0)  // on a corner of a box
            std::copy_n(blocks[static_cast<std::size_t>(t * 7) % blocks.size()].box.lo, 3, p.c);
        std::multiset<int> want, got;
        for (const CellBlock& b : blocks)
            for (int k = b.lo[2]; k < b.hi[2] && b.box.Contains(p, 0.0); ++k)
                want.insert((b.lo[0] * m + b.lo[1]) * m + k);
        bins.ForEachCellAt(p, [&](int cell) { got.insert(cell); });
        // The bins compare in single precision, rounded outwards: a few more blocks may come.
        EXPECT_TRUE(std::includes(got.begin(), got.end(), want.begin(), want.end())) << "point " << t;
        EXPECT_LE(got.size(), want.size() + 2) << "point " << t;
    }
}

// Chart profiles, checked by Little CMS as the independent engine: through every intent at the
// grid points, against Lab values the test derives with the engine's own colour
// maths (and the library's black and white transform for the perceptual table); a display
// profile's Lab-to-device tables; the header, and the white and black points. What
// a profile cannot be made from is pinned end to end (chartlab_test), but for a white
// whose Y alone is 0.

using Bytes = std::vector<unsigned char>;

// A noise-free display through sRGB on the given axes (0..100), its Lab changed by `veil`. (The
// bundled, measured chart is chartlab_test's.)
MeasuredGrid ProfileGrid(const std::vector<double> axes[3],
                         Color3 (*veil)(const Color3&) = [](const Color3& lab) { return lab; })
{
    Chart chart;
    for (double r : axes[0])
        for (double g : axes[1])
            for (double b : axes[2]) {
                chart.rgb.push_back(Color3{{r, g, b}});
                chart.lab.push_back(veil(Display(Color3{{r * 255 / 100, g * 255 / 100, b * 255 / 100}})));
            }
    return MakeGrid(chart);
}

Bytes MakeProfile(const MeasuredGrid& grid, const ChartProfileSettings& settings)
{
    std::unique_ptr<ICC_CPP_Profile> profile;
    Bytes bytes;
    EXPECT_EQ(BuildChartProfile(grid, settings, &profile), ChartProfileBuild::Ok);
    EXPECT_TRUE(profile && profile->WriteToMemory(bytes));
    return bytes;
}

// The engine's relative Lab of a measured Lab against the white's measured Lab.
cmsCIELab EngineRelativeLab(const Color3& lab, const Color3& white)
{
    const cmsCIELab in{lab.c[0], lab.c[1], lab.c[2]}, w{white.c[0], white.c[1], white.c[2]};
    cmsCIEXYZ xyz, wxyz;
    cmsLab2XYZ(cmsD50_XYZ(), &xyz, &in);
    cmsLab2XYZ(cmsD50_XYZ(), &wxyz, &w);
    cmsCIELab out;
    cmsXYZ2Lab(&wxyz, &out, &xyz);
    return out;
}

// Whether the 16-bit Lab of version 2 holds the value.
bool Encodable(const cmsCIELab& lab)
{
    return lab.L >= 0.0 && lab.L <= 65535 * 100.0 / 65280 && std::min(lab.a, lab.b) >= -128.0 &&
           std::max(lab.a, lab.b) <= 65535 / 256.0 - 128.0;
}

double Distance(const cmsCIELab& x, const cmsCIELab& y) { return cmsDeltaE(&x, &y); }

// A transform between a profile in memory and Lab, in double precision, either way.
using Transform = std::unique_ptr<void, void (*)(cmsHTRANSFORM)>;
Transform Engine(const Bytes& profile, cmsUInt32Number intent, bool toLab = true)
{
    cmsHPROFILE device = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    const cmsUInt32Number flags = cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE;
    Transform transform(toLab ? cmsCreateTransform(device, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, intent, flags)
                              : cmsCreateTransform(lab, TYPE_Lab_DBL, device, TYPE_RGB_DBL, intent, flags),
                        cmsDeleteTransform);
    cmsCloseProfile(device);
    cmsCloseProfile(lab);
    EXPECT_NE(transform, nullptr);
    return transform;
}

cmsCIELab ToLab(const Transform& transform, const std::array<double, 3>& rgb)
{
    cmsCIELab lab;
    cmsDoTransform(transform.get(), rgb.data(), &lab, 1);
    return lab;
}

// At every point of a grid on uneven axes the relative and perceptual intents give its Lab: relative to the white,
// and carried by the library's transform made from the black's and the white's relative Lab.
// The perceptual table takes the black to L* = 0 and the white to L* = 100, neutral, to within one
// code (1/256 in a* and b*). The input tables follow each axis, however uneven. (The absolute
// intent, and so the relative one, is checked end to end at every patch of the bundled chart.)
TEST(ChartProfile, LittleCmsReproducesTheGridThroughEveryIntent)
{
    // Axes of their own per channel, one starting above 0 and one ending below the top, and a
    // veiled black: every Lab value lifted towards (4, 1, -1).
    const std::vector<double> skewed[3] = {{0, 10, 35, 70, 100}, {0, 20, 45, 60, 100}, {10, 25, 50, 75, 90}};
    const MeasuredGrid grid = ProfileGrid(skewed, [](const Color3& lab) {
        return Color3{{4 + 0.96 * lab.c[0], 1 + lab.c[1], lab.c[2] - 1}};
    });
    const int n = grid.N(), top = n - 1;
    const Bytes profile = MakeProfile(grid, ChartProfileSettings());
    const Transform relative = Engine(profile, INTENT_RELATIVE_COLORIMETRIC),
                    perceptual = Engine(profile, INTENT_PERCEPTUAL);
    const cmsCIELab black = EngineRelativeLab(grid.Lab(0, 0, 0), grid.Lab(top, top, top));
    const Vec3 blackLab(float(black.L), float(black.a), float(black.b));
    const Matrix4 toPcs = ComputeTransformFromMeasuredLabToPCSLab(blackLab, Vec3(100, 0, 0));
    int encodable = 0;
    for (int p = 0; p < n * n * n; ++p) {
        const int i = p / (n * n), j = p / n % n, k = p % n;
        const double r = grid.Axis(0)[i] / 100, g = grid.Axis(1)[j] / 100, b = grid.Axis(2)[k] / 100;
        const cmsCIELab want = EngineRelativeLab(grid.Lab(i, j, k), grid.Lab(top, top, top));
        if (!Encodable(want))
            continue;
        ++encodable;
        EXPECT_LE(Distance(ToLab(relative, {r, g, b}), want), 0.01);
        const Vec4 pcs = mul(toPcs, Vec4(float(want.L), float(want.a), float(want.b), 1));
        const cmsCIELab wantPerceptual{pcs.v[0], pcs.v[1], pcs.v[2]};
        EXPECT_TRUE(!Encodable(wantPerceptual) || Distance(ToLab(perceptual, {r, g, b}), wantPerceptual) <= 0.01);
    }
    EXPECT_GT(encodable, n * n * n * 9 / 10);
    EXPECT_LE(Distance(ToLab(perceptual, {0, 0, 0}), cmsCIELab{0, 0, 0}), 0.004);
    EXPECT_LE(Distance(ToLab(perceptual, {1, 1, 1}), cmsCIELab{100, 0, 0}), 0.004);
}

// Lab to device RGB through a display profile's B2A tables and back through its A2B tables: the
// chart's own colours come back close; L* 0 and 100 go to black and white, and the relative
// neutral axis to device grays (the chart's grays are neutral against its white).
TEST(ChartProfile, DisplayProfileRoundTripsThroughLittleCms)
{
    const std::vector<double> axes[3] = {Axis(17, 6.25), Axis(17, 6.25), Axis(17, 6.25)};
    const MeasuredGrid grid = ProfileGrid(axes);
    const Bytes bytes = MakeProfile(grid, {.profileClass = ProfileClass::Display, .description = {}, .copyright = {}});
    const Transform toLab = Engine(bytes, INTENT_RELATIVE_COLORIMETRIC);
    const Transform toDevice[2] = {Engine(bytes, INTENT_PERCEPTUAL, false),
                                   Engine(bytes, INTENT_RELATIVE_COLORIMETRIC, false)};
    std::vector<double> errors;
    for (int p = 0; p < 17 * 17 * 17; p += 7) {
        const cmsCIELab wanted = EngineRelativeLab(grid.Lab(p / 289, p / 17 % 17, p % 17), grid.Lab(16, 16, 16));
        std::array<double, 3> device;
        cmsDoTransform(toDevice[INTENT_RELATIVE_COLORIMETRIC].get(), &wanted, device.data(), 1);
        errors.push_back(Distance(ToLab(toLab, device), wanted));
    }
    std::sort(errors.begin(), errors.end());
    EXPECT_LE(errors[errors.size() * 95 / 100], 1.5);
    // L* 50 relative colorimetric goes to a device gray of its own.
    for (const auto& [intent, l] : {std::pair{INTENT_PERCEPTUAL, 0.0}, {INTENT_PERCEPTUAL, 100.0},
                                    {INTENT_RELATIVE_COLORIMETRIC, 0.0}, {INTENT_RELATIVE_COLORIMETRIC, 100.0},
                                    {INTENT_RELATIVE_COLORIMETRIC, 50.0}}) {
        const cmsCIELab lab{l, 0, 0};
        double out[3];
        cmsDoTransform(toDevice[intent].get(), &lab, out, 1);
        for (double v : out)
            EXPECT_NEAR(l == 50.0 ? out[0] : l / 100, v, 1e-4) << intent << " " << l;
    }
}

// The header byte for byte; Little CMS finds the white and black points as the chart measured
// them. (The class, the texts and the tables as Little CMS reads them are checked end to end, the
// text tags' encoding in icc_test.)
TEST(ChartProfile, HeaderAndTagsAsOurReaderAndLittleCmsSeeThem)
{
    const std::vector<double> axes[3] = {{0, 50, 100}, {0, 50, 100}, {0, 50, 100}};
    const MeasuredGrid grid = ProfileGrid(axes);
    // Made on 2015-03-05 at 14:07:09 UTC.
    const Bytes bytes = MakeProfile(grid, {.description = {}, .copyright = {}, .created = 1425564429});
    const Bytes want = {2, 0x40, 0, 0, 's', 'c', 'n', 'r', 'R', 'G', 'B', ' ', 'L', 'a', 'b', ' ',
                        0x07, 0xDF, 0, 3, 0, 5, 0, 14, 0, 7, 0, 9, 'a', 'c', 's', 'p',
                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                        0, 0, 0xF6, 0xD6, 0, 1, 0, 0, 0, 0, 0xD3, 0x2D, 'O', 'R', 'L', 'K',
                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Bytes(bytes.begin() + 8, bytes.begin() + 100), want);

    const cmsHPROFILE engine = cmsOpenProfileFromMem(bytes.data(), cmsUInt32Number(bytes.size()));
    ASSERT_NE(engine, nullptr);
    for (const auto& [sig, point] : {std::pair{cmsSigMediaWhitePointTag, 2}, {cmsSigMediaBlackPointTag, 0}}) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(engine, sig));
        const Color3& lab = grid.Lab(point, point, point);
        const cmsCIELab measured{lab.c[0], lab.c[1], lab.c[2]};
        cmsCIEXYZ want;
        cmsLab2XYZ(cmsD50_XYZ(), &want, &measured);
        ASSERT_NE(xyz, nullptr);
        for (double difference : {xyz->X - want.X, xyz->Y - want.Y, xyz->Z - want.Z})
            EXPECT_NEAR(0.0, difference, 0.5 / 65536);
    }
    cmsCloseProfile(engine);
}

// Lab (0, 50, -50) has X and Z above 0 but Y at 0: no white.
TEST(ChartProfile, RefusesAWhiteWhoseYIsZero)
{
    const MeasuredGrid grid = MakeGrid(MakeChart({0.0, 100.0}, [](const Color3& c) {
        return c.c[0] + c.c[1] + c.c[2] == 300 ? Color3{{0, 50, -50}} : Display(c);
    }));
    std::unique_ptr<ICC_CPP_Profile> profile;
    EXPECT_EQ(BuildChartProfile(grid, ChartProfileSettings(), &profile), ChartProfileBuild::BadWhite);
    EXPECT_EQ(profile, nullptr);
}

}  // namespace
