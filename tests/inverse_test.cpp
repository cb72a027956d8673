// The inverse of the grid's interpolation: in-gamut values come back exactly, out-of-gamut values
// get the nearest reachable colour (against a lattice search of the grid's surface), folded, flat
// and incomplete charts get the documented answer, and bad input is refused. Below it, the cell's
// linear model and orientation, and the Lab bins.
#include "cellindex.h"
#include "cellinverse.h"
#include "colorcommon.h"
#include "inverse.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <set>

namespace {

const Interpolation k_both[2] = {Interpolation::Trilinear, Interpolation::Tetrahedral};

using Edit = void (*)(std::vector<Color3>& rgb, std::vector<Color3>& lab);

// The grid of every point of `axis`^3 once, Lab from `lab`, the lists changed by `edit` first.
template <typename F>
MeasuredGrid MakeGrid(const std::vector<double>& axis, F lab, Edit edit = nullptr)
{
    std::vector<Color3> rgb, measured;
    for (double r : axis)
        for (double g : axis)
            for (double b : axis) {
                rgb.push_back(Color3{{r, g, b}});
                measured.push_back(lab(rgb.back()));
            }
    if (edit)
        edit(rgb, measured);
    MeasuredGrid grid;
    EXPECT_EQ(GridBuild::Ok, grid.Build(rgb, measured, nullptr));
    return grid;
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
        EXPECT_TRUE(indexed.Build(grid, how));
        EXPECT_TRUE(scan.Build(grid, how, InverseSearch::Scan));
    }
    InverseResult operator()(const Color3& lab, bool scanning = false) const
    {
        InverseResult r;
        EXPECT_TRUE((scanning ? scan : indexed).Invert(lab, &r));
        Color3 reached;
        EXPECT_EQ(GridLookup::Ok, grid.Interpolate(r.rgb, how, &reached));
        EXPECT_EQ(DeltaE76(reached, lab), r.deltaE);
        for (int n = 0; n < 3; ++n)
            EXPECT_EQ(reached.c[n], r.lab.c[n]);
        return r;
    }
    const MeasuredGrid& grid;
    const Interpolation how;
    GridInverse indexed, scan;
};

// The least distance from `lab` to the Lab values on the grid's six faces: a 61 x 61 lattice on
// each, then twice a finer one around the best point.
double SurfaceDistance(const MeasuredGrid& grid, Interpolation how, const Color3& lab)
{
    double best = INFINITY, step = 255.0 / 60, at[3] = {-1, 127.5, 127.5};  // face, p, q
    for (int round = 0; round < 3; ++round, step /= 20) {
        const double p = at[1], q = at[2];
        for (int face = round ? int(at[0]) : 0; face < (round ? int(at[0]) + 1 : 6); ++face)
            for (int i = -30; i <= 30; ++i)
                for (int j = -30; j <= 30; ++j) {
                    Color3 rgb, out;
                    rgb.c[face / 2] = face % 2 ? 255.0 : 0.0;
                    rgb.c[(face / 2 + 1) % 3] = std::clamp(p + i * step, 0.0, 255.0);
                    rgb.c[(face / 2 + 2) % 3] = std::clamp(q + j * step, 0.0, 255.0);
                    grid.Interpolate(rgb, how, &out);
                    if (DeltaE76(out, lab) < best) {
                        best = DeltaE76(out, lab);
                        at[0] = face, at[1] = rgb.c[(face / 2 + 1) % 3], at[2] = rgb.c[(face / 2 + 2) % 3];
                    }
                }
    }
    return best;
}

// On a noisy display with an uneven axis, and on one with more than 33 values per axis (its cells
// indexed in blocks, their models made on demand). In gamut, the Lab of random RGB (every third
// component on an axis value) comes back to 1e-9, the index and the scan giving the very same RGB.
// Out of gamut, values pushed out from a random point of each face, away from the Lab of the
// grid's centre, and two far away: the index and the scan agree, and no point of the faces'
// lattice is nearer than the answer.
TEST(GridInverse, EveryValueGetsTheNearestReachableColour)
{
    std::mt19937_64 random(5);
    std::normal_distribution<double> noise(0.0, 0.4);
    std::uniform_real_distribution<double> along(0.0, 255.0), push(0.5, 15.0), l(-20.0, 120.0), ab(-140.0, 140.0);
    std::vector<double> fine;
    for (int i = 0; i < 35; ++i)
        fine.push_back(7.5 * i);
    const MeasuredGrid grids[] = {MakeGrid({0.0, 4.0, 20.0, 21.0, 90.0, 180.0, 255.0}, [&](const Color3& c) {
        const Color3 lab = Display(c);
        return Color3{{lab.c[0] + noise(random), lab.c[1] + noise(random), lab.c[2] + noise(random)}};
    }), MakeGrid(fine, Display)};
    for (const MeasuredGrid& grid : grids)
        for (Interpolation how : k_both) {
            SCOPED_TRACE(testing::Message() << grid.N() << " " << int(how));
            const Inverse inverse(grid, how);
            Color3 centre, lab;
            grid.Interpolate(Color3{{127.5, 127.5, 127.5}}, how, &centre);
            for (int t = 0; t < 150; ++t) {
                Color3 rgb;
                for (int a = 0; a < 3; ++a)
                    rgb.c[a] = random() % 3 ? along(random) : grid.Axis(a)[random() % grid.Axis(a).size()];
                ASSERT_EQ(GridLookup::Ok, grid.Interpolate(rgb, how, &lab));
                const InverseResult a = inverse(lab), b = inverse(lab, true);
                EXPECT_TRUE(a.inGamut);
                EXPECT_LT(a.deltaE, 1e-9) << "target " << t;
                for (int n = 0; n < 3; ++n)
                    EXPECT_EQ(a.rgb.c[n], b.rgb.c[n]) << "target " << t;
            }
            std::vector<Color3> targets{Color3{{l(random), ab(random), ab(random)}}, Color3{{l(random), ab(random), ab(random)}}};
            for (int face = 0; face < 6; ++face) {
                Color3 rgb{{along(random), along(random), along(random)}};
                rgb.c[face / 2] = face % 2 ? 255.0 : 0.0;
                grid.Interpolate(rgb, how, &lab);
                const double by = push(random) / DeltaE76(lab, centre);
                for (int n = 0; n < 3; ++n)
                    lab.c[n] += (lab.c[n] - centre.c[n]) * by;
                targets.push_back(lab);
            }
            int outside = 0;
            for (const Color3& wanted : targets) {
                const InverseResult result = inverse(wanted);
                EXPECT_NEAR(inverse(wanted, true).deltaE, result.deltaE, 1e-6);
                outside += !result.inGamut;
                EXPECT_LE(result.deltaE, SurfaceDistance(grid, how, wanted) + 1e-6) << wanted.c[0] << " " << wanted.c[1];
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
    const std::vector<double> axis = {0.0, 25.0, 50.0, 75.0, 100.0};
    const MeasuredGrid folded = MakeGrid(axis, [](const Color3& c) {
        return Color3{{100.0 - std::fabs(c.c[0] - 50.0), c.c[1] - 50.0, c.c[2] - 50.0}};
    });
    const MeasuredGrid flat = MakeGrid(axis, [](const Color3& c) { return Color3{{50.0, c.c[0], c.c[1] - 0.2 * c.c[0]}}; });
    const struct { const MeasuredGrid* grid; Color3 lab, rgb; double deltaE, slackB; } cases[] = {
        {&folded, {{80.0, 10.0, -5.0}}, {{30.0, 60.0, 45.0}}, 0.0, 1e-6},
        {&folded, {{50.0, -50.0, 50.0}}, {{0.0, 0.0, 100.0}}, 0.0, 1e-6},
        {&folded, {{107.0, 20.0, 30.0}}, {{50.0, 70.0, 80.0}}, 7.0, 1e-6},   // beyond the ridge: nearest on it
        {&folded, {{103.0, 54.0, -50.0}}, {{50.0, 100.0, 0.0}}, 5.0, 1e-6},  // beyond a corner of the ridge
        {&flat, {{50.0, 0.0, 0.0}}, {{0.0, 0.0, 25.0}}, 0.0, 25.0},
        {&flat, {{50.0, 35.0, 67.0}}, {{35.0, 74.0, 25.0}}, 0.0, 25.0},
        {&flat, {{50.0, 50.0, 40.0}}, {{50.0, 50.0, 25.0}}, 0.0, 25.0},
        {&flat, {{50.0, 100.0, 80.0}}, {{100.0, 100.0, 25.0}}, 0.0, 25.0},
    };
    for (Interpolation how : k_both)
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << int(how) << " L " << c.lab.c[0] << " a " << c.lab.c[1]);
            const InverseResult result = Inverse(*c.grid, how)(c.lab);
            EXPECT_NEAR(c.rgb.c[0], result.rgb.c[0], 1e-6);
            EXPECT_NEAR(c.rgb.c[1], result.rgb.c[1], 1e-6);
            EXPECT_NEAR(c.rgb.c[2], result.rgb.c[2], c.slackB);
            EXPECT_NEAR(c.deltaE, result.deltaE, 1e-9);
            EXPECT_EQ(c.deltaE == 0.0, result.inGamut);
        }
}

// Grid point (0, 0, 0) unmeasured and (3, 3, 3) NaN: the cells at both ends are unusable. The Lab
// of RGB (10, 5, 5), on the lowest face of cell (1, 0, 0), comes back; those of (0, 0, 0) and
// (30, 30, 30) get the nearest point of a usable cell; so does a value so far away that every
// distance overflows.
TEST(GridInverse, IncompleteChartsAnswerInsideTheirUsableCells)
{
    const MeasuredGrid grid = MakeGrid({0.0, 10.0, 20.0, 30.0}, [](const Color3& c) {
        return Color3{{c.c[0] + 0.5 * c.c[1], c.c[1] - 0.25 * c.c[2], c.c[2] + 0.1 * c.c[0]}};
    }, [](std::vector<Color3>& rgb, std::vector<Color3>& lab) {
        rgb.erase(rgb.begin());
        lab.erase(lab.begin());
        lab.back().c[1] = std::nan("");
    });
    for (Interpolation how : k_both)
        for (const Color3& lab : {Color3{{12.5, 3.75, 6.0}}, Color3{{0, 0, 0}}, Color3{{45, 22.5, 33}}, Color3{{1e300, -1e300, 1e300}}}) {
            SCOPED_TRACE(testing::Message() << int(how) << " L " << lab.c[0]);
            const InverseResult result = Inverse(grid, how)(lab);
            GridCell cell;
            ASSERT_EQ(GridLookup::Ok, grid.Locate(result.rgb, &cell));
            EXPECT_NE(0, cell.index[0] + cell.index[1] + cell.index[2]);
            EXPECT_NE(6, cell.index[0] + cell.index[1] + cell.index[2]);
            EXPECT_EQ(lab.c[0] == 12.5, result.inGamut);
            EXPECT_TRUE(std::isfinite(result.deltaE));
            EXPECT_NEAR(lab.c[0] == 12.5 ? 10.0 : result.rgb.c[0], result.rgb.c[0], 1e-12);
        }
}

TEST(GridInverse, RefusesWhatItCannotInvert)
{
    const MeasuredGrid grid = MakeGrid({0.0, 0.5, 1.0}, Display);
    GridInverse inverse;
    InverseResult result;
    result.deltaE = 42.0;
    EXPECT_FALSE(inverse.Invert(Color3{{50, 0, 0}}, &result));
    ASSERT_TRUE(inverse.Build(grid, Interpolation::Tetrahedral));
    for (const Color3& bad : {Color3{{std::nan(""), 0, 0}}, Color3{{0, INFINITY, 0}}, Color3{{0, 0, -INFINITY}}})
        EXPECT_FALSE(inverse.Invert(bad, &result));
    EXPECT_EQ(42.0, result.deltaE);
    // A single cell with an infinite corner, and no grid at all, have no usable cell.
    const MeasuredGrid single = MakeGrid({0.0, 1.0}, Display, [](std::vector<Color3>&, std::vector<Color3>& lab) { lab[3].c[0] = INFINITY; });
    EXPECT_FALSE(inverse.Build(single, Interpolation::Trilinear));
    EXPECT_FALSE(inverse.Invert(Color3{{50, 0, 0}}, &result));
    EXPECT_FALSE(inverse.Build(MeasuredGrid(), Interpolation::Trilinear));
}

// The eight corners of a cell whose Lab is `lab` of the fractions.
template <typename F>
void CellCorners(F lab, Color3 corners[8])
{
    for (int d = 0; d < 8; ++d) {
        const double f[3] = {double(d >> 2), double((d >> 1) & 1), double(d & 1)};
        corners[d] = lab(f);
    }
}

// The linear model never rejects a value a cell reaches, however bent; an affine cell rejects a
// value whose fractions lie just outside it, and starts from the fractions of one inside. From
// there Newton's method reaches the value in a bent cell and, by least squares, in a cell whose Lab
// does not change along B (a singular Jacobian); so does halving the cell.
TEST(CellInverse, TheLinearModelAndNewtonsMethodFindTheValue)
{
    const auto sheared = [](const double f[3]) { return Color3{{f[0] + 0.3 * f[1], f[1] - 0.2 * f[2], f[2] + 0.1 * f[0]}}; };
    const auto bent = [](const double f[3]) { return Color3{{f[0] + 0.4 * f[1] * f[2], f[1] - 0.3 * f[0] * f[2], f[2] + 0.35 * f[0] * f[1]}}; };
    const auto flat = [](const double f[3]) { return Color3{{f[0] + 0.2 * f[0] * f[1], f[1] - 0.1 * f[0], 0.5}}; };
    Color3 a[8], b[8], c[8];
    CellCorners(sheared, a);
    CellCorners(bent, b);
    CellCorners(flat, c);
    const cellinverse::CellModel affine = cellinverse::ModelCell(a, 1e-12), curved = cellinverse::ModelCell(b, 1e-12);
    double start[3], halved[3];
    for (const auto& f : {std::array{0.0, 0.0, 0.0}, {1.0, 1.0, 1.0}, {1.0, 0.0, 1.0}, {0.5, 0.2, 0.9}, {0.01, 0.99, 0.6}}) {
        SCOPED_TRACE(testing::Message() << f[0] << " " << f[1] << " " << f[2]);
        EXPECT_TRUE(cellinverse::MayReach(affine, sheared(f.data()), start));
        for (int n = 0; n < 3; ++n)
            EXPECT_NEAR(f[n], start[n], 1e-12);
        EXPECT_TRUE(cellinverse::MayReach(curved, bent(f.data()), start));
        EXPECT_TRUE(cellinverse::SolveTrilinearNewton(b, bent(f.data()), 1e-12, start));
        EXPECT_TRUE(cellinverse::SolveTrilinearThorough(b, bent(f.data()), 1e-12, halved));
        for (int n = 0; n < 3; ++n) {
            EXPECT_NEAR(f[n], start[n], 1e-9);
            EXPECT_NEAR(f[n], halved[n], 1e-9);
        }
        std::fill_n(start, 3, 0.5);
        EXPECT_TRUE(cellinverse::SolveTrilinearNewton(c, flat(f.data()), 1e-12, start));
        EXPECT_NEAR(f[0], start[0], 1e-9);
        EXPECT_NEAR(f[1], start[1], 1e-9);
    }
    for (const auto& f : {std::array{-1e-6, 0.5, 0.5}, {0.5, 1.000001, 0.5}, {0.2, 0.3, 1.01}, {2.0, -1.0, 0.5}})
        EXPECT_FALSE(cellinverse::MayReach(affine, sheared(f.data()), start)) << f[0] << " " << f[1] << " " << f[2];
}

TEST(CellInverse, OrientationTellsOneSignedCellsFromFolds)
{
    const struct { const char* name; Color3 (*lab)(const double f[3]); int sign; } cases[] = {
        {"sheared", [](const double f[3]) { return Color3{{f[0] + 0.3 * f[1], f[1] - 0.2 * f[2], f[2] + 0.1 * f[0]}}; }, 1},
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

}  // namespace
