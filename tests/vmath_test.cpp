// Vector, matrix and quaternion math: known matrices, and properties that catch wrong signs,
// transposed layouts and swapped product orders (inverse·m = I, a quaternion rotates as its
// matrix does, slerp's ends).
#include "vmath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "testutil.h"

namespace {

void ExpectNear(const float* expected, const float* actual, int n, float tol = 1e-5f)
{
    for (int i = 0; i < n; ++i)
        EXPECT_NEAR(expected[i], actual[i], tol) << "element " << i;
}

Matrix4 Identity4()
{
    Matrix4 m;
    matrix_ident_4(m);
    return m;
}

// A unit quaternion turning by `degrees` about the unit `axis`.
Quat RotationQuat(const float* axis, float degrees)
{
    Quat q;
    quat_make_rotate_4(q, axis, 0.5f * degrees * 0.017453292f);
    return q;
}

}  // namespace

TEST(VmathMatrix, InverseAndProducts)
{
    std::mt19937 gen(7);
    std::uniform_real_distribution<float> dist(-2.0f, 2.0f);
    for (int trial = 0; trial < 200; ++trial) {
        Matrix4 m, inv;
        Matrix3 a, ai, prod, ident;
        for (int i = 0; i < 16; ++i)
            m.m[i] = dist(gen) + (i % 5 == 0 ? 6.0f : 0.0f);  // well conditioned
        for (int i = 0; i < 9; ++i)
            a.m[i] = dist(gen) + (i % 4 == 0 ? 6.0f : 0.0f);
        matrix_invert_4(inv, m);
        ExpectNear(Identity4(), mul(inv, m), 16);
        ExpectNear(Identity4(), mul(m, inv), 16);
        matrix_invert_4(m, m);
        ExpectNear(inv, m, 16, 0.0f);
        matrix_invert_3(ai, a);
        matrix_multiply_3(prod, ai, a);
        matrix_ident_3(ident);
        ExpectNear(ident, prod, 9);
    }
    // Singular: a zero bottom row (4x4) or first row (3x3) inverts to all zeros.
    Matrix4 s4 = Identity4();
    s4.m[15] = 0.0f;
    matrix_invert_4(s4, s4);
    ExpectNear(Matrix4(), s4, 16, 0.0f);
    Matrix3 s3;
    matrix_ident_3(s3);
    s3.m[0] = 0.0f;
    matrix_invert_3(s3, s3);
    ExpectNear(Matrix3(), s3, 9, 0.0f);

    // mul(t, s) scales first: (1, 1, 1) -> (2, 3, 4) -> (3, 5, 7).
    Matrix4 t, sc;
    matrix_translate_4(t, 1, 2, 3);
    matrix_scale_4(sc, 2, 3, 4);
    ExpectNear(Vec4(1, 0, 0, 0), mul(t, Vec4(1, 0, 0, 0)), 4, 0.0f);
    const Matrix4 ts = mul(t, sc);
    ExpectNear(Vec4(3, 5, 7, 1), mul(ts, Vec4(1, 1, 1, 1)), 4, 0.0f);
    Vec3 out;
    matrix_multiply_4_vec_3(out, ts, Vec3(1, 1, 1));
    ExpectNear(Vec3(3, 5, 7), out, 3, 0.0f);
    matrix_transform_linear(out, ts, Vec3(1, 1, 1));
    ExpectNear(Vec3(2, 3, 4), out, 3, 0.0f);
}

TEST(VmathMatrix, RotationIsRightHandedAndOrthonormal)
{
    Matrix4 r, r1, rt;
    matrix_rotate_4(r, 90, 0, 0, 5);
    matrix_rotate_4(r1, 90, 0, 0, 1);
    ExpectNear(r1, r, 16, 0.0f);
    ExpectNear(Vec4(0, 1, 0, 1), mul(r, Vec4(1, 0, 0, 1)), 4);
    matrix_rotate_4(r, 37, 1, -2, 0.5f);
    matrix_transpose_4(rt, r);
    ExpectNear(Identity4(), mul(rt, r), 16);
    // A zero axis leaves cos(angle) times the identity.
    matrix_rotate_4(r, 60, 0, 0, 0);
    const float c = std::cos(60 * 0.017453292f);
    const float expected[16] = {c, 0, 0, 0, 0, c, 0, 0, 0, 0, c, 0, 0, 0, 0, 1};
    ExpectNear(expected, r, 16, 0.0f);
}

TEST(VmathProjection, MapsTheirVolumesOntoTheUnitCube)
{
    Matrix4 m, p;
    matrix_ortho_4(m, -1, 1, -1, 1, -1, 1);
    ExpectNear(Identity4(), m, 16, 0.0f);
    matrix_ortho_4(m, 0, 2, 0, 4, 1, 3);
    ExpectNear(Vec4(-1, -1, -1, 1), mul(m, Vec4(0, 0, 1, 1)), 4);
    ExpectNear(Vec4(1, 1, 1, 1), mul(m, Vec4(2, 4, 3, 1)), 4);

    matrix_frustum_4(m, -1, 1, -1, 1, 1, 10);
    EXPECT_FLOAT_EQ(m.m[10], -11.0f / 9.0f);
    EXPECT_FLOAT_EQ(m.m[11], -20.0f / 9.0f);
    EXPECT_EQ(m.m[14], -1.0f);
    EXPECT_EQ(m.m[15], 0.0f);
    const Vec4 nearPoint = mul(m, Vec4(0, 0, -1, 1)), farPoint = mul(m, Vec4(0, 0, -10, 1));
    EXPECT_NEAR(nearPoint.v[2] / nearPoint.v[3], -1.0f, 1e-5f);
    EXPECT_NEAR(farPoint.v[2] / farPoint.v[3], 1.0f, 1e-5f);
    matrix_perspective_4(p, 90, 1, 1, 10);
    ExpectNear(m, p, 16);
    matrix_frustum_4(p, -1, 1, -1, 1, 1, 10, 0.0, 0.0, 640, 480);
    ExpectNear(m, p, 16, 0.0f);

    // One pixel of a 4-pixel-wide window is a quarter of its width.
    Matrix4 shifted;
    matrix_frustum_4(shifted, -1, 1, -1, 1, 1, 10, 1.0, 0.0, 4, 1);
    matrix_frustum_4(p, -1.5f, 0.5f, -1, 1, 1, 10);
    ExpectNear(p, shifted, 16, 0.0f);
    matrix_perspective_4(shifted, 90, 1, 1, 10, 1.0, 0.0, 4, 1);
    ExpectNear(p, shifted, 16);

    // Equal bounds zero the elements built from them instead of making them infinite.
    matrix_frustum_4(m, 1, 1, 2, 2, 3, 3);
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(m.m[i], 0.0f) << i;
    matrix_ortho_4(m, 1, 1, 2, 2, 3, 3);
    EXPECT_EQ(m.m[3], 0.0f);
}

TEST(VmathCamera, LookAtPutsEyeAtOriginLookingDownMinusZ)
{
    Matrix4 m, rt;
    matrix_lookat_4(m, Vec3(0, 0, 5), Vec3(0, 0, 0), Vec3(0, 1, 0));
    const float expected[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, -5, 0, 0, 0, 1};
    ExpectNear(expected, m, 16, 0.0f);

    matrix_lookat_4(m, Vec3(3, -2, 7), Vec3(-1, 4, 2), Vec3(0, 0, 1));
    ExpectNear(Vec4(0, 0, 0, 1), mul(m, Vec4(3, -2, 7, 1)), 4);
    ExpectNear(Vec4(0, 0, -std::sqrt(77.0f), 1), mul(m, Vec4(-1, 4, 2, 1)), 4);
    m.m[3] = m.m[7] = m.m[11] = 0.0f;
    matrix_transpose_4(rt, m);
    ExpectNear(Identity4(), mul(rt, m), 16);
}

TEST(VmathVector, NormalizePerpProjectLerpRandom)
{
    Vec3 tiny(0.000001f, 0, 0), v(3, 0, 4), out;
    vector_normalize_3(tiny);
    EXPECT_EQ(tiny.v[0], 0.000001f);
    vector_normalize_3(v);
    ExpectNear(Vec3(0.6f, 0, 0.8f), v, 3);
    ExpectNear(Vec4(0, 0.6f, 0, 0.8f), normalize(Vec4(0, 3, 0, 4)), 4);
    Vec4 nan(NAN, 1, 1, 1);
    nan.normalize();
    EXPECT_EQ(nan.v[1], 1.0f);

    vector_perp(out, Vec3(0, 0, 1));
    ExpectNear(Vec3(1, 0, 0), out, 3, 0.0f);
    vector_perp(out, Vec3(1, 0, 0));
    ExpectNear(Vec3(0, 1, 0), out, 3, 0.0f);
    Vec3 n(2, -3, 6), p(4, 5, 6);
    vector_normalize_3(n);
    vector_perp(out, n);
    EXPECT_NEAR(out.v[0] * n.v[0] + out.v[1] * n.v[1] + out.v[2] * n.v[2], 0.0f, 1e-6f);
    EXPECT_NEAR(std::hypot(out.v[0], out.v[1], out.v[2]), 1.0f, 1e-6f);
    project_point_on_plane(p, n, p);
    EXPECT_NEAR(p.v[0] * n.v[0] + p.v[1] * n.v[1] + p.v[2] * n.v[2], 0.0f, 1e-5f);
    vector_lerp_3(out, 0.25f, Vec3(0, 4, 8), Vec3(4, 0, 8));
    ExpectNear(Vec3(1, 3, 8), out, 3, 0.0f);

    for (unsigned seed = 1; seed < 100; ++seed) {
        std::srand(seed);
        const int r = std::rand();
        std::srand(seed);
        EXPECT_EQ(random_range(-3, 5), -3.0f + (float(r & 0x7FFF) / 32767.0f) * 8.0f);
        EXPECT_EQ(random_range(2, 2), 2.0f);
    }
}

TEST(VmathDebug, PrintsRowsExactly)
{
    testutil::CaptureStdout capture;
    Identity4().debug();
    Vec3(1, -2.5f, 0.12345f).debug();
    EXPECT_EQ(capture.Text(),
              "(1.0000, 0.0000, 0.0000, 0.0000\n"
              " 0.0000, 1.0000, 0.0000, 0.0000\n"
              " 0.0000, 0.0000, 1.0000, 0.0000\n"
              " 0.0000, 0.0000, 0.0000, 1.0000)\n"
              "(1.0000, -2.5000, 0.1235)\n");
}

TEST(VmathQuat, RotatesAsItsMatrixAndTheRotationMatrix)
{
    Quat q, out;
    quat_make_rotate_4(q, Vec3(0, 0, 1), 0.78539816f);
    ExpectNear(Quat(0, 0, 0.70710678f, 0.70710678f), q, 4);
    quat_rotate_4(out, q, Quat(1, 0, 0, 0));
    ExpectNear(Quat(0, 1, 0, 0), out, 4);

    std::mt19937 gen(3);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int trial = 0; trial < 200; ++trial) {
        Vec3 axis(dist(gen), dist(gen), dist(gen));
        vector_normalize_3(axis);
        const float degrees = 360.0f * dist(gen);
        const Quat r = RotationQuat(axis, degrees);
        const Vec4 v(5 * dist(gen), 5 * dist(gen), 5 * dist(gen), 0);
        quat_rotate_4(out, r, v);
        Matrix4 rotation;
        matrix_rotate_4(rotation, degrees, axis.v[0], axis.v[1], axis.v[2]);
        ExpectNear(mul(r.makeRot(), v), out, 4, 1e-4f);
        ExpectNear(mul(rotation, v), out, 4, 1e-4f);
    }
}

TEST(VmathQuat, ProductConjugateDivisionAndSlerp)
{
    Quat out, q(1, 2, 3, 4);
    const Quat a(0.1f, -0.2f, 0.3f, 0.9f);
    quat_mult_4(out, a, Quat(0, 0, 0, 1));
    ExpectNear(a, out, 4, 0.0f);
    quat_mult_4(out, Quat(1, 0, 0, 0), Quat(0, 1, 0, 0));
    ExpectNear(Quat(0, 0, 1, 0), out, 4, 0.0f);
    quat_conj_4(q, q);
    ExpectNear(Quat(-1, -2, -3, 4), q, 4, 0.0f);
    ExpectNear(Quat(1, 2, 3, 4), Quat(2, 4, 6, 8) / 2.0f, 4, 0.0f);

    const float axis[3] = {0, 0.6f, 0.8f};
    const Quat from = RotationQuat(axis, 20), to = RotationQuat(axis, 100);
    ExpectNear(from, slerp(from, to, 0), 4);
    ExpectNear(to, slerp(from, to, 1), 4);
    ExpectNear(RotationQuat(axis, 60), slerp(from, to, 0.5f), 4);
    ExpectNear(RotationQuat(axis, 140), slerp(from, to, 1.5f), 4);
    // Negative dot product: the shorter arc starts from -from.
    const Quat negFrom(-from.q[0], -from.q[1], -from.q[2], -from.q[3]);
    const Quat far = RotationQuat(axis, 300);
    ExpectNear(negFrom, slerp(from, far, 0), 4);
    ExpectNear(slerp(negFrom, far, 0.3f), slerp(from, far, 0.3f), 4, 0.0f);
    ExpectNear(Quat(), slerp(Quat(), Quat(), 0.7f), 4, 0.0f);
}
