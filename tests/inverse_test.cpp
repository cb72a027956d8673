// The inverse of the grid's interpolation: in-gamut values come back exactly on synthetic and
// bundled charts, out-of-gamut values get the nearest reachable colour (against a dense search
// of the grid's surface), folded charts get the documented answer, and bad input is refused.
// Below it, the cell's linear model and orientation, and the Lab bins.
#include "cellindex.h"
#include "cellinverse.h"
#include "colorcommon.h"
#include "inverse.h"
#include "patchtables.h"
#include "preprocess5202.h"
#include "testutil.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <set>

namespace {

const Interpolation k_both[2] = {Interpolation::Trilinear, Interpolation::Tetrahedral};

const char* Name(Interpolation how)
{
    return how == Interpolation::Trilinear ? "trilinear" : "tetrahedral";
}

struct Chart { std::vector<Color3> rgb, lab; };

// Every grid point of `axis`^3 once, Lab from `lab`.
template <typename F>
Chart MakeChart(const std::vector<double>& axis, F lab)
{
    Chart chart;
    for (double r : axis)
        for (double g : axis)
            for (double b : axis) {
                chart.rgb.push_back(Color3{{r, g, b}});
                chart.lab.push_back(lab(Color3{{r, g, b}}));
            }
    return chart;
}

// A display: sRGB on 0..255.
Color3 Display(const Color3& rgb)
{
    const double unit[3] = {rgb.c[0] / 255.0, rgb.c[1] / 255.0, rgb.c[2] / 255.0};
    Color3 lab;
    srgb_to_lab_d50(unit, lab.c);
    return lab;
}

std::vector<double> EvenAxis(int n, double top)
{
    std::vector<double> axis;
    for (int i = 0; i < n; ++i)
        axis.push_back(top * i / (n - 1));
    return axis;
}

MeasuredGrid Build(const Chart& chart)
{
    MeasuredGrid grid;
    EXPECT_EQ(GridBuild::Ok, grid.Build(chart.rgb, chart.lab, nullptr));
    return grid;
}

// A uniformly random RGB inside the grid; every third has a component on an axis value.
Color3 RandomRgb(const MeasuredGrid& grid, std::mt19937_64& random)
{
    Color3 rgb;
    for (int a = 0; a < 3; ++a) {
        const std::vector<double>& axis = grid.Axis(a);
        rgb.c[a] = std::uniform_real_distribution<double>(axis.front(), axis.back())(random);
        if (random() % 3 == 0)
            rgb.c[a] = axis[random() % axis.size()];
    }
    return rgb;
}

// Inverts the Lab of `count` random RGB and checks each answer reproduces it to 1e-9; the
// tree and the plain scan must give the very same RGB.
void ExpectRoundTrips(const MeasuredGrid& grid, int count, std::uint64_t seed)
{
    std::mt19937_64 random(seed);
    for (Interpolation how : k_both) {
        SCOPED_TRACE(Name(how));
        GridInverse indexed, scan;
        ASSERT_TRUE(indexed.Build(grid, how));
        ASSERT_TRUE(scan.Build(grid, how, InverseSearch::Scan));
        for (int t = 0; t < count; ++t) {
            const Color3 rgb = RandomRgb(grid, random);
            Color3 lab;
            ASSERT_EQ(GridLookup::Ok, grid.Interpolate(rgb, how, &lab));
            InverseResult a, b;
            ASSERT_TRUE(indexed.Invert(lab, &a));
            ASSERT_TRUE(scan.Invert(lab, &b));
            Color3 again;
            ASSERT_EQ(GridLookup::Ok, grid.Interpolate(a.rgb, how, &again)) << "target " << t;
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(lab.c[c], again.c[c], 1e-9) << "target " << t;
                EXPECT_EQ(again.c[c], a.lab.c[c]);
                EXPECT_EQ(a.rgb.c[c], b.rgb.c[c]) << "target " << t;
            }
            EXPECT_TRUE(a.inGamut);
            EXPECT_LT(a.deltaE, 1e-9);
        }
    }
}

TEST(GridInverse, InGamutValuesComeBackExactly)
{
    std::mt19937_64 random(11);
    std::normal_distribution<double> noise(0.0, 0.4);
    struct Case { const char* name; Chart chart; };
    std::vector<Case> cases;
    cases.push_back({"smooth 9^3", MakeChart(EvenAxis(9, 255.0), Display)});
    cases.push_back({"uneven axis", MakeChart({0.0, 4.0, 20.0, 21.0, 90.0, 180.0, 255.0}, Display)});
    Case noisy{"noise and repeats", MakeChart(EvenAxis(6, 100.0), [&](const Color3& c) {
        Color3 lab = Display(Color3{{c.c[0] * 2.55, c.c[1] * 2.55, c.c[2] * 2.55}});
        for (double& v : lab.c)
            v += noise(random);
        return lab;
    })};
    // Every tenth patch measured twice more, its grid point the mean of three.
    for (std::size_t p = 0, n = noisy.chart.rgb.size(); p < n; p += 10)
        for (int again = 0; again < 2; ++again) {
            noisy.chart.rgb.push_back(noisy.chart.rgb[p]);
            Color3 lab = noisy.chart.lab[p];
            lab.c[0] += noise(random) * 3.0;
            noisy.chart.lab.push_back(lab);
        }
    cases.push_back(noisy);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectRoundTrips(Build(c.chart), 400, 5);
    }
}

TEST(GridInverse, BundledChartsRoundTrip)
{
    for (const char* file : {"chart17-srgb.ti3", "chart5202-clayrgb.ti3"}) {
        SCOPED_TRACE(file);
        Chart chart;
        const std::string path = std::string(TEST_DATA_DIR) + "/" + file;
        ASSERT_EQ(1, ReadTripletFileString(path, &chart.rgb, "RGB_R", "RGB_G", "RGB_B"));
        ASSERT_EQ(1, ReadTripletFileString(path, &chart.lab, "LAB_L", "LAB_A", "LAB_B"));
        testutil::TempDir dir;
        std::FILE* quiet = std::fopen(dir.file("messages").c_str(), "w");
        Preprocess5202Target(chart.rgb, chart.lab, quiet);
        std::fclose(quiet);
        ExpectRoundTrips(Build(chart), 300, 7);
    }
}

// The least distance from `lab` to the Lab values on the grid's outer faces: a 60 x 60
// lattice on every face, then twice a finer lattice around the four best points.
double SurfaceBruteForce(const MeasuredGrid& grid, Interpolation how, const Color3& lab)
{
    struct Sample { double d; int axis; double side, p, q; };
    const double lo = grid.Axis(0).front(), hi = grid.Axis(0).back();
    auto at = [&](int axis, double side, double p, double q) {
        Color3 rgb;
        rgb.c[axis] = side;
        rgb.c[(axis + 1) % 3] = std::clamp(p, lo, hi);
        rgb.c[(axis + 2) % 3] = std::clamp(q, lo, hi);
        Color3 out;
        EXPECT_EQ(GridLookup::Ok, grid.Interpolate(rgb, how, &out));
        return DeltaE76(out, lab);
    };
    std::vector<Sample> samples;
    const int n = 60;
    double step = (hi - lo) / n;
    for (int axis = 0; axis < 3; ++axis)
        for (double side : {lo, hi})
            for (int i = 0; i <= n; ++i)
                for (int j = 0; j <= n; ++j)
                    samples.push_back({at(axis, side, lo + i * step, lo + j * step), axis, side, lo + i * step, lo + j * step});
    for (int round = 0; round < 2; ++round) {
        std::partial_sort(samples.begin(), samples.begin() + 4, samples.end(),
                          [](const Sample& a, const Sample& b) { return a.d < b.d; });
        std::vector<Sample> finer(samples.begin(), samples.begin() + 4);
        const double fine = 2.0 * step / 40;
        for (int s = 0; s < 4; ++s)
            for (int i = 0; i <= 40; ++i)
                for (int j = 0; j <= 40; ++j) {
                    const Sample& c = finer[static_cast<std::size_t>(s)];
                    const double p = c.p - step + i * fine, q = c.q - step + j * fine;
                    finer.push_back({at(c.axis, c.side, p, q), c.axis, c.side, p, q});
                }
        samples = finer;
        step = fine;
    }
    return std::min_element(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.d < b.d; })->d;
}

// Wanted values pushed out of the gamut from a point on each of the six faces of the grid, away
// from the Lab of the grid's centre, and a few far away.
std::vector<Color3> OutsideTargets(const MeasuredGrid& grid, Interpolation how, std::mt19937_64& random)
{
    const double lo = grid.Axis(0).front(), hi = grid.Axis(0).back();
    std::uniform_real_distribution<double> along(lo, hi), push(0.5, 15.0), l(-20.0, 120.0), ab(-140.0, 140.0);
    Color3 centre;
    grid.Interpolate(Color3{{(lo + hi) / 2, (lo + hi) / 2, (lo + hi) / 2}}, how, &centre);
    std::vector<Color3> targets;
    for (int face = 0; face < 6; ++face)
        for (int t = 0; t < 2; ++t) {
            Color3 rgb{{along(random), along(random), along(random)}}, lab;
            rgb.c[face / 2] = face % 2 ? hi : lo;
            grid.Interpolate(rgb, how, &lab);
            const double d = DeltaE76(lab, centre), by = push(random);
            for (int c = 0; c < 3; ++c)
                lab.c[c] += (lab.c[c] - centre.c[c]) / d * by;
            targets.push_back(lab);
        }
    for (int t = 0; t < 4; ++t)
        targets.push_back(Color3{{l(random), ab(random), ab(random)}});
    return targets;
}

TEST(GridInverse, OutOfGamutValuesGetTheNearestReachableColour)
{
    std::mt19937_64 random(21);
    std::normal_distribution<double> noise(0.0, 0.5);
    const MeasuredGrid smooth = Build(MakeChart(EvenAxis(3, 255.0), Display));
    const MeasuredGrid noisy = Build(MakeChart({0.0, 60.0, 150.0, 255.0}, [&](const Color3& c) {
        Color3 lab = Display(c);
        for (double& v : lab.c)
            v += noise(random);
        return lab;
    }));
    for (const MeasuredGrid* grid : {&smooth, &noisy})
        for (Interpolation how : k_both) {
            SCOPED_TRACE(Name(how));
            GridInverse inverse, scan;
            ASSERT_TRUE(inverse.Build(*grid, how));
            ASSERT_TRUE(scan.Build(*grid, how, InverseSearch::Scan));
            int outside = 0;
            for (const Color3& lab : OutsideTargets(*grid, how, random)) {
                InverseResult result, scanned;
                ASSERT_TRUE(inverse.Invert(lab, &result));
                ASSERT_TRUE(scan.Invert(lab, &scanned));
                EXPECT_NEAR(scanned.deltaE, result.deltaE, 1e-6);
                if (result.inGamut)
                    continue;
                ++outside;
                Color3 reached;
                ASSERT_EQ(GridLookup::Ok, grid->Interpolate(result.rgb, how, &reached));
                EXPECT_EQ(DeltaE76(reached, lab), result.deltaE);
                EXPECT_NEAR(SurfaceBruteForce(*grid, how, lab), result.deltaE, 1e-3)
                    << "target " << lab.c[0] << " " << lab.c[1] << " " << lab.c[2];
            }
            EXPECT_GE(outside, 12);
        }
}

// L rises with R up to R = 50 and falls beyond; a and b follow G and B. Every L below the
// top is reached twice, at R and 100 - R; L = 100 is reached along the ridge at R = 50.
Color3 Tent(const Color3& rgb)
{
    return Color3{{100.0 - std::fabs(rgb.c[0] - 50.0), rgb.c[1] - 50.0, rgb.c[2] - 50.0}};
}

TEST(GridInverse, FoldedChartsGiveTheFirstCellInGridOrder)
{
    const MeasuredGrid grid = Build(MakeChart(EvenAxis(5, 100.0), Tent));
    for (Interpolation how : k_both) {
        SCOPED_TRACE(Name(how));
        GridInverse inverse;
        ASSERT_TRUE(inverse.Build(grid, how));
        struct Case { Color3 lab; Color3 rgb; double deltaE; };
        const Case cases[] = {
            {Color3{{80.0, 10.0, -5.0}}, Color3{{30.0, 60.0, 45.0}}, 0.0},
            {Color3{{50.0, -50.0, 50.0}}, Color3{{0.0, 0.0, 100.0}}, 0.0},
            // Beyond the ridge: the nearest colours lie on it, inside the grid.
            {Color3{{107.0, 20.0, 30.0}}, Color3{{50.0, 70.0, 80.0}}, 7.0},
            // Beyond a corner of the ridge.
            {Color3{{103.0, 54.0, -50.0}}, Color3{{50.0, 100.0, 0.0}}, 5.0},
        };
        for (const Case& c : cases) {
            InverseResult result;
            ASSERT_TRUE(inverse.Invert(c.lab, &result));
            for (int a = 0; a < 3; ++a)
                EXPECT_NEAR(c.rgb.c[a], result.rgb.c[a], 1e-6) << "L " << c.lab.c[0] << " component " << a;
            EXPECT_NEAR(c.deltaE, result.deltaE, 1e-9);
            EXPECT_EQ(c.deltaE == 0.0, result.inGamut);
        }
    }
}

TEST(GridInverse, IncompleteChartsAnswerInsideTheirUsableCells)
{
    // Grid point (0, 0, 0) unmeasured and (3, 3, 3) NaN: the cells at both ends are unusable.
    Chart chart = MakeChart(EvenAxis(4, 30.0), [](const Color3& c) {
        return Color3{{c.c[0] + 0.5 * c.c[1], c.c[1] - 0.25 * c.c[2], c.c[2] + 0.1 * c.c[0]}};
    });
    chart.rgb.erase(chart.rgb.begin());
    chart.lab.erase(chart.lab.begin());
    chart.lab.back().c[1] = std::nan("");
    const MeasuredGrid grid = Build(chart);
    for (Interpolation how : k_both) {
        SCOPED_TRACE(Name(how));
        GridInverse inverse;
        ASSERT_TRUE(inverse.Build(grid, how));
        // Lab of RGB (10, 5, 5), on the lowest face of cell (1, 0, 0), whose neighbour below
        // is unusable; and of (0, 0, 0) and (30, 30, 30), which no usable cell reaches.
        const Color3 targets[] = {Color3{{12.5, 3.75, 6.0}}, Color3{{0.0, 0.0, 0.0}}, Color3{{45.0, 22.5, 33.0}}};
        for (const Color3& lab : targets) {
            InverseResult result;
            ASSERT_TRUE(inverse.Invert(lab, &result));
            GridCell cell;
            ASSERT_EQ(GridLookup::Ok, grid.Locate(result.rgb, &cell));
            EXPECT_NE(0, cell.index[0] + cell.index[1] + cell.index[2]);
            EXPECT_NE(6, cell.index[0] + cell.index[1] + cell.index[2]);
            Color3 reached;
            ASSERT_EQ(GridLookup::Ok, grid.Interpolate(result.rgb, how, &reached));
            EXPECT_EQ(DeltaE76(reached, lab), result.deltaE);
        }
        InverseResult onFace;
        ASSERT_TRUE(inverse.Invert(targets[0], &onFace));
        EXPECT_TRUE(onFace.inGamut);
        EXPECT_NEAR(10.0, onFace.rgb.c[0], 1e-12);
    }
}

TEST(GridInverse, RefusesWhatItCannotInvert)
{
    const double inf = std::numeric_limits<double>::infinity();
    const MeasuredGrid grid = Build(MakeChart(EvenAxis(3, 1.0), Display));
    GridInverse inverse;
    InverseResult result;
    result.deltaE = 42.0;
    EXPECT_FALSE(inverse.Invert(Color3{{50, 0, 0}}, &result));
    ASSERT_TRUE(inverse.Build(grid, Interpolation::Tetrahedral));
    for (const Color3& bad : {Color3{{std::nan(""), 0, 0}}, Color3{{0, inf, 0}}, Color3{{0, 0, -inf}}})
        EXPECT_FALSE(inverse.Invert(bad, &result));
    EXPECT_EQ(42.0, result.deltaE);
    // Far away, every distance overflows: the answer is still a point of the grid.
    ASSERT_TRUE(inverse.Invert(Color3{{1e300, -1e300, 1e300}}, &result));
    EXPECT_TRUE(std::isfinite(result.deltaE));
    EXPECT_FALSE(result.inGamut);

    Chart flat = MakeChart(EvenAxis(2, 1.0), Display);
    flat.lab[3].c[0] = inf;
    const MeasuredGrid single = Build(flat);
    EXPECT_FALSE(inverse.Build(single, Interpolation::Trilinear));
    EXPECT_FALSE(inverse.Invert(Color3{{50, 0, 0}}, &result));
    MeasuredGrid empty;
    EXPECT_FALSE(inverse.Build(empty, Interpolation::Trilinear));
}

// A chart whose Lab does not change with B and has one lightness: every tetrahedron is flat,
// the trilinear Jacobian singular and every cell's box flat, yet every value the chart reaches
// comes back. Each is reached along a whole line of B: the answer lies in the lowest cell along
// B, the first in grid order.
TEST(GridInverse, FlatChartsStillComeBack)
{
    const MeasuredGrid blind = Build(MakeChart(EvenAxis(3, 100.0), [](const Color3& c) {
        return Color3{{50.0, c.c[0], c.c[1] - 0.2 * c.c[0]}};
    }));
    for (Interpolation how : k_both) {
        GridInverse inverse;
        ASSERT_TRUE(inverse.Build(blind, how));
        for (int t = 0; t < 50; ++t) {
            const Color3 rgb{{t * 2.0, (t * 37) % 101 * 1.0, 0.0}};
            InverseResult result;
            ASSERT_TRUE(inverse.Invert(Color3{{50.0, rgb.c[0], rgb.c[1] - 0.2 * rgb.c[0]}}, &result));
            EXPECT_TRUE(result.inGamut) << Name(how);
            EXPECT_NEAR(rgb.c[0], result.rgb.c[0], 1e-9) << Name(how);
            EXPECT_NEAR(rgb.c[1], result.rgb.c[1], 1e-9) << Name(how);
            EXPECT_LE(result.rgb.c[2], 50.0) << Name(how);
        }
    }
}

// Beyond 33 values per axis the cells are indexed in blocks and their models made on demand.
// The display's Lab has one RGB per value, which must come back; outside, the index and the
// scan agree.
TEST(GridInverse, LargeGridsAreIndexedInBlocks)
{
    const MeasuredGrid grid = Build(MakeChart(EvenAxis(35, 255.0), Display));
    std::mt19937_64 random(12);
    for (Interpolation how : k_both) {
        SCOPED_TRACE(Name(how));
        GridInverse inverse, scan;
        ASSERT_TRUE(inverse.Build(grid, how));
        ASSERT_TRUE(scan.Build(grid, how, InverseSearch::Scan));
        for (int t = 0; t < 30; ++t) {
            const Color3 rgb = RandomRgb(grid, random);
            Color3 lab;
            ASSERT_EQ(GridLookup::Ok, grid.Interpolate(rgb, how, &lab));
            InverseResult result;
            ASSERT_TRUE(inverse.Invert(lab, &result));
            EXPECT_TRUE(result.inGamut);
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(rgb.c[c], result.rgb.c[c], 1e-6) << "target " << t;
        }
        for (const Color3& lab : {Color3{{105.0, 0.0, 0.0}}, Color3{{50.0, 120.0, -90.0}}, Color3{{-4.0, 3.0, 3.0}}}) {
            InverseResult a, b;
            ASSERT_TRUE(inverse.Invert(lab, &a));
            ASSERT_TRUE(scan.Invert(lab, &b));
            EXPECT_FALSE(a.inGamut);
            EXPECT_NEAR(b.deltaE, a.deltaE, 1e-6);
        }
    }
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

// The linear model may reject a cell only when no point of it reaches the value: never a value
// it reaches, however bent the cell; and an affine cell rejects every value whose fractions lie
// outside it.
TEST(CellInverse, TheLinearModelRejectsOnlyCellsThatCannotReachTheValue)
{
    std::mt19937_64 random(31);
    std::uniform_real_distribution<double> coefficient(-0.4, 0.4), unit(0.0, 1.0), wide(-1.0, 2.0);
    int rejected = 0;
    for (int cell = 0; cell < 200; ++cell) {
        double a[3][3], cross[3];
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                a[r][c] = coefficient(random) + (r == c ? 0.5 : 0.0);
            cross[r] = cell % 2 ? coefficient(random) : 0.0;
        }
        auto lab = [&](const double f[3]) {
            Color3 v;
            for (int r = 0; r < 3; ++r)
                v.c[r] = 0.1 * r + a[r][0] * f[0] + a[r][1] * f[1] + a[r][2] * f[2] + cross[r] * f[(r + 1) % 3] * f[(r + 2) % 3];
            return v;
        };
        Color3 corners[8];
        CellCorners(lab, corners);
        const cellinverse::CellModel model = cellinverse::ModelCell(corners, 1e-12);
        double start[3];
        for (int t = 0; t < 20; ++t) {
            const double inside[3] = {unit(random), unit(random), unit(random)};
            EXPECT_TRUE(cellinverse::MayReach(model, lab(inside), start)) << "cell " << cell;
            const double outside[3] = {wide(random), wide(random), wide(random)};
            const double beyond = std::max({-outside[0], -outside[1], -outside[2], outside[0] - 1, outside[1] - 1, outside[2] - 1});
            if (cell % 2 == 0 && beyond > 1e-6) {
                EXPECT_FALSE(cellinverse::MayReach(model, lab(outside), start)) << "cell " << cell;
                ++rejected;
            }
        }
    }
    EXPECT_GT(rejected, 1000);
}

TEST(CellInverse, OrientationTellsOneSignedCellsFromFolds)
{
    struct Case {
        const char* name;
        Color3 (*lab)(const double f[3]);
        int trilinear, tetrahedral;
    };
    const Case cases[] = {
        {"sheared", [](const double f[3]) { return Color3{{f[0] + 0.3 * f[1], f[1] - 0.2 * f[2], f[2] + 0.1 * f[0]}}; }, 1, 1},
        {"mirrored", [](const double f[3]) { return Color3{{-f[0], f[1] + 0.2 * f[0] * f[2], f[2]}}; }, -1, -1},
        {"folded", [](const double f[3]) { return Color3{{f[0] * (1.0 - 2.0 * f[1]), f[1], f[2]}}; }, 0, 0},
        {"flat", [](const double f[3]) { return Color3{{f[0] + f[1], f[2], 0.0}}; }, 0, 0},
        // Only the highest corner turns back.
        {"bent corner", [](const double f[3]) { return Color3{{f[0] - 1.2 * f[0] * f[1] * f[2], f[1], f[2]}}; }, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Color3 corners[8];
        CellCorners(c.lab, corners);
        EXPECT_EQ(c.trilinear, cellinverse::CellOrientation(corners, Interpolation::Trilinear));
        EXPECT_EQ(c.tetrahedral, cellinverse::CellOrientation(corners, Interpolation::Tetrahedral));
    }
}

// Every block whose box holds a point is visited, with each of its cells, even when a few
// blocks' boxes cover everything and the bins must be coarsened to stay within their cap.
TEST(CellBins, FindEveryBlockHoldingAPointWithinTheirMemoryCap)
{
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> where(0.0, 1.0), size(0.001, 0.05);
    const int m = 20;
    std::vector<CellBlock> blocks;
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < m; ++j)
            for (int k = 0; k < m; k += (i + j) % 5 ? 1 : 2) {
                CellBlock b;
                b.lo[0] = i, b.lo[1] = j, b.lo[2] = k;
                b.hi[0] = i + 1, b.hi[1] = j + 1, b.hi[2] = std::min(k + ((i + j) % 5 ? 1 : 2), m);
                const bool huge = blocks.size() % 400 == 7;
                for (int a = 0; a < 3; ++a) {
                    const double at = where(random), extent = huge ? 3.0 : size(random);
                    b.box.lo[a] = at - extent;
                    b.box.hi[a] = at + extent;
                }
                blocks.push_back(b);
            }
    CellBins bins;
    bins.Build(m, blocks, 0.0);
    EXPECT_LE(static_cast<long long>(bins.EntryCount()), CellBins::EntryCap(blocks.size()));
    for (int t = 0; t < 400; ++t) {
        Color3 p{{where(random), where(random), where(random)}};
        // Every fourth point on a corner of a box.
        if (t % 4 == 0)
            for (int a = 0; a < 3; ++a)
                p.c[a] = blocks[static_cast<std::size_t>(t * 7) % blocks.size()].box.lo[a];
        std::multiset<int> want, got;
        for (const CellBlock& b : blocks)
            if (b.box.Contains(p, 0.0))
                for (int k = b.lo[2]; k < b.hi[2]; ++k)
                    want.insert((b.lo[0] * m + b.lo[1]) * m + k);
        bins.ForEachCellAt(p, [&](int cell) { got.insert(cell); });
        // The bins compare in single precision, rounded outwards: a few more blocks may come.
        EXPECT_TRUE(std::includes(got.begin(), got.end(), want.begin(), want.end())) << "point " << t;
        EXPECT_LE(got.size(), want.size() + 2) << "point " << t;
    }
}

}  // namespace
