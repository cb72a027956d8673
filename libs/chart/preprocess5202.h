// Reduction of a 5202-patch chart to its 17 x 17 x 17 grid.
//
// Such a chart holds the 4913 grid patches plus 289 gray patches: 306 gray patches at 289
// distinct levels. All gray patches (R == G == B exactly) are taken out, patches sharing a
// level are averaged, every 18th of the 289 levels is kept (the first and last included),
// the inner 15 of those are smoothed along the gray ramp with the weights
// 1/16, 4/16, 6/16, 4/16, 1/16, and the 17 samples are appended to both lists.
#pragma once

#include "color3.h"

#include <cstddef>
#include <cstdio>
#include <vector>

// A chart reduced here: 5202 patches, 306 of them gray (R == G == B) at 289 distinct levels.
inline constexpr std::size_t k_5202ChartPatches = 5202;
inline constexpr std::size_t k_5202GrayPatches = 306;
inline constexpr std::size_t k_5202GrayLevels = 289;

// Works in place on the index-parallel lists; lists of any size other than 5202 (empty ones
// included) are left as they are. Prints the samples, or a warning when the gray patches
// are not as expected (the lists are then left without any gray patch), to `messages`.
void Preprocess5202Target(std::vector<Color3>& rgb, std::vector<Color3>& lab, std::FILE* messages = stdout);
