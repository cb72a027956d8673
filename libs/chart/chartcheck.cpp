#include "chartcheck.h"

#include "icc.h"
#include "preprocess5202.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// Steps of an evenly spaced axis differ from their mean by at most this fraction of it: the
// rounding of values written with six decimals stays well inside.
constexpr double k_evenStepTolerance = 1e-4;

bool IsGray(const Color3& rgb)
{
    return rgb.c[0] == rgb.c[1] && rgb.c[0] == rgb.c[2];
}

bool SameRgb(const Color3& a, const Color3& b)
{
    return a.c[0] == b.c[0] && a.c[1] == b.c[1] && a.c[2] == b.c[2];
}

bool Checkable(const Color3& value)
{
    for (double v : value.c)
        if (!(std::fabs(v) <= k_checkValueLimit))
            return false;
    return true;
}

Vec3 Single(const Color3& lab)
{
    return Vec3(static_cast<float>(lab.c[0]), static_cast<float>(lab.c[1]), static_cast<float>(lab.c[2]));
}

struct Difference {
    float de76;
    float de2000;
};

Difference Compare(const Color3& measured, const Color3& predicted)
{
    const Vec3 m = Single(measured), p = Single(predicted);
    return {ComputeDeltaE(m, p), ComputeDeltaE2000(m, p)};
}

// The differences of one comparison, gathered for their summary.
class DifferenceSet {
public:
    void Add(Difference d)
    {
        m_de76.push_back(d.de76);
        m_de2000.push_back(d.de2000);
    }
    Differences Summary() const { return {Summarise(m_de76), Summarise(m_de2000)}; }

private:
    std::vector<float> m_de76;
    std::vector<float> m_de2000;
};

// Keeps the `keep` patches with the largest CIEDE2000 among those offered, ties in the order
// they were offered. The candidates are cut back whenever they reach twice that number, so a
// large grid never holds all of its patches.
class WorstPatches {
public:
    explicit WorstPatches(std::size_t keep) : m_keep(keep) {}

    void Offer(const CheckedPatch& patch)
    {
        if (m_keep == 0)
            return;
        m_entries.push_back({patch, m_offered++});
        if (m_entries.size() >= 2 * m_keep)
            Trim();
    }

    std::vector<CheckedPatch> Take()
    {
        Trim();
        std::sort(m_entries.begin(), m_entries.end(), Before);
        std::vector<CheckedPatch> patches;
        for (const Entry& e : m_entries)
            patches.push_back(e.patch);
        return patches;
    }

private:
    struct Entry {
        CheckedPatch patch;
        std::size_t order;
    };
    // A strict total order: larger differences first, then the earlier offer.
    static bool Before(const Entry& a, const Entry& b)
    {
        if (a.patch.de2000 != b.patch.de2000)
            return a.patch.de2000 > b.patch.de2000;
        return a.order < b.order;
    }
    void Trim()
    {
        if (m_entries.size() <= m_keep)
            return;
        std::nth_element(m_entries.begin(), m_entries.begin() + static_cast<std::ptrdiff_t>(m_keep),
                         m_entries.end(), Before);
        m_entries.resize(m_keep);
    }

    std::size_t m_keep;
    std::size_t m_offered = 0;
    std::vector<Entry> m_entries;
};

bool EvenlySpaced(const std::vector<double>& axis)
{
    if (axis.size() < 3)
        return true;
    const double meanStep = (axis.back() - axis.front()) / static_cast<double>(axis.size() - 1);
    for (std::size_t i = 1; i < axis.size(); ++i)
        if (!(std::fabs(axis[i] - axis[i - 1] - meanStep) <= k_evenStepTolerance * meanStep))
            return false;
    return true;
}

// Groups the patches by identical RGB (file order within a group) and compares every
// measurement of a repeated one with the group's mean.
Differences Repeatability(const std::vector<Color3>& rgb, const std::vector<Color3>& lab, std::size_t* repeatedRgb)
{
    std::vector<std::size_t> order(rgb.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::stable_sort(order.begin(), order.end(), [&rgb](std::size_t a, std::size_t b) {
        return std::lexicographical_compare(rgb[a].c, rgb[a].c + 3, rgb[b].c, rgb[b].c + 3);
    });
    DifferenceSet set;
    for (std::size_t start = 0, end = 0; start < order.size(); start = end) {
        end = start + 1;
        while (end < order.size() && SameRgb(rgb[order[end]], rgb[order[start]]))
            ++end;
        if (end - start < 2)
            continue;
        ++*repeatedRgb;
        Color3 mean;
        for (std::size_t m = start; m < end; ++m)
            for (int c = 0; c < 3; ++c)
                mean.c[c] += lab[order[m]].c[c];
        for (double& v : mean.c)
            v /= static_cast<double>(end - start);
        for (std::size_t m = start; m < end; ++m)
            set.Add(Compare(lab[order[m]], mean));
    }
    return set.Summary();
}

// Levels 0, 2, 4, ... of an axis of n values, and the last one.
std::vector<int> CoarseLevels(int n)
{
    std::vector<int> levels;
    for (int i = 0; i < n; i += 2)
        levels.push_back(i);
    if (n > 0 && levels.back() != n - 1)
        levels.push_back(n - 1);
    return levels;
}

Color3 GridRgb(const MeasuredGrid& grid, int i, int j, int k)
{
    return Color3{{grid.Axis(0)[static_cast<std::size_t>(i)], grid.Axis(1)[static_cast<std::size_t>(j)],
                   grid.Axis(2)[static_cast<std::size_t>(k)]}};
}

void HoldOut(const MeasuredGrid& grid, ChartCheck* check, WorstPatches* worst)
{
    const int n = grid.N();
    const std::vector<int> levels = CoarseLevels(n);
    std::vector<bool> kept(static_cast<std::size_t>(n), false);
    for (int l : levels)
        kept[static_cast<std::size_t>(l)] = true;

    std::vector<Color3> coarseRgb, coarseLab;
    for (int i : levels)
        for (int j : levels)
            for (int k : levels)
                if (grid.Occupied(i, j, k)) {
                    coarseRgb.push_back(GridRgb(grid, i, j, k));
                    coarseLab.push_back(grid.Lab(i, j, k));
                }
    MeasuredGrid coarse;
    // A coarse level with no measured point at all would join two coarse cells into one.
    const bool built = coarse.Build(coarseRgb, coarseLab, nullptr) == GridBuild::Ok &&
                       coarse.N() == static_cast<int>(levels.size());
    check->coarseN = static_cast<int>(levels.size());

    DifferenceSet trilinear, tetrahedral;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < n; ++k) {
                const bool isKept = kept[static_cast<std::size_t>(i)] && kept[static_cast<std::size_t>(j)] &&
                                    kept[static_cast<std::size_t>(k)];
                if (isKept || !grid.Occupied(i, j, k))
                    continue;
                ++check->leftOut;
                CheckedPatch patch;
                patch.rgb = GridRgb(grid, i, j, k);
                Color3 byTetrahedra;
                if (!built || coarse.Interpolate(patch.rgb, Interpolation::Trilinear, &patch.predicted) != GridLookup::Ok)
                    continue;
                coarse.Interpolate(patch.rgb, Interpolation::Tetrahedral, &byTetrahedra);
                patch.measured = grid.Lab(i, j, k);
                const Difference d = Compare(patch.measured, patch.predicted);
                trilinear.Add(d);
                tetrahedral.Add(Compare(patch.measured, byTetrahedra));
                patch.de76 = d.de76;
                patch.de2000 = d.de2000;
                worst->Offer(patch);
            }
    check->trilinear = trilinear.Summary();
    check->tetrahedral = tetrahedral.Summary();
}

// The sorted distinct values of one channel.
std::vector<double> DistinctValues(const std::vector<Color3>& patches, int channel)
{
    std::vector<double> values;
    for (const Color3& p : patches)
        values.push_back(p.c[channel]);
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

void GrayCheck(const std::vector<Color3>& rgb, const std::vector<Color3>& lab, ChartCheck* check,
               WorstPatches* worst)
{
    std::vector<Color3> gridRgb, gridLab, grayRgb;
    std::vector<std::size_t> grays;
    for (std::size_t p = 0; p < rgb.size(); ++p) {
        if (IsGray(rgb[p])) {
            grays.push_back(p);
            grayRgb.push_back(rgb[p]);
        } else {
            gridRgb.push_back(rgb[p]);
            gridLab.push_back(lab[p]);
        }
    }
    const std::size_t levels = DistinctValues(grayRgb, 0).size();
    if (rgb.size() != k_5202ChartPatches || grays.size() != k_5202GrayPatches || levels != k_5202GrayLevels)
        return;
    check->hasGrays = true;
    check->grayPatches = grays.size();
    check->grayLevels = levels;

    // A gray patch joins the grid when its level is on every axis of the other patches and no
    // gray patch before it took that level.
    std::vector<double> axes[3];
    for (int a = 0; a < 3; ++a)
        axes[a] = DistinctValues(gridRgb, a);
    std::vector<bool> taken(axes[0].size(), false);
    std::vector<std::size_t> beyond;
    for (std::size_t p : grays) {
        const double level = rgb[p].c[0];
        const auto onR = std::lower_bound(axes[0].begin(), axes[0].end(), level);
        const bool onGrid = onR != axes[0].end() && *onR == level &&
                            std::binary_search(axes[1].begin(), axes[1].end(), level) &&
                            std::binary_search(axes[2].begin(), axes[2].end(), level);
        const std::size_t position = static_cast<std::size_t>(onR - axes[0].begin());
        if (onGrid && !taken[position]) {
            taken[position] = true;
            gridRgb.push_back(rgb[p]);
            gridLab.push_back(lab[p]);
        } else {
            beyond.push_back(p);
        }
    }
    check->graysBeyond = beyond.size();

    MeasuredGrid grid;
    if (grid.Build(gridRgb, gridLab, nullptr) != GridBuild::Ok)
        return;
    DifferenceSet set;
    for (std::size_t p : beyond) {
        CheckedPatch patch;
        patch.source = CheckedPatch::Source::Gray;
        patch.rgb = rgb[p];
        patch.measured = lab[p];
        if (grid.Interpolate(patch.rgb, Interpolation::Trilinear, &patch.predicted) != GridLookup::Ok)
            continue;
        const Difference d = Compare(patch.measured, patch.predicted);
        set.Add(d);
        patch.de76 = d.de76;
        patch.de2000 = d.de2000;
        worst->Offer(patch);
    }
    check->grays = set.Summary();
}

void Smoothness(const MeasuredGrid& grid, ChartCheck* check)
{
    const int n = grid.N();
    std::vector<LightnessStep> drops;
    const auto steeper = [](const LightnessStep& a, const LightnessStep& b) {
        return a.lowerL - a.upperL > b.lowerL - b.upperL;
    };
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < n; ++k) {
                if (!grid.Occupied(i, j, k))
                    continue;
                for (int axis = 0; axis < 3; ++axis) {
                    int upper[3] = {i, j, k};
                    if (++upper[axis] >= n || !grid.Occupied(upper[0], upper[1], upper[2]))
                        continue;
                    const double lowerL = grid.Lab(i, j, k).c[0], upperL = grid.Lab(upper[0], upper[1], upper[2]).c[0];
                    if (!(upperL < lowerL))
                        continue;
                    ++check->nonmonotone;
                    // Kept sorted, largest drop first and ties in grid order.
                    const LightnessStep step{{i, j, k}, axis, lowerL, upperL};
                    drops.insert(std::upper_bound(drops.begin(), drops.end(), step, steeper), step);
                    if (drops.size() > k_steepestDrops)
                        drops.pop_back();
                }
            }
    check->steepestDrops = drops;
}

}  // namespace

DifferenceSummary Summarise(std::vector<float> values)
{
    DifferenceSummary s;
    s.count = values.size();
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    double sum = 0.0;
    for (float v : values)
        sum += v;
    s.mean = sum / static_cast<double>(values.size());
    // ceil(0.95 n) in whole numbers.
    const std::size_t rank = (95 * values.size() + 99) / 100;
    s.p95 = values[rank - 1];
    s.max = values.back();
    return s;
}

std::size_t FirstUncheckablePatch(const std::vector<Color3>& rgb, const std::vector<Color3>& lab)
{
    for (std::size_t p = 0; p < rgb.size() || p < lab.size(); ++p)
        if ((p < rgb.size() && !Checkable(rgb[p])) || (p < lab.size() && !Checkable(lab[p])))
            return p + 1;
    return 0;
}

ChartCheck CheckChart(const std::vector<Color3>& rgb, const std::vector<Color3>& lab, const MeasuredGrid& grid,
                      std::size_t worstCount)
{
    ChartCheck check;
    check.patches = rgb.size();
    check.n = grid.N();
    for (int a = 0; a < 3; ++a)
        check.evenlySpaced[a] = EvenlySpaced(grid.Axis(a));
    for (int i = 0; i < check.n; ++i)
        for (int j = 0; j < check.n; ++j)
            for (int k = 0; k < check.n; ++k)
                check.unoccupied += grid.Occupied(i, j, k) ? 0 : 1;

    check.repeatability = Repeatability(rgb, lab, &check.repeatedRgb);
    WorstPatches worst(worstCount);
    HoldOut(grid, &check, &worst);
    GrayCheck(rgb, lab, &check, &worst);
    Smoothness(grid, &check);
    check.worst = worst.Take();
    return check;
}
