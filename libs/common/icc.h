#pragma once

// Colour differences and the measured-Lab-to-PCS transform.
//
// Single-precision functions on Lab values held in Vec3 as (L, a, b):
//   ComputeDeltaE        CIE 1976: sqrt(dL² + da² + db²)
//   ComputeDeltaECMC21   CMC with lightness and chroma weights of 1 (l:c = 1:1); the
//                        weighting functions SL, SC and SH come from the reference
//   ComputeTransformFromMeasuredLabToPCSLab
//                        the 4x4 transform, applied to (L, a, b, 1), that sends a measured
//                        black point to (0, 0, 0) and a measured white point to (100, 0, 0)
#include "vmath.h"

float ComputeDeltaE(const Vec3& first, const Vec3& second);
float ComputeDeltaECMC21(const Vec3& reference, const Vec3& sample);
// Translates the black to the origin, rotates the black-to-white direction onto +L and scales
// L alone by 100 over the black-to-white distance; distances across the axis are unchanged.
// Degenerate points give a finite transform: a direction along -L turns by 180 degrees about
// the b axis, and a white within 0.00001 of the black gives the translation alone.
Matrix4 ComputeTransformFromMeasuredLabToPCSLab(const Vec3& measuredBlack,
                                                const Vec3& measuredWhite);
