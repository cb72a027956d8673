// Inverting the interpolation inside one grid cell, in the cell's own coordinates: the
// fractions f[0], f[1], f[2] in [0, 1] along R, G and B. Corner d = di * 4 + dj * 2 + dk of a
// corner array holds the Lab value at f = (di, dj, dk), as MeasuredGrid numbers them.
//
// Tetrahedral. The cell is six tetrahedra, one per order of the three fractions; the one in
// which f[a] >= f[b] >= f[c] has the corners 000, a, a + b and 111 (a, b, c the axes), and
// inside it the Lab value is linear in (f[a], f[b], f[c]): a 3 x 3 system gives the fractions
// of a wanted Lab. Each face of the cell is two triangles, split along the face's diagonal from
// its lowest corner to its highest.
//
// Trilinear. Around the centre of a box of fractions (the cell, one of its faces, or a part of
// either got by halving) the interpolation is
//     Lab(u) = m + P u + Q(u),   u = position in the box - 1/2 in [-1/2, 1/2]^n,
// where m is the mean of the box's corners, column a of P the mean of its edges along axis a,
// and Q holds the products of two or three coordinates. Q is of degree one in each coordinate,
// so its extremes over the box lie at the corners: |Q_c(u)| <= eta_c, the largest |Q_c| at a
// corner. Two consequences:
//   - a Lab value t can only be reached at u with |P u - (t - m)| <= |eta|: when the linear
//     model's solution u* = P^-1 (t - m) is further outside the box, along some axis, than
//     P^-1 can move it with eta, the box does not reach t;
//   - the distance from t to the box's Lab values is at least the distance from t to the
//     linear model's values on the box minus |eta|, a bound that tightens with the square of
//     the box's size as boxes are halved.
// Newton's method from u* finds a solution in the common case; halving the box, keeping the
// parts whose bound admits the wanted value, finds it in the others.
//
// The callers scale Lab values (by a power of two, which is exact) so that the corners'
// components are at most 1 in size: the searches' bounds and slack are in those units, and no
// product of differences can overflow.
//
// Every function here is pure: no state, callable from any thread.
#pragma once

#include "color3.h"
#include "grid.h"

#include <limits>

namespace cellinverse {

// A point of a cell and the CIE76 distance from its Lab value to the wanted one.
struct CellPoint {
    double f[3] = {0.0, 0.0, 0.0};
    double distance = std::numeric_limits<double>::infinity();
};

// Lab value at `f` under the interpolation, computed from the corners as the inversion sees it.
Color3 Evaluate(const Color3 corners[8], Interpolation how, const double f[3]);

// The cell's linear model in the form that tells cheaply whether the cell may reach a value:
// Lab(u) = m + P u + Q(u) with |Q_c| <= eta_c. Q is the same at the corners for both
// interpolations, and its extremes lie at the corners for both (it is multilinear, or linear
// inside each tetrahedron), so one model serves both.
struct CellModel {
    Color3 m;
    double inverse[3][3] = {};        // P^-1, when P is invertible
    double reach[3] = {0.0, 0.0, 0.0};  // sum over c of |P^-1[a][c]| (eta_c + tolerance)
    bool invertible = false;
};
CellModel ModelCell(const Color3 corners[8], double tolerance);
// False when the model proves that no point of the cell reaches `lab` within the tolerance:
// a solution u has |u - P^-1 (lab - m)| <= reach along each axis. Otherwise sets `start` to
// the fractions of the model's solution, clamped to the cell (the centre when P is singular).
bool MayReach(const CellModel& model, const Color3& lab, double start[3]);

// The fractions of `lab` in the first of the six tetrahedra (in the order (R, G, B), (R, B, G),
// (G, R, B), (G, B, R), (B, R, G), (B, G, R) of decreasing fraction) that reaches it within
// `tolerance` in each component. False when none does.
bool SolveTetrahedral(const Color3 corners[8], const Color3& lab, double tolerance, double f[3]);

// Newton's method from the fractions in f (MayReach's start), each step kept inside the cell.
// True when it ends within `tolerance`, with the fractions in f.
bool SolveTrilinearNewton(const Color3 corners[8], const Color3& lab, double tolerance, double f[3]);
// Halves the cell, lowest bound first, and tries Newton's method in every part whose linear
// model reaches `lab`, until a solution is found or the parts are exhausted (at most
// k_maxBoxes of them). False when none was found.
bool SolveTrilinearThorough(const Color3 corners[8], const Color3& lab, double tolerance, double f[3]);

// Most boxes one search takes apart; it bounds the time of a search on a degenerate cell.
inline constexpr int k_maxBoxes = 4096;

// How much nearer than a distance d found so far a part must be able to come to be searched:
// 1e-6 d, but at least 1e-12 and at most 1e-6 (in the scaled units).
double NearestSlack(double d);

// The point of the cell's face where fraction `axis` equals `side` (0 or 1) nearest to `lab`,
// or of the whole cell: replaces *best when it finds a point nearer than best->distance.
// Parts of the face or cell whose bound is not below best->distance - NearestSlack(best->distance)
// are not searched, so the result is within that slack of the true nearest distance.
void NearestOnFace(const Color3 corners[8], Interpolation how, int axis, int side, const Color3& lab, CellPoint* best);
void NearestInCell(const Color3 corners[8], Interpolation how, const Color3& lab, CellPoint* best);

// +1 or -1 when the Jacobian determinant of the map from fractions to Lab has that sign
// everywhere inside the cell, 0 when it may vanish or change sign there. Tetrahedral: the sign
// of each of the six linear pieces. Trilinear: the Jacobian's columns are blends, with
// non-negative weights summing to 1, of the cell's four edges along each axis, so its
// determinant is a blend of the 64 determinants of one edge per axis; one common strict sign
// of those is sufficient. A determinant counts as zero below 1e-12 times the product of its
// columns' lengths.
int CellOrientation(const Color3 corners[8], Interpolation how);

}  // namespace cellinverse
