// Derived Lab computation: the Lab value a device would produce for a device RGB value,
// by trilinear interpolation between the eight measured grid points that enclose it
// (MeasuredGrid, grid.h, after the 5202-patch chart reduction).
#pragma once

#include "color3.h"
#include "grid.h"

#include <vector>

// Fills `derivedLab` with one Lab value per target, in target order. The reference lists are
// first handed to the 5202-patch chart reduction, which may rewrite them. Prints the grid
// size to standard output. Returns false when `derivedLab` is null, when the two reference
// lists differ in length, when the reference values
// do not form a grid, or at the first target that cannot be interpolated (outside the grid,
// NaN, or in a cell with an unmeasured corner); the values derived for the targets before it
// are kept.
bool ComputeDerivedLabValues(std::vector<Color3>& referenceRgb, std::vector<Color3>& measuredLab,
                             const std::vector<Color3>& targetRgb, std::vector<Color3>* derivedLab);
