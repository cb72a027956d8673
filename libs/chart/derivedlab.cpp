#include "derivedlab.h"

#include "log.h"
#include "preprocess5202.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

namespace {

// Values at or below this never enter an axis.
constexpr double k_axisFloor = -999.0;
// A grid point no reference patch sits on.
constexpr std::int32_t k_unoccupied = -1;

using Axis = std::vector<double>;

// The one place that knows the table's layout: B varies fastest, then G, then R.
std::int64_t GridIndex(std::int64_t i, std::int64_t j, std::int64_t k, std::int64_t n)
{
    return (i * n + j) * n + k;
}

// Position of the first element not below `value` on a strictly increasing axis: a binary
// search. A NaN compares false with everything and gives 0.
std::size_t LowerBound(double value, const std::vector<double>& axis)
{
    return static_cast<std::size_t>(std::lower_bound(axis.begin(), axis.end(), value) - axis.begin());
}

// Where `value` would sit on an axis of at least two values if the axis were evenly spaced:
// a position in [0, size - 1], exact for the usual charts and only a guess for the others,
// which the callers verify. Infinite and NaN positions are clamped too.
double EvenPosition(double value, const std::vector<double>& axis)
{
    const double last = static_cast<double>(axis.size() - 1);
    const double position = (value - axis.front()) / (axis.back() - axis.front()) * last;
    if (!(position >= 0.0))
        return 0.0;
    return position > last ? last : position;
}

// Position of the first axis value equal to `value`, or -1. The axis is strictly increasing,
// so at most one value is equal (0.0 and -0.0 never both enter it): the guess of an evenly
// spaced axis is tried first, then a binary search for the first value not below `value`.
int GetIntegerIndex(double value, std::vector<double>& axis)
{
    if (axis.size() >= 2) {
        const std::size_t guess = static_cast<std::size_t>(EvenPosition(value, axis) + 0.5);
        if (axis[guess] == value)
            return static_cast<int>(guess);
    }
    const std::size_t k = LowerBound(value, axis);
    return (k < axis.size() && axis[k] == value) ? static_cast<int>(k) : -1;
}

// The smallest i with axis[i] <= value <= axis[i+1], or -1 (also for NaN and short axes).
// A value equal to an interior axis value axis[k] selects cell k-1, with weight 1 on top.
// On a strictly increasing axis that is cell 0 for a value equal to the first axis value,
// and otherwise the cell i with axis[i] < value <= axis[i+1]: the cells at and below the
// guess of an evenly spaced axis are tried first, then a binary search.
int GetNearestIndexFloor(double value, std::vector<double>& axis)
{
    if (axis.size() < 2 || std::isnan(value))
        return -1;
    if (value == axis[0])
        return 0;
    const std::size_t guess = std::min(static_cast<std::size_t>(EvenPosition(value, axis)), axis.size() - 2);
    if (axis[guess] < value && value <= axis[guess + 1])
        return static_cast<int>(guess);
    // A value on an axis point belongs to the cell below it.
    if (guess > 0 && axis[guess - 1] < value && value <= axis[guess])
        return static_cast<int>(guess - 1);
    const std::size_t k = LowerBound(value, axis);
    return (k == 0 || k == axis.size()) ? -1 : static_cast<int>(k - 1);
}

// The midpoint of a and b, with the warning that Lerp was asked to divide by zero.
Color3 WarnAndTakeMidpoint(const Color3& a, const Color3& b)
{
    Log("Warning: possible divide by zero during lerp operation!\n");
    Color3 r;
    for (int n = 0; n < 3; ++n)
        r.c[n] = (a.c[n] + b.c[n]) * 0.5;
    return r;
}

// Interpolates between a (at x0) and b (at x1); x outside [x0, x1] extrapolates. Called
// seven times per target, so it is kept small enough to be inlined.
inline Color3 Lerp(Color3 a, Color3 b, double x, double x0, double x1)
{
    if (x1 == x0)
        return WarnAndTakeMidpoint(a, b);
    const double t = (x - x0) / (x1 - x0);
    Color3 r;
    for (int n = 0; n < 3; ++n)
        r.c[n] = a.c[n] + (b.c[n] - a.c[n]) * t;
    return r;
}

// The distinct values of one channel, strictly increasing. NaN never enters an axis, and is
// dropped before sorting, where it would break the ordering.
Axis BuildAxis(const std::vector<Color3>& patches, int channel)
{
    std::vector<double> values;
    values.reserve(patches.size());
    for (const Color3& p : patches)
        if (!std::isnan(p.c[channel]))
            values.push_back(p.c[channel]);
    std::sort(values.begin(), values.end());

    Axis axis;
    double last = k_axisFloor;
    for (double v : values) {
        if (v > last) {
            axis.push_back(v);
            last = v;
        }
    }
    return axis;
}

struct Grid {
    Axis axes[3];
    std::int64_t n = 0;
    std::unique_ptr<std::int32_t[]> points;  // reference patch index per grid point

    // Grid point number of an RGB value, or -1 when a component is not on its axis.
    std::int64_t PointOf(const Color3& rgb)
    {
        const int i = GetIntegerIndex(rgb.c[0], axes[0]);
        const int j = GetIntegerIndex(rgb.c[1], axes[1]);
        const int k = GetIntegerIndex(rgb.c[2], axes[2]);
        if (i < 0 || j < 0 || k < 0)
            return -1;
        return GridIndex(i, j, k, n);
    }
};

// Allocates the table with every point unoccupied; false for N above the limit or when
// the memory cannot be had.
bool AllocatePoints(Grid& grid)
{
    if (grid.n > k_maxAxisValues)
        return false;
    const std::int64_t count = grid.n * grid.n * grid.n;
    grid.points.reset(new (std::nothrow) std::int32_t[static_cast<std::size_t>(count)]);
    if (!grid.points)
        return false;
    std::fill_n(grid.points.get(), count, k_unoccupied);
    return true;
}

// Each occupied point names the last patch in list order that sits on it.
bool FillPoints(Grid& grid, const std::vector<Color3>& referenceRgb)
{
    for (std::size_t p = 0; p < referenceRgb.size(); ++p) {
        const std::int64_t g = grid.PointOf(referenceRgb[p]);
        if (g < 0)
            return false;
        grid.points[g] = static_cast<std::int32_t>(p);
    }
    return true;
}

// Patches sharing a grid point (the same RGB, exactly) are averaged: their Lab values are
// summed in list order, starting from the first, and the sum is multiplied by the reciprocal
// of the count; the mean is written to the patch the point names, the last of the group.
// One pass accumulates each group at that last patch, so the additions happen in the same
// order as when each group is gathered by scanning the rest of the list.
void AverageDuplicates(Grid& grid, const std::vector<Color3>& referenceRgb, std::vector<Color3>& workLab)
{
    const std::size_t count = referenceRgb.size();
    std::vector<Color3> sums(count);
    std::vector<unsigned> members(count, 0);
    for (std::size_t p = 0; p < count; ++p) {
        const std::size_t last = static_cast<std::size_t>(grid.points[grid.PointOf(referenceRgb[p])]);
        Color3& sum = sums[last];
        if (members[last]++ == 0) {
            sum = workLab[p];
            continue;
        }
        for (int c = 0; c < 3; ++c)
            sum.c[c] += workLab[p].c[c];
    }
    for (std::size_t last = 0; last < count; ++last) {
        if (members[last] > 1) {
            const double r = 1.0 / members[last];
            for (int c = 0; c < 3; ++c)
                workLab[last].c[c] = sums[last].c[c] * r;
        }
    }
}

// Trilinear interpolation of one target; false when it lies outside the grid, is NaN, or
// one of its cell's corners has no measurement.
bool Interpolate(Grid& grid, const std::vector<Color3>& workLab, const Color3& target, Color3* out)
{
    int floor[3];
    for (int a = 0; a < 3; ++a) {
        floor[a] = GetNearestIndexFloor(target.c[a], grid.axes[a]);
        if (floor[a] < 0)
            return false;
    }
    // corner[di][dj][dk]: di along R, dj along G, dk along B.
    Color3 corner[2][2][2];
    for (int di = 0; di < 2; ++di)
        for (int dj = 0; dj < 2; ++dj)
            for (int dk = 0; dk < 2; ++dk) {
                const std::int32_t patch =
                    grid.points[GridIndex(floor[0] + di, floor[1] + dj, floor[2] + dk, grid.n)];
                if (patch == k_unoccupied)
                    return false;
                corner[di][dj][dk] = workLab[patch];
            }

    const Axis& r = grid.axes[0];
    const Axis& g = grid.axes[1];
    const Axis& b = grid.axes[2];
    const double x = target.c[2], x0 = b[floor[2]], x1 = b[floor[2] + 1];
    const Color3 e00 = Lerp(corner[0][0][0], corner[0][0][1], x, x0, x1);
    const Color3 e01 = Lerp(corner[0][1][0], corner[0][1][1], x, x0, x1);
    const Color3 e10 = Lerp(corner[1][0][0], corner[1][0][1], x, x0, x1);
    const Color3 e11 = Lerp(corner[1][1][0], corner[1][1][1], x, x0, x1);
    const Color3 f0 = Lerp(e00, e01, target.c[1], g[floor[1]], g[floor[1] + 1]);
    const Color3 f1 = Lerp(e10, e11, target.c[1], g[floor[1]], g[floor[1] + 1]);
    *out = Lerp(f0, f1, target.c[0], r[floor[0]], r[floor[0] + 1]);
    return true;
}

}  // namespace

bool ComputeDerivedLabValues(std::vector<Color3>& referenceRgb, std::vector<Color3>& measuredLab,
                             const std::vector<Color3>& targetRgb, std::vector<Color3>* derivedLab)
{
    if (!derivedLab)
        return false;
    derivedLab->clear();
    // The lists are index-parallel; unequal ones have no defined pairing.
    if (referenceRgb.size() != measuredLab.size())
        return false;
    Preprocess5202Target(referenceRgb, measuredLab);

    std::vector<Color3> workLab = measuredLab;
    Grid grid;
    for (int a = 0; a < 3; ++a)
        grid.axes[a] = BuildAxis(referenceRgb, a);
    if (grid.axes[0].size() != grid.axes[1].size() || grid.axes[0].size() != grid.axes[2].size())
        return false;
    grid.n = static_cast<std::int64_t>(grid.axes[0].size());
    std::printf("Appears to be a %d x %d x %d grid.\n", static_cast<int>(grid.n),
                static_cast<int>(grid.n), static_cast<int>(grid.n));

    if (!AllocatePoints(grid) || !FillPoints(grid, referenceRgb))
        return false;
    AverageDuplicates(grid, referenceRgb, workLab);

    derivedLab->reserve(targetRgb.size());
    for (const Color3& target : targetRgb) {
        Color3 lab;
        if (!Interpolate(grid, workLab, target, &lab))
            return false;
        derivedLab->push_back(lab);
    }
    return true;
}
