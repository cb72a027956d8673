// The inversion of a grid's interpolation, on charts whose values the input edits. The first
// byte picks the chart: n = 2 + byte % 3 values per axis, evenly spaced (or, with bit 3,
// squeezed towards 0), Lab a smooth function of RGB (or, with bit 4, one that folds back on
// itself), and the interpolation (bit 2: tetrahedral). Each following 4-byte group edits one
// value: patch index (2 bytes, modulo the count), the component (0-2 RGB, 3-5 Lab) and a value
// code; a group whose first byte is 0xff instead ends the edits, and the rest of the input,
// 8 bytes at a time, gives wanted Lab components as raw doubles.
// Invariants: a finite wanted Lab always gets an answer whose RGB the grid interpolates to the
// answer's Lab, at the distance the answer states; an answer said to be in gamut reproduces
// the wanted value to the tolerance; the Lab value of an RGB in a usable cell is found in
// gamut, at the same RGB through the index and by the plain scan; a non-finite one is refused.
#include "fuzzcharts.h"
#include "fuzzutil.h"
#include "inverse.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr double k_codes[8] = {0.0, 1.0, -1.0, 1e300, std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN(), 0.5, 50.0};

Color3 LabOf(const Color3& rgb, bool fold)
{
    const double r = rgb.c[0], g = rgb.c[1], b = rgb.c[2];
    if (fold)
        return Color3{{100.0 - std::fabs(r - 50.0) - 0.2 * g, g - 0.5 * b + 0.1 * r * g / 100.0, b - 40.0}};
    return Color3{{100.0 * std::cbrt((0.2 * r + 0.7 * g + 0.1 * b + 1.0) / 101.0), 0.8 * (r - g), 0.6 * (g - b)}};
}

bool Finite(const Color3& c)
{
    return std::isfinite(c.c[0]) && std::isfinite(c.c[1]) && std::isfinite(c.c[2]);
}

// Whether the cell holding `rgb` is in the inverse's domain: all eight corners finite.
bool InUsableCell(const MeasuredGrid& grid, const Color3& rgb)
{
    GridCell cell;
    if (grid.Locate(rgb, &cell) != GridLookup::Ok || !grid.CellMeasured(cell.index))
        return false;
    for (int d = 0; d < 8; ++d)
        if (!Finite(grid.Lab(cell.index[0] + (d >> 2), cell.index[1] + ((d >> 1) & 1), cell.index[2] + (d & 1))))
            return false;
    return true;
}

void CheckAnswer(const MeasuredGrid& grid, const GridInverse& inverse, Interpolation how, const Color3& lab,
                 const InverseResult& result)
{
    Color3 reached;
    FUZZ_CHECK(grid.Interpolate(result.rgb, how, &reached) == GridLookup::Ok);
    for (int c = 0; c < 3; ++c)
        FUZZ_CHECK(reached.c[c] == result.lab.c[c] || (std::isnan(reached.c[c]) && std::isnan(result.lab.c[c])));
    FUZZ_CHECK(DeltaE76(reached, lab) == result.deltaE || std::isnan(result.deltaE));
    if (result.inGamut)
        for (int c = 0; c < 3; ++c)
            FUZZ_CHECK(std::fabs(reached.c[c] - lab.c[c]) <= inverse.Tolerance());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int n = 2 + data[0] % 3;
    const Interpolation how = (data[0] & 4) ? Interpolation::Tetrahedral : Interpolation::Trilinear;
    const bool squeezed = data[0] & 8, fold = data[0] & 16;
    std::vector<double> axis;
    for (int i = 0; i < n; ++i)
        axis.push_back(squeezed ? 100.0 * (i * i) / ((n - 1) * (n - 1)) : 100.0 * i / (n - 1));
    std::vector<Color3> rgb, lab;
    for (double r : axis)
        for (double g : axis)
            for (double b : axis) {
                rgb.push_back(Color3{{r, g, b}});
                lab.push_back(LabOf(rgb.back(), fold));
            }

    std::size_t at = 1;
    for (; at + 4 <= size && data[at] != 0xff; at += 4) {
        fuzzutil::ApplyEdit(data + at, k_codes, rgb, lab);
    }
    std::vector<Color3> wanted;
    for (at += 1; at + 24 <= size; at += 24) {
        Color3 c;
        std::memcpy(c.c, data + at, 24);
        wanted.push_back(c);
    }

    MeasuredGrid grid;
    if (grid.Build(rgb, lab, nullptr) != GridBuild::Ok)
        return 0;
    GridInverse inverse, scan;
    if (!inverse.Build(grid, how)) {
        FUZZ_CHECK(!scan.Build(grid, how, InverseSearch::Scan));
        return 0;
    }
    FUZZ_CHECK(scan.Build(grid, how, InverseSearch::Scan));

    // Wanted values from the input; then the Lab of points of the grid and between them.
    InverseResult result;
    for (const Color3& c : wanted) {
        if (!Finite(c)) {
            FUZZ_CHECK(!inverse.Invert(c, &result));
            continue;
        }
        FUZZ_CHECK(inverse.Invert(c, &result));
        CheckAnswer(grid, inverse, how, c, result);
    }
    const double step = (grid.Axis(0).back() - grid.Axis(0).front()) / 7.0;
    for (int t = 0; t < 8; ++t) {
        const Color3 point{{grid.Axis(0).front() + step * t, grid.Axis(1).front() + step * ((t * 3) % 8),
                            grid.Axis(2).front() + step * ((t * 5) % 8)}};
        Color3 reached;
        if (!InUsableCell(grid, point) || grid.Interpolate(point, how, &reached) != GridLookup::Ok || !Finite(reached))
            continue;
        InverseResult viaScan;
        FUZZ_CHECK(inverse.Invert(reached, &result));
        FUZZ_CHECK(scan.Invert(reached, &viaScan));
        CheckAnswer(grid, inverse, how, reached, result);
        FUZZ_CHECK(result.inGamut);
        for (int c = 0; c < 3; ++c)
            FUZZ_CHECK(result.rgb.c[c] == viaScan.rgb.c[c]);
    }
    return 0;
}
