// How far a measured chart can be trusted, in numbers.
//
// Repeatability. Patches with identical device RGB in the chart as read (before the
// 5202-patch reduction) form a group; every measurement of a group of two or more is
// compared with the group's mean Lab.
//
// Hold-out. On the grid the conversions use (after the reduction and the averaging of
// repeats), the levels 0, 2, 4, ... of each axis, and always the last one, form a coarser
// grid. It predicts every measured grid point it leaves out, by trilinear and by
// tetrahedral interpolation: the interpolation error at half the chart's density, an upper
// bound for the full chart. A left-out point whose coarse cell has an unmeasured corner is
// not predicted.
//
// Grays. A chart the 5202-patch reduction accepts holds, besides its grid, gray patches
// beyond it. The grid patches are the non-gray patches and, at each gray level on their
// axes, the first gray patch in chart order; every other gray patch is predicted by
// trilinear interpolation in the grid of the grid patches as measured.
//
// Smoothness. A step is a pair of measured grid points next to each other along one axis;
// it is non-monotone when L* of the upper point is below L* of the lower one.
//
// Every comparison gives the CIE 1976 difference and CIEDE2000 (on Lab rounded to single
// precision). A set of n differences is summed up by its count, mean, 95th percentile (the
// value at rank ceil(0.95 n) of the sorted values, 1-based) and maximum.
#pragma once

#include "color3.h"
#include "grid.h"

#include <cstddef>
#include <vector>

// Largest magnitude of an RGB or Lab value the figures are computed for: far beyond any
// device or colour value, and small enough that no difference or square overflows.
inline constexpr double k_checkValueLimit = 1e6;

// Number of non-monotone steps kept, the largest drops in L*.
inline constexpr std::size_t k_steepestDrops = 5;

// A set of differences; mean, p95 and max mean nothing when count is 0.
struct DifferenceSummary {
    std::size_t count = 0;
    double mean = 0.0;
    double p95 = 0.0;
    double max = 0.0;
};

struct Differences {
    DifferenceSummary de76;
    DifferenceSummary de2000;
};

// A measured patch and the Lab value other patches predict for it.
struct CheckedPatch {
    enum class Source { Holdout, Gray };
    Source source = Source::Holdout;
    Color3 rgb;
    Color3 measured;
    Color3 predicted;
    double de76 = 0.0;
    double de2000 = 0.0;
};

// Two measured grid points next to each other along `axis` (0 R, 1 G, 2 B): the lower one at
// `from`, the upper one a step further along the axis.
struct LightnessStep {
    int from[3] = {0, 0, 0};
    int axis = 0;
    double lowerL = 0.0;
    double upperL = 0.0;
};

struct ChartCheck {
    // The chart.
    std::size_t patches = 0;        // as read
    int n = 0;                      // grid points per axis
    bool evenlySpaced[3] = {};      // every step of the axis within 0.01 % of their mean
    std::size_t repeatedRgb = 0;    // device values measured more than once
    std::size_t unoccupied = 0;     // grid points no patch sits on
    bool hasGrays = false;          // the 5202-patch reduction accepts the chart
    std::size_t grayPatches = 0;    // gray patches, grid and beyond (with hasGrays)
    std::size_t grayLevels = 0;     // distinct gray levels (with hasGrays)

    Differences repeatability;

    int coarseN = 0;                // grid points per axis of the hold-out's coarse grid
    std::size_t leftOut = 0;        // measured grid points it leaves out
    Differences trilinear;          // of the left-out points it predicts
    Differences tetrahedral;

    std::size_t graysBeyond = 0;    // gray patches beyond the grid (with hasGrays)
    Differences grays;              // of those predicted

    std::size_t nonmonotone = 0;    // non-monotone steps
    std::vector<LightnessStep> steepestDrops;  // up to k_steepestDrops, largest drop first

    // The trilinear hold-out's and the grays' patches, largest CIEDE2000 first (ties in
    // grid order, hold-out first); at most the number asked for.
    std::vector<CheckedPatch> worst;
};

// The 1-based number of the first patch with an RGB or Lab value that is not a number within
// +-k_checkValueLimit, or 0 when every value is.
std::size_t FirstUncheckablePatch(const std::vector<Color3>& rgb, const std::vector<Color3>& lab);

// The figures for the index-parallel lists as read and the grid built from them (after the
// 5202-patch reduction). Every value must be checkable (FirstUncheckablePatch gives 0).
ChartCheck CheckChart(const std::vector<Color3>& rgb, const std::vector<Color3>& lab, const MeasuredGrid& grid,
                      std::size_t worstCount);

// Summary of a set of differences, in any order (single precision, as the colour-difference
// functions give them).
DifferenceSummary Summarise(std::vector<float> values);
