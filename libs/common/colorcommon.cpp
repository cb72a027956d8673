// Colour-space, gray and lightness conversions; see colorcommon.h for the data layout.
//
// CIE L*a*b* against the white (Xw, Yw, Zw), with epsilon = 216/24389 and kappa = 24389/27:
//   f(t) = t^0.333333333333333           when t > epsilon
//        = (kappa·t + 16) / 116          otherwise
//   L = 116·f(Y/Yw) - 16,  a = 500·(f(X/Xw) - f(Y/Yw)),  b = 200·(f(Y/Yw) - f(Z/Zw))
// The exponent is the 15-digit decimal, not the double nearest one third; YToLStar uses
// 1.0/3.0. The inverse takes L > 8 (= kappa·epsilon) as its break and cubes by multiplication.
//
// RGB working space from primaries (xp, yp) and white W: each primary's XYZ at Y = 1 is
// (xp/yp, 1, (1 - xp - yp)/yp); with P the matrix whose rows are those XYZs,
// S = W^T·P^-1 scales each primary so that RGB (1, 1, 1) lands on W, and the RGB-to-XYZ
// matrix is P^T with column p scaled by S[p].
//
// sRGB: the matrix from k_sRGBChromaticities and k_D65_XYZ, D50 reached by the Bradford
// tables as for Adobe RGB. The transfer curve breaks at the encoded 0.04045 and the linear
// 0.0031308, the points the sRGB definition gives; its two halves meet there to within 3e-8.
#include "colorcommon.h"

#include <cmath>

const double k_cieEpsilon = 216.0 / 24389.0;
const double k_cieKappa = 24389.0 / 27.0;

const double k_D50_XYZ[3] = {0.964221, 1.0, 0.82521};
const double k_D65_XYZ[3] = {0.950469, 1.0, 1.088969};
const double k_proPhotoRGBChromaticities[6] = {0.7347, 0.2653, 0.1596, 0.8404, 0.0366, 0.0001};
const double k_adobeRGBChromaticities[6] = {0.64, 0.33, 0.21, 0.71, 0.15, 0.06};
const double k_sRGBChromaticities[6] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
const double k_d65_to_d50_bradford[9] = {1.047835,  0.022897, -0.050147,  //
                                         0.029556,  0.990481, -0.017056,  //
                                         -0.009238, 0.01505,  0.752034};
const double k_d50_to_d65_bradford[9] = {0.955556,  -0.023049, 0.063197,  //
                                         -0.028302, 1.009944,  0.021018,  //
                                         0.012305,  -0.020494, 1.330084};

namespace {

const double k_labExponent = 0.333333333333333;
// kappa·epsilon: the L* at which the cube law meets the linear segment.
const double k_lStarBreak = 8.0;
const double k_proPhotoGamma = 1.8;
const double k_adobeGamma = 2.2;
const double k_sRGBEncodedBreak = 0.04045;
const double k_sRGBLinearBreak = 0.0031308;
// The matrix round trip leaves a channel that should be 0 within about 2.5e-16 of |XYZ|
// (measured over the boundary of both working spaces); a thousand times that is still rounding.
const double k_linearRounding = 1e-12;

double LabF(double t)
{
    return t > k_cieEpsilon ? std::pow(t, k_labExponent) : (k_cieKappa * t + 16.0) / 116.0;
}

// out = m·v; v is read whole first, so out may be v.
void Apply(const double* m, const double* v, double* out)
{
    const double v0 = v[0], v1 = v[1], v2 = v[2];
    for (int i = 0; i < 3; ++i)
        out[i] = m[3 * i] * v0 + m[3 * i + 1] * v1 + m[3 * i + 2] * v2;
}

void RgbToXyzMatrix(const double* chromaticities, const double* whiteXYZ, double* matrix)
{
    const double* c = chromaticities;
    compute_rgb_to_xyz_matrix(c[0], c[1], c[2], c[3], c[4], c[5], whiteXYZ[0], whiteXYZ[1],
                              whiteXYZ[2], matrix);
}

}  // namespace

void xyz_to_lab(const double* xyz, const double* whiteXYZ, double* lab)
{
    const double fx = LabF(xyz[0] / whiteXYZ[0]);
    const double fy = LabF(xyz[1] / whiteXYZ[1]);
    const double fz = LabF(xyz[2] / whiteXYZ[2]);
    lab[0] = 116.0 * fy - 16.0;
    lab[1] = 500.0 * (fx - fy);
    lab[2] = 200.0 * (fy - fz);
}

void lab_to_xyz(const double* lab, const double* whiteXYZ, double* xyz)
{
    const double l = lab[0], a = lab[1], b = lab[2];
    const double yr = l > k_lStarBreak ? std::pow((l + 16.0) / 116.0, 3.0) : l / k_cieKappa;
    const double fy = yr > k_cieEpsilon ? (l + 16.0) / 116.0 : (k_cieKappa * yr + 16.0) / 116.0;
    const double fx = fy + a / 500.0;
    const double fz = fy + b / -200.0;
    const double fx3 = fx * fx * fx;
    const double fz3 = fz * fz * fz;
    const double xr = fx3 > k_cieEpsilon ? fx3 : (116.0 * fx - 16.0) / k_cieKappa;
    const double zr = fz3 > k_cieEpsilon ? fz3 : (116.0 * fz - 16.0) / k_cieKappa;
    xyz[0] = xr * whiteXYZ[0];
    xyz[1] = yr * whiteXYZ[1];
    xyz[2] = zr * whiteXYZ[2];
}

void matrix_invert_3(double* dst, const double* src)
{
    const double a = src[0], b = src[1], c = src[2];
    const double d = src[3], e = src[4], f = src[5];
    const double g = src[6], h = src[7], i = src[8];
    const double c0 = e * i - f * h;
    const double c1 = f * g - d * i;
    const double c2 = d * h - e * g;
    const double det = a * c0 + b * c1 + c * c2;
    const double s = det == 0.0 ? 0.0 : 1.0 / det;
    dst[0] = c0 * s;
    dst[1] = (c * h - b * i) * s;
    dst[2] = (b * f - e * c) * s;
    dst[3] = c1 * s;
    dst[4] = (i * a - c * g) * s;
    dst[5] = (c * d - f * a) * s;
    dst[6] = c2 * s;
    dst[7] = (g * b - h * a) * s;
    dst[8] = (a * e - d * b) * s;
}

void compute_rgb_to_xyz_matrix(double xRed, double yRed, double xGreen, double yGreen,
                               double xBlue, double yBlue, double xWhite, double yWhite,
                               double zWhite, double* matrix)
{
    const double xr = xRed / yRed, zr = (1.0 - xRed - yRed) / yRed;
    const double xg = xGreen / yGreen, zg = (1.0 - xGreen - yGreen) / yGreen;
    const double xb = xBlue / yBlue, zb = (1.0 - xBlue - yBlue) / yBlue;
    const double p[9] = {xr, 1.0, zr, xg, 1.0, zg, xb, 1.0, zb};
    double q[9];
    matrix_invert_3(q, p);
    const double sr = xWhite * q[0] + yWhite * q[3] + zWhite * q[6];
    const double sg = xWhite * q[1] + yWhite * q[4] + zWhite * q[7];
    const double sb = xWhite * q[2] + yWhite * q[5] + zWhite * q[8];
    matrix[0] = sr * xr;
    matrix[1] = sg * xg;
    matrix[2] = sb * xb;
    matrix[3] = sr;
    matrix[4] = sg;
    matrix[5] = sb;
    matrix[6] = sr * zr;
    matrix[7] = sg * zg;
    matrix[8] = sb * zb;
}

void rgb_to_xyz(const double* rgb, double gamma, const double* chromaticities,
                const double* whiteXYZ, double* xyz)
{
    const double lin[3] = {std::pow(rgb[0], gamma), std::pow(rgb[1], gamma),
                           std::pow(rgb[2], gamma)};
    double m[9];
    RgbToXyzMatrix(chromaticities, whiteXYZ, m);
    Apply(m, lin, xyz);
}

void xyz_to_rgb(const double* xyz, double gamma, const double* chromaticities,
                const double* whiteXYZ, double* rgb)
{
    double m[9];
    RgbToXyzMatrix(chromaticities, whiteXYZ, m);
    matrix_invert_3(m, m);
    double lin[3];
    Apply(m, xyz, lin);
    // A colour on the gamut boundary must not turn into NaN because its zero channel came out
    // a few ulps negative; a channel clearly below 0 is outside the space and stays NaN.
    const double roundingFloor = -k_linearRounding * (std::fabs(xyz[0]) + std::fabs(xyz[1]) +
                                              std::fabs(xyz[2]));
    const double inverseGamma = 1.0 / gamma;
    for (int i = 0; i < 3; ++i)
        rgb[i] = std::pow(lin[i] < 0.0 && lin[i] >= roundingFloor ? 0.0 : lin[i], inverseGamma);
}

void prophotorgb_to_xyz_d50(const double* rgb, double* xyz)
{
    rgb_to_xyz(rgb, k_proPhotoGamma, k_proPhotoRGBChromaticities, k_D50_XYZ, xyz);
}

void prophotorgb_to_lab_d50(const double* rgb, double* lab)
{
    double xyz[3];
    prophotorgb_to_xyz_d50(rgb, xyz);
    xyz_to_lab(xyz, k_D50_XYZ, lab);
}

void xyz_to_prophotorgb_d50(const double* xyz, double* rgb)
{
    xyz_to_rgb(xyz, k_proPhotoGamma, k_proPhotoRGBChromaticities, k_D50_XYZ, rgb);
}

void lab_to_prophotorgb_d50(const double* lab, double* rgb)
{
    double xyz[3];
    lab_to_xyz(lab, k_D50_XYZ, xyz);
    xyz_to_rgb(xyz, k_proPhotoGamma, k_proPhotoRGBChromaticities, k_D50_XYZ, rgb);
}

void adobergb_to_xyz_d50(const double* rgb, double* xyz)
{
    double d65[3];
    rgb_to_xyz(rgb, k_adobeGamma, k_adobeRGBChromaticities, k_D65_XYZ, d65);
    Apply(k_d65_to_d50_bradford, d65, xyz);
}

void adobergb_to_lab_d50(const double* rgb, double* lab)
{
    double xyz[3];
    adobergb_to_xyz_d50(rgb, xyz);
    xyz_to_lab(xyz, k_D50_XYZ, lab);
}

void lab_to_adobergb_d50(const double* lab, double* rgb)
{
    double xyz[3];
    lab_to_xyz(lab, k_D50_XYZ, xyz);
    Apply(k_d50_to_d65_bradford, xyz, xyz);
    xyz_to_rgb(xyz, k_adobeGamma, k_adobeRGBChromaticities, k_D65_XYZ, rgb);
}

void srgb_to_xyz_d50(const double* rgb, double* xyz)
{
    const double lin[3] = {SRGBEncodedGrayToY(rgb[0]), SRGBEncodedGrayToY(rgb[1]),
                           SRGBEncodedGrayToY(rgb[2])};
    double m[9], d65[3];
    RgbToXyzMatrix(k_sRGBChromaticities, k_D65_XYZ, m);
    Apply(m, lin, d65);
    Apply(k_d65_to_d50_bradford, d65, xyz);
}

void srgb_to_lab_d50(const double* rgb, double* lab)
{
    double xyz[3];
    srgb_to_xyz_d50(rgb, xyz);
    xyz_to_lab(xyz, k_D50_XYZ, lab);
}

void xyz_to_srgb_d50(const double* xyz, double* rgb)
{
    double m[9], lin[3];
    RgbToXyzMatrix(k_sRGBChromaticities, k_D65_XYZ, m);
    matrix_invert_3(m, m);
    Apply(k_d50_to_d65_bradford, xyz, lin);
    Apply(m, lin, lin);
    for (int i = 0; i < 3; ++i)
        rgb[i] = YToSRGBEncodedGray(lin[i]);
}

void lab_to_srgb_d50(const double* lab, double* rgb)
{
    double xyz[3];
    lab_to_xyz(lab, k_D50_XYZ, xyz);
    xyz_to_srgb_d50(xyz, rgb);
}

void clip_rgb_3(const double* rgb, double* clipped)
{
    for (int i = 0; i < 3; ++i)
        clipped[i] = rgb[i] > 0.0 ? (rgb[i] < 1.0 ? rgb[i] : 1.0) : 0.0;
}

double GammaEncodedGrayToY(double gray, double gamma)
{
    return std::pow(gray, gamma);
}

double YToGammaEncodedGray(double y, double gamma)
{
    return std::pow(y, 1.0 / gamma);
}

double YToLStar(double y)
{
    return y > k_cieEpsilon ? 116.0 * std::pow(y, 1.0 / 3.0) - 16.0 : k_cieKappa * y;
}

double LStarToY(double lStar)
{
    return lStar > k_lStarBreak ? std::pow((lStar + 16.0) / 116.0, 3.0) : lStar / k_cieKappa;
}

double GammaEncodedGrayToLStar(double gray, double gamma)
{
    return YToLStar(GammaEncodedGrayToY(gray, gamma));
}

double LStarToGammaEncodedGray(double lStar, double gamma)
{
    return YToGammaEncodedGray(LStarToY(lStar), gamma);
}

double SRGBEncodedGrayToY(double gray)
{
    return gray > k_sRGBEncodedBreak ? std::pow((gray + 0.055) / 1.055, 2.4) : gray / 12.92;
}

double YToSRGBEncodedGray(double y)
{
    return y > k_sRGBLinearBreak ? 1.055 * std::pow(y, 1.0 / 2.4) - 0.055 : 12.92 * y;
}
