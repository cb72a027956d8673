// The measured grid as later commands use it: the grid points and cells it exposes, and
// tetrahedral interpolation against charts whose Lab is linear inside each tetrahedron.
// Trilinear results are pinned by the derived Lab and fast-path tests, what a build refuses
// by the chartlab end-to-end tests.
#include "grid.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

namespace {

struct Chart { std::vector<Color3> rgb, lab; };

// A grid on the given axis values (the same for R, G and B), Lab from `lab`, patches in
// a shuffled but fixed order.
template <typename F>
Chart MakeChart(const std::vector<double>& axis, F lab)
{
    Chart chart;
    const int n = static_cast<int>(axis.size());
    for (int s = 0, count = n * n * n; s < count; ++s) {
        const int p = static_cast<int>((s * 7919LL) % count);
        const Color3 rgb{{axis[p / (n * n)], axis[p / n % n], axis[p % n]}};
        chart.rgb.push_back(rgb);
        chart.lab.push_back(lab(rgb));
    }
    return chart;
}

// On an evenly spaced axis the fractions inside a cell order like the components' distances
// above the cell's corner, so minima and maxima of two components are linear inside each of
// the six tetrahedra, though not inside a cell.
Color3 PiecewiseLinear(const Color3& rgb)
{
    const double r = rgb.c[0], g = rgb.c[1], b = rgb.c[2];
    return Color3{{std::min(r, g) + 0.5 * b, std::max(g, b) - 0.25 * r, std::fabs(r - b) - std::min(g, b)}};
}

std::vector<double> EvenAxis(int n, double first, double step)
{
    std::vector<double> axis;
    for (int i = 0; i < n; ++i)
        axis.push_back(first + step * i);
    return axis;
}

MeasuredGrid Build(const Chart& chart)
{
    MeasuredGrid grid;
    EXPECT_EQ(GridBuild::Ok, grid.Build(chart.rgb, chart.lab, nullptr));
    return grid;
}

TEST(MeasuredGrid, TetrahedralReproducesAChartLinearInEachTetrahedron)
{
    const std::vector<double> axis = EvenAxis(5, -10.0, 12.5);
    const MeasuredGrid grid = Build(MakeChart(axis, PiecewiseLinear));
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> inside(axis.front(), axis.back());
    double worstTrilinear = 0.0;
    for (int t = 0; t < 3000; ++t) {
        Color3 rgb{{inside(random), inside(random), inside(random)}};
        // Every fourth target has a component on an axis value or two equal fractions.
        if (t % 4 == 0)
            rgb.c[t % 3] = axis[random() % axis.size()];
        if (t % 4 == 1)
            rgb.c[1] = rgb.c[0] + 12.5 * static_cast<double>(random() % 3) - 12.5;
        rgb.c[1] = std::clamp(rgb.c[1], axis.front(), axis.back());
        Color3 tetrahedral, trilinear;
        ASSERT_EQ(GridLookup::Ok, grid.Interpolate(rgb, Interpolation::Tetrahedral, &tetrahedral));
        ASSERT_EQ(GridLookup::Ok, grid.Interpolate(rgb, Interpolation::Trilinear, &trilinear));
        const Color3 want = PiecewiseLinear(rgb);
        for (int n = 0; n < 3; ++n) {
            EXPECT_NEAR(want.c[n], tetrahedral.c[n], 1e-12) << "target " << t << " component " << n;
            worstTrilinear = std::max(worstTrilinear, std::fabs(want.c[n] - trilinear.c[n]));
        }
    }
    // The chart is not trilinear: the test would not notice one interpolation for the other.
    EXPECT_GT(worstTrilinear, 1.0);
}

// Invert walks from cell to cell: on a face two cells share, each cell's own corners must
// give the same Lab. Grid points themselves give their measured (averaged) Lab, exactly when
// tetrahedral.
TEST(MeasuredGrid, NeighbouringCellsAgreeOnTheirSharedFace)
{
    const std::vector<double> axis = {0.0, 3.0, 10.0, 40.0};
    std::mt19937_64 random(9);
    std::uniform_real_distribution<double> noise(-50.0, 50.0);
    const MeasuredGrid grid = Build(MakeChart(axis, [&](const Color3&) {
        return Color3{{noise(random), noise(random), noise(random)}};
    }));
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (Interpolation how : {Interpolation::Trilinear, Interpolation::Tetrahedral}) {
        for (int t = 0; t < 500; ++t) {
            const int face = t % 3;
            GridCell below, above;
            for (int a = 0; a < 3; ++a) {
                below.index[a] = static_cast<int>(random() % (a == face ? 2 : 3));
                below.position[a] = axis[below.index[a]] + unit(random) * (axis[below.index[a] + 1] - axis[below.index[a]]);
            }
            below.position[face] = axis[below.index[face] + 1];
            above = below;
            ++above.index[face];
            const Color3 a = grid.InterpolateInCell(below, how), b = grid.InterpolateInCell(above, how);
            for (int n = 0; n < 3; ++n)
                EXPECT_NEAR(a.c[n], b.c[n], 1e-12) << "case " << t;
        }
        for (int p = 0; p < 64; ++p) {
            GridCell cell;
            for (int a = 0; a < 3; ++a) {
                const int at = (p >> (2 * a)) & 3;
                cell.index[a] = std::min(at, 2);
                cell.position[a] = axis[at];
            }
            const Color3 lab = grid.InterpolateInCell(cell, how);
            const Color3& want = grid.Lab(p & 3, (p >> 2) & 3, p >> 4);
            // Trilinear forms a + (b - a) * 1 on the top of a cell, exact only up to rounding.
            for (int n = 0; n < 3; ++n)
                EXPECT_NEAR(want.c[n], lab.c[n], how == Interpolation::Tetrahedral ? 0.0 : 1e-12) << "point " << p;
        }
    }
}

TEST(MeasuredGrid, ExposesItsPointsAndCells)
{
    Chart chart = MakeChart({0.0, 50.0, 100.0}, [](const Color3& c) { return c; });
    // (100, 100, 100) measured twice more; (50, 50, 50) not at all.
    chart.rgb.insert(chart.rgb.end(), {Color3{{100, 100, 100}}, Color3{{100, 100, 100}}});
    chart.lab.insert(chart.lab.end(), {Color3{{91, 0, 0}}, Color3{{97, 0, 3}}});
    const auto centre = std::find_if(chart.rgb.begin(), chart.rgb.end(),
                                     [](const Color3& c) { return c.c[0] == 50 && c.c[1] == 50 && c.c[2] == 50; });
    *centre = Color3{};
    const MeasuredGrid grid = Build(chart);
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

    struct Case { Color3 rgb; GridLookup want; int index[3]; double fractions[3]; };
    const double nan = std::nan("");
    const Case cases[] = {
        {Color3{{0, 50, 100}}, GridLookup::UnmeasuredCorner, {0, 0, 1}, {0, 1, 1}},  // on an axis value: the cell below
        {Color3{{100, 0, 0}}, GridLookup::UnmeasuredCorner, {1, 0, 0}, {1, 0, 0}},
        {Color3{{-0.0, 0, 0}}, GridLookup::UnmeasuredCorner, {0, 0, 0}, {0, 0, 0}},
        {Color3{{25, 75, 10}}, GridLookup::UnmeasuredCorner, {0, 1, 0}, {0.5, 0.5, 0.2}},
        {Color3{{0, 100.0001, 0}}, GridLookup::OutsideGrid, {}, {}},
        {Color3{{-1e-300, 0, 0}}, GridLookup::OutsideGrid, {}, {}},
        {Color3{{0, 0, nan}}, GridLookup::OutsideGrid, {}, {}},
    };
    for (const Case& c : cases) {
        GridCell cell;
        const GridLookup located = grid.Locate(c.rgb, &cell);
        EXPECT_EQ(c.want == GridLookup::OutsideGrid ? GridLookup::OutsideGrid : GridLookup::Ok, located);
        if (located == GridLookup::Ok) {
            EXPECT_EQ((std::vector<int>(c.index, c.index + 3)), (std::vector<int>(cell.index, cell.index + 3)));
            double fractions[3];
            grid.Fractions(cell, fractions);
            EXPECT_EQ((std::vector<double>(c.fractions, c.fractions + 3)), (std::vector<double>(fractions, fractions + 3)));
        }
        for (Interpolation how : {Interpolation::Trilinear, Interpolation::Tetrahedral}) {
            Color3 lab{{7, 7, 7}};
            EXPECT_EQ(c.want, grid.Interpolate(c.rgb, how, &lab));
            EXPECT_EQ(7.0, lab.c[0]);
        }
    }
}

}  // namespace
