// The measured grid: a chart's reference patches as a regular N x N x N grid of measured Lab
// values, and the Lab value of any device RGB inside it.
//
// Building. The distinct values of each RGB channel (NaN and values at or below -999 left
// out) are that channel's axis, strictly increasing; the three axes must be equally long
// (N values each, at most k_maxAxisValues). Every patch must then sit on a grid point.
// Patches sharing a grid point (the same RGB, exactly) are averaged: their Lab values are
// summed in list order and the sum is multiplied by the reciprocal of their count. A grid
// point no patch sits on is unoccupied. The 5202-patch chart reduction is not part of the
// build: callers run Preprocess5202Target first.
//
// Locating. A target lies in the cell whose lower corner is (i, j, k) on the R, G and B axes
// when axis[i] <= R <= axis[i + 1] and likewise for G and B; on each axis the smallest such
// index is taken, so a value equal to an interior axis value belongs to the cell below it
// (at the cell's top). Targets outside the grid and NaN components lie in no cell.
//
// Interpolating, inside a cell whose eight corners are all occupied (the other cells refuse):
//   trilinear    four interpolations along B, two along G, one along R;
//   tetrahedral  the cell is split into the six tetrahedra that share its diagonal from the
//                lowest corner to the highest; the order of the three fractional positions
//                picks the one holding the target, whose four corners are blended with the
//                target's barycentric weights. Exact on every corner of the cell.
//
// Grid points are numbered (i * N + j) * N + k: B varies fastest, then G, then R.
#pragma once

#include "color3.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

// Largest number of values per axis: the grid point table then takes 64 MiB.
inline constexpr long long k_maxAxisValues = 256;

enum class Interpolation { Trilinear, Tetrahedral };

// How a build ended.
enum class GridBuild {
    Ok,
    UnequalLists,   // the RGB and Lab lists differ in length
    UnequalAxes,    // the channels have different numbers of distinct values
    TooManyValues,  // more than k_maxAxisValues values per axis
    OutOfMemory,    // the grid point table cannot be had
    OffAxis,        // a patch has a NaN component or one at or below -999
};

// Why a target has, or has no, Lab value.
enum class GridLookup {
    Ok,
    OutsideGrid,       // a component outside its axis, or NaN
    UnmeasuredCorner,  // the target's cell has a corner no patch sits on
};

// A cell and a point inside it, in the axes' own units.
struct GridCell {
    int index[3] = {0, 0, 0};               // the lower corner on the R, G and B axes
    double position[3] = {0.0, 0.0, 0.0};   // R, G and B of the point
};

// Tetrahedral interpolation inside one cell: `corners` numbered di * 4 + dj * 2 + dk (di along
// R, dj along G, dk along B), `fraction` the point's position along R, G and B, each 0 on the
// cell's lower corner and 1 on its upper one.
Color3 TetrahedralBlend(const Color3 corners[8], const double fraction[3]);

class MeasuredGrid {
public:
    // Builds the grid from index-parallel lists. Once the three axes are known to be equally
    // long, and before anything else can fail, prints "Appears to be a N x N x N grid.\n" to
    // `report` when it is not null. After a failure the grid is empty (N() is 0).
    GridBuild Build(const std::vector<Color3>& referenceRgb, const std::vector<Color3>& measuredLab,
                    std::FILE* report);

    int N() const { return static_cast<int>(m_n); }
    // The distinct values of channel 0 (R), 1 (G) or 2 (B), strictly increasing.
    const std::vector<double>& Axis(int channel) const { return m_axes[channel]; }
    // Number of reference patches the grid was built from.
    std::size_t PatchCount() const { return m_lab.size(); }
    // Whether a patch sits on grid point (i, j, k); each index in [0, N).
    bool Occupied(int i, int j, int k) const { return m_points[Point(i, j, k)] >= 0; }
    // The (averaged) Lab value of an occupied grid point.
    const Color3& Lab(int i, int j, int k) const { return m_lab[static_cast<std::size_t>(m_points[Point(i, j, k)])]; }

    // The cell holding `rgb`, with `rgb` as its point; OutsideGrid when there is none.
    GridLookup Locate(const Color3& rgb, GridCell* cell) const;
    // The fractional position of the cell's point along each axis: 0 on the cell's lower
    // corner, 1 on its upper corner.
    void Fractions(const GridCell& cell, double fraction[3]) const;
    // Whether all eight corners of the cell with lower corner `index` are occupied; each index
    // in [0, N - 1).
    bool CellMeasured(const int index[3]) const;
    // The Lab value at the cell's point, which may lie anywhere in the cell, faces included.
    // The cell must be measured.
    Color3 InterpolateInCell(const GridCell& cell, Interpolation how) const;
    // Locate, CellMeasured and InterpolateInCell in one call. `lab` may be `rgb` itself: the
    // target is read before its Lab value is written, and left as it is on failure.
    GridLookup Interpolate(const Color3& rgb, Interpolation how, Color3* lab) const;

private:
    std::int64_t Point(std::int64_t i, std::int64_t j, std::int64_t k) const { return (i * m_n + j) * m_n + k; }
    std::int64_t PointOf(const Color3& rgb) const;
    bool Fill(const std::vector<Color3>& referenceRgb);
    void AverageDuplicates(const std::vector<Color3>& referenceRgb);
    // Corner c<di><dj><dk> of a cell (di along R, dj along G, dk along B) is entry
    // di * 4 + dj * 2 + dk of a corner array.
    static int CornerNumber(int di, int dj, int dk) { return di * 4 + dj * 2 + dk; }
    // Where the eight corners' Lab values are; false when one of them is unoccupied.
    bool GatherCorners(const int index[3], const Color3* corners[8]) const;
    Color3 Blend(const GridCell& cell, const Color3* const corners[8], Interpolation how) const;
    Color3 Trilinear(const GridCell& cell, const Color3* const corners[8]) const;

    std::vector<double> m_axes[3];
    double m_perUnit[3] = {0.0, 0.0, 0.0};     // each axis's positions per unit, were it evenly spaced
    std::int64_t m_n = 0;
    std::unique_ptr<std::int32_t[]> m_points;  // patch index per grid point, -1 when unoccupied
    std::vector<Color3> m_lab;                 // measured Lab per patch, averages at each point's patch
};
