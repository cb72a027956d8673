#include "cellinverse.h"

#include "cellindex.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace cellinverse {

namespace {

constexpr double k_infinity = std::numeric_limits<double>::infinity();

// A pivot of a small system counts as zero below this times the system's largest entry.
constexpr double k_pivotFloor = 1e-13;
// A determinant counts as zero below this times the product of its columns' lengths.
constexpr double k_flatDeterminant = 1e-12;
// Barycentric weights and box coordinates this far outside their range still count as in it
// (and are then clamped): rounding must not lose a point on a face.
constexpr double k_edgeSlack = 1e-12;
// Newton's method: iterations from a cell's linear estimate, from a part of a halved cell,
// and step halvings before a step counts as failed.
constexpr int k_newtonIterations = 30;
constexpr int k_newtonIterationsInPart = 12;
constexpr int k_stepHalvings = 12;

// Corner bit of each axis: R is the high bit of a corner number, B the low one.
constexpr int Bit(int axis)
{
    return 4 >> axis;
}

// The six tetrahedra, each as its axes in order of decreasing fraction.
constexpr int k_tetrahedra[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
// The sign of each of those orders as a permutation of (R, G, B).
constexpr int k_tetrahedronParity[6] = {1, -1, -1, 1, 1, -1};

double Clamp01(double v)
{
    // A NaN becomes 0.
    return v > 0.0 ? (v < 1.0 ? v : 1.0) : 0.0;
}

Color3 Minus(const Color3& a, const Color3& b)
{
    return Color3{{a.c[0] - b.c[0], a.c[1] - b.c[1], a.c[2] - b.c[2]}};
}

double Length(const Color3& v)
{
    return std::sqrt(v.c[0] * v.c[0] + v.c[1] * v.c[1] + v.c[2] * v.c[2]);
}

double Distance(const Color3& a, const Color3& b)
{
    return Length(Minus(a, b));
}

double LargestComponent(const Color3& v)
{
    return std::max({std::fabs(v.c[0]), std::fabs(v.c[1]), std::fabs(v.c[2])});
}

double Determinant(const Color3& a, const Color3& b, const Color3& c)
{
    return a.c[0] * (b.c[1] * c.c[2] - b.c[2] * c.c[1]) - b.c[0] * (a.c[1] * c.c[2] - a.c[2] * c.c[1]) +
           c.c[0] * (a.c[1] * b.c[2] - a.c[2] * b.c[1]);
}

// +1, -1, or 0 for a determinant too small against its columns to trust its sign.
int Orientation(const Color3& a, const Color3& b, const Color3& c)
{
    const double det = Determinant(a, b, c);
    const double floor = k_flatDeterminant * Length(a) * Length(b) * Length(c);
    if (det > floor)
        return 1;
    if (det < -floor)
        return -1;
    return 0;
}

// Solves the k x k system a x = b (k <= 3) by Gaussian elimination with partial pivoting; a
// and b are overwritten. False when a pivot counts as zero or the result is not finite.
bool SolveSmall(int k, double a[3][3], double b[3], double x[3])
{
    double scale = 0.0;
    for (int r = 0; r < k; ++r)
        for (int c = 0; c < k; ++c)
            scale = std::max(scale, std::fabs(a[r][c]));
    if (!(scale > 0.0) || !std::isfinite(scale))
        return false;
    for (int col = 0; col < k; ++col) {
        int pivot = col;
        for (int r = col + 1; r < k; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col]))
                pivot = r;
        if (!(std::fabs(a[pivot][col]) > k_pivotFloor * scale))
            return false;
        if (pivot != col) {
            for (int c = 0; c < k; ++c)
                std::swap(a[pivot][c], a[col][c]);
            std::swap(b[pivot], b[col]);
        }
        for (int r = col + 1; r < k; ++r) {
            const double factor = a[r][col] / a[col][col];
            for (int c = col; c < k; ++c)
                a[r][c] -= factor * a[col][c];
            b[r] -= factor * b[col];
        }
    }
    for (int r = k - 1; r >= 0; --r) {
        double sum = b[r];
        for (int c = r + 1; c < k; ++c)
            sum -= a[r][c] * x[c];
        x[r] = sum / a[r][r];
        if (!std::isfinite(x[r]))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Simplices (tetrahedral interpolation)

// A simplex of `count` vertices (1 to 4): their Lab values and their fractions in the cell.
struct Simplex {
    int count = 0;
    Color3 lab[4];
    double f[4][3];
};

// The tetrahedron of order `t` of k_tetrahedra.
Simplex Tetrahedron(const Color3 corners[8], int t)
{
    const int* o = k_tetrahedra[t];
    const int vertex[4] = {0, Bit(o[0]), Bit(o[0]) | Bit(o[1]), 7};
    Simplex s;
    s.count = 4;
    for (int v = 0; v < 4; ++v) {
        s.lab[v] = corners[vertex[v]];
        for (int a = 0; a < 3; ++a)
            s.f[v][a] = (vertex[v] & Bit(a)) ? 1.0 : 0.0;
    }
    return s;
}

// The point of the simplex nearest to `t`: the nearest point of each face's affine hull is
// found from its Gram system and kept when its weights are not negative; a face whose system
// is singular has its nearest point on a smaller face, which is also searched. Sets the
// point's fractions and returns its distance.
double NearestInSimplex(const Simplex& s, const Color3& t, double f[3])
{
    double best = k_infinity;
    for (int mask = 1; mask < (1 << s.count); ++mask) {
        int member[4];
        int k = 0;
        for (int v = 0; v < s.count; ++v)
            if (mask & (1 << v))
                member[k++] = v;
        const Color3& base = s.lab[member[0]];
        Color3 edge[3];
        for (int e = 1; e < k; ++e)
            edge[e - 1] = Minus(s.lab[member[e]], base);
        const Color3 toTarget = Minus(t, base);
        double weight[4] = {1.0, 0.0, 0.0, 0.0};
        if (k > 1) {
            double gram[3][3], rhs[3], x[3];
            for (int r = 0; r < k - 1; ++r) {
                for (int c = 0; c < k - 1; ++c)
                    gram[r][c] = edge[r].c[0] * edge[c].c[0] + edge[r].c[1] * edge[c].c[1] + edge[r].c[2] * edge[c].c[2];
                rhs[r] = edge[r].c[0] * toTarget.c[0] + edge[r].c[1] * toTarget.c[1] + edge[r].c[2] * toTarget.c[2];
            }
            if (!SolveSmall(k - 1, gram, rhs, x))
                continue;
            double sum = 0.0;
            bool inside = true;
            for (int e = 1; e < k; ++e) {
                weight[e] = x[e - 1];
                sum += x[e - 1];
                inside = inside && weight[e] >= -k_edgeSlack;
            }
            weight[0] = 1.0 - sum;
            if (!inside || weight[0] < -k_edgeSlack)
                continue;
            double total = 0.0;
            for (int e = 0; e < k; ++e) {
                weight[e] = std::max(weight[e], 0.0);
                total += weight[e];
            }
            for (int e = 0; e < k; ++e)
                weight[e] /= total;
        }
        Color3 point;
        double at[3] = {0.0, 0.0, 0.0};
        for (int e = 0; e < k; ++e)
            for (int a = 0; a < 3; ++a) {
                point.c[a] += weight[e] * s.lab[member[e]].c[a];
                at[a] += weight[e] * s.f[member[e]][a];
            }
        const double d = Distance(point, t);
        if (d < best) {
            best = d;
            for (int a = 0; a < 3; ++a)
                f[a] = Clamp01(at[a]);
        }
    }
    return best;
}

LabBox BoxOf(const Color3* points, int count)
{
    LabBox box;
    for (int p = 0; p < count; ++p)
        box.Add(points[p]);
    return box;
}

// Below this, a part may hold a point worth searching for.
double SearchLimit(const CellPoint& best)
{
    return best.distance - NearestSlack(best.distance);
}

// Searches one simplex when its box may hold a point nearer than the search limit.
void NearestInSimplexIfCloser(const Simplex& s, const Color3& t, CellPoint* best)
{
    if (!(BoxOf(s.lab, s.count).Distance(t) < SearchLimit(*best)))
        return;
    double f[3];
    const double d = NearestInSimplex(s, t, f);
    if (d < best->distance) {
        best->distance = d;
        std::copy(f, f + 3, best->f);
    }
}

// ---------------------------------------------------------------------------------------
// Multilinear patches (trilinear interpolation): a cell (n = 3) or one of its faces (n = 2)

// A multilinear map on [0, 1]^n: corner d holds its value where coordinate m is bit
// (n - 1 - m) of d, so a cell's corners keep their numbers.
struct Patch {
    int n = 3;
    Color3 c[8];
};

int PatchBit(const Patch& p, int m)
{
    return 1 << (p.n - 1 - m);
}

Color3 PatchAt(const Patch& p, const double s[3])
{
    Color3 out;
    for (int d = 0; d < (1 << p.n); ++d) {
        double w = 1.0;
        for (int m = 0; m < p.n; ++m)
            w *= (d & PatchBit(p, m)) ? s[m] : 1.0 - s[m];
        for (int c = 0; c < 3; ++c)
            out.c[c] += w * p.c[d].c[c];
    }
    return out;
}

// A cell's trilinear interpolation as a polynomial in its fractions (r, g, b):
// c0 + cr r + cg g + cb b + crg r g + crb r b + cgb g b + crgb r g b.
struct Polynomial {
    Color3 c0, cr, cg, cb, crg, crb, cgb, crgb;
};

Polynomial PolynomialOf(const Color3 c[8])
{
    Polynomial p;
    for (int n = 0; n < 3; ++n) {
        p.c0.c[n] = c[0].c[n];
        p.cr.c[n] = c[4].c[n] - c[0].c[n];
        p.cg.c[n] = c[2].c[n] - c[0].c[n];
        p.cb.c[n] = c[1].c[n] - c[0].c[n];
        p.crg.c[n] = (c[6].c[n] - c[4].c[n]) - (c[2].c[n] - c[0].c[n]);
        p.crb.c[n] = (c[5].c[n] - c[4].c[n]) - (c[1].c[n] - c[0].c[n]);
        p.cgb.c[n] = (c[3].c[n] - c[2].c[n]) - (c[1].c[n] - c[0].c[n]);
        p.crgb.c[n] = ((c[7].c[n] - c[6].c[n]) - (c[5].c[n] - c[4].c[n])) - ((c[3].c[n] - c[2].c[n]) - (c[1].c[n] - c[0].c[n]));
    }
    return p;
}

// The value at f, and when j is not null the Jacobian: j[component][axis].
Color3 ValueAt(const Polynomial& p, const double f[3], double j[3][3])
{
    const double r = f[0], g = f[1], b = f[2];
    Color3 v;
    for (int n = 0; n < 3; ++n) {
        v.c[n] = p.c0.c[n] + p.cr.c[n] * r + p.cg.c[n] * g + p.cb.c[n] * b + p.crg.c[n] * r * g + p.crb.c[n] * r * b +
                 p.cgb.c[n] * g * b + p.crgb.c[n] * r * g * b;
        if (j) {
            j[n][0] = p.cr.c[n] + p.crg.c[n] * g + p.crb.c[n] * b + p.crgb.c[n] * g * b;
            j[n][1] = p.cg.c[n] + p.crg.c[n] * r + p.cgb.c[n] * b + p.crgb.c[n] * r * b;
            j[n][2] = p.cb.c[n] + p.crb.c[n] * r + p.cgb.c[n] * g + p.crgb.c[n] * r * g;
        }
    }
    return v;
}

// Lab(u) = m + P u + Q(u) on u in [-1/2, 1/2]^n, with |Q_c(u)| <= eta_c (see the header).
struct Linear {
    Color3 m;
    double p[3][3] = {};  // p[c][axis]
    double eta[3] = {0.0, 0.0, 0.0};
};

// m is the mean of the corners and column `axis` of P the mean of the edges along that axis.
// Q holds only products of two or more coordinates, each of degree one, so its extremes over
// the box lie at the corners, where Q is the corner's value less the linear part.
Linear Linearise(const Patch& p)
{
    Linear lin;
    const int corners = 1 << p.n;
    for (int d = 0; d < corners; ++d)
        for (int c = 0; c < 3; ++c) {
            lin.m.c[c] += p.c[d].c[c];
            for (int axis = 0; axis < p.n; ++axis)
                lin.p[c][axis] += (d & PatchBit(p, axis)) ? p.c[d].c[c] : -p.c[d].c[c];
        }
    for (int c = 0; c < 3; ++c) {
        lin.m.c[c] /= corners;
        for (int axis = 0; axis < p.n; ++axis)
            lin.p[c][axis] *= 2.0 / corners;
    }
    for (int d = 0; d < corners; ++d)
        for (int c = 0; c < 3; ++c) {
            double q = p.c[d].c[c] - lin.m.c[c];
            for (int axis = 0; axis < p.n; ++axis)
                q -= lin.p[c][axis] * ((d & PatchBit(p, axis)) ? 0.5 : -0.5);
            lin.eta[c] = std::max(lin.eta[c], std::fabs(q));
        }
    return lin;
}

// The least |P u - r| over u in [-1/2, 1/2]^n: the minimum lies inside some face of the box
// (each coordinate free, or at -1/2 or 1/2), where it solves that face's normal equations; a
// face whose equations are singular holds its minimum on a smaller face too. The box itself
// comes first: when its solution lies inside, no face can do better. Sets u.
double BoxLeastSquares(int n, const double p[3][3], const Color3& r, double u[3])
{
    int states = 1;
    for (int m = 0; m < n; ++m)
        states *= 3;
    double best = k_infinity;
    for (int code = 0; code < states; ++code) {
        double v[3] = {0.0, 0.0, 0.0};
        int freeAxes[3];
        int k = 0;
        Color3 rest = r;
        for (int m = 0, rest3 = code; m < n; ++m, rest3 /= 3) {
            const int state = rest3 % 3;
            if (state == 0) {
                freeAxes[k++] = m;
                continue;
            }
            v[m] = state == 1 ? -0.5 : 0.5;
            for (int c = 0; c < 3; ++c)
                rest.c[c] -= p[c][m] * v[m];
        }
        if (k > 0) {
            double normal[3][3], rhs[3], x[3];
            for (int a = 0; a < k; ++a) {
                for (int b = 0; b < k; ++b)
                    normal[a][b] = p[0][freeAxes[a]] * p[0][freeAxes[b]] + p[1][freeAxes[a]] * p[1][freeAxes[b]] +
                                   p[2][freeAxes[a]] * p[2][freeAxes[b]];
                rhs[a] = p[0][freeAxes[a]] * rest.c[0] + p[1][freeAxes[a]] * rest.c[1] + p[2][freeAxes[a]] * rest.c[2];
            }
            if (!SolveSmall(k, normal, rhs, x))
                continue;
            bool inside = true;
            for (int a = 0; a < k; ++a) {
                inside = inside && std::fabs(x[a]) <= 0.5 + k_edgeSlack;
                v[freeAxes[a]] = std::clamp(x[a], -0.5, 0.5);
            }
            if (!inside)
                continue;
        }
        double sum = 0.0;
        for (int c = 0; c < 3; ++c) {
            double e = -r.c[c];
            for (int m = 0; m < n; ++m)
                e += p[c][m] * v[m];
            sum += e * e;
        }
        if (sum < best) {
            best = sum;
            std::copy(v, v + 3, u);
        }
        if (code == 0 && k == n)
            break;
    }
    return std::sqrt(best);
}

// A part of a patch got by halving: its lowest coordinates, side and corner values.
struct Part {
    double lower = 0.0;   // no point of the part is nearer to the target than this
    long sequence = 0;    // order of creation, which breaks ties between equal bounds
    double lo[3] = {0.0, 0.0, 0.0};
    double side = 1.0;
    Patch patch;
};

// Heap order: the part with the lowest bound, and of those the oldest, on top.
bool LaterPart(const Part& a, const Part& b)
{
    return a.lower > b.lower || (a.lower == b.lower && a.sequence > b.sequence);
}

// What a part's bound says about a target.
struct Bound {
    double lower = 0.0;        // no point of the part is nearer than this
    double linearGap = 0.0;    // distance from the target to the linear model on the part
    double s[3] = {0.5, 0.5, 0.5};  // the linear model's nearest point, in the part's coordinates
    double distance = k_infinity;   // the true distance at s (not computed when the bound says no)
};

// The bound of a part; when the box of its corners is already `noCloserThan` or further from
// the target, the rest is skipped.
Bound BoundPart(const Patch& patch, const Color3& t, double noCloserThan)
{
    Bound b;
    b.lower = BoxOf(patch.c, 1 << patch.n).Distance(t);
    if (!(b.lower < noCloserThan))
        return b;
    const Linear lin = Linearise(patch);
    double u[3] = {0.0, 0.0, 0.0};
    b.linearGap = BoxLeastSquares(patch.n, lin.p, Minus(t, lin.m), u);
    const double eta = std::sqrt(lin.eta[0] * lin.eta[0] + lin.eta[1] * lin.eta[1] + lin.eta[2] * lin.eta[2]);
    b.lower = std::max(b.lower, b.linearGap - eta);
    for (int m = 0; m < patch.n; ++m)
        b.s[m] = u[m] + 0.5;
    b.distance = Distance(PatchAt(patch, b.s), t);
    return b;
}

// The 2^n parts of a halved part, in corner-number order. A multilinear map is linear along
// every line parallel to an axis, so the value at a midpoint is the mean of the two ends: the
// 3^n lattice of the part's corners and midpoints is built one axis at a time.
void Halve(const Part& part, long* sequence, std::vector<Part>* out)
{
    const Patch& p = part.patch;
    const int n = p.n;
    // lattice[sum of l_m size^(n-1-m)] with l_m < size_m: sizes grow from 2 to 3 axis by axis.
    Color3 lattice[27], next[27];
    int size[3] = {2, 2, 2};
    std::copy(p.c, p.c + (1 << n), lattice);
    for (int axis = 0; axis < n; ++axis) {
        int outer = 1, inner = 1;
        for (int m = 0; m < axis; ++m)
            outer *= size[m];
        for (int m = axis + 1; m < n; ++m)
            inner *= size[m];
        for (int o = 0; o < outer; ++o)
            for (int i = 0; i < inner; ++i) {
                const Color3& low = lattice[(o * 2 + 0) * inner + i];
                const Color3& high = lattice[(o * 2 + 1) * inner + i];
                next[(o * 3 + 0) * inner + i] = low;
                next[(o * 3 + 2) * inner + i] = high;
                for (int c = 0; c < 3; ++c)
                    next[(o * 3 + 1) * inner + i].c[c] = (low.c[c] + high.c[c]) * 0.5;
            }
        size[axis] = 3;
        std::copy(next, next + outer * 3 * inner, lattice);
    }
    for (int child = 0; child < (1 << n); ++child) {
        Part& half = out->emplace_back();
        half.sequence = (*sequence)++;
        half.side = part.side * 0.5;
        half.patch.n = n;
        for (int m = 0; m < n; ++m)
            half.lo[m] = part.lo[m] + ((child & PatchBit(p, m)) ? half.side : 0.0);
        for (int d = 0; d < (1 << n); ++d) {
            int at = 0;
            for (int m = 0; m < n; ++m)
                at = at * 3 + ((child & PatchBit(p, m)) ? 1 : 0) + ((d & PatchBit(p, m)) ? 1 : 0);
            half.patch.c[d] = lattice[at];
        }
    }
}

// Where a patch lies in its cell: the cell's axis of each patch coordinate, and for a face the
// fixed axis and its fraction.
struct Frame {
    int axes[3] = {0, 1, 2};
    int fixedAxis = -1;
    double fixedValue = 0.0;
};

void ToCell(const Frame& frame, int n, const double s[3], double f[3])
{
    for (int m = 0; m < n; ++m)
        f[frame.axes[m]] = Clamp01(s[m]);
    if (frame.fixedAxis >= 0)
        f[frame.fixedAxis] = frame.fixedValue;
}

// Best-first search of a patch for the point nearest to t (see NearestOnFace).
void NearestInPatch(const Patch& patch, const Frame& frame, const Color3& t, CellPoint* best)
{
    std::vector<Part> heap, children;
    long sequence = 0;
    auto consider = [&](const Part& part) {
        const Bound b = BoundPart(part.patch, t, SearchLimit(*best));
        if (b.distance < best->distance) {
            double s[3];
            for (int m = 0; m < part.patch.n; ++m)
                s[m] = part.lo[m] + b.s[m] * part.side;
            best->distance = b.distance;
            ToCell(frame, part.patch.n, s, best->f);
        }
        if (b.lower < SearchLimit(*best)) {
            heap.push_back(part);
            heap.back().lower = b.lower;
            std::push_heap(heap.begin(), heap.end(), LaterPart);
        }
    };
    Part root;
    root.patch = patch;
    root.sequence = sequence++;
    consider(root);
    for (int taken = 0; !heap.empty() && taken < k_maxBoxes; ++taken) {
        std::pop_heap(heap.begin(), heap.end(), LaterPart);
        const Part part = heap.back();
        heap.pop_back();
        if (!(part.lower < SearchLimit(*best)))
            break;
        children.clear();
        Halve(part, &sequence, &children);
        for (const Part& child : children)
            consider(child);
    }
}

Patch CellPatch(const Color3 corners[8])
{
    Patch p;
    p.n = 3;
    std::copy(corners, corners + 8, p.c);
    return p;
}

bool WithinTolerance(const Color3& a, const Color3& b, double tolerance)
{
    return LargestComponent(Minus(a, b)) <= tolerance;
}

// Solves j x = b by Cramer's rule when the determinant is far from zero against the columns
// (where the rule is accurate); false otherwise.
bool SolveByCramer(const double j[3][3], const double b[3], double x[3])
{
    const Color3 c0{{j[0][0], j[1][0], j[2][0]}}, c1{{j[0][1], j[1][1], j[2][1]}}, c2{{j[0][2], j[1][2], j[2][2]}};
    const Color3 rhs{{b[0], b[1], b[2]}};
    const double det = Determinant(c0, c1, c2);
    if (!(std::fabs(det) > 1e-6 * Length(c0) * Length(c1) * Length(c2)))
        return false;
    x[0] = Determinant(rhs, c1, c2) / det;
    x[1] = Determinant(c0, rhs, c2) / det;
    x[2] = Determinant(c0, c1, rhs) / det;
    return true;
}

// Newton's method on a cell from the fractions in f, each step kept inside the cell and
// halved until it brings the Lab value nearer. True when it ends within `tolerance`.
bool Newton(const Polynomial& cell, const Color3& t, double tolerance, int iterations, double f[3])
{
    double j[3][3];
    Color3 residual = Minus(ValueAt(cell, f, j), t);
    double size = Length(residual);
    for (int it = 0; it < iterations; ++it) {
        if (LargestComponent(residual) <= tolerance)
            return true;
        double a[3][3], rhs[3], step[3];
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                a[r][c] = j[r][c];
            rhs[r] = -residual.c[r];
        }
        if (!SolveByCramer(j, rhs, step) && !SolveSmall(3, a, rhs, step)) {
            // A singular Jacobian: a damped least-squares step instead.
            double trace = 0.0;
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c)
                    a[r][c] = j[0][r] * j[0][c] + j[1][r] * j[1][c] + j[2][r] * j[2][c];
                rhs[r] = -(j[0][r] * residual.c[0] + j[1][r] * residual.c[1] + j[2][r] * residual.c[2]);
                trace += a[r][r];
            }
            for (int r = 0; r < 3; ++r)
                a[r][r] += 1e-9 * trace + 1e-300;
            if (!SolveSmall(3, a, rhs, step))
                return false;
        }
        bool nearer = false;
        double length = 1.0;
        for (int h = 0; h < k_stepHalvings && !nearer; ++h, length *= 0.5) {
            double next[3], nextJ[3][3];
            for (int a2 = 0; a2 < 3; ++a2)
                next[a2] = Clamp01(f[a2] + length * step[a2]);
            const Color3 r2 = Minus(ValueAt(cell, next, nextJ), t);
            const double size2 = Length(r2);
            if (size2 < size) {
                nearer = true;
                std::copy(next, next + 3, f);
                std::copy(&nextJ[0][0], &nextJ[0][0] + 9, &j[0][0]);
                residual = r2;
                size = size2;
            }
        }
        if (!nearer)
            break;
    }
    return LargestComponent(residual) <= tolerance;
}

// Inverse of a 3 x 3 matrix by its adjugate; false when the determinant counts as zero.
bool Invert3(const double p[3][3], double inverse[3][3])
{
    const Color3 col[3] = {Color3{{p[0][0], p[1][0], p[2][0]}}, Color3{{p[0][1], p[1][1], p[2][1]}},
                           Color3{{p[0][2], p[1][2], p[2][2]}}};
    if (Orientation(col[0], col[1], col[2]) == 0)
        return false;
    const double det = Determinant(col[0], col[1], col[2]);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            // Cofactor of p[c][r], from the rows and columns other than c and r.
            const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
            inverse[r][c] = (p[r1][c1] * p[r2][c2] - p[r1][c2] * p[r2][c1]) / det;
        }
    return true;
}

}  // namespace

Color3 Evaluate(const Color3 corners[8], Interpolation how, const double f[3])
{
    return how == Interpolation::Tetrahedral ? TetrahedralBlend(corners, f)
                                             : ValueAt(PolynomialOf(corners), f, nullptr);
}

bool SolveTetrahedral(const Color3 corners[8], const Color3& lab, double tolerance, double f[3])
{
    for (int t = 0; t < 6; ++t) {
        const Simplex s = Tetrahedron(corners, t);
        const int* o = k_tetrahedra[t];
        double a[3][3], b[3], g[3];
        for (int c = 0; c < 3; ++c) {
            for (int e = 0; e < 3; ++e)
                a[c][e] = s.lab[e + 1].c[c] - s.lab[e].c[c];
            b[c] = lab.c[c] - s.lab[0].c[c];
        }
        double at[3];
        if (SolveByCramer(a, b, g) || SolveSmall(3, a, b, g)) {
            // Inside when 1 >= g0 >= g1 >= g2 >= 0.
            const double e = k_edgeSlack;
            if (!(g[0] <= 1.0 + e && g[0] >= g[1] - e && g[1] >= g[2] - e && g[2] >= -e))
                continue;
            g[0] = Clamp01(g[0]);
            g[1] = std::clamp(g[1], 0.0, g[0]);
            g[2] = std::clamp(g[2], 0.0, g[1]);
            for (int i = 0; i < 3; ++i)
                at[o[i]] = g[i];
            if (WithinTolerance(TetrahedralBlend(corners, at), lab, tolerance)) {
                std::copy(at, at + 3, f);
                return true;
            }
        }
        // A flat tetrahedron, or one the system solves too coarsely: its nearest point.
        if (NearestInSimplex(s, lab, at) <= tolerance && WithinTolerance(TetrahedralBlend(corners, at), lab, tolerance)) {
            std::copy(at, at + 3, f);
            return true;
        }
    }
    return false;
}

CellModel ModelCell(const Color3 corners[8], double tolerance)
{
    const Linear lin = Linearise(CellPatch(corners));
    CellModel model;
    model.m = lin.m;
    model.invertible = Invert3(lin.p, model.inverse);
    if (model.invertible)
        for (int a = 0; a < 3; ++a)
            for (int c = 0; c < 3; ++c)
                model.reach[a] += std::fabs(model.inverse[a][c]) * (lin.eta[c] + tolerance);
    return model;
}

bool MayReach(const CellModel& model, const Color3& lab, double start[3])
{
    if (!model.invertible) {
        std::fill(start, start + 3, 0.5);
        return true;
    }
    const Color3 r = Minus(lab, model.m);
    for (int a = 0; a < 3; ++a) {
        const double u = model.inverse[a][0] * r.c[0] + model.inverse[a][1] * r.c[1] + model.inverse[a][2] * r.c[2];
        // Room for the rounding of u and of the reach.
        const double reach = model.reach[a] + 1e-9 * (1.0 + std::fabs(u) + model.reach[a]);
        if (u - reach > 0.5 || u + reach < -0.5)
            return false;
        start[a] = Clamp01(u + 0.5);
    }
    return true;
}

bool SolveTrilinearNewton(const Color3 corners[8], const Color3& lab, double tolerance, double f[3])
{
    return Newton(PolynomialOf(corners), lab, tolerance, k_newtonIterations, f);
}

bool SolveTrilinearThorough(const Color3 corners[8], const Color3& lab, double tolerance, double f[3])
{
    const Polynomial cell = PolynomialOf(corners);
    std::vector<Part> heap, children;
    long sequence = 0;
    Part root;
    root.patch = CellPatch(corners);
    root.sequence = sequence++;
    heap.push_back(root);
    for (int taken = 0; !heap.empty() && taken < k_maxBoxes; ++taken) {
        std::pop_heap(heap.begin(), heap.end(), LaterPart);
        const Part part = heap.back();
        heap.pop_back();
        const Bound b = BoundPart(part.patch, lab, k_infinity);
        if (b.lower > tolerance)
            continue;
        if (b.linearGap <= tolerance) {
            double at[3];
            for (int m = 0; m < 3; ++m)
                at[m] = Clamp01(part.lo[m] + b.s[m] * part.side);
            if (Newton(cell, lab, tolerance, k_newtonIterationsInPart, at)) {
                std::copy(at, at + 3, f);
                return true;
            }
        }
        children.clear();
        Halve(part, &sequence, &children);
        for (Part& child : children) {
            child.lower = BoxOf(child.patch.c, 8).Distance(lab);
            if (child.lower <= tolerance) {
                heap.push_back(child);
                std::push_heap(heap.begin(), heap.end(), LaterPart);
            }
        }
    }
    return false;
}

double NearestSlack(double d)
{
    return std::clamp(1e-6 * d, 1e-12, 1e-6);
}

void NearestOnFace(const Color3 corners[8], Interpolation how, int axis, int side, const Color3& lab, CellPoint* best)
{
    // The face's two free axes, in increasing order.
    const int p = axis == 0 ? 1 : 0, q = axis == 2 ? 1 : 2;
    const int base = side ? Bit(axis) : 0;
    if (how == Interpolation::Tetrahedral) {
        // Triangles (0,0) (1,0) (1,1) and (0,0) (0,1) (1,1) in (f[p], f[q]).
        const int along[2] = {Bit(p), Bit(q)};
        for (int half = 0; half < 2; ++half) {
            const int vertex[3] = {base, base | along[half], base | Bit(p) | Bit(q)};
            Simplex s;
            s.count = 3;
            for (int v = 0; v < 3; ++v) {
                s.lab[v] = corners[vertex[v]];
                for (int a = 0; a < 3; ++a)
                    s.f[v][a] = (vertex[v] & Bit(a)) ? 1.0 : 0.0;
            }
            NearestInSimplexIfCloser(s, lab, best);
        }
        return;
    }
    Patch face;
    face.n = 2;
    for (int d = 0; d < 4; ++d)
        face.c[d] = corners[base | ((d & 2) ? Bit(p) : 0) | ((d & 1) ? Bit(q) : 0)];
    Frame frame;
    frame.axes[0] = p;
    frame.axes[1] = q;
    frame.fixedAxis = axis;
    frame.fixedValue = side ? 1.0 : 0.0;
    NearestInPatch(face, frame, lab, best);
}

void NearestInCell(const Color3 corners[8], Interpolation how, const Color3& lab, CellPoint* best)
{
    if (how == Interpolation::Tetrahedral) {
        for (int t = 0; t < 6; ++t)
            NearestInSimplexIfCloser(Tetrahedron(corners, t), lab, best);
        return;
    }
    NearestInPatch(CellPatch(corners), Frame(), lab, best);
}

int CellOrientation(const Color3 corners[8], Interpolation how)
{
    int sign = 0;
    // Each determinant must have the first one's strict sign.
    auto agree = [&sign](int s) {
        if (s == 0 || (sign != 0 && s != sign))
            return false;
        sign = s;
        return true;
    };
    if (how == Interpolation::Tetrahedral) {
        for (int t = 0; t < 6; ++t) {
            const Simplex s = Tetrahedron(corners, t);
            const int o = Orientation(Minus(s.lab[1], s.lab[0]), Minus(s.lab[2], s.lab[1]), Minus(s.lab[3], s.lab[2]));
            if (!agree(o * k_tetrahedronParity[t]))
                return 0;
        }
        return sign;
    }
    // The four edges along each axis, by the corner they start from.
    Color3 edges[3][4];
    for (int a = 0; a < 3; ++a) {
        int e = 0;
        for (int d = 0; d < 8; ++d)
            if (!(d & Bit(a)))
                edges[a][e++] = Minus(corners[d | Bit(a)], corners[d]);
    }
    for (const Color3& r : edges[0])
        for (const Color3& g : edges[1])
            for (const Color3& b : edges[2])
                if (!agree(Orientation(r, g, b)))
                    return 0;
    return sign;
}

}  // namespace cellinverse
