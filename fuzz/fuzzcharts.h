// Patch lists for the chart harnesses: complete charts whose Lab is linear in RGB, so that an
// unedited chart has a known answer, and the 4-byte edits the inputs make to them.
#pragma once

#include "color3.h"

#include <cstdint>
#include <vector>

namespace fuzzutil {

// Lab linear in RGB.
Color3 LinearLab(double r, double g, double b);

// Appends the n x n x n grid at 0, step, ..., (n - 1) * step with its linear Lab.
void AddGridChart(int n, double step, std::vector<Color3>& rgb, std::vector<Color3>& lab);

// Appends a complete 5202-patch chart: the 17-value grid at 0, 18, ..., 288 and the gray
// levels 0 to 288.
void Add5202Chart(std::vector<Color3>& rgb, std::vector<Color3>& lab);

// One edit of one value: patch index (2 bytes, modulo the count), the component (0-2 RGB, 3-5
// Lab) and a value code: with its high bit set codes[code % 8], else the byte itself.
void ApplyEdit(const std::uint8_t edit[4], const double codes[8], std::vector<Color3>& rgb,
               std::vector<Color3>& lab);

}  // namespace fuzzutil
