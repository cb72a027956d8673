// Colour differences and the measured-Lab-to-PCS transform: known figures, a cross-check of
// both differences against Little CMS 2, and the transform's geometry including its
// degenerate black and white points.
//
// Tolerances against lcms2 (which works in double; our inputs are floats, handed to lcms2
// unchanged, and our arithmetic is single precision):
// - CIE 1976: each difference of two floats is correctly rounded, then three squares, two
//   sums and a square root: a relative error of a few float epsilons, 4·FLT_EPSILON.
// - CMC: a relative tolerance would be wrong here. C1 and C2 are each good to a few float
//   epsilons of C, and dC = C1 - C2 of a close pair at high chroma keeps only that absolute
//   accuracy (5e-5 relative has been seen); dH² = da² + db² - dC² cancels further, and near
//   dH = 0 its square root magnifies the error. CmcRoundingBound works that out per pair; the
//   worst pair of the sample stays near a quarter of it. The formula weighs dL by SL and dC by
//   SC alone, that is CMC(1:1), so it is compared with lcms2's l = 1, c = 1. Two documented
//   differences of lcms2 are kept out of the sample: it returns 0 whenever both L are exactly
//   0, and it puts hues of exactly 164 and 345 degrees into the other T formula; no random
//   float hits either.
// - CIEDE2000: both sides work in double on the same float inputs, so the one single-precision
//   step is ours returning a float: half an ulp, FLT_EPSILON/2 of the result. The two double
//   computations differ by a few ulps of their intermediates (hues up to 360, chromas up to
//   about 212, whose differences cancel for close pairs): at most 1.5e-13 in this sample, so
//   1e-9 absolute covers it with a wide margin. lcms2 takes hues up to 180.000001 degrees
//   apart as 180, exact ties included; no pair of the sample lies strictly inside that band.
#include "icc.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>

namespace {

// How far single-precision rounding can move the CMC difference of two float Lab values:
// C1 and C2 are each good to a few float epsilons of C, which dC = C1 - C2 cancels to an
// absolute error; dH² = da² + db² - dC² inherits that error times 2|dC| plus its own rounding,
// and near dH = 0 the square root turns an error e of dH² into up to sqrt(e) in dH; the
// remaining steps add a few epsilons of the result. SC >= 0.638 and SH >= 0.36·SC.
double CmcRoundingBound(const Vec3& x, const Vec3& y, double result)
{
    const double eps = FLT_EPSILON;
    const double c1 = std::hypot(x.v[1], x.v[2]), c2 = std::hypot(y.v[1], y.v[2]);
    const double da = x.v[1] - y.v[1], db = x.v[2] - y.v[2], dc = c1 - c2;
    const double sc = 0.0638 * c1 / (1 + 0.0131 * c1) + 0.638, errDc = 4 * eps * (c1 + c2);
    const double errDh2 = 2 * std::fabs(dc) * errDc + 4 * eps * (da * da + db * db + dc * dc);
    const double dh = std::sqrt(std::max(0.0, da * da + db * db - dc * dc));
    const double errDh = std::min(std::sqrt(errDh2), errDh2 / (2 * dh));
    return errDc / sc + errDh / (0.36 * sc) + 8 * eps * result;
}

// The transform m, applied to (L, a, b, 1), takes `from` to `to`.
void ExpectMaps(const Matrix4& m, const Vec3& from, const Vec3& to, float tol)
{
    const Vec4 r = mul(m, Vec4(from.v[0], from.v[1], from.v[2], 1.0f));
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(to.v[i], r.v[i], tol) << "component " << i;
}

}  // namespace

TEST(ColourDifference, KnownFigures)
{
    EXPECT_NEAR(ComputeDeltaECMC21(Vec3(50, 40, 10), Vec3(50, 35, 20)), 7.6416f, 5e-5f);
    EXPECT_NEAR(ComputeDeltaECMC21(Vec3(60, -20, 40), Vec3(58, -10, 45)), 6.6355f, 5e-5f);
    EXPECT_NEAR(ComputeDeltaECMC21(Vec3(50, 0, 0), Vec3(50, 3, 4)), 7.8370f, 5e-5f);
    // At L = 16, SL is already 0.040975·16/(1 + 0.01765·16) = 0.511229, not 0.511.
    EXPECT_NEAR(ComputeDeltaECMC21(Vec3(16, 0, 0), Vec3(15, 0, 0)), 1 / 0.511229f, 1e-4f);
    // References whose hue, as computed in single precision, is exactly 164 and 345 degrees
    // take the 168-degree T formula; the other one would give 1.70002 and 1.68960.
    EXPECT_NEAR(ComputeDeltaECMC21(Vec3(50, -28.8378506f, 8.26912117f),
                                   Vec3(51, -27.3378506f, 6.26912117f)), 1.70145f, 1e-4f);
    EXPECT_NEAR(ComputeDeltaECMC21(Vec3(50, 28.9777737f, -7.76457262f),
                                   Vec3(51, 30.4777737f, -9.76457262f)), 1.68771f, 1e-4f);
}

TEST(ColourDifference, MatchesLcms)
{
    std::mt19937 gen(17);
    std::uniform_real_distribution<float> l(-10, 120), ab(-150, 150), small(-3, 3);
    for (int i = 0; i < 4000; ++i) {
        const Vec3 first(l(gen), ab(gen), ab(gen));
        // Pairs far apart, close together (as in measurement checks), and of one hue with
        // different chroma, where dH² cancels to about 0.
        const float scale = 1.0f + small(gen) / 100;
        const Vec3 second =
            i % 3 == 0 ? Vec3(l(gen), ab(gen), ab(gen))
            : i % 3 == 1
                ? Vec3(first.v[0] + small(gen), first.v[1] + small(gen), first.v[2] + small(gen))
                : Vec3(first.v[0] + small(gen), first.v[1] * scale, first.v[2] * scale);
        const cmsCIELab a = {first.v[0], first.v[1], first.v[2]};
        const cmsCIELab b = {second.v[0], second.v[1], second.v[2]};
        const double cie = cmsDeltaE(&a, &b), cmc = cmsCMCdeltaE(&a, &b, 1.0, 1.0);
        ASSERT_LE(std::fabs(ComputeDeltaE(first, second) - cie), 4 * FLT_EPSILON * cie) << i;
        ASSERT_LE(std::fabs(ComputeDeltaECMC21(first, second) - cmc),
                  CmcRoundingBound(first, second, cmc))
            << i;
    }
}

TEST(ColourDifference2000, MatchesSharmaWuDalalTable)
{
    // Sharma, Wu and Dalal, "The CIEDE2000 color-difference formula: implementation notes,
    // supplementary test data, and mathematical observations", Color Res. Appl. 30 (2005),
    // Table 1: L1 a1 b1, L2 a2 b2, dE00 to four decimals. Pairs 7 to 16 sit on the branches of
    // the hue mean and difference: 10 and 14 are exactly 180 degrees apart.
    const float table[34][7] = {
        {50.0000f, 2.6772f, -79.7751f, 50.0000f, 0.0000f, -82.7485f, 2.0425f},
        {50.0000f, 3.1571f, -77.2803f, 50.0000f, 0.0000f, -82.7485f, 2.8615f},
        {50.0000f, 2.8361f, -74.0200f, 50.0000f, 0.0000f, -82.7485f, 3.4412f},
        {50.0000f, -1.3802f, -84.2814f, 50.0000f, 0.0000f, -82.7485f, 1.0000f},
        {50.0000f, -1.1848f, -84.8006f, 50.0000f, 0.0000f, -82.7485f, 1.0000f},
        {50.0000f, -0.9009f, -85.5211f, 50.0000f, 0.0000f, -82.7485f, 1.0000f},
        {50.0000f, 0.0000f, 0.0000f, 50.0000f, -1.0000f, 2.0000f, 2.3669f},
        {50.0000f, -1.0000f, 2.0000f, 50.0000f, 0.0000f, 0.0000f, 2.3669f},
        {50.0000f, 2.4900f, -0.0010f, 50.0000f, -2.4900f, 0.0009f, 7.1792f},
        {50.0000f, 2.4900f, -0.0010f, 50.0000f, -2.4900f, 0.0010f, 7.1792f},
        {50.0000f, 2.4900f, -0.0010f, 50.0000f, -2.4900f, 0.0011f, 7.2195f},
        {50.0000f, 2.4900f, -0.0010f, 50.0000f, -2.4900f, 0.0012f, 7.2195f},
        {50.0000f, -0.0010f, 2.4900f, 50.0000f, 0.0009f, -2.4900f, 4.8045f},
        {50.0000f, -0.0010f, 2.4900f, 50.0000f, 0.0010f, -2.4900f, 4.8045f},
        {50.0000f, -0.0010f, 2.4900f, 50.0000f, 0.0011f, -2.4900f, 4.7461f},
        {50.0000f, 2.5000f, 0.0000f, 50.0000f, 0.0000f, -2.5000f, 4.3065f},
        {50.0000f, 2.5000f, 0.0000f, 73.0000f, 25.0000f, -18.0000f, 27.1492f},
        {50.0000f, 2.5000f, 0.0000f, 61.0000f, -5.0000f, 29.0000f, 22.8977f},
        {50.0000f, 2.5000f, 0.0000f, 56.0000f, -27.0000f, -3.0000f, 31.9030f},
        {50.0000f, 2.5000f, 0.0000f, 58.0000f, 24.0000f, 15.0000f, 19.4535f},
        {50.0000f, 2.5000f, 0.0000f, 50.0000f, 3.1736f, 0.5854f, 1.0000f},
        {50.0000f, 2.5000f, 0.0000f, 50.0000f, 3.2972f, 0.0000f, 1.0000f},
        {50.0000f, 2.5000f, 0.0000f, 50.0000f, 1.8634f, 0.5757f, 1.0000f},
        {50.0000f, 2.5000f, 0.0000f, 50.0000f, 3.2592f, 0.3350f, 1.0000f},
        {60.2574f, -34.0099f, 36.2677f, 60.4626f, -34.1751f, 39.4387f, 1.2644f},
        {63.0109f, -31.0961f, -5.8663f, 62.8187f, -29.7946f, -4.0864f, 1.2630f},
        {61.2901f, 3.7196f, -5.3901f, 61.4292f, 2.2480f, -4.9620f, 1.8731f},
        {35.0831f, -44.1164f, 3.7933f, 35.0232f, -40.0716f, 1.5901f, 1.8645f},
        {22.7233f, 20.0904f, -46.6940f, 23.0331f, 14.9730f, -42.5619f, 2.0373f},
        {36.4612f, 47.8580f, 18.3852f, 36.2715f, 50.5065f, 21.2231f, 1.4146f},
        {90.8027f, -2.0831f, 1.4410f, 91.1528f, -1.6435f, 0.0447f, 1.4441f},
        {90.9257f, -0.5406f, -0.9208f, 88.6381f, -0.8985f, -0.7239f, 1.5381f},
        {6.7747f, -0.2908f, -2.4247f, 5.8714f, -0.0985f, -2.2286f, 0.6377f},
        {2.0776f, 0.0795f, -1.1350f, 0.9033f, -0.0636f, -0.5514f, 0.9082f}};
    for (int i = 0; i < 34; ++i) {
        const float* p = table[i];
        const Vec3 first(p[0], p[1], p[2]), second(p[3], p[4], p[5]);
        EXPECT_NEAR(ComputeDeltaE2000(first, second), p[6], 5e-5f) << "pair " << i + 1;
        EXPECT_EQ(ComputeDeltaE2000(second, first), ComputeDeltaE2000(first, second)) << i + 1;
    }
}

TEST(ColourDifference2000, MatchesLcms)
{
    std::mt19937 gen(2000);
    std::uniform_real_distribution<float> l(0, 100), ab(-150, 150), small(-3, 3);
    for (int i = 0; i < 10000; ++i) {
        Vec3 first(l(gen), ab(gen), ab(gen));
        if (i % 5 == 4)
            first.v[2] = 0.0f;
        // Pairs far apart, close together, of exactly opposite hue (the 180-degree tie, which
        // takes the mean hue without the wrap), mirrored in the a axis at twice the chroma
        // (hues that add up to 360, whose mean wraps to 0), and opposite on the a axis.
        const float* f = first.v;
        const Vec3 second =
            i % 5 == 0   ? Vec3(l(gen), ab(gen), ab(gen))
            : i % 5 == 1 ? Vec3(f[0] + small(gen), f[1] + small(gen), f[2] + small(gen))
            : i % 5 == 3 ? Vec3(l(gen), 2 * f[1], -2 * f[2])
                         : Vec3(l(gen), -f[1], -f[2]);
        const cmsCIELab a = {first.v[0], first.v[1], first.v[2]};
        const cmsCIELab b = {second.v[0], second.v[1], second.v[2]};
        const double de = cmsCIE2000DeltaE(&a, &b, 1.0, 1.0, 1.0);
        ASSERT_LE(std::fabs(ComputeDeltaE2000(first, second) - de), FLT_EPSILON / 2 * de + 1e-9)
            << i << ": " << de;
    }
}

TEST(ColourTransform, SendsBlackToZeroAndWhiteTo100EvenOnDegenerateAxes)
{
    Matrix4 m = ComputeTransformFromMeasuredLabToPCSLab(Vec3(2, 1, -1), Vec3(96, -2, 3));
    ExpectMaps(m, Vec3(2, 1, -1), Vec3(0, 0, 0), 1e-5f);
    ExpectMaps(m, Vec3(96, -2, 3), Vec3(100, 0, 0), 1e-4f);
    // Rows 1 and 2 are the rotation's: unit length, orthogonal to each other and to row 0.
    const int pairs[5][3] = {{1, 1, 1}, {2, 2, 1}, {1, 2, 0}, {0, 1, 0}, {0, 2, 0}};
    for (const auto& p : pairs) {
        const float *r0 = m.m + 4 * p[0], *r1 = m.m + 4 * p[1];
        EXPECT_NEAR(r0[0] * r1[0] + r0[1] * r1[1] + r0[2] * r1[2], p[2], 1e-5f) << p[0] << p[1];
    }

    // Already along +L: no rotation, L scaled by 100/90, a and b only translated.
    m = ComputeTransformFromMeasuredLabToPCSLab(Vec3(5, 2, 3), Vec3(95, 2, 3));
    ExpectMaps(m, Vec3(95, 2, 3), Vec3(100, 0, 0), 1e-4f);
    ExpectMaps(m, Vec3(14, 3, 5), Vec3(10, 1, 2), 1e-5f);
    // Along -L (white darker than black): half a turn about the b axis. So nearly along -L
    // that (1 - dot)/|c|² would overflow a float: the same, finite.
    for (const Vec3& w : {Vec3(10, 0, 2), Vec3(10, 1e-18f, 2)}) {
        m = ComputeTransformFromMeasuredLabToPCSLab(Vec3(90, 0, 2), w);
        ExpectMaps(m, Vec3(10, 0, 2), Vec3(100, 0, 0), 1e-4f);
        ExpectMaps(m, Vec3(90, 1, 3), Vec3(0, -1, 1), 1e-4f);
    }
    // Black equals white, or nearly: the translation alone.
    for (const Vec3& w : {Vec3(20, -3, 4), Vec3(20.000001f, -3, 4)}) {
        m = ComputeTransformFromMeasuredLabToPCSLab(Vec3(20, -3, 4), w);
        ExpectMaps(m, Vec3(21, -1, 7), Vec3(1, 2, 3), 0.0f);
    }
}
