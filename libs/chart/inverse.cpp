#include "inverse.h"

#include <algorithm>
#include <cmath>

namespace {

// Grids of up to this many cells (33 values per axis) get trees whose leaves are single cells
// and keep every cell's model; larger ones get trees over blocks of up to 8 x 8 x 8 cells, at
// most this many, and make models when needed.
constexpr int k_maxLeaves = 1 << 15;
constexpr int k_blocksPerAxis = 32;
// Tolerance() against the largest Lab component of the grid's points.
constexpr double k_toleranceFactor = 1e-12;

}  // namespace

// The candidate cells of one query; the first few need no allocation.
class CandidateCells {
public:
    void Add(int cell)
    {
        if (m_count < k_inline) {
            m_inline[m_count++] = cell;
            return;
        }
        if (m_more.empty())
            m_more.assign(m_inline, m_inline + k_inline);
        m_more.push_back(cell);
        ++m_count;
    }
    int* begin() { return m_more.empty() ? m_inline : m_more.data(); }
    int* end() { return begin() + m_count; }

private:
    static constexpr int k_inline = 32;
    int m_inline[k_inline];
    int m_count = 0;
    std::vector<int> m_more;
};

double DeltaE76(const Color3& first, const Color3& second)
{
    return std::hypot(first.c[0] - second.c[0], first.c[1] - second.c[1], first.c[2] - second.c[2]);
}

bool GridInverse::Build(const MeasuredGrid& grid, Interpolation how, InverseSearch search)
{
    *this = GridInverse();
    if (grid.N() < 2)
        return false;
    m_grid = &grid;
    m_how = how;
    m_search = search;
    m_m = grid.N() - 1;
    const int cells = m_m * m_m * m_m;
    m_flags.assign(static_cast<std::size_t>(cells), 0);

    double largest = 1.0;
    bool any = false;
    for (int cell = 0; cell < cells; ++cell) {
        int index[3];
        CellIndex(cell, index);
        if (!grid.CellMeasured(index))
            continue;
        Color3 corners[8];
        Corners(cell, corners);
        bool finite = true;
        double size = 0.0;
        for (const Color3& c : corners)
            for (double v : c.c) {
                finite = finite && std::isfinite(v);
                size = std::max(size, std::fabs(v));
            }
        if (!finite)
            continue;
        m_flags[static_cast<std::size_t>(cell)] = k_usable;
        largest = std::max(largest, size);
        any = true;
    }
    if (!any) {
        *this = GridInverse();
        return false;
    }
    m_tolerance = k_toleranceFactor * largest;
    // largest = f 2^e with f in [0.5, 1): scaled by 2^-e it is below 1.
    int exponent = 0;
    std::frexp(largest, &exponent);
    m_scale = std::ldexp(1.0, -exponent);
    m_scaledTolerance = m_tolerance * m_scale;

    for (int cell = 0; cell < cells; ++cell) {
        std::uint8_t& flags = m_flags[static_cast<std::size_t>(cell)];
        if (!(flags & k_usable))
            continue;
        int index[3];
        CellIndex(cell, index);
        for (int axis = 0; axis < 3; ++axis)
            for (int side = 0; side < 2; ++side) {
                int next[3] = {index[0], index[1], index[2]};
                next[axis] += side ? 1 : -1;
                if (!Usable(next[0], next[1], next[2]))
                    flags |= static_cast<std::uint8_t>(1 << (2 * axis + side));
            }
    }
    MarkFolds();
    if (cells <= k_maxLeaves) {
        m_models.resize(static_cast<std::size_t>(cells));
        for (int cell = 0; cell < cells; ++cell) {
            if (!(m_flags[static_cast<std::size_t>(cell)] & k_usable))
                continue;
            Color3 corners[8];
            Corners(cell, corners);
            m_models[static_cast<std::size_t>(cell)] = cellinverse::ModelCell(corners, m_scaledTolerance);
        }
    }
    BuildTrees();
    return true;
}

void GridInverse::CellIndex(int cell, int index[3]) const
{
    index[0] = cell / (m_m * m_m);
    index[1] = cell / m_m % m_m;
    index[2] = cell % m_m;
}

void GridInverse::Corners(int cell, Color3 corners[8]) const
{
    int index[3];
    CellIndex(cell, index);
    for (int d = 0; d < 8; ++d) {
        corners[d] = m_grid->Lab(index[0] + (d >> 2), index[1] + ((d >> 1) & 1), index[2] + (d & 1));
        for (double& v : corners[d].c)
            v *= m_scale;
    }
}

bool GridInverse::Usable(int i, int j, int k) const
{
    if (i < 0 || j < 0 || k < 0 || i >= m_m || j >= m_m || k >= m_m)
        return false;
    return m_flags[static_cast<std::size_t>((i * m_m + j) * m_m + k)] & k_usable;
}

// A cell is searched whole when its orientation may vanish or change inside it, or when a
// neighbour (sharing a face, an edge or a corner) has the other orientation: a fold then runs
// along their common boundary.
void GridInverse::MarkFolds()
{
    const int cells = m_m * m_m * m_m;
    std::vector<std::int8_t> orientation(static_cast<std::size_t>(cells), 0);
    for (int cell = 0; cell < cells; ++cell) {
        if (!(m_flags[static_cast<std::size_t>(cell)] & k_usable))
            continue;
        Color3 corners[8];
        Corners(cell, corners);
        orientation[static_cast<std::size_t>(cell)] =
            static_cast<std::int8_t>(cellinverse::CellOrientation(corners, m_how));
    }
    for (int cell = 0; cell < cells; ++cell) {
        std::uint8_t& flags = m_flags[static_cast<std::size_t>(cell)];
        if (!(flags & k_usable))
            continue;
        const int own = orientation[static_cast<std::size_t>(cell)];
        bool fold = own == 0;
        int index[3];
        CellIndex(cell, index);
        for (int di = -1; di <= 1 && !fold; ++di)
            for (int dj = -1; dj <= 1 && !fold; ++dj)
                for (int dk = -1; dk <= 1 && !fold; ++dk) {
                    const int i = index[0] + di, j = index[1] + dj, k = index[2] + dk;
                    fold = Usable(i, j, k) && orientation[static_cast<std::size_t>((i * m_m + j) * m_m + k)] == -own;
                }
        if (fold)
            flags |= k_foldCell;
    }
}

// The box of the cell's corners, and the box of its share of the surface searched for the
// nearest point: the whole cell for a fold cell, else its boundary faces.
void GridInverse::CellBoxes(int cell, LabBox* all, LabBox* surface) const
{
    const std::uint8_t flags = m_flags[static_cast<std::size_t>(cell)];
    if (!(flags & k_usable))
        return;
    Color3 corners[8];
    Corners(cell, corners);
    LabBox box;
    for (int d = 0; d < 8; ++d)
        box.Add(corners[d]);
    all->Add(box);
    if (flags & k_foldCell) {
        surface->Add(box);
        return;
    }
    for (int d = 0; d < 8; ++d)
        for (int axis = 0; axis < 3; ++axis) {
            const int side = (d >> (2 - axis)) & 1;
            if (flags & (1 << (2 * axis + side)))
                surface->Add(corners[d]);
        }
}

void GridInverse::BuildTrees()
{
    const int side = m_m * m_m * m_m <= k_maxLeaves ? 1 : (m_m + k_blocksPerAxis - 1) / k_blocksPerAxis;
    std::vector<CellBlock> all, surface;
    for (int i = 0; i < m_m; i += side)
        for (int j = 0; j < m_m; j += side)
            for (int k = 0; k < m_m; k += side) {
                CellBlock block;
                block.lo[0] = i;
                block.lo[1] = j;
                block.lo[2] = k;
                for (int a = 0; a < 3; ++a)
                    block.hi[a] = std::min(block.lo[a] + side, m_m);
                CellBlock shell = block;
                for (int bi = block.lo[0]; bi < block.hi[0]; ++bi)
                    for (int bj = block.lo[1]; bj < block.hi[1]; ++bj)
                        for (int bk = block.lo[2]; bk < block.hi[2]; ++bk)
                            CellBoxes((bi * m_m + bj) * m_m + bk, &block.box, &shell.box);
                all.push_back(block);
                surface.push_back(shell);
            }
    m_cells.Build(m_m, all, m_scaledTolerance);
    m_surface.Build(m_m, std::move(surface));
}

void GridInverse::Candidates(const Color3& lab, CandidateCells* cells) const
{
    auto add = [&](int cell) {
        if (m_flags[static_cast<std::size_t>(cell)] & k_usable)
            cells->Add(cell);
    };
    if (m_search == InverseSearch::Scan) {
        for (int cell = 0, count = m_m * m_m * m_m; cell < count; ++cell)
            add(cell);
        return;
    }
    m_cells.ForEachCellAt(lab, add);
    std::sort(cells->begin(), cells->end());
}

bool GridInverse::MayReach(int cell, const Color3& lab, double start[3]) const
{
    if (!m_models.empty())
        return cellinverse::MayReach(m_models[static_cast<std::size_t>(cell)], lab, start);
    Color3 corners[8];
    Corners(cell, corners);
    return cellinverse::MayReach(cellinverse::ModelCell(corners, m_scaledTolerance), lab, start);
}

bool GridInverse::SolveInGamut(const Color3& scaled, const Color3& lab, InverseResult* result) const
{
    CandidateCells cells;
    Candidates(scaled, &cells);
    std::vector<int> unsure;
    double f[3];
    Color3 corners[8];
    for (int cell : cells) {
        if (!MayReach(cell, scaled, f))
            continue;
        Corners(cell, corners);
        const bool found = m_how == Interpolation::Tetrahedral
                               ? cellinverse::SolveTetrahedral(corners, scaled, m_scaledTolerance, f)
                               : cellinverse::SolveTrilinearNewton(corners, scaled, m_scaledTolerance, f);
        if (found && Answer(cell, f, lab, result) && result->inGamut)
            return true;
        // Tetrahedral solving is exact: a cell it finds nothing in holds nothing.
        if (m_how == Interpolation::Trilinear)
            unsure.push_back(cell);
    }
    for (int cell : unsure) {
        Corners(cell, corners);
        if (cellinverse::SolveTrilinearThorough(corners, scaled, m_scaledTolerance, f) && Answer(cell, f, lab, result) &&
            result->inGamut)
            return true;
    }
    return false;
}

double GridInverse::SearchSurface(int cell, const Color3& scaled, int* bestCell, cellinverse::CellPoint* best) const
{
    const std::uint8_t flags = m_flags[static_cast<std::size_t>(cell)];
    if ((flags & k_usable) && (flags & (k_foldCell | 0x3f))) {
        Color3 corners[8];
        Corners(cell, corners);
        cellinverse::CellPoint point = *best;
        if (flags & k_foldCell) {
            cellinverse::NearestInCell(corners, m_how, scaled, &point);
        } else {
            for (int face = 0; face < 6; ++face)
                if (flags & (1 << face))
                    cellinverse::NearestOnFace(corners, m_how, face / 2, face % 2, scaled, &point);
        }
        if (point.distance < best->distance) {
            *best = point;
            *bestCell = cell;
        }
    }
    return best->distance - cellinverse::NearestSlack(best->distance);
}

bool GridInverse::Answer(int cell, const double f[3], const Color3& lab, InverseResult* result) const
{
    int index[3];
    CellIndex(cell, index);
    Color3 rgb;
    for (int a = 0; a < 3; ++a) {
        const double x0 = m_grid->Axis(a)[static_cast<std::size_t>(index[a])];
        const double x1 = m_grid->Axis(a)[static_cast<std::size_t>(index[a]) + 1];
        rgb.c[a] = f[a] >= 1.0 ? x1 : std::clamp(x0 + f[a] * (x1 - x0), x0, x1);
    }
    // A value on a cell's lowest face belongs to the cell below; when that one is not usable
    // the value moves up by the least amount, into this cell.
    // The Lab is what MeasuredGrid::Interpolate gives: the located cell's interpolation.
    GridCell located;
    if (m_grid->Locate(rgb, &located) != GridLookup::Ok)
        return false;
    if (!Usable(located.index[0], located.index[1], located.index[2])) {
        for (int a = 0; a < 3; ++a)
            if (located.index[a] != index[a])
                rgb.c[a] = std::nextafter(rgb.c[a], m_grid->Axis(a)[static_cast<std::size_t>(index[a]) + 1]);
        if (m_grid->Locate(rgb, &located) != GridLookup::Ok)
            return false;
    }
    const Color3 reached = m_grid->InterpolateInCell(located, m_how);
    result->rgb = rgb;
    result->lab = reached;
    result->deltaE = DeltaE76(lab, reached);
    result->inGamut = true;
    for (int a = 0; a < 3; ++a)
        result->inGamut = result->inGamut && std::fabs(reached.c[a] - lab.c[a]) <= m_tolerance;
    return true;
}

bool GridInverse::Invert(const Color3& lab, InverseResult* result) const
{
    if (!m_grid || !std::isfinite(lab.c[0]) || !std::isfinite(lab.c[1]) || !std::isfinite(lab.c[2]))
        return false;
    const Color3 scaled{{lab.c[0] * m_scale, lab.c[1] * m_scale, lab.c[2] * m_scale}};
    InverseResult answer;
    if (SolveInGamut(scaled, lab, &answer)) {
        *result = answer;
        return true;
    }
    cellinverse::CellPoint best;
    int bestCell = -1;
    auto search = [&](int cell) { return SearchSurface(cell, scaled, &bestCell, &best); };
    if (m_search == InverseSearch::Scan) {
        for (int cell = 0, count = m_m * m_m * m_m; cell < count; ++cell)
            search(cell);
    } else {
        m_surface.ForEachCellNear(scaled, search);
    }
    if (bestCell < 0) {
        // Every distance overflowed: any point is as near as another; the first usable
        // cell's lowest corner stands for them.
        bestCell = static_cast<int>(std::find_if(m_flags.begin(), m_flags.end(),
                                                 [](std::uint8_t f) { return (f & k_usable) != 0; }) -
                                    m_flags.begin());
        best = cellinverse::CellPoint();
    }
    if (!Answer(bestCell, best.f, lab, &answer))
        return false;
    *result = answer;
    return true;
}
