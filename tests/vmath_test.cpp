// Vector, matrix and quaternion math: known matrices, and properties that catch wrong signs,
// transposed layouts and swapped product orders (inverse·m = I, a quaternion rotates as its
// matrix does, slerp's ends).
#include "vmath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "testutil.h"

namespace {

void ExpectNear(const float* expected, const float* actual, int n, float tol = 1e-5f)
{
    for (int i = 0; i < n; ++i)
        EXPECT_NEAR(expected[i], actual[i], tol) << "element " << i;
}

const float k_identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

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
        for (int i = 0; i < 16; ++i)
            m.m[i] = dist(gen) + (i % 5 == 0 ? 6.0f : 0.0f);  // well conditioned
        inv = m;
        matrix_invert_4(inv, inv);  // in place
        ExpectNear(k_identity, mul(inv, m), 16);
    }
    // A 3x3 of determinant 1 inverts to its adjugate; singular matrices (a zero bottom row,
    // all zeros) invert to all zeros.
    Matrix4 t, s;
    Matrix3 a{{2, 3, 1, 1, 2, 1, 1, 1, 1}}, zero;
    s.m[0] = s.m[5] = s.m[10] = 1.0f;
    matrix_invert_3(a, a);
    matrix_invert_3(zero, zero);
    matrix_invert_4(s, s);
    ExpectNear(Matrix3{{1, -2, 1, 0, 1, -1, -1, 1, 1}}, a, 9);
    ExpectNear(Matrix3(), zero, 9, 0.0f);
    ExpectNear(Matrix4(), s, 16, 0.0f);

    // mul(t, s) scales first: (1, 1, 1) -> (2, 3, 4) -> (3, 5, 7).
    matrix_translate_4(t, 1, 2, 3);
    matrix_scale_4(s, 2, 3, 4);
    ExpectNear(Vec4(3, 5, 7, 1), mul(mul(t, s), Vec4(1, 1, 1, 1)), 4, 0.0f);
}

TEST(VmathProjection, KnownMatricesAndLookAt)
{
    Matrix4 m, p;
    matrix_frustum_4(m, -1, 1, -1, 1, 1, 10);
    const float frustum[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -11.0f / 9, -20.0f / 9, 0, 0, -1, 0};
    ExpectNear(frustum, m, 16, 1e-6f);
    matrix_perspective_4(p, 90, 1, 1, 10);
    ExpectNear(m, p, 16);
    // Equal bounds zero the elements built from them instead of making them infinite.
    matrix_frustum_4(m, 1, 1, 2, 2, 3, 3);
    ExpectNear(Matrix4(), m, 14, 0.0f);

    matrix_lookat_4(m, Vec3(0, 0, 5), Vec3(0, 0, 0), Vec3(0, 1, 0));
    const float lookAt[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, -5, 0, 0, 0, 1};
    ExpectNear(lookAt, m, 16, 0.0f);
    // Elsewhere the eye still goes to the origin and the centre onto -z.
    matrix_lookat_4(m, Vec3(3, -2, 7), Vec3(-1, 4, 2), Vec3(0, 0, 1));
    ExpectNear(Vec4(0, 0, 0, 1), mul(m, Vec4(3, -2, 7, 1)), 4);
    ExpectNear(Vec4(0, 0, -std::sqrt(77.0f), 1), mul(m, Vec4(-1, 4, 2, 1)), 4);
}

TEST(VmathVector, NormalizeLeavesTinyAndNaNAlone)
{
    EXPECT_EQ(normalize(Vec4(0.000001f, 0, 0, 0)).v[0], 0.000001f);
    EXPECT_EQ(normalize(Vec4(NAN, 1, 1, 1)).v[1], 1.0f);
}

TEST(VmathDebug, PrintsRowsExactly)
{
    testutil::CaptureStdout capture;
    Quat().makeRot().debug();  // the identity
    Vec3(1, -2.5f, 0.12345f).debug();
    EXPECT_EQ(capture.Text(),
              "(1.0000, 0.0000, 0.0000, 0.0000\n"
              " 0.0000, 1.0000, 0.0000, 0.0000\n"
              " 0.0000, 0.0000, 1.0000, 0.0000\n"
              " 0.0000, 0.0000, 0.0000, 1.0000)\n"
              "(1.0000, -2.5000, 0.1235)\n");
}

TEST(VmathQuat, RotatesAsTheMatricesAndSlerpsBetweenItsEnds)
{
    Quat q;
    // The quaternion, its matrix and the rotation matrix agree; the matrix builder normalises
    // its axis itself.
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int trial = 0; trial < 200; ++trial) {
        Vec3 axis(dist(gen), dist(gen), dist(gen));
        vector_normalize_3(axis);
        const float degrees = 360.0f * dist(gen);
        const Vec4 v(5 * dist(gen), 5 * dist(gen), 5 * dist(gen), 0);
        quat_rotate_4(q, RotationQuat(axis, degrees), v);
        Matrix4 rotation;
        matrix_rotate_4(rotation, degrees, 3 * axis.v[0], 3 * axis.v[1], 3 * axis.v[2]);
        ExpectNear(mul(RotationQuat(axis, degrees).makeRot(), v), q, 4, 1e-4f);
        ExpectNear(mul(rotation, v), q, 4, 1e-4f);
    }

    const float axis[3] = {0, 0.6f, 0.8f};
    const Quat from = RotationQuat(axis, 20), to = RotationQuat(axis, 100);
    ExpectNear(from, slerp(from, to, 0), 4);
    ExpectNear(to, slerp(from, to, 1), 4);
    // Negative dot product: the shorter arc starts from -from.
    const Quat far = RotationQuat(axis, 300);
    ExpectNear(Quat(-from.q[0], -from.q[1], -from.q[2], -from.q[3]), slerp(from, far, 0), 4);
    ExpectNear(Quat(), slerp(Quat(), Quat(), 0.7f), 4, 0.0f);
}
