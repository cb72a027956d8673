// Synthetic tables for the benchmarks: an N x N x N chart in the column layout, and random
// targets inside it in the plain triplet layout. Both are fixed by their arguments, so runs
// compare like with like.
#pragma once

#include <cstddef>
#include <string>

// N x N x N patches, RGB on 0..100 (B varies fastest), Lab a smooth function of RGB.
std::string ChartText(int n);

// `count` lines "R G B" with four decimals, uniform on 0..100.
std::string TargetText(std::size_t count);

// `count` lines "L a b" with four decimals outside the box L 0..100, a -80..80, b -60..60,
// which holds the gamut of every ChartText chart: L uniform on -10..110, a and b on
// -128..128, the values inside the box left out.
std::string OutOfGamutLabText(std::size_t count);

// Writes `text` to `path`; false on failure.
bool WriteText(const std::string& path, const std::string& text);
