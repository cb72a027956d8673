// Colour differences and the measured-Lab-to-PCS transform.
//
// CMC(1:1), with index 1 the reference and index 2 the sample, C = sqrt(a² + b²) and the
// hue angle h1 in degrees, 0..360:
//   dH² = da² + db² - dC²  (a slightly negative value, from rounding, counts as 0)
//   SL  = 0.511 when L1 < 16, else 0.040975·L1 / (1 + 0.01765·L1)
//   SC  = 0.0638·C1 / (1 + 0.0131·C1) + 0.638
//   F   = sqrt(C1⁴ / (C1⁴ + 1900))
//   T   = 0.56 + |0.2·cos(h1 + 168°)| when 164 <= h1 <= 345, else 0.36 + |0.4·cos(h1 + 35°)|
//   SH  = SC·(F·T + 1 - F)
//   dE  = sqrt((dL/SL)² + (dC/SC)² + (dH/SH)²)
//
// Measured Lab to PCS Lab, with black B and white W: T translates B to the origin; R turns
// n = (W - B)/|W - B| onto the L axis by Rodrigues' formula with c = n × (1, 0, 0) and
// dot = n·(1, 0, 0): R = dot·I + [c]x + c·cᵀ·(1 - dot)/|c|²; S scales L by 100/|W - B|.
// The result is S·R·T.
#include "icc.h"

#include <cfloat>
#include <cmath>

namespace {

// 180/pi, as a float.
const float k_radToDeg = 57.29578f;
const double k_degToRadDouble = 3.14159265358979323846 / 180.0;
// The length below which a direction cannot be normalised (see vector_normalize_3).
const float k_minDirectionLength = 0.00001f;

float CmcHueWeight(float h1)
{
    if (h1 >= 164.0f && h1 <= 345.0f)
        return 0.56f + std::fabs(float(0.2 * std::cos((double(h1) + 168.0) * k_degToRadDouble)));
    return 0.36f + std::fabs(float(0.4 * std::cos((double(h1) + 35.0) * k_degToRadDouble)));
}

}  // namespace

float ComputeDeltaE(const Vec3& first, const Vec3& second)
{
    const float dl = first.v[0] - second.v[0];
    const float da = first.v[1] - second.v[1];
    const float db = first.v[2] - second.v[2];
    return std::sqrt(dl * dl + da * da + db * db);
}

float ComputeDeltaECMC21(const Vec3& reference, const Vec3& sample)
{
    const float l1 = reference.v[0], a1 = reference.v[1], b1 = reference.v[2];
    const float l2 = sample.v[0], a2 = sample.v[1], b2 = sample.v[2];
    const float dl = l1 - l2;
    const float c1 = std::sqrt(a1 * a1 + b1 * b1);
    const float c2 = std::sqrt(a2 * a2 + b2 * b2);
    const float dc = c1 - c2;
    const float dh2 = (a1 - a2) * (a1 - a2) + (b1 - b2) * (b1 - b2) - dc * dc;
    // Rounding can leave a hue difference of zero slightly negative.
    const float dh = dh2 < 0.0f ? 0.0f : std::sqrt(dh2);
    const float sl = l1 < 16.0f ? 0.511f : 0.040975f * l1 / (1.0f + 0.01765f * l1);
    const float sc = 0.0638f * c1 / (1.0f + 0.0131f * c1) + 0.638f;
    const float c1Pow4 = c1 * c1 * c1 * c1;
    const float f = std::sqrt(c1Pow4 / (c1Pow4 + 1900.0f));
    float h1 = float(std::atan2(double(b1), double(a1)) * double(k_radToDeg));
    if (h1 < 0.0f)
        h1 += 360.0f;
    const float sh = sc * (f * CmcHueWeight(h1) + 1.0f - f);
    const float tl = dl / sl;
    const float tc = dc / sc;
    const float th = dh / sh;
    return std::sqrt(tl * tl + tc * tc + th * th);
}

Matrix4 ComputeTransformFromMeasuredLabToPCSLab(const Vec3& measuredBlack,
                                                const Vec3& measuredWhite)
{
    Matrix4 t;
    matrix_translate_4(t, -measuredBlack.v[0], -measuredBlack.v[1], -measuredBlack.v[2]);
    const Vec4 d = mul(t, Vec4(measuredWhite.v[0], measuredWhite.v[1], measuredWhite.v[2], 1.0f));

    const float length = std::sqrt(d.v[0] * d.v[0] + d.v[1] * d.v[1] + d.v[2] * d.v[2]);
    // Black and white (nearly) coincide: there is no axis to turn or scale, so the
    // translation alone is the transform rather than infinities.
    if (!(length > k_minDirectionLength))
        return t;
    float n[3] = {d.v[0], d.v[1], d.v[2]};
    vector_normalize_3(n);

    const float c1 = 0.0f, c2 = n[2], c3 = -n[1];
    const float dot = n[0];
    const float cc = c1 * c1 + c2 * c2 + c3 * c3;
    Matrix4 r;
    matrix_ident_4(r);
    if (cc < FLT_MIN) {
        // Already on the L axis (or too close for (1 - dot)/|c|² to stay finite): no turn
        // towards +L, or half a turn about the b axis from -L.
        if (dot < 0.0f) {
            r.m[0] = -1.0f;
            r.m[5] = -1.0f;
        }
    } else {
        const float h = (1.0f - dot) / cc;
        r.m[0] = c1 * c1 * h + dot;
        r.m[1] = c1 * c2 * h - c3;
        r.m[2] = c1 * c3 * h + c2;
        r.m[4] = c1 * c2 * h + c3;
        r.m[5] = c2 * c2 * h + dot;
        r.m[6] = c2 * c3 * h - c1;
        r.m[8] = c1 * c3 * h - c2;
        r.m[9] = c2 * c3 * h + c1;
        r.m[10] = c3 * c3 * h + dot;
    }

    const float u = mul(r, d).v[0];
    Matrix4 s;
    matrix_ident_4(s);
    s.m[0] = 100.0f / u;
    return mul(mul(s, r), t);
}
