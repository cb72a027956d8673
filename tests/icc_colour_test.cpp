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
#include "icc.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <random>

namespace {

cmsCIELab ToCms(const Vec3& lab)
{
    return cmsCIELab{lab.v[0], lab.v[1], lab.v[2]};
}

Vec3 Apply(const Matrix4& m, const Vec3& lab)
{
    const Vec4 r = mul(m, Vec4(lab.v[0], lab.v[1], lab.v[2], 1.0f));
    return Vec3(r.v[0], r.v[1], r.v[2]);
}

Vec3 Add(const Vec3& a, const Vec3& b)
{
    return Vec3(a.v[0] + b.v[0], a.v[1] + b.v[1], a.v[2] + b.v[2]);
}

// A reference of chroma about 30 whose hue, as the CMC difference computes it in single
// precision, is exactly `degrees`: b is stepped one float at a time onto that hue.
Vec3 ReferenceAtHue(float degrees)
{
    const double rad = degrees / 57.29578;
    Vec3 lab(50, float(30 * std::cos(rad)), float(30 * std::sin(rad)));
    for (int step = 0; step < 1000; ++step) {
        float h = float(std::atan2(double(lab.v[2]), double(lab.v[1])) * double(57.29578f));
        if (h < 0)
            h += 360;
        if (h == degrees)
            return lab;
        // The hue grows with b where a > 0 and shrinks where a < 0.
        lab.v[2] = std::nextafter(lab.v[2], (h < degrees) == (lab.v[1] > 0) ? 1e9f : -1e9f);
    }
    ADD_FAILURE() << "no float Lab at hue " << degrees;
    return lab;
}

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
    const double sc = 0.0638 * c1 / (1 + 0.0131 * c1) + 0.638;
    const double errDc = 4 * eps * (c1 + c2);
    const double errDh2 = 2 * std::fabs(dc) * errDc + 4 * eps * (da * da + db * db + dc * dc);
    const double dh = std::sqrt(std::max(0.0, da * da + db * db - dc * dc));
    const double errDh = std::min(std::sqrt(errDh2), errDh2 / (2 * dh));
    return errDc / sc + errDh / (0.36 * sc) + 8 * eps * result;
}

void ExpectLab(const Vec3& expected, const Vec3& actual, float tol)
{
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(expected.v[i], actual.v[i], tol) << "component " << i;
}

}  // namespace

TEST(ColourDifference, KnownFigures)
{
    EXPECT_EQ(ComputeDeltaE(Vec3(50, 3, 4), Vec3(50, 3, 4)), 0.0f);
    EXPECT_EQ(ComputeDeltaE(Vec3(50, 0, 0), Vec3(50, 3, 4)), 5.0f);

    EXPECT_NEAR(ComputeDeltaECMC21(Vec3(50, 40, 10), Vec3(50, 35, 20)), 7.6416f, 5e-5f);
    EXPECT_NEAR(ComputeDeltaECMC21(Vec3(60, -20, 40), Vec3(58, -10, 45)), 6.6355f, 5e-5f);
    EXPECT_NEAR(ComputeDeltaECMC21(Vec3(50, 0, 0), Vec3(50, 3, 4)), 7.8370f, 5e-5f);
    EXPECT_EQ(ComputeDeltaECMC21(Vec3(60, -20, 40), Vec3(60, -20, 40)), 0.0f);
    // The weights come from the first argument.
    EXPECT_GT(std::fabs(ComputeDeltaECMC21(Vec3(50, 3, 4), Vec3(50, 0, 0)) - 7.8370f), 0.1f);

    // SL is 0.511 below L = 16 and 0.040975·16/(1 + 0.01765·16) = 0.5112 at 16.
    EXPECT_NEAR(ComputeDeltaECMC21(Vec3(15.999f, 0, 0), Vec3(14.999f, 0, 0)), 1.0f / 0.511f,
                1e-4f);
    EXPECT_NEAR(ComputeDeltaECMC21(Vec3(16, 0, 0), Vec3(15, 0, 0)),
                (1.0f + 0.01765f * 16) / (0.040975f * 16), 1e-4f);

    // T jumps at hues 164 and 345; both bounds belong to the 164..345 formula, so at each
    // bound the result continues from inside that range and jumps on the outside.
    const Vec3 offset(1, 1.5f, -2);
    for (float bound : {164.0f, 345.0f}) {
        const float inside = bound == 164.0f ? 0.01f : -0.01f;
        const Vec3 at = ReferenceAtHue(bound);
        const float r = ComputeDeltaECMC21(at, Add(at, offset));
        const Vec3 in = ReferenceAtHue(bound + inside), out = ReferenceAtHue(bound - inside);
        const float rIn = ComputeDeltaECMC21(in, Add(in, offset));
        const float rOut = ComputeDeltaECMC21(out, Add(out, offset));
        EXPECT_LT(std::fabs(r - rIn), 0.2f * std::fabs(r - rOut)) << bound;
    }
}

TEST(ColourDifference, MatchesLcms)
{
    std::mt19937 gen(17);
    std::uniform_real_distribution<float> l(-10, 120), ab(-150, 150), small(-3, 3);
    float worstCie = 0, worstCmc = 0;
    double worstShare = 0;
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
        const cmsCIELab a = ToCms(first), b = ToCms(second);

        const double cie = cmsDeltaE(&a, &b);
        const float ours = ComputeDeltaE(first, second);
        ASSERT_LE(std::fabs(ours - cie), 4 * FLT_EPSILON * cie) << i;
        worstCie = std::max(worstCie, float(std::fabs(ours - cie)));

        const double cmc = cmsCMCdeltaE(&a, &b, 1.0, 1.0);
        const float oursCmc = ComputeDeltaECMC21(first, second);
        const double bound = CmcRoundingBound(first, second, cmc);
        ASSERT_LE(std::fabs(oursCmc - cmc), bound) << i;
        worstCmc = std::max(worstCmc, float(std::fabs(oursCmc - cmc)));
        worstShare = std::max(worstShare, std::fabs(oursCmc - cmc) / bound);
    }
    std::printf("largest difference from lcms2: ComputeDeltaE %.3g, ComputeDeltaECMC21 %.3g "
                "(%.2f of its bound)\n",
                worstCie, worstCmc, worstShare);

    // The formula is CMC(1:1), not CMC(2:1): the weighting shows once L differs.
    const cmsCIELab a = ToCms(Vec3(60, -20, 40)), b = ToCms(Vec3(58, -10, 45));
    EXPECT_NEAR(cmsCMCdeltaE(&a, &b, 1.0, 1.0), 6.6355, 5e-5);
    EXPECT_GT(std::fabs(cmsCMCdeltaE(&a, &b, 2.0, 1.0) - 6.6355), 0.1);
}

TEST(ColourTransform, SendsBlackToZeroAndWhiteTo100)
{
    const Vec3 black(2, 1, -1), white(96, -2, 3);
    Matrix4 m = ComputeTransformFromMeasuredLabToPCSLab(black, white);
    ExpectLab(Vec3(0, 0, 0), Apply(m, black), 1e-5f);
    ExpectLab(Vec3(100, 0, 0), Apply(m, white), 1e-4f);

    std::mt19937 gen(23);
    std::uniform_real_distribution<float> lo(0, 20), hi(80, 100), ab(-10, 10);
    for (int i = 0; i < 200; ++i) {
        const Vec3 b(lo(gen), ab(gen), ab(gen)), w(hi(gen), ab(gen), ab(gen));
        m = ComputeTransformFromMeasuredLabToPCSLab(b, w);
        ExpectLab(Vec3(0, 0, 0), Apply(m, b), 1e-4f);
        ExpectLab(Vec3(100, 0, 0), Apply(m, w), 2e-4f);
        // Rows 1 and 2 are the rotation's: unit length, orthogonal to each other and to row 0.
        const float* r = m.m;
        EXPECT_NEAR(r[4] * r[4] + r[5] * r[5] + r[6] * r[6], 1.0f, 1e-5f);
        EXPECT_NEAR(r[8] * r[8] + r[9] * r[9] + r[10] * r[10], 1.0f, 1e-5f);
        EXPECT_NEAR(r[4] * r[8] + r[5] * r[9] + r[6] * r[10], 0.0f, 1e-5f);
        EXPECT_NEAR(r[0] * r[4] + r[1] * r[5] + r[2] * r[6], 0.0f, 1e-5f);
        EXPECT_NEAR(r[0] * r[8] + r[1] * r[9] + r[2] * r[10], 0.0f, 1e-5f);
        EXPECT_EQ(r[12], 0.0f);
        EXPECT_EQ(r[15], 1.0f);
    }
}

TEST(ColourTransform, DegenerateAxes)
{
    // Already along +L: no rotation, L scaled by 100/90, a and b only translated.
    Matrix4 m = ComputeTransformFromMeasuredLabToPCSLab(Vec3(5, 2, 3), Vec3(95, 2, 3));
    const float k = 100.0f / 90.0f;
    const float expected[16] = {k, 0, 0, -5 * k, 0, 1, 0, -2, 0, 0, 1, -3, 0, 0, 0, 1};
    for (int i = 0; i < 16; ++i)
        EXPECT_FLOAT_EQ(m.m[i], expected[i]) << i;

    // Along -L (white darker than black): half a turn about the b axis.
    m = ComputeTransformFromMeasuredLabToPCSLab(Vec3(90, 1, 2), Vec3(10, 1, 2));
    ExpectLab(Vec3(0, 0, 0), Apply(m, Vec3(90, 1, 2)), 1e-5f);
    ExpectLab(Vec3(100, 0, 0), Apply(m, Vec3(10, 1, 2)), 1e-4f);
    ExpectLab(Vec3(0, -1, 2), Apply(m, Vec3(90, 2, 4)), 1e-5f);

    // So nearly along -L that (1 - dot)/|c|² would overflow a float.
    m = ComputeTransformFromMeasuredLabToPCSLab(Vec3(90, 0, 0), Vec3(10, 1e-18f, 0));
    for (float e : m.m)
        EXPECT_TRUE(std::isfinite(e));
    ExpectLab(Vec3(100, 0, 0), Apply(m, Vec3(10, 0, 0)), 1e-4f);

    // Black equals white, or nearly: the translation alone.
    for (const Vec3& white : {Vec3(20, -3, 4), Vec3(20.000001f, -3, 4)}) {
        m = ComputeTransformFromMeasuredLabToPCSLab(Vec3(20, -3, 4), white);
        const float translation[16] = {1, 0, 0, -20, 0, 1, 0, 3, 0, 0, 1, -4, 0, 0, 0, 1};
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(m.m[i], translation[i]) << i;
    }
}
