// The inverse of the grid's interpolation: in-gamut values come back exactly on synthetic and
// bundled charts, out-of-gamut values get the nearest reachable colour (against a dense search
// of the grid's surface), folded charts get the documented answer, and bad input is refused.
#include "colorcommon.h"
#include "inverse.h"
#include "patchtables.h"
#include "preprocess5202.h"
#include "testutil.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

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

// The least distance from `lab` to the Lab values on the grid's outer faces: a 100 x 100
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
    const int n = 100;
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
        const double fine = 2.0 * step / 50;
        for (int s = 0; s < 4; ++s)
            for (int i = 0; i <= 50; ++i)
                for (int j = 0; j <= 50; ++j) {
                    const Sample& c = finer[static_cast<std::size_t>(s)];
                    const double p = c.p - step + i * fine, q = c.q - step + j * fine;
                    finer.push_back({at(c.axis, c.side, p, q), c.axis, c.side, p, q});
                }
        samples = finer;
        step = fine;
    }
    return std::min_element(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.d < b.d; })->d;
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
    std::uniform_real_distribution<double> l(-20.0, 120.0), ab(-140.0, 140.0);
    for (const MeasuredGrid* grid : {&smooth, &noisy})
        for (Interpolation how : k_both) {
            SCOPED_TRACE(Name(how));
            GridInverse inverse;
            ASSERT_TRUE(inverse.Build(*grid, how));
            for (int t = 0; t < 12; ++t) {
                const Color3 lab{{l(random), ab(random), ab(random)}};
                InverseResult result;
                ASSERT_TRUE(inverse.Invert(lab, &result));
                if (result.inGamut)
                    continue;
                Color3 reached;
                ASSERT_EQ(GridLookup::Ok, grid->Interpolate(result.rgb, how, &reached));
                EXPECT_EQ(DeltaE76(reached, lab), result.deltaE);
                EXPECT_NEAR(SurfaceBruteForce(*grid, how, lab), result.deltaE, 1e-3)
                    << "target " << lab.c[0] << " " << lab.c[1] << " " << lab.c[2];
            }
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

}  // namespace
