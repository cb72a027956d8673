// Colour-space, gray and lightness conversions: the known figures, round trips across the
// branch points, and a cross-check against Little CMS 2 as an independent engine.
//
// Tolerances against lcms2 (both sides work in double):
// - xyz_to_lab: our cube root uses the exponent 0.333333333333333, lcms2 uses 1/3. That shifts
//   f(t) by the factor t^(1/3 - 0.333333333333333), a relative 3.3e-16·|ln t|, on top of a few
//   ulps of rounding; a and b multiply f differences by 500 and 200. The bound is built from
//   exactly that, per sample, so it grows with |ln t| and f rather than being one loose figure.
// - lab_to_xyz: the same cube law in both (ours a/500, lcms2 0.002·a), so a few ulps relative.
// - Working-space matrices: lcms2 builds them from xy chromaticities by another route and
//   adapts them to its own D50 by Bradford; we adapt them back (exactly invertible in exact
//   arithmetic), so only double rounding remains: 1e-12.
// - Adobe RGB to D50: lcms2's Bradford matrix from k_D65_XYZ to k_D50_XYZ differs from the
//   six-decimal table by up to 1.33e-6 per element: more than the rounding to six decimals
//   (5e-7), so the table was derived with slightly different cone-matrix digits. That is
//   also why the table maps k_D65_XYZ to (0.964223, 0.9999996, 0.825211), not to k_D50_XYZ.
//   The conversion is held to exactly the effect of the measured table difference.
#include "colorcommon.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace {

const double k_neutral100[3] = {100, 0, 0};

cmsCIEXYZ ToCms(const double* xyz)
{
    return cmsCIEXYZ{xyz[0], xyz[1], xyz[2]};
}

// lcms2's Bradford adaptation of xyz from one white to another.
void LcmsAdapt(const cmsCIEXYZ& from, const cmsCIEXYZ& to, const cmsCIEXYZ& xyz, double* out)
{
    cmsCIEXYZ r;
    cmsAdaptToIlluminant(&r, &from, &to, &xyz);
    out[0] = r.X;
    out[1] = r.Y;
    out[2] = r.Z;
}

// lcms2's RGB-to-XYZ matrix for these primaries and white, adapted back from its own D50.
void LcmsRgbToXyzMatrix(const double* chromaticities, const double* whiteXYZ, double* m)
{
    cmsCIExyY white;
    const cmsCIEXYZ whiteCms = ToCms(whiteXYZ);
    cmsXYZ2xyY(&white, &whiteCms);
    const double* c = chromaticities;
    const cmsCIExyYTRIPLE primaries = {{c[0], c[1], 1.0}, {c[2], c[3], 1.0}, {c[4], c[5], 1.0}};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, nullptr);
    ASSERT_NE(profile, nullptr);
    const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                     cmsSigBlueColorantTag};
    for (int col = 0; col < 3; ++col) {
        const auto* d50 = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tags[col]));
        ASSERT_NE(d50, nullptr);
        double xyz[3];
        LcmsAdapt(*cmsD50_XYZ(), whiteCms, *d50, xyz);
        for (int row = 0; row < 3; ++row)
            m[3 * row + col] = xyz[row];
    }
    cmsCloseProfile(profile);
}

void ExpectTriple(const double* expected, const double* actual, double tol)
{
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(expected[i], actual[i], tol) << "component " << i;
}

}  // namespace

TEST(ColorLab, KnownPointsBranchesAndRoundTrip)
{
    double lab[3], xyz[3];
    xyz_to_lab(k_D65_XYZ, k_D65_XYZ, lab);
    ExpectTriple(k_neutral100, lab, 1e-12);
    const double black[3] = {0, 0, 0}, unit[3] = {1, 1, 1}, l8[3] = {8, 0, 0};
    xyz_to_lab(black, k_D50_XYZ, lab);
    ExpectTriple(black, lab, 0.0);
    // A ratio of exactly epsilon and an L of exactly 8 take the linear branches.
    const double atEpsilon[3] = {k_cieEpsilon, k_cieEpsilon, k_cieEpsilon};
    xyz_to_lab(atEpsilon, unit, lab);
    EXPECT_DOUBLE_EQ(lab[0], 8.0);
    lab_to_xyz(l8, unit, xyz);
    EXPECT_EQ(xyz[1], 8.0 / k_cieKappa);

    for (double l = -10; l <= 120; l += 0.37)
        for (double a = -150; a <= 150; a += 13.1)
            for (double b = -150; b <= 150; b += 17.3) {
                const double in[3] = {l, a, b};
                double v[3] = {l, a, b};
                lab_to_xyz(v, k_D50_XYZ, v);
                xyz_to_lab(v, k_D50_XYZ, v);
                ExpectTriple(in, v, 1e-11);
            }
}

TEST(ColorLab, MatchesLcms)
{
    std::mt19937 gen(5);
    // XYZ ratios to the white from below black to above white, and from 1e-6 to 1e3.
    std::uniform_real_distribution<double> linear(-0.2, 1.5), exponent(-6.0, 3.0);
    std::uniform_real_distribution<double> l(-20, 150), ab(-200, 200);
    double worstLab = 0.0, worstXyz = 0.0;
    for (const double* white : {k_D50_XYZ, k_D65_XYZ}) {
        const cmsCIEXYZ whiteCms = ToCms(white);
        for (int i = 0; i < 3000; ++i) {
            double t[3], xyz[3], lab[3], fMax = 1.0, lnMax = 0.0;
            for (int c = 0; c < 3; ++c) {
                t[c] = (i + c) % 2 ? linear(gen) : std::pow(10.0, exponent(gen));
                xyz[c] = t[c] * white[c];
                fMax = std::max(fMax, std::cbrt(std::fabs(t[c])));
                if (t[c] > k_cieEpsilon)
                    lnMax = std::max(lnMax, std::fabs(std::log(t[c])));
            }
            xyz_to_lab(xyz, white, lab);
            cmsCIELab ref;
            const cmsCIEXYZ in = ToCms(xyz);
            cmsXYZ2Lab(&whiteCms, &ref, &in);
            const double bound = 500.0 * fMax * (3.4e-16 * lnMax + 8 * 2.2e-16);
            for (double d : {lab[0] - ref.L, lab[1] - ref.a, lab[2] - ref.b}) {
                ASSERT_LE(std::fabs(d), bound) << xyz[0] << " " << xyz[1] << " " << xyz[2];
                worstLab = std::max(worstLab, std::fabs(d));
            }

            const cmsCIELab labIn = {l(gen), ab(gen), ab(gen)};
            const double labArray[3] = {labIn.L, labIn.a, labIn.b};
            cmsCIEXYZ refXyz;
            lab_to_xyz(labArray, white, xyz);
            cmsLab2XYZ(&whiteCms, &refXyz, &labIn);
            for (double d : {xyz[0] - refXyz.X, xyz[1] - refXyz.Y, xyz[2] - refXyz.Z}) {
                ASSERT_LE(std::fabs(d), 1e-14 * std::max({1.0, xyz[0], xyz[1], xyz[2]}));
                worstXyz = std::max(worstXyz, std::fabs(d));
            }
        }
    }
    std::printf("largest difference from lcms2: xyz_to_lab %.3g, lab_to_xyz %.3g\n", worstLab,
                worstXyz);
}

TEST(ColorWorkingSpace, MatricesMatchFiguresAndLcms)
{
    double m[9], ref[9];
    const double* p = k_proPhotoRGBChromaticities;
    compute_rgb_to_xyz_matrix(p[0], p[1], p[2], p[3], p[4], p[5], 0.964221, 1.0, 0.82521, m);
    const double proPhoto[9] = {0.797676, 0.135192, 0.031353, 0.288041, 0.711874,
                                0.000086, 0,        0,        0.82521};
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(m[i], proPhoto[i], 5e-7) << i;
    const double* a = k_adobeRGBChromaticities;
    compute_rgb_to_xyz_matrix(a[0], a[1], a[2], a[3], a[4], a[5], 0.950469, 1.0, 1.088969, m);
    const double adobe[9] = {0.576702, 0.185555, 0.188212, 0.297362, 0.627353,
                             0.075285, 0.027033, 0.070688, 0.991248};
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(m[i], adobe[i], 5e-7) << i;

    const double srgbLike[6] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
    double worst = 0.0;
    for (const double* s : {k_proPhotoRGBChromaticities, k_adobeRGBChromaticities, srgbLike})
        for (const double* white : {k_D50_XYZ, k_D65_XYZ}) {
            compute_rgb_to_xyz_matrix(s[0], s[1], s[2], s[3], s[4], s[5], white[0], white[1],
                                      white[2], m);
            LcmsRgbToXyzMatrix(s, white, ref);
            for (int i = 0; i < 9; ++i) {
                EXPECT_NEAR(m[i], ref[i], 1e-12) << i;
                worst = std::max(worst, std::fabs(m[i] - ref[i]));
            }
        }
    std::printf("largest difference from lcms2: compute_rgb_to_xyz_matrix %.3g\n", worst);

    const double singular[9] = {1, 2, 3, 4, 5, 6, 4, 5, 6};
    matrix_invert_3(m, singular);
    for (double e : m)
        EXPECT_EQ(e, 0.0);
}

TEST(ColorWorkingSpace, AdobeBradfordTableAgainstLcms)
{
    const cmsCIEXYZ d65 = ToCms(k_D65_XYZ), d50 = ToCms(k_D50_XYZ);
    double tableError = 0.0, column[3];
    for (int col = 0; col < 3; ++col) {
        LcmsAdapt(d65, d50, cmsCIEXYZ{col == 0 ? 1.0 : 0, col == 1 ? 1.0 : 0, col == 2 ? 1.0 : 0},
                  column);
        for (int row = 0; row < 3; ++row)
            tableError = std::max(tableError,
                                  std::fabs(column[row] - k_d65_to_d50_bradford[3 * row + col]));
    }
    EXPECT_LE(tableError, 1.5e-6);  // 1.33e-6 measured

    double adobe[9], worst = 0.0;
    LcmsRgbToXyzMatrix(k_adobeRGBChromaticities, k_D65_XYZ, adobe);
    std::mt19937 gen(9);
    std::uniform_real_distribution<double> rgbDist(0.0, 1.2);
    for (int i = 0; i < 3000; ++i) {
        const double rgb[3] = {rgbDist(gen), rgbDist(gen), rgbDist(gen)};
        double xyz[3], ref[3], lin[3], inD65[3] = {0, 0, 0};
        adobergb_to_xyz_d50(rgb, xyz);
        for (int k = 0; k < 3; ++k)
            lin[k] = std::pow(rgb[k], 2.2);
        for (int r = 0; r < 9; ++r)
            inD65[r / 3] += adobe[r] * lin[r % 3];
        LcmsAdapt(d65, d50, ToCms(inD65), ref);
        const double allowed = tableError * (inD65[0] + inD65[1] + inD65[2]) + 1e-12;
        for (int k = 0; k < 3; ++k) {
            ASSERT_LE(std::fabs(xyz[k] - ref[k]), allowed);
            worst = std::max(worst, std::fabs(xyz[k] - ref[k]));
        }
    }
    std::printf("Bradford table vs lcms2: largest element %.3g, adobergb_to_xyz_d50 %.3g\n",
                tableError, worst);
}

TEST(ColorWorkingSpace, KnownConversionsAndRoundTrips)
{
    const double white[3] = {1, 1, 1}, adobeWhite[3] = {99.99998, 0.00044, -0.00013};
    double lab[3], rgb[3];
    prophotorgb_to_lab_d50(white, lab);
    ExpectTriple(k_neutral100, lab, 1e-9);
    // The rounded Bradford table leaves the Adobe RGB white slightly off the neutral axis.
    adobergb_to_lab_d50(white, lab);
    ExpectTriple(adobeWhite, lab, 6e-6);

    // Out of gamut: nothing is clipped, negative linear values meet the power as NaN.
    const double outside[3] = {50, -100, 100};
    lab_to_adobergb_d50(outside, rgb);
    EXPECT_TRUE(std::isnan(rgb[0]) && std::isnan(rgb[2]));
    EXPECT_NEAR(rgb[1], 0.5831, 5e-5);
    lab_to_prophotorgb_d50(outside, rgb);
    EXPECT_NEAR(rgb[0], 0.1089, 5e-5);
    EXPECT_NEAR(rgb[1], 0.4642, 5e-5);
    EXPECT_TRUE(std::isnan(rgb[2]));

    // Pure primaries and secondaries included: a zero channel must come back as 0, not NaN.
    // The 1/1.8 power turns a rounding of 1e-16 in such a channel into about 1e-9.
    // The two six-decimal Bradford tables are not exact inverses (their product is off the
    // identity by up to 1.37e-6 per element), so Adobe RGB is compared in linear light, away
    // from 0 where the 1/2.2 power would magnify it (a zero channel can come back as NaN).
    for (int r = 0; r <= 8; ++r)
        for (int g = 0; g <= 4; ++g)
            for (int b = 0; b <= 4; ++b) {
                const double in[3] = {r / 8.0, g / 4.0, b / 4.0};
                double v[3] = {in[0], in[1], in[2]};
                prophotorgb_to_lab_d50(v, v);
                lab_to_prophotorgb_d50(v, v);
                ExpectTriple(in, v, 1e-8);
                prophotorgb_to_xyz_d50(v, v);
                xyz_to_prophotorgb_d50(v, v);
                ExpectTriple(in, v, 1e-8);
                if (r < 2 || g < 1 || b < 1)
                    continue;
                double w[3] = {in[0], in[1], in[2]};
                adobergb_to_lab_d50(w, w);
                lab_to_adobergb_d50(w, w);
                for (int c = 0; c < 3; ++c)
                    EXPECT_NEAR(std::pow(w[c], 2.2), std::pow(in[c], 2.2), 1e-5);
            }
}

TEST(ColorGray, LightnessFiguresAndRoundTrips)
{
    EXPECT_EQ(YToLStar(1.0), 100.0);
    EXPECT_EQ(YToLStar(0.0), 0.0);
    EXPECT_EQ(LStarToY(100.0), 1.0);
    EXPECT_DOUBLE_EQ(LStarToY(8.0), k_cieEpsilon);
    EXPECT_DOUBLE_EQ(YToLStar(k_cieEpsilon), 8.0);
    EXPECT_NEAR(GammaEncodedGrayToLStar(0.5, 2.2), 53.7755, 5e-5);
    EXPECT_NEAR(LStarToGammaEncodedGray(50, 2.2), 0.46347, 5e-6);
    EXPECT_NEAR(LStarToY(50), 0.184187, 5e-7);
    EXPECT_LT(YToLStar(-0.01), 0.0);
    EXPECT_TRUE(std::isnan(GammaEncodedGrayToY(-0.5, 2.2)));
    for (double g = 0.0; g <= 1.0; g += 1.0 / 64) {
        EXPECT_NEAR(YToGammaEncodedGray(GammaEncodedGrayToY(g, 2.2), 2.2), g, 1e-14);
        EXPECT_NEAR(LStarToGammaEncodedGray(GammaEncodedGrayToLStar(g, 1.8), 1.8), g, 1e-13);
        EXPECT_NEAR(YToLStar(LStarToY(100 * g)), 100 * g, 1e-12);
    }
}
