#include "grid.h"

#include "log.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// Values at or below this never enter an axis.
constexpr double k_axisFloor = -999.0;
// A grid point no reference patch sits on.
constexpr std::int32_t k_unoccupied = -1;

using Axis = std::vector<double>;

// Position of the first element not below `value` on a strictly increasing axis: a binary
// search. A NaN compares false with everything and gives 0.
std::size_t LowerBound(double value, const Axis& axis)
{
    return static_cast<std::size_t>(std::lower_bound(axis.begin(), axis.end(), value) - axis.begin());
}

// Positions per unit of an axis of at least two values if it were evenly spaced.
double PositionsPerUnit(const Axis& axis)
{
    return axis.size() < 2 ? 0.0 : static_cast<double>(axis.size() - 1) / (axis.back() - axis.front());
}

// Where `value` would sit on an axis of at least two values if the axis were evenly spaced,
// from its PositionsPerUnit: a position in [0, size - 1], exact for the usual charts and only
// a guess for the others, which the callers verify. Infinite and NaN positions are clamped too.
double EvenPosition(double value, const Axis& axis, double perUnit)
{
    const double last = static_cast<double>(axis.size() - 1);
    const double position = (value - axis.front()) * perUnit;
    if (!(position >= 0.0))
        return 0.0;
    return position > last ? last : position;
}

// Position of the first axis value equal to `value`, or -1. The axis is strictly increasing,
// so at most one value is equal (0.0 and -0.0 never both enter it): the guess of an evenly
// spaced axis is tried first, then a binary search for the first value not below `value`.
int GetIntegerIndex(double value, const Axis& axis, double perUnit)
{
    if (axis.size() >= 2) {
        const std::size_t guess = static_cast<std::size_t>(EvenPosition(value, axis, perUnit) + 0.5);
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
int GetNearestIndexFloor(double value, const Axis& axis, double perUnit)
{
    if (axis.size() < 2 || std::isnan(value))
        return -1;
    if (value == axis[0])
        return 0;
    const std::size_t guess = std::min(static_cast<std::size_t>(EvenPosition(value, axis, perUnit)), axis.size() - 2);
    if (axis[guess] < value && value <= axis[guess + 1])
        return static_cast<int>(guess);
    // A value on an axis point belongs to the cell below it.
    if (guess > 0 && axis[guess - 1] < value && value <= axis[guess])
        return static_cast<int>(guess - 1);
    const std::size_t k = LowerBound(value, axis);
    return (k == 0 || k == axis.size()) ? -1 : static_cast<int>(k - 1);
}

// Kept out of line and without arguments, so that the seven inlined Lerps of a target keep
// their values in registers.
[[gnu::cold, gnu::noinline]] void WarnOfDivisionByZero()
{
    Log("Warning: possible divide by zero during lerp operation!\n");
}

// Interpolates between a (at x0) and b (at x1); x outside [x0, x1] extrapolates. Called
// seven times per target, so it is kept small enough to be inlined.
inline Color3 Lerp(const Color3& a, const Color3& b, double x, double x0, double x1)
{
    Color3 r;
    if (x1 == x0) {
        WarnOfDivisionByZero();
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

}  // namespace

GridBuild MeasuredGrid::Build(const std::vector<Color3>& referenceRgb, const std::vector<Color3>& measuredLab,
                              std::FILE* report)
{
    *this = MeasuredGrid();
    // The lists are index-parallel; unequal ones have no defined pairing.
    if (referenceRgb.size() != measuredLab.size())
        return GridBuild::UnequalLists;
    for (int a = 0; a < 3; ++a) {
        m_axes[a] = BuildAxis(referenceRgb, a);
        m_perUnit[a] = PositionsPerUnit(m_axes[a]);
    }
    if (m_axes[0].size() != m_axes[1].size() || m_axes[0].size() != m_axes[2].size()) {
        *this = MeasuredGrid();
        return GridBuild::UnequalAxes;
    }
    const std::int64_t n = static_cast<std::int64_t>(m_axes[0].size());
    if (report)
        std::fprintf(report, "Appears to be a %d x %d x %d grid.\n", static_cast<int>(n), static_cast<int>(n),
                     static_cast<int>(n));

    GridBuild result = GridBuild::Ok;
    if (n > k_maxAxisValues) {
        result = GridBuild::TooManyValues;
    } else {
        m_n = n;
        const std::int64_t count = n * n * n;
        m_points.reset(new (std::nothrow) std::int32_t[static_cast<std::size_t>(count)]);
        if (!m_points) {
            result = GridBuild::OutOfMemory;
        } else {
            std::fill_n(m_points.get(), count, k_unoccupied);
            if (!Fill(referenceRgb))
                result = GridBuild::OffAxis;
        }
    }
    if (result != GridBuild::Ok) {
        *this = MeasuredGrid();
        return result;
    }
    m_lab = measuredLab;
    AverageDuplicates(referenceRgb);
    return GridBuild::Ok;
}

std::int64_t MeasuredGrid::PointOf(const Color3& rgb) const
{
    const int i = GetIntegerIndex(rgb.c[0], m_axes[0], m_perUnit[0]);
    const int j = GetIntegerIndex(rgb.c[1], m_axes[1], m_perUnit[1]);
    const int k = GetIntegerIndex(rgb.c[2], m_axes[2], m_perUnit[2]);
    if (i < 0 || j < 0 || k < 0)
        return -1;
    return Point(i, j, k);
}

// Each occupied point names the last patch in list order that sits on it.
bool MeasuredGrid::Fill(const std::vector<Color3>& referenceRgb)
{
    for (std::size_t p = 0; p < referenceRgb.size(); ++p) {
        const std::int64_t g = PointOf(referenceRgb[p]);
        if (g < 0)
            return false;
        m_points[g] = static_cast<std::int32_t>(p);
    }
    return true;
}

// The mean is written to the patch the point names, the last of its group. One pass
// accumulates each group at that last patch, so the additions happen in the same order as
// when each group is gathered by scanning the rest of the list.
void MeasuredGrid::AverageDuplicates(const std::vector<Color3>& referenceRgb)
{
    const std::size_t count = referenceRgb.size();
    std::vector<Color3> sums(count);
    std::vector<unsigned> members(count, 0);
    for (std::size_t p = 0; p < count; ++p) {
        const std::size_t last = static_cast<std::size_t>(m_points[PointOf(referenceRgb[p])]);
        Color3& sum = sums[last];
        if (members[last]++ == 0) {
            sum = m_lab[p];
            continue;
        }
        for (int c = 0; c < 3; ++c)
            sum.c[c] += m_lab[p].c[c];
    }
    for (std::size_t last = 0; last < count; ++last) {
        if (members[last] > 1) {
            const double r = 1.0 / members[last];
            for (int c = 0; c < 3; ++c)
                m_lab[last].c[c] = sums[last].c[c] * r;
        }
    }
}

GridLookup MeasuredGrid::Locate(const Color3& rgb, GridCell* cell) const
{
    for (int a = 0; a < 3; ++a) {
        const int floor = GetNearestIndexFloor(rgb.c[a], m_axes[a], m_perUnit[a]);
        if (floor < 0)
            return GridLookup::OutsideGrid;
        cell->index[a] = floor;
        cell->position[a] = rgb.c[a];
    }
    return GridLookup::Ok;
}

void MeasuredGrid::Fractions(const GridCell& cell, double fraction[3]) const
{
    for (int a = 0; a < 3; ++a) {
        const double x0 = m_axes[a][cell.index[a]], x1 = m_axes[a][cell.index[a] + 1];
        fraction[a] = (cell.position[a] - x0) / (x1 - x0);
    }
}

bool MeasuredGrid::CellMeasured(const int index[3]) const
{
    const Color3* corners[8];
    return GatherCorners(index, corners);
}

bool MeasuredGrid::GatherCorners(const int index[3], const Color3* corners[8]) const
{
    for (int di = 0; di < 2; ++di)
        for (int dj = 0; dj < 2; ++dj)
            for (int dk = 0; dk < 2; ++dk) {
                const std::int32_t patch = m_points[Point(index[0] + di, index[1] + dj, index[2] + dk)];
                if (patch == k_unoccupied)
                    return false;
                corners[CornerNumber(di, dj, dk)] = &m_lab[static_cast<std::size_t>(patch)];
            }
    return true;
}

// Four interpolations along B, then two along G, then one along R, in this order.
Color3 MeasuredGrid::Trilinear(const GridCell& cell, const Color3* const c[8]) const
{
    const int i = cell.index[0], j = cell.index[1], k = cell.index[2];
    const std::vector<double>& r = m_axes[0];
    const std::vector<double>& g = m_axes[1];
    const std::vector<double>& b = m_axes[2];
    const double x = cell.position[2], x0 = b[k], x1 = b[k + 1];
    const Color3 e00 = Lerp(*c[CornerNumber(0, 0, 0)], *c[CornerNumber(0, 0, 1)], x, x0, x1);
    const Color3 e01 = Lerp(*c[CornerNumber(0, 1, 0)], *c[CornerNumber(0, 1, 1)], x, x0, x1);
    const Color3 e10 = Lerp(*c[CornerNumber(1, 0, 0)], *c[CornerNumber(1, 0, 1)], x, x0, x1);
    const Color3 e11 = Lerp(*c[CornerNumber(1, 1, 0)], *c[CornerNumber(1, 1, 1)], x, x0, x1);
    const Color3 f0 = Lerp(e00, e01, cell.position[1], g[j], g[j + 1]);
    const Color3 f1 = Lerp(e10, e11, cell.position[1], g[j], g[j + 1]);
    return Lerp(f0, f1, cell.position[0], r[i], r[i + 1]);
}

namespace {

// The path from the lowest corner to the highest steps first along the axis with the largest
// fraction, then the next: with fractions f1 >= f2 >= f3 the corners on that path weigh
// 1 - f1, f1 - f2, f2 - f3 and f3. A fraction of exactly 0 or 1 therefore reproduces a
// corner, edge or face exactly; ties pick either neighbouring tetrahedron, which agree there.
// `corner(n)` gives corner n's Lab value.
template <typename Corner>
Color3 BlendTetrahedron(const Corner& corner, const double f[3])
{
    // order[0] is the axis with the largest fraction, order[2] the one with the smallest,
    // equal fractions kept in R, G, B order: looked up by the three comparisons, so that no
    // branch depends on where the target lies. (f0 < f1 < f2 with f0 >= f2, and the reverse,
    // cannot happen; their rows are never used.)
    static constexpr int k_sorted[8][3] = {{0, 1, 2}, {1, 0, 2}, {0, 2, 1}, {1, 0, 2},
                                           {0, 1, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    const int* const order = k_sorted[int(f[0] < f[1]) | int(f[1] < f[2]) << 1 | int(f[0] < f[2]) << 2];

    // The corner one step along an axis: R is the high bit of a corner number, B the low one.
    const int first = 4 >> order[0], second = first | (4 >> order[1]);
    const Color3& c0 = corner(0);
    const Color3& c1 = corner(first);
    const Color3& c2 = corner(second);
    const Color3& c3 = corner(7);
    const double w0 = 1.0 - f[order[0]], w1 = f[order[0]] - f[order[1]], w2 = f[order[1]] - f[order[2]],
                 w3 = f[order[2]];
    Color3 out;
    for (int n = 0; n < 3; ++n)
        out.c[n] = ((c0.c[n] * w0 + c1.c[n] * w1) + c2.c[n] * w2) + c3.c[n] * w3;
    return out;
}

}  // namespace

Color3 TetrahedralBlend(const Color3 corners[8], const double f[3])
{
    return BlendTetrahedron([corners](int n) -> const Color3& { return corners[n]; }, f);
}

Color3 MeasuredGrid::Blend(const GridCell& cell, const Color3* const corners[8], Interpolation how) const
{
    if (how == Interpolation::Trilinear)
        return Trilinear(cell, corners);
    double f[3];
    Fractions(cell, f);
    return BlendTetrahedron([corners](int n) -> const Color3& { return *corners[n]; }, f);
}

Color3 MeasuredGrid::InterpolateInCell(const GridCell& cell, Interpolation how) const
{
    const Color3* corners[8];
    GatherCorners(cell.index, corners);
    return Blend(cell, corners, how);
}

GridLookup MeasuredGrid::Interpolate(const Color3& rgb, Interpolation how, Color3* lab) const
{
    GridCell cell;
    const Color3* corners[8];
    if (Locate(rgb, &cell) != GridLookup::Ok)
        return GridLookup::OutsideGrid;
    if (!GatherCorners(cell.index, corners))
        return GridLookup::UnmeasuredCorner;
    *lab = Blend(cell, corners, how);
    return GridLookup::Ok;
}
