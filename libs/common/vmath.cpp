// Single-precision vector math; see vmath.h for the layout.
//
// Formulas:
//   inverse            = adjugate / det, with 1/det replaced by 0 when det is exactly 0
//   rotation (unit axis x, y, z; angle a; s = sin a, c = cos a, u = 1 - c)
//                        | xxu+c   xyu-sz  xzu+sy |
//                        | xyu+sz  yyu+c   yzu-sx |
//                        | xzu-sy  yzu+sx  zzu+c  |
//   frustum            = | 2n/(r-l)  0         (r+l)/(r-l)  0           |
//                        | 0         2n/(t-b)  (t+b)/(t-b)  0           |
//                        | 0         0         (n+f)/(n-f)  2fn/(n-f)   |
//                        | 0         0         -1           0           |
//   Hamilton product   = (a.v × b.v + b.w·a.v + a.w·b.v,  a.w·b.w - a.v·b.v)
//   slerp              = (sin((1-t)θ)·a + sin(tθ)·b) / sin θ,  cos θ = a·b
#include "vmath.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

const float k_degToRad = 0.017453292f;
// Vectors no longer than this are too short to give a direction and are left as they are.
const float k_minNormalizeLength = 0.00001f;

// The reciprocal of a bound pair's difference, or 0 for equal bounds (so that the elements
// built from it stay finite). NaN bounds compare unequal and go through the division.
float ReciprocalOfDifference(float hi, float lo)
{
    return hi == lo ? 0.0f : 1.0f / (hi - lo);
}

void NormalizeN(float* v, int n)
{
    float sum = 0.0f;
    for (int i = 0; i < n; ++i)
        sum += v[i] * v[i];
    const float len = std::sqrt(sum);
    // Also false for NaN, which leaves the vector unchanged.
    if (!(len > k_minNormalizeLength))
        return;
    const float k = 1.0f / len;
    for (int i = 0; i < n; ++i)
        v[i] *= k;
}

// Determinant of the 3x3 minor of the 4x4 matrix m that leaves out row r and column c.
float Minor4(const float* m, int r, int c)
{
    float s[9];
    int k = 0;
    for (int i = 0; i < 4; ++i) {
        if (i == r)
            continue;
        for (int j = 0; j < 4; ++j) {
            if (j != c)
                s[k++] = m[4 * i + j];
        }
    }
    return s[0] * (s[4] * s[8] - s[5] * s[7]) + s[1] * (s[5] * s[6] - s[3] * s[8]) +
           s[2] * (s[3] * s[7] - s[4] * s[6]);
}

void PrintFloats(const char* format, const float* f, int n)
{
    double d[16];
    for (int i = 0; i < n; ++i)
        d[i] = f[i];
    if (n == 3)
        std::printf(format, d[0], d[1], d[2]);
    else if (n == 4)
        std::printf(format, d[0], d[1], d[2], d[3]);
    else if (n == 9)
        std::printf(format, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7], d[8]);
    else
        std::printf(format, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7], d[8], d[9], d[10],
                    d[11], d[12], d[13], d[14], d[15]);
}

}  // namespace

void Vec3::debug() const
{
    PrintFloats("(%.4f, %.4f, %.4f)\n", v, 3);
}

void Vec4::normalize()
{
    vector_normalize_4(v);
}

void Vec4::debug() const
{
    PrintFloats("(%.4f, %.4f, %.4f, %.4f)\n", v, 4);
}

void Matrix3::debug() const
{
    PrintFloats("(%.4f, %.4f, %.4f\n %.4f, %.4f, %.4f\n %.4f, %.4f, %.4f)\n", m, 9);
}

void Matrix4::copy(const float* src)
{
    matrix_copy_4(m, src);
}

void Matrix4::debug() const
{
    PrintFloats("(%.4f, %.4f, %.4f, %.4f\n %.4f, %.4f, %.4f, %.4f\n"
                " %.4f, %.4f, %.4f, %.4f\n %.4f, %.4f, %.4f, %.4f)\n",
                m, 16);
}

Matrix4 Quat::makeRot() const
{
    Matrix4 r;
    quat_to_matrix_4(r, q);
    return r;
}

Vec4 mul(const Matrix4& m, const Vec4& v)
{
    Vec4 r;
    matrix_multiply_vec_4(r, m, v);
    return r;
}

Matrix4 mul(const Matrix4& a, const Matrix4& b)
{
    Matrix4 r;
    matrix_multiply_4(r, a, b);
    return r;
}

Vec4 normalize(const Vec4& v)
{
    Vec4 r = v;
    r.normalize();
    return r;
}

Quat operator/(const Quat& q, float s)
{
    const float k = 1.0f / s;
    return Quat(q.q[0] * k, q.q[1] * k, q.q[2] * k, q.q[3] * k);
}

Quat slerp(const Quat& a, const Quat& b, float t)
{
    float d = a.q[0] * b.q[0] + a.q[1] * b.q[1] + a.q[2] * b.q[2] + a.q[3] * b.q[3];
    // Rounding can push the dot product of two equal unit quaternions past acos's domain.
    if (d > 1.0f)
        d = 0.999f;
    else if (d < 0.0f)
        return slerp(Quat(-a.q[0], -a.q[1], -a.q[2], -a.q[3]), b, t);
    const float theta = std::acos(d);
    // Too close to divide by sin θ.
    if (theta < 0.001f)
        return a;
    const float s = std::sin(theta);
    const float wa = std::sin((1.0f - t) * theta);
    const float wb = std::sin(t * theta);
    Quat sum;
    for (int i = 0; i < 4; ++i)
        sum.q[i] = b.q[i] * wb + a.q[i] * wa;
    return sum / s;
}

void matrix_ident_3(float* m)
{
    for (int i = 0; i < 9; ++i)
        m[i] = (i % 4 == 0) ? 1.0f : 0.0f;
}

void matrix_ident_4(float* m)
{
    for (int i = 0; i < 16; ++i)
        m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
}

void matrix_zero_3(float* m)
{
    for (int i = 0; i < 9; ++i)
        m[i] = 0.0f;
}

void matrix_copy_4(float* dst, const float* src)
{
    for (int i = 0; i < 16; ++i)
        dst[i] = src[i];
}

void matrix_add_3(float* out, const float* a, const float* b)
{
    for (int i = 0; i < 9; ++i)
        out[i] = a[i] + b[i];
}

void matrix_transpose_3(float* out, const float* in)
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[3 * i + j] = in[3 * j + i];
}

void matrix_transpose_4(float* out, const float* in)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            out[4 * i + j] = in[4 * j + i];
}

void matrix_multiply_3(float* out, const float* a, const float* b)
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[3 * i + j] = a[3 * i] * b[j] + a[3 * i + 1] * b[3 + j] + a[3 * i + 2] * b[6 + j];
}

void matrix_multiply_4(float* out, const float* a, const float* b)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            out[4 * i + j] = a[4 * i] * b[j] + a[4 * i + 1] * b[4 + j] +
                             a[4 * i + 2] * b[8 + j] + a[4 * i + 3] * b[12 + j];
}

void matrix_multiply_vec_3(float* out, const float* m, const float* v)
{
    for (int i = 0; i < 3; ++i)
        out[i] = m[3 * i] * v[0] + m[3 * i + 1] * v[1] + m[3 * i + 2] * v[2];
}

void matrix_multiply_vec_4(float* out, const float* m, const float* v)
{
    for (int i = 0; i < 4; ++i)
        out[i] = m[4 * i] * v[0] + m[4 * i + 1] * v[1] + m[4 * i + 2] * v[2] + m[4 * i + 3] * v[3];
}

void matrix_multiply_4_vec_3(float* out, const float* m, const float* p)
{
    for (int i = 0; i < 3; ++i)
        out[i] = m[4 * i] * p[0] + m[4 * i + 1] * p[1] + m[4 * i + 2] * p[2] + m[4 * i + 3];
}

void matrix_transform_linear(float* out, const float* m, const float* v)
{
    for (int i = 0; i < 3; ++i)
        out[i] = m[4 * i] * v[0] + m[4 * i + 1] * v[1] + m[4 * i + 2] * v[2];
}

void matrix_invert_3(float* out, const float* m)
{
    const float a = m[0], b = m[1], c = m[2];
    const float d = m[3], e = m[4], f = m[5];
    const float g = m[6], h = m[7], i = m[8];
    const float c0 = e * i - f * h;
    const float c1 = f * g - d * i;
    const float c2 = d * h - e * g;
    const float det = a * c0 + b * c1 + c * c2;
    const float k = det == 0.0f ? 0.0f : 1.0f / det;
    out[0] = c0 * k;
    out[1] = (c * h - b * i) * k;
    out[2] = (b * f - e * c) * k;
    out[3] = c1 * k;
    out[4] = (i * a - c * g) * k;
    out[5] = (c * d - f * a) * k;
    out[6] = c2 * k;
    out[7] = (g * b - h * a) * k;
    out[8] = (a * e - d * b) * k;
}

void matrix_invert_4(float* out, const float* m)
{
    float cof[16];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            cof[4 * i + j] = ((i + j) % 2 == 0 ? 1.0f : -1.0f) * Minor4(m, i, j);
    const float det = m[12] * cof[12] + m[13] * cof[13] + m[14] * cof[14] + m[15] * cof[15];
    const float k = det == 0.0f ? 0.0f : 1.0f / det;
    // All of m has been read into cof, so out may be m.
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            out[4 * i + j] = cof[4 * j + i] * k;
}

void matrix_translate_4(float* m, float x, float y, float z)
{
    matrix_ident_4(m);
    m[3] = x;
    m[7] = y;
    m[11] = z;
}

void matrix_scale_4(float* m, float x, float y, float z)
{
    matrix_ident_4(m);
    m[0] = x;
    m[5] = y;
    m[10] = z;
}

void matrix_rotate_4(float* m, float angle, float x, float y, float z)
{
    const float len = std::sqrt(x * x + y * y + z * z);
    const float k = len == 0.0f ? 0.0f : 1.0f / len;
    x *= k;
    y *= k;
    z *= k;
    const float a = angle * k_degToRad;
    const float s = std::sin(a);
    const float c = std::cos(a);
    const float u = 1.0f - c;
    matrix_ident_4(m);
    m[0] = x * x * u + c;
    m[1] = x * y * u - s * z;
    m[2] = x * z * u + s * y;
    m[4] = x * y * u + s * z;
    m[5] = y * y * u + c;
    m[6] = y * z * u - s * x;
    m[8] = x * z * u - s * y;
    m[9] = y * z * u + s * x;
    m[10] = z * z * u + c;
}

void matrix_ortho_4(float* m, float l, float r, float b, float t, float n, float f)
{
    const float rx = ReciprocalOfDifference(r, l);
    const float ry = ReciprocalOfDifference(t, b);
    const float rz = ReciprocalOfDifference(f, n);
    for (int i = 0; i < 16; ++i)
        m[i] = 0.0f;
    m[0] = 2.0f * rx;
    m[3] = -(l + r) * rx;
    m[5] = 2.0f * ry;
    m[7] = -(b + t) * ry;
    m[10] = 2.0f * rz;
    m[11] = -(n + f) * rz;
    m[15] = 1.0f;
}

void matrix_frustum_4(float* m, float l, float r, float b, float t, float n, float f)
{
    const float rx = ReciprocalOfDifference(r, l);
    const float ry = ReciprocalOfDifference(t, b);
    const float rz = ReciprocalOfDifference(n, f);
    for (int i = 0; i < 16; ++i)
        m[i] = 0.0f;
    m[0] = 2.0f * n * rx;
    m[2] = (l + r) * rx;
    m[5] = 2.0f * n * ry;
    m[6] = (b + t) * ry;
    m[10] = (n + f) * rz;
    m[11] = (f * 2.0f * n) * rz;
    m[14] = -1.0f;
}

void matrix_frustum_4(float* m, float l, float r, float b, float t, float n, float f,
                      double dx, double dy, int width, int height)
{
    const double sx = -(double(r - l) * dx / double(float(width)));
    const double sy = -(double(t - b) * dy / double(float(height)));
    matrix_frustum_4(m, float(l + sx), float(r + sx), float(b + sy), float(t + sy), n, f);
}

void matrix_perspective_4(float* m, float fovy, float aspect, float n, float f)
{
    const float ymax = std::tan(0.5f * fovy * k_degToRad) * n;
    const float xmax = ymax * aspect;
    matrix_frustum_4(m, -xmax, xmax, -ymax, ymax, n, f);
}

void matrix_perspective_4(float* m, float fovy, float aspect, float n, float f,
                          double dx, double dy, int width, int height)
{
    const float ymax = std::tan(0.5f * fovy * k_degToRad) * n;
    const float xmax = ymax * aspect;
    matrix_frustum_4(m, -xmax, xmax, -ymax, ymax, n, f, dx, dy, width, height);
}

void matrix_lookat_4(float* m, const float* eye, const float* center, const float* up)
{
    float fwd[3] = {center[0] - eye[0], center[1] - eye[1], center[2] - eye[2]};
    vector_normalize_3(fwd);
    m[8] = -fwd[0];
    m[9] = -fwd[1];
    m[10] = -fwd[2];
    m[0] = up[1] * m[10] - up[2] * m[9];
    m[1] = up[2] * m[8] - up[0] * m[10];
    m[2] = up[0] * m[9] - up[1] * m[8];
    vector_normalize_3(m);
    m[4] = m[9] * m[2] - m[1] * m[10];
    m[5] = m[10] * m[0] - m[8] * m[2];
    m[6] = m[8] * m[1] - m[9] * m[0];
    m[3] = -(eye[0] * m[0] + eye[1] * m[1] + eye[2] * m[2]);
    m[7] = -(eye[0] * m[4] + eye[1] * m[5] + eye[2] * m[6]);
    m[11] = -(eye[0] * m[8] + eye[1] * m[9] + eye[2] * m[10]);
    m[12] = 0.0f;
    m[13] = 0.0f;
    m[14] = 0.0f;
    m[15] = 1.0f;
}

void vector_normalize_3(float* v)
{
    NormalizeN(v, 3);
}

void vector_normalize_4(float* v)
{
    NormalizeN(v, 4);
}

void vector_lerp_3(float* out, float t, const float* a, const float* b)
{
    for (int i = 0; i < 3; ++i)
        out[i] = b[i] - a[i];
    for (int i = 0; i < 3; ++i)
        out[i] = t * out[i] + a[i];
}

void vector_perp(float* out, const float* v)
{
    // The axis along v's smallest component is the one least parallel to v.
    int axis = 0;
    float best = 1.0f;
    for (int i = 0; i < 3; ++i) {
        if (best > std::fabs(v[i])) {
            best = std::fabs(v[i]);
            axis = i;
        }
    }
    float e[3] = {0.0f, 0.0f, 0.0f};
    e[axis] = 1.0f;
    const float d = -(e[0] * v[0] + e[1] * v[1] + e[2] * v[2]);
    const float w[3] = {v[0], v[1], v[2]};
    for (int i = 0; i < 3; ++i)
        out[i] = e[i] + d * w[i];
    vector_normalize_3(out);
}

void project_point_on_plane(float* out, const float* n, const float* p)
{
    const float d = -(p[0] * n[0] + p[1] * n[1] + p[2] * n[2]);
    const float q[3] = {p[0], p[1], p[2]};
    for (int i = 0; i < 3; ++i)
        out[i] = q[i] + d * n[i];
}

float random_range(float lo, float hi)
{
    return lo + (float(std::rand() & 0x7FFF) / 32767.0f) * (hi - lo);
}

void quat_mult_4(float* out, const float* a, const float* b)
{
    out[0] = (a[1] * b[2] - b[1] * a[2]) + b[3] * a[0] + a[3] * b[0];
    out[1] = (a[2] * b[0] - a[0] * b[2]) + b[3] * a[1] + a[3] * b[1];
    out[2] = (a[0] * b[1] - a[1] * b[0]) + b[3] * a[2] + a[3] * b[2];
    out[3] = a[3] * b[3] - (a[0] * b[0] + a[1] * b[1] + a[2] * b[2]);
}

void quat_conj_4(float* out, const float* q)
{
    out[0] = -q[0];
    out[1] = -q[1];
    out[2] = -q[2];
    out[3] = q[3];
}

void quat_make_rotate_4(float* out, const float* axis, float a)
{
    const float s = std::sin(a);
    const float c = std::cos(a);
    out[0] = s * axis[0];
    out[1] = s * axis[1];
    out[2] = s * axis[2];
    out[3] = c;
}

void quat_rotate_4(float* out, const float* q, const float* v)
{
    float c[4];
    float tmp[4];
    quat_conj_4(c, q);
    quat_mult_4(tmp, v, c);
    quat_mult_4(out, q, tmp);
}

void quat_to_matrix_4(float* m, const float* q)
{
    const float x = q[0], y = q[1], z = q[2], w = q[3];
    matrix_ident_4(m);
    m[0] = (y * y + z * z) * -2.0f + 1.0f;
    m[1] = (x * y - z * w) + (x * y - z * w);
    m[2] = (w * y + z * x) + (w * y + z * x);
    m[4] = (x * y + z * w) + (x * y + z * w);
    m[5] = (z * z + x * x) * -2.0f + 1.0f;
    m[6] = (y * z - x * w) + (y * z - x * w);
    m[8] = (z * x - w * y) + (z * x - w * y);
    m[9] = (y * z + x * w) + (y * z + x * w);
    m[10] = (y * y + x * x) * -2.0f + 1.0f;
}
