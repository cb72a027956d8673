// Colour differences and the measured-Lab-to-PCS transform: known figures (for CIEDE2000 the
// published test data), CIE 1976 and CMC against Little CMS 2, and the transform's geometry
// including its degenerate black and white points.
//
// Tolerances against lcms2 (which works in double on our float inputs): CIE 1976 rounds each
// float difference, three squares, two sums and a square root, a relative error of a few float
// epsilons (4·FLT_EPSILON). CMC(1:1) is lcms2's l = 1, c = 1; its pairs below are chosen with
// hue differences far from 0, where single precision keeps the result within 1e-4. lcms2 puts
// hues of exactly 164 and 345 degrees into the other T formula, so those two pairs are known
// figures alone.
#include "icc.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cfloat>
#include <cmath>
#include <tuple>

TEST(ColourDifference, CmcAndCie76MatchKnownFiguresAndLcms)
{
    // Reference, sample, CMC(1:1) (0: lcms2 alone), and whether lcms2's CMC applies.
    const std::tuple<Vec3, Vec3, float, bool> cases[] = {
        {Vec3(50, 40, 10), Vec3(50, 35, 20), 7.6416f, true}, {Vec3(60, -20, 40), Vec3(58, -10, 45), 6.6355f, true},
        {Vec3(50, 0, 0), Vec3(50, 3, 4), 7.8370f, true},
        // At L = 16, SL is already 0.040975·16/(1 + 0.01765·16) = 0.511229, not 0.511; below, 0.511.
        {Vec3(16, 0, 0), Vec3(15, 0, 0), 1 / 0.511229f, true}, {Vec3(10, -30, -40), Vec3(12, -25, -50), 0, true},
        {Vec3(90, -60, 5), Vec3(70, 30, -80), 0, true}, {Vec3(-5, 100, -2), Vec3(110, -120, 140), 0, true},
        // References whose hue, in single precision, is exactly 164 and 345 degrees take the
        // 168-degree T formula; the other one would give 1.70002 and 1.68960.
        {Vec3(50, -28.8378506f, 8.26912117f), Vec3(51, -27.3378506f, 6.26912117f), 1.70145f, false},
        {Vec3(50, 28.9777737f, -7.76457262f), Vec3(51, 30.4777737f, -9.76457262f), 1.68771f, false}};
    for (const auto& [first, second, known, cmc] : cases) {
        const cmsCIELab a = {first.v[0], first.v[1], first.v[2]}, b = {second.v[0], second.v[1], second.v[2]};
        const float ours = ComputeDeltaECMC21(first, second);
        EXPECT_TRUE((known == 0 || std::fabs(ours - known) < 1e-4f) &&
                    (!cmc || std::fabs(ours - cmsCMCdeltaE(&a, &b, 1, 1)) < 1e-4)) << ours << " at L " << first.v[0];
        EXPECT_NEAR(ComputeDeltaE(first, second), cmsDeltaE(&a, &b), 4 * FLT_EPSILON * cmsDeltaE(&a, &b));
    }
}

TEST(ColourDifference2000, MatchesSharmaWuDalalTable)
{
    // Sharma, Wu and Dalal, "The CIEDE2000 color-difference formula: implementation notes,
    // supplementary test data, and mathematical observations", Color Res. Appl. 30 (2005),
    // Table 1: L1 a1 b1, L2 a2 b2, dE00 to four decimals. Pair 1 weighs the rotation term near
    // blue, 7 has an achromatic colour, 10 is exactly 180 degrees apart, 11 and 16 take the
    // wrapped hue mean (one each way), 17 differs in L, C and H, 22 stretches the a axis by G,
    // and 25 and 34 are measured pairs at mid and low lightness.
    const float table[][8] = {
        {1, 50.0000f, 2.6772f, -79.7751f, 50.0000f, 0.0000f, -82.7485f, 2.0425f},
        {7, 50.0000f, 0.0000f, 0.0000f, 50.0000f, -1.0000f, 2.0000f, 2.3669f},
        {10, 50.0000f, 2.4900f, -0.0010f, 50.0000f, -2.4900f, 0.0010f, 7.1792f},
        {11, 50.0000f, 2.4900f, -0.0010f, 50.0000f, -2.4900f, 0.0011f, 7.2195f},
        {16, 50.0000f, 2.5000f, 0.0000f, 50.0000f, 0.0000f, -2.5000f, 4.3065f},
        {17, 50.0000f, 2.5000f, 0.0000f, 73.0000f, 25.0000f, -18.0000f, 27.1492f},
        {22, 50.0000f, 2.5000f, 0.0000f, 50.0000f, 3.2972f, 0.0000f, 1.0000f},
        {25, 60.2574f, -34.0099f, 36.2677f, 60.4626f, -34.1751f, 39.4387f, 1.2644f},
        {34, 2.0776f, 0.0795f, -1.1350f, 0.9033f, -0.0636f, -0.5514f, 0.9082f}};
    for (const float* p : table) {
        const Vec3 first(p[1], p[2], p[3]), second(p[4], p[5], p[6]);
        EXPECT_NEAR(ComputeDeltaE2000(first, second), p[7], 5e-5f) << "pair " << p[0];
        EXPECT_EQ(ComputeDeltaE2000(second, first), ComputeDeltaE2000(first, second)) << "pair " << p[0];
    }
}

TEST(ColourTransform, SendsBlackToZeroAndWhiteTo100EvenOnDegenerateAxes)
{
    // Black, white, then a point and where it lands; the tolerance. The last rows: along +L (no
    // turn: L scaled by 100/90, a and b only translated), along -L or so nearly that (1 - dot)/|c|²
    // would overflow a float (half a turn about the b axis), and white on black or nearly (the
    // translation alone).
    const std::tuple<Vec3, Vec3, Vec3, Vec3, float> cases[] = {
        {Vec3(2, 1, -1), Vec3(96, -2, 3), Vec3(2, 1, -1), Vec3(0, 0, 0), 1e-5f},
        {Vec3(5, 2, 3), Vec3(95, 2, 3), Vec3(14, 3, 5), Vec3(10, 1, 2), 1e-5f},
        {Vec3(90, 0, 2), Vec3(10, 0, 2), Vec3(90, 1, 3), Vec3(0, -1, 1), 1e-4f},
        {Vec3(90, 0, 2), Vec3(10, 1e-18f, 2), Vec3(90, 1, 3), Vec3(0, -1, 1), 1e-4f},
        {Vec3(20, -3, 4), Vec3(20, -3, 4), Vec3(21, -1, 7), Vec3(1, 2, 3), 0.0f},
        {Vec3(20, -3, 4), Vec3(20.000001f, -3, 4), Vec3(21, -1, 7), Vec3(1, 2, 3), 0.0f}};
    for (const auto& [black, white, from, to, tol] : cases) {
        const Matrix4 m = ComputeTransformFromMeasuredLabToPCSLab(black, white);
        const Vec4 r = mul(m, Vec4(from.v[0], from.v[1], from.v[2], 1.0f));
        const Vec4 w = mul(m, Vec4(white.v[0], white.v[1], white.v[2], 1.0f));
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(std::fabs(r.v[i] - to.v[i]) <= tol && (tol == 0 || std::fabs(w.v[i] - (i ? 0 : 100)) < 1e-4f))
                << "white L " << white.v[0] << ", component " << i;
    }
    // Rows 1 and 2 are the rotation's: unit length, orthogonal to each other and to row 0.
    const Matrix4 m = ComputeTransformFromMeasuredLabToPCSLab(Vec3(2, 1, -1), Vec3(96, -2, 3));
    for (const auto& [i, j, dot] : {std::tuple{1, 1, 1}, {2, 2, 1}, {1, 2, 0}, {0, 1, 0}, {0, 2, 0}}) {
        const float *r0 = m.m + 4 * i, *r1 = m.m + 4 * j;
        EXPECT_NEAR(r0[0] * r1[0] + r0[1] * r1[1] + r0[2] * r1[2], dot, 1e-5f) << i << j;
    }
}
