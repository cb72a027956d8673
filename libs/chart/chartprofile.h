// The measured chart as an ICC profile: version 2.4, device class input ("scnr") or display
// ("mntr"), data colour space RGB, connection space Lab, whose device-to-Lab tables hold the
// chart's grid itself rather than a model fitted to it.
//
// Every D50 in the profile is the ICC illuminant k_iccD50XYZ (0.9642, 1.0, 0.8249); the
// chart's Lab values are taken as measured against it. The black point is the patch at the
// grid's lowest corner (0, 0, 0), the white point the patch at its highest (N-1, N-1, N-1).
//
//   wtpt  the white's XYZ (the media white); bkpt the black's XYZ.
//   A2B1  (relative colorimetric) an "mft2" element whose CLUT is the grid, point (i, j, k)
//         holding its Lab relative to the media white as ICC relative colorimetry defines
//         it: XYZ scaled per component by D50 / white, back to Lab against D50, which is the
//         point's XYZ as Lab against the white itself. Values go through the 16-bit Lab of
//         version 2 (ICCEncodeLabV2), clipped where it cannot hold them.
//         Input tables: 4096 entries per channel; entry e stands for the device value
//         e / 4095 x top, top being the largest value on any axis (device value top is 1.0
//         in the profile), and holds that value's position on the channel's axis over N - 1:
//         linear between neighbouring axis values, so unevenly spaced axes work, and held at
//         the first or last axis value beyond them. Output tables: identity.
//   A2B0  (perceptual) the same, with each relative Lab then carried onto the connection
//         space by ComputeTransformFromMeasuredLabToPCSLab of the black's and the white's
//         relative Lab: the black goes to L* = 0, and the white stays at L* = 100 on the
//         neutral axis.
//   B2A1, B2A0 (display profiles only) "mft2" elements from Lab to device RGB: a grid of
//         clutPoints^3 nodes, spread evenly over L* 0..100 (the input table holds L* above
//         100 at the last node, so the white is a node) and over the codes of a* and b* on
//         either side of the neutral 0 (a node when clutPoints is odd); identity output
//         tables. Each node's Lab is carried back to a measured Lab (for B2A0 through the
//         inverse of the black and white transform first) and inverted in the grid under
//         tetrahedral interpolation (GridInverse; a Lab the chart does not reach goes to the
//         device values of the nearest Lab it reaches), its device values over top.
//   desc  the description (ASCII, with a Unicode copy when the text is not ASCII).
//   cprt  the copyright, as ASCII text.
#pragma once

#include "grid.h"
#include "icc.h"

#include <ctime>
#include <memory>
#include <string>

// Entries of each input table of the A2B tables.
inline constexpr unsigned int k_profileInputEntries = 4096;
// The largest grid an "mft2" element can hold: its point count is one byte.
inline constexpr int k_maxProfileGridPoints = 255;
// The largest L*, a* or b* (in size) a grid point may have: no measurement comes near it, and
// below it every colour the profile is made from stays finite in single precision.
inline constexpr double k_maxProfileLab = 1000.0;

enum class ProfileClass { Input, Display };

struct ChartProfileSettings {
    ProfileClass profileClass = ProfileClass::Input;
    std::string description;  // UTF-8
    std::string copyright;    // UTF-8; written as ASCII
    std::time_t created = 0;  // the header's creation time
    int clutPoints = 33;      // per axis of the Lab-to-device tables of a display profile
};

// How a build ended.
enum class ChartProfileBuild {
    Ok,
    TooFewValues,    // fewer than 2 values per axis
    TooManyValues,   // more than k_maxProfileGridPoints values per axis
    NoRange,         // an axis value below 0 or infinite
    UnmeasuredPoint, // a grid point with no patch, or with an L*, a* or b* that is not finite
                     // or beyond k_maxProfileLab in size
    BadWhite,        // the white's XYZ is not above 0 in every component
    BadClutPoints,   // a display profile's clutPoints outside 2 to k_maxProfileGridPoints
};

// Makes the profile of a built grid into `profile`; throws std::bad_alloc when memory runs
// out. On failure `profile` is left as it was
// and, for UnmeasuredPoint, `point` (when not null) receives the first such grid point
// (index order, B fastest).
ChartProfileBuild BuildChartProfile(const MeasuredGrid& grid, const ChartProfileSettings& settings,
                                    std::unique_ptr<ICC_CPP_Profile>* profile, int point[3] = nullptr);
