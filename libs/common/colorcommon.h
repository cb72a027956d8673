// Colour science in double precision: CIE XYZ and L*a*b* against a given white, RGB
// working-space matrices from primaries, gamma-encoded RGB to and from XYZ, ProPhoto RGB,
// Adobe RGB (1998) and sRGB conversions to D50, and one-channel gray / Y / L* conversions.
//
// A colour is an array of three doubles: XYZ (white Y = 1.0), Lab, or RGB (nominally 0..1).
// A 3x3 matrix is nine doubles, row-major, applied to column vectors. Primaries are six
// doubles: x_red, y_red, x_green, y_green, x_blue, y_blue.
//
// Inputs come first and the output array last; every function reads all of its input before
// writing, so the output may be the input array. Nothing is clipped or reported: a colour
// outside a working space gives NaN components where a negative linear value meets the
// encoding power (a channel that is negative only by rounding, on the gamut boundary,
// encodes as 0). sRGB is the exception: its linear segment near black takes negative values
// too, so a colour outside it gives components below 0 or above 1, which clip_rgb_3 clips.
#pragma once

#include "rgb2lab/export.h"

// CIE constants: epsilon = 216/24389 and kappa = 24389/27; kappa·epsilon = 8 is the L* break.
RGB2LAB_EXPORT extern const double k_cieEpsilon;
RGB2LAB_EXPORT extern const double k_cieKappa;

RGB2LAB_EXPORT extern const double k_D50_XYZ[3];
RGB2LAB_EXPORT extern const double k_D65_XYZ[3];
RGB2LAB_EXPORT extern const double k_proPhotoRGBChromaticities[6];
RGB2LAB_EXPORT extern const double k_adobeRGBChromaticities[6];
RGB2LAB_EXPORT extern const double k_sRGBChromaticities[6];
// Bradford adaptation matrices, applied to XYZ columns: XYZ_D50 = k_d65_to_d50_bradford·XYZ_D65.
// They are rounded to six decimals, so they are not exact inverses of each other.
RGB2LAB_EXPORT extern const double k_d65_to_d50_bradford[9];
RGB2LAB_EXPORT extern const double k_d50_to_d65_bradford[9];

RGB2LAB_EXPORT void xyz_to_lab(const double* xyz, const double* whiteXYZ, double* lab);
RGB2LAB_EXPORT void lab_to_xyz(const double* lab, const double* whiteXYZ, double* xyz);

// Adjugate over determinant; a singular source gives the zero matrix. dst may be src.
RGB2LAB_EXPORT void matrix_invert_3(double* dst, const double* src);

// The linear-RGB-to-XYZ matrix of the working space with these primaries and white; it maps
// RGB (1, 1, 1) to the white.
RGB2LAB_EXPORT void compute_rgb_to_xyz_matrix(double xRed, double yRed, double xGreen,
                                              double yGreen, double xBlue, double yBlue,
                                              double xWhite, double yWhite, double zWhite,
                                              double* matrix);

// Pure power-law encoding: linear = encoded^gamma.
RGB2LAB_EXPORT void rgb_to_xyz(const double* rgb, double gamma, const double* chromaticities,
                               const double* whiteXYZ, double* xyz);
RGB2LAB_EXPORT void xyz_to_rgb(const double* xyz, double gamma, const double* chromaticities,
                               const double* whiteXYZ, double* rgb);

// ProPhoto RGB: D50 white, gamma 1.8.
RGB2LAB_EXPORT void prophotorgb_to_xyz_d50(const double* rgb, double* xyz);
RGB2LAB_EXPORT void prophotorgb_to_lab_d50(const double* rgb, double* lab);
RGB2LAB_EXPORT void xyz_to_prophotorgb_d50(const double* xyz, double* rgb);
RGB2LAB_EXPORT void lab_to_prophotorgb_d50(const double* lab, double* rgb);

// Adobe RGB (1998): D65 white, gamma 2.2, brought to and from D50 by the Bradford tables.
RGB2LAB_EXPORT void adobergb_to_xyz_d50(const double* rgb, double* xyz);
RGB2LAB_EXPORT void adobergb_to_lab_d50(const double* rgb, double* lab);
RGB2LAB_EXPORT void lab_to_adobergb_d50(const double* lab, double* rgb);

// sRGB: D65 white, brought to and from D50 by the Bradford tables; its transfer curve is the
// pair SRGBEncodedGrayToY / YToSRGBEncodedGray.
RGB2LAB_EXPORT void srgb_to_xyz_d50(const double* rgb, double* xyz);
RGB2LAB_EXPORT void srgb_to_lab_d50(const double* rgb, double* lab);
RGB2LAB_EXPORT void xyz_to_srgb_d50(const double* xyz, double* rgb);
RGB2LAB_EXPORT void lab_to_srgb_d50(const double* lab, double* rgb);

// Each component into 0..1; NaN gives 0.
RGB2LAB_EXPORT void clip_rgb_3(const double* rgb, double* clipped);

// gray^gamma
RGB2LAB_EXPORT double GammaEncodedGrayToY(double gray, double gamma);
// Y^(1/gamma)
RGB2LAB_EXPORT double YToGammaEncodedGray(double y, double gamma);
// 116·Y^(1/3) - 16 above epsilon, kappa·Y at or below it.
RGB2LAB_EXPORT double YToLStar(double y);
// ((L* + 16)/116)^3 above 8, L*/kappa at or below it.
RGB2LAB_EXPORT double LStarToY(double lStar);
RGB2LAB_EXPORT double GammaEncodedGrayToLStar(double gray, double gamma);
RGB2LAB_EXPORT double LStarToGammaEncodedGray(double lStar, double gamma);
// The sRGB transfer curve: gray/12.92 up to 0.04045, ((gray + 0.055)/1.055)^2.4 above.
RGB2LAB_EXPORT double SRGBEncodedGrayToY(double gray);
// Its inverse: 12.92·Y up to 0.0031308, 1.055·Y^(1/2.4) - 0.055 above. Both keep the linear
// segment below 0.
RGB2LAB_EXPORT double YToSRGBEncodedGray(double y);
