// The inverse of a measured grid's interpolation: for a wanted Lab value, the device RGB inside
// the grid whose interpolated Lab value is that value, or, when there is none, the device RGB
// whose interpolated Lab value is nearest to it in CIE76.
//
// The domain is the grid's usable cells: cells whose eight corners are occupied and hold
// finite Lab values (MeasuredGrid::Interpolate refuses the others). Every RGB this module
// returns lies in a usable cell, and MeasuredGrid::Interpolate with the same interpolation
// accepts it.
//
// In gamut. The cells whose corners' Lab box holds the wanted value (found through a lattice
// of Lab bins over those boxes, cellindex.h) are tried in grid order: by their lower corner,
// R slowest, then G, then B. Tetrahedral: the first of them holding the value gives the
// answer, from the first of its six tetrahedra that holds it; each tetrahedron is linear, so a
// 3 x 3 system gives its RGB. Trilinear: each is tried with Newton's method from its linear
// estimate, and the first that converges gives the answer; only when none does are they
// searched again, in the same order, by halving them (cellinverse.h). The answer reproduces
// the wanted value to within Tolerance() in every component. Where folds in the measurements
// let several RGB give the same Lab value, these rules pick one, always the same.
//
// Out of gamut. The nearest value over the domain is reached on the domain's boundary surface
// (the faces of usable cells whose neighbour across the face is missing or unusable), or at a
// fold: where the map from RGB to Lab keeps its orientation everywhere, it maps every interior
// point to an interior point of its image. Cells where the orientation may vanish or change,
// and their neighbours of the other orientation, are therefore searched whole, besides the
// boundary faces. Tetrahedral: every face is two triangles and every cell six tetrahedra, and
// the nearest point of each is exact. Trilinear: faces and cells are halved, nearest bound
// first, until no part can be nearer by more than a millionth of the distance found (at least
// 1e-12 and at most 1e-6 times the power of two above the largest Lab component of the grid's
// points, so at most 1.28e-4 for Lab within 100): the answer is that near to the true minimum.
// When two points are equally near, the first found is kept. The cells with a share of the
// surface are found through a tree of their boxes (cellindex.h), nearest first.
//
// The searches work on Lab values scaled by a power of two (which is exact) so that the grid's
// are at most 1 in size; any finite chart is then searched without overflow.
//
// A GridInverse keeps a reference to its grid, which must outlive it unchanged. Invert is
// const and keeps no state between calls, so several threads may call it at once.
#pragma once

#include "cellinverse.h"
#include "cellindex.h"
#include "color3.h"
#include "grid.h"

#include <cstdint>
#include <vector>

// How the candidate cells are found: through the Lab bins and the tree of cellindex.h, or by
// looking at every cell in grid order. Both give the same in-gamut answers, and nearest
// distances that agree to the slack above; Scan is the yardstick.
enum class InverseSearch { Indexed, Scan };

struct InverseResult {
    Color3 rgb;           // in the grid's units, inside a usable cell
    Color3 lab;           // rgb's Lab value under the interpolation (MeasuredGrid::Interpolate)
    double deltaE = 0.0;  // CIE76 between the wanted Lab and lab
    bool inGamut = false; // lab equals the wanted Lab to within Tolerance() in every component
};

// CIE76 colour difference in double precision, without overflow for large differences.
double DeltaE76(const Color3& first, const Color3& second);

class GridInverse {
public:
    // Prepares the inversion of `grid` under `how`. False when the grid has no usable cell.
    bool Build(const MeasuredGrid& grid, Interpolation how, InverseSearch search = InverseSearch::Indexed);

    // The RGB for `lab` (see above). False, with *result untouched, when a component of `lab`
    // is not finite or the inverse is not built.
    bool Invert(const Color3& lab, InverseResult* result) const;

    // In-gamut answers reproduce the wanted Lab to this, in each component: 1e-12 times the
    // largest Lab component of the grid's points (at least 1), so 1e-10 for Lab within 100.
    double Tolerance() const { return m_tolerance; }

private:
    // Per cell: bits 0-5, the boundary faces (bit 2 * axis + side); k_foldCell, searched whole
    // for the nearest point; k_usable, the cell belongs to the domain.
    static constexpr std::uint8_t k_foldCell = 1 << 6;
    static constexpr std::uint8_t k_usable = 1 << 7;

    void CellIndex(int cell, int index[3]) const;
    // The cell's corners, scaled.
    void Corners(int cell, Color3 corners[8]) const;
    bool Usable(int i, int j, int k) const;
    void MarkFolds();
    void CellBoxes(int cell, LabBox* all, LabBox* surface) const;
    void BuildTrees();
    // The usable cells of the blocks whose box holds `lab` (every usable cell when scanning),
    // in grid order.
    void Candidates(const Color3& lab, class CandidateCells* cells) const;
    // cellinverse::MayReach with the cell's model.
    bool MayReach(int cell, const Color3& lab, double start[3]) const;
    // `scaled` is the wanted `lab`, scaled.
    bool SolveInGamut(const Color3& scaled, const Color3& lab, InverseResult* result) const;
    // Searches one cell's share of the gamut's surface for a point nearer than best to the
    // scaled wanted value; returns the distance beyond which nothing is wanted any more.
    double SearchSurface(int cell, const Color3& scaled, int* bestCell, cellinverse::CellPoint* best) const;
    // The result at fractions f of a cell; false when MeasuredGrid refuses its RGB.
    bool Answer(int cell, const double f[3], const Color3& lab, InverseResult* result) const;

    const MeasuredGrid* m_grid = nullptr;
    Interpolation m_how = Interpolation::Trilinear;
    InverseSearch m_search = InverseSearch::Indexed;
    int m_m = 0;  // cells per axis
    std::vector<std::uint8_t> m_flags;
    std::vector<cellinverse::CellModel> m_models;  // per cell, for grids small enough to keep them
    CellBins m_cells;    // usable cells, by the box of their corners
    CellTree m_surface;  // cells with boundary faces or folds, by the box of those
    double m_tolerance = 0.0;
    double m_scale = 1.0;              // the power of two that scales the grid's Lab to at most 1
    double m_scaledTolerance = 0.0;    // m_tolerance, scaled
};
