// Single-precision vector math: 3- and 4-vectors, 3x3 and 4x4 matrices, projection and
// camera matrices, and rotation quaternions.
//
// Layout: matrices are row-major (element (i, j) of a 4x4 matrix is float 4i + j) and multiply
// column vectors on the right, out[i] = sum over j of M[i][j]·v[j]; a product a·b applies b
// first. Affine matrices keep their translation in floats 3, 7 and 11. Quaternions are stored
// (x, y, z, w), the scalar part last. Angles given to the matrix builders are in degrees.
//
// Two layers share the storage: array functions on plain float arrays (result first, then
// inputs), and the value types below, which hold nothing but their floats and convert to a
// pointer to the first one, so they can be handed to the array functions directly.
//
// Unless a function is marked "in place", its result must not share storage with its inputs.
// Degenerate input gives a defined value (a singular matrix inverts to the zero matrix, a
// vector of length at most 0.00001 is left unnormalised); nothing is reported.
#pragma once

#include "rgb2lab/export.h"

struct RGB2LAB_EXPORT Vec3 {
    float v[3] = {0.0f, 0.0f, 0.0f};

    Vec3() = default;
    Vec3(float x, float y, float z) : v{x, y, z} {}

    operator float*() { return v; }
    operator const float*() const { return v; }

    // Prints "(%.4f, %.4f, %.4f)\n" to standard output.
    void debug() const;
};

struct RGB2LAB_EXPORT Vec4 {
    float v[4] = {0.0f, 0.0f, 0.0f, 0.0f};

    Vec4() = default;
    Vec4(float x, float y, float z, float w) : v{x, y, z, w} {}

    operator float*() { return v; }
    operator const float*() const { return v; }

    // Scales to unit length; a vector of length at most 0.00001 (or NaN) is left as it is.
    void normalize();
    // Prints "(%.4f, %.4f, %.4f, %.4f)\n" to standard output.
    void debug() const;
};

struct RGB2LAB_EXPORT Matrix3 {
    float m[9] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};

    operator float*() { return m; }
    operator const float*() const { return m; }

    // Prints the three rows, one per line, the later rows indented by one blank.
    void debug() const;
};

struct RGB2LAB_EXPORT Matrix4 {
    float m[16] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                   0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};

    operator float*() { return m; }
    operator const float*() const { return m; }

    // Copies the 16 floats at src into the matrix.
    void copy(const float* src);
    // Prints the four rows, one per line, the later rows indented by one blank.
    void debug() const;
};

struct RGB2LAB_EXPORT Quat {
    float q[4] = {0.0f, 0.0f, 0.0f, 1.0f};

    Quat() = default;
    Quat(float x, float y, float z, float w) : q{x, y, z, w} {}

    operator float*() { return q; }
    operator const float*() const { return q; }

    // The rotation matrix of this (unit) quaternion, as quat_to_matrix_4 builds it.
    Matrix4 makeRot() const;
};

// Returns m·v; every component of v is read before the result is formed.
RGB2LAB_EXPORT Vec4 mul(const Matrix4& m, const Vec4& v);
// Returns a·b (b applied first).
RGB2LAB_EXPORT Matrix4 mul(const Matrix4& a, const Matrix4& b);
// Returns a unit-length copy of v, with the rule of Vec4::normalize.
RGB2LAB_EXPORT Vec4 normalize(const Vec4& v);

// Returns (x·k, y·k, z·k, w·k) with k = 1/s.
RGB2LAB_EXPORT Quat operator/(const Quat& q, float s);
// Interpolates along the shorter great arc from a (t = 0) to b (t = 1); t is not clamped.
RGB2LAB_EXPORT Quat slerp(const Quat& a, const Quat& b, float t);

RGB2LAB_EXPORT void matrix_ident_3(float* m);
RGB2LAB_EXPORT void matrix_ident_4(float* m);
RGB2LAB_EXPORT void matrix_zero_3(float* m);
RGB2LAB_EXPORT void matrix_copy_4(float* dst, const float* src);
// In place.
RGB2LAB_EXPORT void matrix_add_3(float* out, const float* a, const float* b);
RGB2LAB_EXPORT void matrix_transpose_3(float* out, const float* in);
RGB2LAB_EXPORT void matrix_transpose_4(float* out, const float* in);
RGB2LAB_EXPORT void matrix_multiply_3(float* out, const float* a, const float* b);
RGB2LAB_EXPORT void matrix_multiply_4(float* out, const float* a, const float* b);
RGB2LAB_EXPORT void matrix_multiply_vec_3(float* out, const float* m, const float* v);
RGB2LAB_EXPORT void matrix_multiply_vec_4(float* out, const float* m, const float* v);
// Point transform by an affine matrix: the bottom row is ignored and nothing is divided by w.
RGB2LAB_EXPORT void matrix_multiply_4_vec_3(float* out, const float* m, const float* p);
// Direction transform by the upper-left 3x3 block.
RGB2LAB_EXPORT void matrix_transform_linear(float* out, const float* m, const float* v);
// Adjugate over determinant; a singular matrix gives the zero matrix. In place.
RGB2LAB_EXPORT void matrix_invert_3(float* out, const float* m);
RGB2LAB_EXPORT void matrix_invert_4(float* out, const float* m);

RGB2LAB_EXPORT void matrix_translate_4(float* m, float x, float y, float z);
RGB2LAB_EXPORT void matrix_scale_4(float* m, float x, float y, float z);
// Right-handed rotation by angle degrees about (x, y, z), which need not be of unit length.
RGB2LAB_EXPORT void matrix_rotate_4(float* m, float angle, float x, float y, float z);
// Maps the box [l, r] x [b, t] x [n, f] onto -1..1 per axis; n and f are z coordinates.
RGB2LAB_EXPORT void matrix_ortho_4(float* m, float l, float r, float b, float t, float n, float f);
// Perspective frustum for a camera looking down -z; n and f are positive distances.
RGB2LAB_EXPORT void matrix_frustum_4(float* m, float l, float r, float b, float t, float n,
                                     float f);
// The same frustum with its window shifted by -dx·(r - l)/width and -dy·(t - b)/height.
RGB2LAB_EXPORT void matrix_frustum_4(float* m, float l, float r, float b, float t, float n,
                                     float f, double dx, double dy, int width, int height);
// Symmetric perspective with a vertical field of view of fovy degrees.
RGB2LAB_EXPORT void matrix_perspective_4(float* m, float fovy, float aspect, float n, float f);
RGB2LAB_EXPORT void matrix_perspective_4(float* m, float fovy, float aspect, float n, float f,
                                         double dx, double dy, int width, int height);
// Viewing matrix of a camera at eye looking at center, with up giving the vertical.
RGB2LAB_EXPORT void matrix_lookat_4(float* m, const float* eye, const float* center,
                                    const float* up);

// In place.
RGB2LAB_EXPORT void vector_normalize_3(float* v);
RGB2LAB_EXPORT void vector_normalize_4(float* v);
// out = a + t·(b - a).
RGB2LAB_EXPORT void vector_lerp_3(float* out, float t, const float* a, const float* b);
// A unit vector perpendicular to the unit vector v. In place.
RGB2LAB_EXPORT void vector_perp(float* out, const float* v);
// p projected onto the plane through the origin with unit normal n. In place.
RGB2LAB_EXPORT void project_point_on_plane(float* out, const float* n, const float* p);
// One of 32768 evenly spaced values from lo to hi, both included, drawn with rand().
RGB2LAB_EXPORT float random_range(float lo, float hi);

// out = a ⊗ b, the Hamilton product.
RGB2LAB_EXPORT void quat_mult_4(float* out, const float* a, const float* b);
// out = (-x, -y, -z, w). In place.
RGB2LAB_EXPORT void quat_conj_4(float* out, const float* q);
// out = (sin a·axis, cos a): a is in radians and not halved, so a unit axis rotates by 2a.
RGB2LAB_EXPORT void quat_make_rotate_4(float* out, const float* axis, float a);
// out = q ⊗ v ⊗ conj(q); v is a full quaternion, a vector to rotate has w = 0.
RGB2LAB_EXPORT void quat_rotate_4(float* out, const float* q, const float* v);
// The rotation matrix of the unit quaternion q.
RGB2LAB_EXPORT void quat_to_matrix_4(float* m, const float* q);
