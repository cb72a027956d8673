// Colour-space, gray and lightness conversions: the known figures, round trips through the
// working spaces, and a cross-check against Little CMS 2 as an independent engine.
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
//   The conversion is held to the effect of that difference, 1.5e-6 per unit of X + Y + Z
//   (just above the 1.33e-6 measured), so a wrong digit in the table fails.
// - sRGB against lcms2's built-in profile, Lab D50 on the other side, relative colorimetric
//   (both profiles have the D50 media white, so absolute would give the same). The curves are
//   the same: lcms2 evaluates its parametric curve in double and returns a float, so half a
//   float ulp, FLT_EPSILON/2 of the value; its inverse breaks at 0.04045/12.92 rather than at
//   0.0031308, where the two halves differ by 2.9e-8. The matrices are not: lcms2 builds its
//   sRGB on the D65 of x, y = 0.3127, 0.3290 adapted to its D50 (0.9642, 1, 0.8249), ours on
//   k_D65_XYZ and the Bradford table to k_D50_XYZ. Relative to each side's white the matrices
//   differ by up to 4.2e-5 per element and their inverses by up to 1.9e-4 (the white points,
//   not rounding: exact Bradford from our D65 to our D50 gives the same). A conversion may
//   differ by 5e-5 or 2e-4 times the sum of its input's components (the primaries among the
//   inputs hold single columns to that), plus lcms2's float pipeline, whose Lab encoding
//   steps by 100·2^-24 in L and 255·2^-24 in a and b; through the inverse matrix (rows
//   summing to at most 5.3 in magnitude) that stays under 2e-7 of linear light. A third of
//   either bound fails, and so would a wrong primary or a missing adaptation.
#include "colorcommon.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

namespace {

// lcms2's RGB-to-XYZ matrix for these primaries and white, adapted back from its own D50.
void LcmsRgbToXyzMatrix(const double* c, const double* whiteXYZ, double* m)
{
    cmsCIExyY white;
    const cmsCIEXYZ whiteCms = {whiteXYZ[0], whiteXYZ[1], whiteXYZ[2]};
    cmsXYZ2xyY(&white, &whiteCms);
    const cmsCIExyYTRIPLE primaries = {{c[0], c[1], 1.0}, {c[2], c[3], 1.0}, {c[4], c[5], 1.0}};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, nullptr);
    const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                     cmsSigBlueColorantTag};
    for (int col = 0; col < 3; ++col) {
        const auto* d50 = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tags[col]));
        cmsCIEXYZ xyz;
        cmsAdaptToIlluminant(&xyz, cmsD50_XYZ(), &whiteCms, d50);
        m[col] = xyz.X, m[3 + col] = xyz.Y, m[6 + col] = xyz.Z;
    }
    cmsCloseProfile(profile);
}

void ExpectTriple(const double* expected, const double* actual, double tol)
{
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(expected[i], actual[i], tol) << "component " << i;
}

}  // namespace

TEST(ColorLab, MatchesLcms)
{
    double v[3];
    std::mt19937 gen(5);
    // XYZ ratios to the white from below black to above white, and from 1e-6 to 1e3.
    std::uniform_real_distribution<double> linear(-0.2, 1.5), exponent(-6.0, 3.0);
    std::uniform_real_distribution<double> l(-20, 150), ab(-200, 200);
    for (const double* white : {k_D50_XYZ, k_D65_XYZ}) {
        const cmsCIEXYZ whiteCms = {white[0], white[1], white[2]};
        for (int i = 0; i < 3000; ++i) {
            double fMax = 1.0, lnMax = 0.0;
            for (int c = 0; c < 3; ++c) {
                const double t = (i + c) % 2 ? linear(gen) : std::pow(10.0, exponent(gen));
                v[c] = t * white[c];
                fMax = std::max(fMax, std::cbrt(std::fabs(t)));
                if (t > k_cieEpsilon)
                    lnMax = std::max(lnMax, std::fabs(std::log(t)));
            }
            cmsCIELab ref, lab;
            cmsCIEXYZ in = {v[0], v[1], v[2]}, refXyz;
            cmsXYZ2Lab(&whiteCms, &ref, &in);
            xyz_to_lab(v, white, v);  // in place
            const double bound = 500.0 * fMax * (3.4e-16 * lnMax + 8 * 2.2e-16);
            for (double d : {v[0] - ref.L, v[1] - ref.a, v[2] - ref.b})
                ASSERT_LE(std::fabs(d), bound) << in.X << " " << in.Y << " " << in.Z;

            lab = {l(gen), ab(gen), ab(gen)};
            cmsLab2XYZ(&whiteCms, &refXyz, &lab);
            v[0] = lab.L, v[1] = lab.a, v[2] = lab.b;
            lab_to_xyz(v, white, v);  // in place
            for (double d : {v[0] - refXyz.X, v[1] - refXyz.Y, v[2] - refXyz.Z})
                ASSERT_LE(std::fabs(d), 1e-14 * std::max({1.0, v[0], v[1], v[2]}));
        }
    }
}

TEST(ColorWorkingSpace, MatricesMatchFiguresAndLcms)
{
    // The published matrices of the two working spaces, to six decimals.
    const double proPhoto[9] = {0.797676, 0.135192, 0.031353, 0.288041, 0.711874, 0.000086, 0, 0,
                                0.82521};
    const double adobe[9] = {0.576702, 0.185555, 0.188212, 0.297362, 0.627353,
                             0.075285, 0.027033, 0.070688, 0.991248};
    const struct { const double *primaries, *white, *figures; } spaces[] = {
        {k_proPhotoRGBChromaticities, k_D50_XYZ, proPhoto},
        {k_adobeRGBChromaticities, k_D65_XYZ, adobe}};
    double m[9], ref[9];
    for (const auto& s : spaces) {
        const double *p = s.primaries, *w = s.white;
        compute_rgb_to_xyz_matrix(p[0], p[1], p[2], p[3], p[4], p[5], w[0], w[1], w[2], m);
        LcmsRgbToXyzMatrix(p, w, ref);
        for (int i = 0; i < 9; ++i) {
            EXPECT_NEAR(m[i], ref[i], 1e-12) << i;
            EXPECT_NEAR(m[i], s.figures[i], 5e-7) << i;
        }
    }
}

TEST(ColorWorkingSpace, AdobeToD50MatchesLcms)
{
    const cmsCIEXYZ d65 = {k_D65_XYZ[0], k_D65_XYZ[1], k_D65_XYZ[2]};
    const cmsCIEXYZ d50 = {k_D50_XYZ[0], k_D50_XYZ[1], k_D50_XYZ[2]};
    double adobe[9];
    LcmsRgbToXyzMatrix(k_adobeRGBChromaticities, k_D65_XYZ, adobe);
    std::mt19937 gen(9);
    std::uniform_real_distribution<double> rgbDist(0.0, 1.2);
    for (int i = 0; i < 3000; ++i) {
        const double rgb[3] = {rgbDist(gen), rgbDist(gen), rgbDist(gen)};
        double xyz[3], inD65[3] = {0, 0, 0};
        adobergb_to_xyz_d50(rgb, xyz);
        for (int r = 0; r < 9; ++r)
            inD65[r / 3] += adobe[r] * std::pow(rgb[r % 3], 2.2);
        cmsCIEXYZ ref;
        const cmsCIEXYZ in = {inD65[0], inD65[1], inD65[2]};
        cmsAdaptToIlluminant(&ref, &d65, &d50, &in);
        const double allowed = 1.5e-6 * (inD65[0] + inD65[1] + inD65[2]) + 1e-12;
        for (double d : {xyz[0] - ref.X, xyz[1] - ref.Y, xyz[2] - ref.Z})
            ASSERT_LE(std::fabs(d), allowed);
    }
}

TEST(ColorWorkingSpace, OutOfGamutAndRoundTrips)
{
    const double outside[3] = {50, -100, 100};
    double rgb[3];
    // Out of gamut: nothing is clipped, negative linear values meet the power as NaN.
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
    // identity by up to 1.37e-6 per element), so Adobe RGB is compared in linear light, and
    // not where a channel is 0: the 1/2.2 power can turn that into NaN.
    for (int i = 0; i < 9 * 5 * 5; ++i) {
        const double in[3] = {i / 25 / 8.0, i / 5 % 5 / 4.0, i % 5 / 4.0};
        double v[3] = {in[0], in[1], in[2]}, w[3] = {in[0], in[1], in[2]};
        prophotorgb_to_lab_d50(v, v);
        lab_to_xyz(v, k_D50_XYZ, v);
        xyz_to_prophotorgb_d50(v, v);
        ExpectTriple(in, v, 1e-8);
        adobergb_to_lab_d50(w, w);
        lab_to_adobergb_d50(w, w);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(in[c] > 0 ? std::pow(w[c], 2.2) : 0.0, std::pow(in[c], 2.2), 1e-5) << i;
    }
}

TEST(ColorWorkingSpace, SRGBMatchesLcms)
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile(), lab = cmsCreateLab4Profile(nullptr);
    const double forwardBound = 5e-5, inverseBound = 2e-4, pipeline = 2e-7;
    cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL,
                                             INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsHTRANSFORM toRgb = cmsCreateTransform(lab, TYPE_Lab_DBL, srgb, TYPE_RGB_DBL,
                                             INTENT_RELATIVE_COLORIMETRIC, 0);
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 3000; ++i) {
        // The eight corners, then random colours, every fourth one dark enough for the
        // curve's linear segment.
        const double scale = i % 4 == 1 ? 0.05 : 1.0;
        double rgb[3] = {scale * unit(gen), scale * unit(gen), scale * unit(gen)};
        if (i < 8)
            rgb[0] = i & 1, rgb[1] = i >> 1 & 1, rgb[2] = i >> 2 & 1;
        double lin[3], oursLab[3], refLab[3], oursRgb[3], refRgb[3];
        for (int c = 0; c < 3; ++c)
            lin[c] = SRGBEncodedGrayToY(rgb[c]);

        // sRGB to Lab, compared as XYZ over the white.
        srgb_to_lab_d50(rgb, oursLab);
        cmsDoTransform(toLab, rgb, refLab, 1);
        const double unitWhite[3] = {1, 1, 1};
        double oursRatio[3], refRatio[3];
        lab_to_xyz(oursLab, unitWhite, oursRatio);
        lab_to_xyz(refLab, unitWhite, refRatio);
        for (int c = 0; c < 3; ++c)
            ASSERT_NEAR(oursRatio[c], refRatio[c],
                        forwardBound * (lin[0] + lin[1] + lin[2]) + pipeline)
                << i << " component " << c;

        // Lab to sRGB, compared in linear light.
        lab_to_srgb_d50(oursLab, oursRgb);
        cmsDoTransform(toRgb, oursLab, refRgb, 1);
        const double ratioSum = oursRatio[0] + oursRatio[1] + oursRatio[2];
        for (int c = 0; c < 3; ++c)
            ASSERT_NEAR(SRGBEncodedGrayToY(oursRgb[c]), SRGBEncodedGrayToY(refRgb[c]),
                        inverseBound * ratioSum + pipeline)
                << i << " component " << c;
    }
    cmsDeleteTransform(toLab);
    cmsDeleteTransform(toRgb);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
}

TEST(ColorWorkingSpace, SRGBOutsideStaysFiniteAndClips)
{
    // Far outside sRGB: the linear segment carries the negative red and blue below 0 (no
    // NaN), and the clip brings them to 0 and leaves green alone.
    double rgb[3] = {50, -100, 100};
    lab_to_srgb_d50(rgb, rgb);
    EXPECT_NEAR(rgb[0], -1.8406, 5e-5);
    EXPECT_NEAR(rgb[1], 0.5885, 5e-5);
    EXPECT_NEAR(rgb[2], -0.6325, 5e-5);
    const double green = rgb[1];
    clip_rgb_3(rgb, rgb);
    EXPECT_EQ(rgb[0], 0.0);
    EXPECT_EQ(rgb[1], green);
    EXPECT_EQ(rgb[2], 0.0);

    // A fourth element after each triple shows that nothing beyond it is touched.
    const double inf = HUGE_VAL, nan = std::nan("");
    const double in[2][4] = {{1.5, nan, 0.25, 5.0}, {inf, -inf, 1.0, -5.0}};
    const double expected[2][4] = {{1.0, 0.0, 0.25, 7.0}, {1.0, 0.0, 1.0, 7.0}};
    for (int i = 0; i < 2; ++i) {
        double out[4] = {0, 0, 0, 7.0};
        clip_rgb_3(in[i], out);
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(out[c], expected[i][c]) << i << " component " << c;
    }
}

TEST(ColorGray, SRGBCurveMatchesLcms)
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(srgb, cmsSigRedTRCTag));
    cmsToneCurve* inverse = cmsReverseToneCurve(curve);
    // Float inputs, as lcms2 takes them: a fine ramp and both break points with a neighbour
    // on either side.
    std::vector<float> inputs;
    for (int i = 0; i <= 4096; ++i)
        inputs.push_back(i / 4096.0f);
    for (float v : {0.04045f, 0.0031308f, 0.00313080495f})
        inputs.insert(inputs.end(), {std::nextafter(v, 0.0f), v, std::nextafter(v, 1.0f)});
    for (float v : inputs) {
        const double y = SRGBEncodedGrayToY(v), encoded = YToSRGBEncodedGray(v);
        EXPECT_NEAR(y, cmsEvalToneCurveFloat(curve, v), FLT_EPSILON / 2 * y) << v;
        EXPECT_NEAR(encoded, cmsEvalToneCurveFloat(inverse, v), FLT_EPSILON / 2 * encoded + 2.9e-8)
            << v;
    }
    cmsFreeToneCurve(inverse);
    cmsCloseProfile(srgb);
}

TEST(ColorGray, LightnessFigures)
{
    // The linear branches: L* = 8 gives Y = epsilon and back.
    EXPECT_DOUBLE_EQ(LStarToY(8.0), k_cieEpsilon);
    EXPECT_DOUBLE_EQ(YToLStar(k_cieEpsilon), 8.0);
    EXPECT_NEAR(GammaEncodedGrayToLStar(0.5, 2.2), 53.7755, 5e-5);
    EXPECT_NEAR(LStarToGammaEncodedGray(50, 2.2), 0.46347, 5e-6);
    EXPECT_NEAR(LStarToY(50), 0.184187, 5e-7);
}
