// Colour-space, gray and lightness conversions: known figures, round trips through the working
// spaces, and Little CMS 2 as an independent engine.
//
// Tolerances against lcms2 (both sides work in double):
// - xyz_to_lab and lab_to_xyz are checked through the sRGB conversions (our cube root uses the
//   exponent 0.333333333333333, lcms2 uses 1/3: a relative 3.3e-16·|ln t| in f(t)).
// - Adobe RGB to D50 through the published matrix (six decimals, which the matrix test holds
//   ours to) and lcms2's Bradford adaptation from k_D65_XYZ to k_D50_XYZ: lcms2's Bradford
//   matrix differs from the six-decimal table by up to 1.33e-6 per element, and the two differ
//   by at most 0.98e-6 per unit of X + Y + Z; they are held to 1.5e-6, so that an error of 1e-5
//   in an element of either table fails.
// - sRGB against lcms2's built-in profile, Lab D50 on the other side, relative colorimetric. The
//   curves are the same (lcms2 returns a float: half a float ulp; its inverse breaks at
//   0.04045/12.92 rather than at 0.0031308, where the two halves differ by 2.9e-8). The matrices
//   are not: lcms2 builds its sRGB on the D65 of x, y = 0.3127, 0.3290 adapted to its D50, ours
//   on k_D65_XYZ and the Bradford table to k_D50_XYZ; relative to each side's white they differ
//   by up to 4.2e-5 per element and their inverses by up to 1.9e-4. A conversion may differ by
//   5e-5 or 2e-4 times the sum of its input's components, plus 2e-7 for lcms2's float pipeline;
//   a third of either bound fails, and so would a wrong primary or a missing adaptation.
#include "colorcommon.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

TEST(ColorWorkingSpace, MatricesMatchFiguresAndAdobeRgbMatchesLcms)
{
    // The published matrices of the two working spaces, to six decimals.
    const double proPhoto[9] = {0.797676, 0.135192, 0.031353, 0.288041, 0.711874, 0.000086, 0, 0, 0.82521};
    const double adobe[9] = {0.576702, 0.185555, 0.188212, 0.297362, 0.627353, 0.075285, 0.027033, 0.070688, 0.991248};
    const struct { const double *primaries, *white, *figures; } spaces[] = {
        {k_proPhotoRGBChromaticities, k_D50_XYZ, proPhoto}, {k_adobeRGBChromaticities, k_D65_XYZ, adobe}};
    double m[9];
    for (const auto& s : spaces) {
        const double *p = s.primaries, *w = s.white;
        compute_rgb_to_xyz_matrix(p[0], p[1], p[2], p[3], p[4], p[5], w[0], w[1], w[2], m);
        for (int i = 0; i < 9; ++i)
            EXPECT_NEAR(m[i], s.figures[i], 5e-7) << i;
    }
    // Adobe RGB: the power 2.2, the published matrix and lcms2's Bradford adaptation from
    // k_D65_XYZ to k_D50_XYZ.
    const cmsCIEXYZ d65 = {k_D65_XYZ[0], k_D65_XYZ[1], k_D65_XYZ[2]}, d50 = {k_D50_XYZ[0], k_D50_XYZ[1], k_D50_XYZ[2]};
    for (int i = 0; i < 125; ++i) {
        const double rgb[3] = {i / 25 * 0.3, i / 5 % 5 * 0.3, i % 5 * 0.3};
        double xyz[3], inD65[3] = {0, 0, 0};
        adobergb_to_xyz_d50(rgb, xyz);
        for (int r = 0; r < 9; ++r)
            inD65[r / 3] += adobe[r] * std::pow(rgb[r % 3], 2.2);
        cmsCIEXYZ want;
        const cmsCIEXYZ in = {inD65[0], inD65[1], inD65[2]};
        cmsAdaptToIlluminant(&want, &d65, &d50, &in);
        const double allowed = 1.5e-6 * (inD65[0] + inD65[1] + inD65[2]) + 1e-12;
        EXPECT_TRUE(std::fabs(xyz[0] - want.X) <= allowed && std::fabs(xyz[1] - want.Y) <= allowed &&
                    std::fabs(xyz[2] - want.Z) <= allowed) << i;
    }
}

TEST(ColorWorkingSpace, OutOfGamutRoundTripsAndLightness)
{
    // The lightness conversions' linear branches: L* = 8 gives Y = epsilon and back.
    EXPECT_TRUE(std::fabs(LStarToY(8.0) - k_cieEpsilon) < 1e-17 && std::fabs(YToLStar(k_cieEpsilon) - 8.0) < 1e-14);
    EXPECT_NEAR(GammaEncodedGrayToLStar(0.5, 2.2), 53.7755, 5e-5);
    EXPECT_NEAR(LStarToGammaEncodedGray(50, 2.2), 0.46347, 5e-6);
    EXPECT_NEAR(LStarToY(50), 0.184187, 5e-7);
    // Out of gamut: nothing is clipped, negative linear values meet the power as NaN.
    const double outside[3] = {50, -100, 100};
    double adobe[3], proPhoto[3];
    lab_to_adobergb_d50(outside, adobe);
    lab_to_prophotorgb_d50(outside, proPhoto);
    EXPECT_TRUE(std::isnan(adobe[0]) && std::fabs(adobe[1] - 0.5831) < 5e-5 && std::isnan(adobe[2]));
    EXPECT_TRUE(std::fabs(proPhoto[0] - 0.1089) < 5e-5 && std::fabs(proPhoto[1] - 0.4642) < 5e-5 &&
                std::isnan(proPhoto[2]));
    // Pure primaries and secondaries included: a zero channel must come back as 0, not NaN (the
    // 1/1.8 power turns a rounding of 1e-16 into about 1e-9). The two six-decimal Bradford tables
    // are not exact inverses (off by up to 1.37e-6), so Adobe RGB is compared in linear light,
    // and not where a channel is 0: the 1/2.2 power can turn that into NaN.
    for (int i = 0; i < 9 * 5 * 5; ++i) {
        const double in[3] = {i / 25 / 8.0, i / 5 % 5 / 4.0, i % 5 / 4.0};
        double v[3] = {in[0], in[1], in[2]}, w[3] = {in[0], in[1], in[2]};
        prophotorgb_to_lab_d50(v, v);
        lab_to_xyz(v, k_D50_XYZ, v);
        xyz_to_prophotorgb_d50(v, v);
        adobergb_to_lab_d50(w, w);
        lab_to_adobergb_d50(w, w);
        for (int c = 0; c < 3; ++c)
            EXPECT_TRUE(std::fabs(v[c] - in[c]) < 1e-8 &&
                        std::fabs((in[c] > 0 ? std::pow(w[c], 2.2) : 0.0) - std::pow(in[c], 2.2)) < 1e-5) << i;
    }
}

TEST(ColorWorkingSpace, SRGBMatchesLcmsAndClips)
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile(), lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsHTRANSFORM toRgb = cmsCreateTransform(lab, TYPE_Lab_DBL, srgb, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 1000; ++i) {
        // The eight corners, then random colours, every fourth one dark enough for the curve's
        // linear segment. Lab is compared as XYZ over the white, RGB in linear light.
        const double scale = i % 4 == 1 ? 0.05 : 1.0, unitWhite[3] = {1, 1, 1};
        double rgb[3] = {scale * unit(gen), scale * unit(gen), scale * unit(gen)};
        if (i < 8)
            rgb[0] = i & 1, rgb[1] = i >> 1 & 1, rgb[2] = i >> 2 & 1;
        double ours[3], theirs[3], oursRatio[3], theirRatio[3], oursRgb[3], theirRgb[3];
        srgb_to_lab_d50(rgb, ours);
        cmsDoTransform(toLab, rgb, theirs, 1);
        lab_to_xyz(ours, unitWhite, oursRatio);
        lab_to_xyz(theirs, unitWhite, theirRatio);
        lab_to_srgb_d50(ours, oursRgb);
        cmsDoTransform(toRgb, ours, theirRgb, 1);
        const double linear = SRGBEncodedGrayToY(rgb[0]) + SRGBEncodedGrayToY(rgb[1]) + SRGBEncodedGrayToY(rgb[2]);
        for (int c = 0; c < 3; ++c)
            ASSERT_TRUE(std::fabs(oursRatio[c] - theirRatio[c]) <= 5e-5 * linear + 2e-7 &&
                        std::fabs(SRGBEncodedGrayToY(oursRgb[c]) - SRGBEncodedGrayToY(theirRgb[c])) <=
                            2e-4 * (oursRatio[0] + oursRatio[1] + oursRatio[2]) + 2e-7) << i << " component " << c;
    }
    cmsDeleteTransform(toLab);
    cmsDeleteTransform(toRgb);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);

    // Far outside sRGB the linear segment carries red and blue below 0 (no NaN); clipping brings
    // each component into 0..1, NaN to 0, and leaves a fourth element alone.
    const double inf = HUGE_VAL, nan = std::nan("");
    double outside[4] = {50, -100, 100, 7}, clipped[4] = {0, 0, 0, 7}, wild[4] = {inf, nan, -inf, 7};
    lab_to_srgb_d50(outside, outside);
    EXPECT_TRUE(std::fabs(outside[0] + 1.8406) < 5e-5 && std::fabs(outside[1] - 0.5885) < 5e-5 &&
                std::fabs(outside[2] + 0.6325) < 5e-5 && outside[3] == 7);
    clip_rgb_3(outside, clipped);
    EXPECT_EQ(std::vector<double>(clipped, clipped + 4), (std::vector<double>{0, outside[1], 0, 7}));
    clip_rgb_3(wild, wild);
    EXPECT_EQ(std::vector<double>(wild, wild + 4), (std::vector<double>{1, 0, 0, 7}));
}
