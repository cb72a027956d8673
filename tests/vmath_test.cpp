// Vector, matrix and quaternion math: known matrices, and properties that catch wrong signs,
// transposed layouts and swapped product orders (inverse·m = I, quaternion rotation equals
// its matrix, slerp's ends).
#include "vmath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "testutil.h"

namespace {

const float k_tol = 1e-5f;

void ExpectMatrixNear(const float* expected, const float* actual, int n, float tol = k_tol)
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

// A unit quaternion for a rotation by `degrees` about a unit axis.
Quat RotationQuat(const float* axis, float degrees)
{
    Quat q;
    quat_make_rotate_4(q, axis, 0.5f * degrees * 0.017453292f);
    return q;
}

}  // namespace

TEST(VmathMatrix, InverseTimesMatrixIsIdentity)
{
    std::mt19937 gen(7);
    std::uniform_real_distribution<float> dist(-2.0f, 2.0f);
    for (int trial = 0; trial < 200; ++trial) {
        Matrix4 m;
        for (float& e : m.m)
            e = dist(gen);
        for (int i = 0; i < 4; ++i)
            m.m[5 * i] += 6.0f;  // diagonally dominant, so well conditioned
        Matrix4 inv;
        matrix_invert_4(inv, m);
        ExpectMatrixNear(Identity4(), mul(inv, m), 16, 1e-5f);
        ExpectMatrixNear(Identity4(), mul(m, inv), 16, 1e-5f);
        matrix_invert_4(m, m);
        ExpectMatrixNear(inv, m, 16, 0.0f);

        Matrix3 a, ai, prod, ident;
        for (float& e : a.m)
            e = dist(gen);
        for (int i = 0; i < 3; ++i)
            a.m[4 * i] += 6.0f;
        matrix_invert_3(ai, a);
        matrix_multiply_3(prod, ai, a);
        matrix_ident_3(ident);
        ExpectMatrixNear(ident, prod, 9);
    }
}

TEST(VmathMatrix, SingularInvertsToZero)
{
    Matrix4 m;
    for (int i = 0; i < 12; ++i)
        m.m[i] = float(i + 1);  // bottom row all zero
    matrix_invert_4(m, m);
    ExpectMatrixNear(Matrix4(), m, 16, 0.0f);

    Matrix3 a;
    for (int i = 3; i < 9; ++i)
        a.m[i] = float(i * i);  // first row all zero
    matrix_invert_3(a, a);
    ExpectMatrixNear(Matrix3(), a, 9, 0.0f);
}

TEST(VmathMatrix, ProductsApplyRightOperandFirst)
{
    Matrix4 t, s;
    matrix_translate_4(t, 1, 2, 3);
    matrix_scale_4(s, 2, 3, 4);
    EXPECT_FLOAT_EQ(mul(t, Vec4(0, 0, 0, 1)).v[2], 3.0f);
    ExpectMatrixNear(Vec4(1, 0, 0, 0), mul(t, Vec4(1, 0, 0, 0)), 4, 0.0f);
    // Scale, then translate: (1, 1, 1) -> (2, 3, 4) -> (3, 5, 7).
    const Matrix4 ts = mul(t, s);
    ExpectMatrixNear(Vec4(3, 5, 7, 1), mul(ts, Vec4(1, 1, 1, 1)), 4, 0.0f);
    const float p[3] = {1, 1, 1};
    Vec3 out;
    matrix_multiply_4_vec_3(out, ts, p);
    ExpectMatrixNear(Vec3(3, 5, 7), out, 3, 0.0f);
    matrix_transform_linear(out, ts, p);
    ExpectMatrixNear(Vec3(2, 3, 4), out, 3, 0.0f);

    Matrix4 tt, back;
    matrix_transpose_4(tt, ts);
    EXPECT_EQ(tt.m[12], 1.0f);
    matrix_transpose_4(back, tt);
    ExpectMatrixNear(ts, back, 16, 0.0f);
    Matrix4 copy;
    copy.copy(ts);
    ExpectMatrixNear(ts, copy, 16, 0.0f);
}

TEST(VmathMatrix, RotationIsRightHandedAndOrthonormal)
{
    Matrix4 r, r1;
    matrix_rotate_4(r, 90, 0, 0, 5);
    matrix_rotate_4(r1, 90, 0, 0, 1);
    ExpectMatrixNear(r1, r, 16, 0.0f);
    ExpectMatrixNear(Vec4(0, 1, 0, 1), mul(r, Vec4(1, 0, 0, 1)), 4);

    matrix_rotate_4(r, 37, 1, -2, 0.5f);
    Matrix4 rt;
    matrix_transpose_4(rt, r);
    ExpectMatrixNear(Identity4(), mul(rt, r), 16);

    matrix_rotate_4(r, 60, 0, 0, 0);
    const float c = std::cos(60 * 0.017453292f);
    const float expected[16] = {c, 0, 0, 0, 0, c, 0, 0, 0, 0, c, 0, 0, 0, 0, 1};
    ExpectMatrixNear(expected, r, 16, 0.0f);
}

TEST(VmathProjection, MapsTheirVolumesOntoTheUnitCube)
{
    Matrix4 m;
    matrix_ortho_4(m, -1, 1, -1, 1, -1, 1);
    ExpectMatrixNear(Identity4(), m, 16, 0.0f);
    matrix_ortho_4(m, 0, 2, 0, 4, 1, 3);
    ExpectMatrixNear(Vec4(-1, -1, -1, 1), mul(m, Vec4(0, 0, 1, 1)), 4);
    ExpectMatrixNear(Vec4(1, 1, 1, 1), mul(m, Vec4(2, 4, 3, 1)), 4);

    matrix_frustum_4(m, -1, 1, -1, 1, 1, 10);
    EXPECT_FLOAT_EQ(m.m[10], -11.0f / 9.0f);
    EXPECT_FLOAT_EQ(m.m[11], -20.0f / 9.0f);
    EXPECT_EQ(m.m[14], -1.0f);
    EXPECT_EQ(m.m[15], 0.0f);
    const Vec4 nearPoint = mul(m, Vec4(0, 0, -1, 1));
    const Vec4 farPoint = mul(m, Vec4(0, 0, -10, 1));
    EXPECT_NEAR(nearPoint.v[2] / nearPoint.v[3], -1.0f, k_tol);
    EXPECT_NEAR(farPoint.v[2] / farPoint.v[3], 1.0f, k_tol);

    Matrix4 p;
    matrix_perspective_4(p, 90, 1, 1, 10);
    ExpectMatrixNear(m, p, 16);
    matrix_frustum_4(p, -1, 1, -1, 1, 1, 10, 0.0, 0.0, 640, 480);
    ExpectMatrixNear(m, p, 16, 0.0f);
    // Shifting by one pixel of a 4-pixel-wide window moves it by a quarter of its width.
    Matrix4 shifted;
    matrix_frustum_4(shifted, -1, 1, -1, 1, 1, 10, 1.0, 0.0, 4, 1);
    matrix_frustum_4(p, -1.5f, 0.5f, -1, 1, 1, 10);
    ExpectMatrixNear(p, shifted, 16, 0.0f);
    matrix_perspective_4(shifted, 90, 1, 1, 10, 1.0, 0.0, 4, 1);
    ExpectMatrixNear(p, shifted, 16);

    // Equal bounds zero the elements built from them instead of making them infinite.
    matrix_frustum_4(m, 1, 1, 2, 2, 3, 3);
    for (float e : m.m)
        EXPECT_TRUE(std::isfinite(e));
    EXPECT_EQ(m.m[0], 0.0f);
    EXPECT_EQ(m.m[10], 0.0f);
    matrix_ortho_4(m, 1, 1, 2, 2, 3, 3);
    EXPECT_EQ(m.m[3], 0.0f);
    EXPECT_EQ(m.m[15], 1.0f);
}

TEST(VmathCamera, LookAtPutsEyeAtOriginLookingDownMinusZ)
{
    Matrix4 m;
    const float eye[3] = {0, 0, 5}, center[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    matrix_lookat_4(m, eye, center, up);
    const float expected[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, -5, 0, 0, 0, 1};
    ExpectMatrixNear(expected, m, 16, 0.0f);

    const float eye2[3] = {3, -2, 7}, center2[3] = {-1, 4, 2}, up2[3] = {0, 0, 1};
    matrix_lookat_4(m, eye2, center2, up2);
    ExpectMatrixNear(Vec4(0, 0, 0, 1), mul(m, Vec4(3, -2, 7, 1)), 4, 1e-5f);
    const float dist = std::sqrt(16.0f + 36.0f + 25.0f);
    ExpectMatrixNear(Vec4(0, 0, -dist, 1), mul(m, Vec4(-1, 4, 2, 1)), 4, 1e-5f);
    Matrix4 rt;
    m.m[3] = m.m[7] = m.m[11] = 0.0f;
    matrix_transpose_4(rt, m);
    ExpectMatrixNear(Identity4(), mul(rt, m), 16);
}

TEST(VmathVector, NormalizePerpAndProjection)
{
    Vec3 tiny(0.000001f, 0, 0);
    vector_normalize_3(tiny);
    EXPECT_EQ(tiny.v[0], 0.000001f);
    Vec3 v(3, 0, 4);
    vector_normalize_3(v);
    ExpectMatrixNear(Vec3(0.6f, 0, 0.8f), v, 3);
    Vec4 nan(NAN, 1, 1, 1);
    nan.normalize();
    EXPECT_EQ(nan.v[1], 1.0f);
    ExpectMatrixNear(Vec4(0, 0.6f, 0, 0.8f), normalize(Vec4(0, 3, 0, 4)), 4);

    Vec3 out;
    vector_perp(out, Vec3(0, 0, 1));
    ExpectMatrixNear(Vec3(1, 0, 0), out, 3, 0.0f);
    vector_perp(out, Vec3(1, 0, 0));
    ExpectMatrixNear(Vec3(0, 1, 0), out, 3, 0.0f);
    Vec3 n(2, -3, 6);
    vector_normalize_3(n);
    vector_perp(out, n);
    EXPECT_NEAR(out.v[0] * n.v[0] + out.v[1] * n.v[1] + out.v[2] * n.v[2], 0.0f, k_tol);
    EXPECT_NEAR(out.v[0] * out.v[0] + out.v[1] * out.v[1] + out.v[2] * out.v[2], 1.0f, k_tol);

    Vec3 p(4, 5, 6);
    project_point_on_plane(p, n, p);
    EXPECT_NEAR(p.v[0] * n.v[0] + p.v[1] * n.v[1] + p.v[2] * n.v[2], 0.0f, k_tol);

    vector_lerp_3(out, 0.25f, Vec3(0, 4, 8), Vec3(4, 0, 8));
    ExpectMatrixNear(Vec3(1, 3, 8), out, 3, 0.0f);
}

TEST(VmathVector, RandomRangeUsesLow15BitsOfRand)
{
    for (unsigned seed = 1; seed < 200; ++seed) {
        std::srand(seed);
        const int r = std::rand();
        std::srand(seed);
        const float x = random_range(-3, 5);
        EXPECT_EQ(x, -3.0f + (float(r & 0x7FFF) / 32767.0f) * 8.0f);
        EXPECT_GE(x, -3.0f);
        EXPECT_LE(x, 5.0f);
        EXPECT_EQ(random_range(2, 2), 2.0f);
    }
}

TEST(VmathDebug, PrintsRowsExactly)
{
    testutil::CaptureStdout capture;
    Identity4().debug();
    Vec3(1, -2.5f, 0.12345f).debug();
    Vec4(1, 2, 3, 4).debug();
    Matrix3 m;
    matrix_ident_3(m);
    m.debug();
    EXPECT_EQ(capture.Text(),
              "(1.0000, 0.0000, 0.0000, 0.0000\n"
              " 0.0000, 1.0000, 0.0000, 0.0000\n"
              " 0.0000, 0.0000, 1.0000, 0.0000\n"
              " 0.0000, 0.0000, 0.0000, 1.0000)\n"
              "(1.0000, -2.5000, 0.1235)\n"
              "(1.0000, 2.0000, 3.0000, 4.0000)\n"
              "(1.0000, 0.0000, 0.0000\n"
              " 0.0000, 1.0000, 0.0000\n"
              " 0.0000, 0.0000, 1.0000)\n");
}

TEST(VmathQuat, RotationEqualsItsMatrixAndMatrixRotation)
{
    const float z[3] = {0, 0, 1};
    Quat q;
    quat_make_rotate_4(q, z, 0.78539816f);
    ExpectMatrixNear(Quat(0, 0, 0.70710678f, 0.70710678f), q, 4);
    Quat out;
    quat_rotate_4(out, q, Quat(1, 0, 0, 0));
    ExpectMatrixNear(Quat(0, 1, 0, 0), out, 4);

    std::mt19937 gen(3);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int trial = 0; trial < 200; ++trial) {
        Vec3 axis(dist(gen), dist(gen), dist(gen));
        vector_normalize_3(axis);
        const float degrees = 360.0f * dist(gen);
        const Quat r = RotationQuat(axis, degrees);
        const Vec4 v(5 * dist(gen), 5 * dist(gen), 5 * dist(gen), 0);
        quat_rotate_4(out, r, v);
        const Vec4 byMatrix = mul(r.makeRot(), v);
        Matrix4 rotation;
        matrix_rotate_4(rotation, degrees, axis.v[0], axis.v[1], axis.v[2]);
        const Vec4 byRotate = mul(rotation, v);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(out.q[i], byMatrix.v[i], 1e-4f);
            EXPECT_NEAR(out.q[i], byRotate.v[i], 1e-4f);
        }
        EXPECT_NEAR(out.q[3], 0.0f, 1e-5f);
    }
}

TEST(VmathQuat, ProductConjugateAndDivision)
{
    Quat out;
    const Quat a(0.1f, -0.2f, 0.3f, 0.9f);
    quat_mult_4(out, a, Quat(0, 0, 0, 1));
    ExpectMatrixNear(a, out, 4, 0.0f);
    quat_mult_4(out, Quat(1, 0, 0, 0), Quat(0, 1, 0, 0));
    ExpectMatrixNear(Quat(0, 0, 1, 0), out, 4, 0.0f);
    // q ⊗ conj(q) = |q|² on the scalar part.
    Quat c;
    quat_conj_4(c, a);
    quat_mult_4(out, a, c);
    ExpectMatrixNear(Quat(0, 0, 0, 0.95f), out, 4, 1e-6f);
    Quat q(1, 2, 3, 4);
    quat_conj_4(q, q);
    ExpectMatrixNear(Quat(-1, -2, -3, 4), q, 4, 0.0f);
    ExpectMatrixNear(Quat(1, 2, 3, 4), Quat(2, 4, 6, 8) / 2.0f, 4, 0.0f);
    ExpectMatrixNear(Identity4(), Quat(0, 0, 0, 1).makeRot(), 16, 0.0f);
}

TEST(VmathQuat, SlerpEndsAndShorterArc)
{
    const float axis[3] = {0, 0.6f, 0.8f};
    const Quat a = RotationQuat(axis, 20);
    const Quat b = RotationQuat(axis, 100);
    ExpectMatrixNear(a, slerp(a, b, 0), 4);
    ExpectMatrixNear(b, slerp(a, b, 1), 4);
    ExpectMatrixNear(RotationQuat(axis, 60), slerp(a, b, 0.5f), 4);
    ExpectMatrixNear(RotationQuat(axis, 140), slerp(a, b, 1.5f), 4);

    const Quat negA(-a.q[0], -a.q[1], -a.q[2], -a.q[3]);
    const Quat farB = RotationQuat(axis, 300);  // dot with a is negative
    ExpectMatrixNear(negA, slerp(a, farB, 0), 4);
    ExpectMatrixNear(slerp(negA, farB, 0.3f), slerp(a, farB, 0.3f), 4, 0.0f);
    ExpectMatrixNear(Quat(0, 0, 0, 1), slerp(Quat(0, 0, 0, 1), Quat(0, 0, 0, 1), 0.7f), 4, 0.0f);
}
