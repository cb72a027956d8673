// The measured grid: what a build accepts, the points and cells it exposes, and tetrahedral
// interpolation against a chart whose Lab is linear inside each tetrahedron, exact on grid points.
// Trilinear results are pinned by the derived Lab tests.
#include "grid.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

namespace {

struct Chart { std::vector<Color3> rgb, lab; };

// A grid on the given axis values (the same for R, G and B), Lab from `lab`, patches in a
// shuffled but fixed order.
template <typename F>
Chart MakeChart(const std::vector<double>& axis, F lab)
{
    Chart chart;
    const int n = static_cast<int>(axis.size());
    for (int s = 0, count = n * n * n; s < count; ++s) {
        const int p = static_cast<int>((s * 7919LL) % count);
        chart.rgb.push_back(Color3{{axis[p / (n * n)], axis[p / n % n], axis[p % n]}});
        chart.lab.push_back(lab(chart.rgb.back()));
    }
    return chart;
}

// Patches on the diagonal only: n values per axis.
Chart Diagonal(int n)
{
    Chart chart;
    for (int i = 0; i < n; ++i)
        chart.rgb.push_back(Color3{{double(i), double(i), double(i)}});
    chart.lab.resize(chart.rgb.size());
    return chart;
}

TEST(MeasuredGrid, BuildsOnlyListsThatFormAGrid)
{
    // Values that never enter an axis: NaN, and -999 and below.
    Chart unequalAxes = Diagonal(3), nan = Diagonal(3), floor = Diagonal(3), unequalLists = Diagonal(3);
    unequalAxes.rgb[1].c[2] = 0.0;
    nan.rgb[1] = Color3{{std::nan(""), std::nan(""), std::nan("")}};
    floor.rgb[1] = Color3{{-999.0, -999.0, -999.0}};
    unequalLists.lab.pop_back();
    const struct { const char* name; Chart chart; GridBuild want; int n; } cases[] = {
        {"256 values per axis", Diagonal(256), GridBuild::Ok, 256},
        {"257 values per axis", Diagonal(257), GridBuild::TooManyValues, 0},
        {"unequal axes", unequalAxes, GridBuild::UnequalAxes, 0},
        {"a NaN patch", nan, GridBuild::OffAxis, 0},
        {"a patch at -999", floor, GridBuild::OffAxis, 0},
        {"unequal lists", unequalLists, GridBuild::UnequalLists, 0},
    };
    for (const auto& c : cases) {
        MeasuredGrid grid;
        EXPECT_EQ(c.want, grid.Build(c.chart.rgb, c.chart.lab, nullptr)) << c.name;
        EXPECT_EQ(c.n, grid.N()) << c.name;
    }
}

// On an evenly spaced axis the fractions inside a cell order like the components' distances above
// the cell's corner, so minima and maxima of two components are linear inside each of the six
// tetrahedra, though not inside a cell.
Color3 PiecewiseLinear(const Color3& rgb)
{
    const double r = rgb.c[0], g = rgb.c[1], b = rgb.c[2];
    return Color3{{std::min(r, g) + 0.5 * b, std::max(g, b) - 0.25 * r, std::fabs(r - b) - std::min(g, b)}};
}

TEST(MeasuredGrid, TetrahedralReproducesAChartLinearInEachTetrahedron)
{
    const std::vector<double> axis = {-10.0, 2.5, 15.0, 27.5, 40.0};
    MeasuredGrid grid;
    const Chart chart = MakeChart(axis, PiecewiseLinear);
    ASSERT_EQ(GridBuild::Ok, grid.Build(chart.rgb, chart.lab, nullptr));
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> inside(-10.0, 40.0);
    double worstTrilinear = 0.0;
    for (int t = 0; t < 400; ++t) {
        Color3 rgb{{inside(random), inside(random), inside(random)}}, tetrahedral, trilinear;
        for (int a = 0; a < 3 && t % 4 == 0; ++a)  // a grid point, a component on an axis value, or two equal fractions
            rgb.c[a] = t % 8 == 0 || a == 1 ? axis[random() % axis.size()] : rgb.c[a];
        if (t % 4 == 1)
            rgb.c[1] = std::clamp(rgb.c[0] + 12.5 * static_cast<double>(random() % 3) - 12.5, -10.0, 40.0);
        ASSERT_EQ(GridLookup::Ok, grid.Interpolate(rgb, Interpolation::Tetrahedral, &tetrahedral));
        ASSERT_EQ(GridLookup::Ok, grid.Interpolate(rgb, Interpolation::Trilinear, &trilinear));
        for (int n = 0; n < 3; ++n) {
            EXPECT_NEAR(PiecewiseLinear(rgb).c[n], tetrahedral.c[n], t % 8 ? 1e-12 : 0.0) << "target " << t;
            worstTrilinear = std::max(worstTrilinear, std::fabs(PiecewiseLinear(rgb).c[n] - trilinear.c[n]));
        }
    }
    EXPECT_GT(worstTrilinear, 1.0);  // the chart is not trilinear: one interpolation for the other would show
}

TEST(MeasuredGrid, ExposesItsPointsAndCells)
{
    Chart chart = MakeChart({0.0, 50.0, 100.0}, [](const Color3& c) { return c; });
    // (100, 100, 100) measured twice more; (50, 50, 50) not at all.
    chart.rgb.insert(chart.rgb.end(), {Color3{{100, 100, 100}}, Color3{{100, 100, 100}}});
    chart.lab.insert(chart.lab.end(), {Color3{{91, 0, 0}}, Color3{{97, 0, 3}}});
    *std::find_if(chart.rgb.begin(), chart.rgb.end(), [](const Color3& c) { return c.c[0] == 50 && c.c[1] == 50 && c.c[2] == 50; }) = Color3{};
    MeasuredGrid grid;
    ASSERT_EQ(GridBuild::Ok, grid.Build(chart.rgb, chart.lab, nullptr));
    EXPECT_EQ(3, grid.N());
    EXPECT_EQ(29u, grid.PatchCount());
    EXPECT_EQ((std::vector<double>{0.0, 50.0, 100.0}), grid.Axis(2));
    EXPECT_FALSE(grid.Occupied(1, 1, 1));
    EXPECT_TRUE(grid.Occupied(1, 1, 2));
    EXPECT_EQ((100.0 + 91.0 + 97.0) * (1.0 / 3), grid.Lab(2, 2, 2).c[0]);
    EXPECT_EQ((100.0 + 0.0 + 3.0) * (1.0 / 3), grid.Lab(2, 2, 2).c[2]);
    const int low[3] = {0, 0, 0}, high[3] = {1, 1, 1};
    EXPECT_FALSE(grid.CellMeasured(low));
    EXPECT_FALSE(grid.CellMeasured(high));

    const struct { Color3 rgb; GridLookup want; int index[3]; double fractions[3]; } cases[] = {
        {{{0, 50, 100}}, GridLookup::UnmeasuredCorner, {0, 0, 1}, {0, 1, 1}},  // on an axis value: the cell below
        {{{100, 0, 0}}, GridLookup::UnmeasuredCorner, {1, 0, 0}, {1, 0, 0}},
        {{{-0.0, 0, 0}}, GridLookup::UnmeasuredCorner, {0, 0, 0}, {0, 0, 0}},
        {{{25, 75, 10}}, GridLookup::UnmeasuredCorner, {0, 1, 0}, {0.5, 0.5, 0.2}},
        {{{0, 100.0001, 0}}, GridLookup::OutsideGrid, {}, {}},
        {{{-1e-300, 0, 0}}, GridLookup::OutsideGrid, {}, {}},
        {{{0, 0, std::nan("")}}, GridLookup::OutsideGrid, {}, {}},
    };
    for (const auto& c : cases) {
        GridCell cell;
        const GridLookup located = grid.Locate(c.rgb, &cell);
        EXPECT_EQ(c.want == GridLookup::OutsideGrid ? GridLookup::OutsideGrid : GridLookup::Ok, located);
        double fractions[3] = {};
        if (located == GridLookup::Ok)
            grid.Fractions(cell, fractions);
        EXPECT_EQ((std::vector<int>(c.index, c.index + 3)), (std::vector<int>(cell.index, cell.index + 3)));
        EXPECT_EQ((std::vector<double>(c.fractions, c.fractions + 3)), (std::vector<double>(fractions, fractions + 3)));
        for (Interpolation how : {Interpolation::Trilinear, Interpolation::Tetrahedral}) {
            Color3 lab{{7, 7, 7}};
            EXPECT_EQ(c.want, grid.Interpolate(c.rgb, how, &lab));
            EXPECT_EQ(7.0, lab.c[0]);
        }
    }
}

}  // namespace
