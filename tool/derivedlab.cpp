#include "derivedlab.h"

#include "log.h"
#include "preprocess5202.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <set>

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

// Position of the first axis value equal to `value`, or -1.
int GetIntegerIndex(double value, std::vector<double>& axis)
{
    for (std::size_t i = 0; i < axis.size(); ++i)
        if (axis[i] == value)
            return static_cast<int>(i);
    return -1;
}

// The smallest i with axis[i] <= value <= axis[i+1], or -1 (also for NaN and short axes).
// A value equal to an interior axis value axis[k] selects cell k-1, with weight 1 on top.
int GetNearestIndexFloor(double value, std::vector<double>& axis)
{
    for (std::size_t i = 0; i + 1 < axis.size(); ++i)
        if (axis[i] <= value && axis[i + 1] >= value)
            return static_cast<int>(i);
    return -1;
}

// Interpolates between a (at x0) and b (at x1); x outside [x0, x1] extrapolates.
Color3 Lerp(Color3 a, Color3 b, double x, double x0, double x1)
{
    Color3 r;
    if (x1 == x0) {
        Log("Warning: possible divide by zero during lerp operation!\n");
        for (int n = 0; n < 3; ++n)
            r.c[n] = (a.c[n] + b.c[n]) * 0.5;
        return r;
    }
    const double t = (x - x0) / (x1 - x0);
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

// Patches sharing a grid point: their mean, summed in list order and multiplied by the
// reciprocal of the count, is written to the patch the point names.
void AverageDuplicates(Grid& grid, const std::vector<Color3>& referenceRgb, std::vector<Color3>& workLab)
{
    std::set<std::int64_t> visited;
    const std::size_t count = referenceRgb.size();
    for (std::size_t p = 0; p < count; ++p) {
        const Color3& rgb = referenceRgb[p];
        const std::int64_t g = grid.PointOf(rgb);
        if (!visited.insert(g).second)
            continue;
        Color3 sum = workLab[p];
        unsigned n = 1;
        for (std::size_t q = p + 1; q < count; ++q) {
            const Color3& other = referenceRgb[q];
            if (other.c[0] == rgb.c[0] && other.c[1] == rgb.c[1] && other.c[2] == rgb.c[2]) {
                for (int c = 0; c < 3; ++c)
                    sum.c[c] += workLab[q].c[c];
                ++n;
            }
        }
        if (n > 1) {
            const double r = 1.0 / n;
            Color3& target = workLab[grid.points[g]];
            for (int c = 0; c < 3; ++c)
                target.c[c] = sum.c[c] * r;
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

    for (const Color3& target : targetRgb) {
        Color3 lab;
        if (!Interpolate(grid, workLab, target, &lab))
            return false;
        derivedLab->push_back(lab);
    }
    return true;
}
