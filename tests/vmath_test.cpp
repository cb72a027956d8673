// Vector, matrix and quaternion math: known matrices, and properties that catch wrong signs,
// transposed layouts and swapped product orders (inverse·m = I, a quaternion rotates as its
// matrix does, slerp along its arc), and every array function against a known answer.
#include "vmath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <utility>

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
    // A 3x3 of determinant 4 inverts to a quarter of its adjugate; singular matrices (a zero
    // bottom row, all zeros) invert to all zeros.
    Matrix4 t, s;
    Matrix3 a{{-8, 8, 7, 9, -7, -9, 3, -1, -4}}, zero;
    s.m[0] = s.m[5] = s.m[10] = 1.0f;
    matrix_invert_3(a, a);
    matrix_invert_3(zero, zero);
    matrix_invert_4(s, s);
    ExpectNear(Matrix3{{4.75f, 6.25f, -5.75f, 2.25f, 2.75f, -2.25f, 3, 4, -4}}, a, 9);
    ExpectNear(Matrix3(), zero, 9, 0.0f);
    ExpectNear(Matrix4(), s, 16, 0.0f);

    // mul(t, s) scales first: (1, 1, 1) -> (2, 3, 4) -> (3, 5, 7).
    matrix_translate_4(t, 1, 2, 3);
    matrix_scale_4(s, 2, 3, 4);
    ExpectNear(Vec4(3, 5, 7, 1), mul(mul(t, s), Vec4(1, 1, 1, 1)), 4, 0.0f);
}

TEST(VmathMatrix, ArrayFunctionsKnownAnswers)
{
    const Matrix3 a{{1, 2, 3, 4, 5, 6, 7, 8, 10}}, b{{2, 0, 1, 1, 3, 0, 0, 1, 4}};
    Matrix3 r = a;
    matrix_multiply_3(r, a, b);
    ExpectNear(Matrix3{{4, 9, 13, 13, 21, 28, 22, 34, 47}}, r, 9, 0.0f);
    matrix_transpose_3(r, a);
    ExpectNear(Matrix3{{1, 4, 7, 2, 5, 8, 3, 6, 10}}, r, 9, 0.0f);
    r = a;
    matrix_add_3(r, r, b);  // in place
    ExpectNear(Matrix3{{3, 2, 4, 5, 8, 6, 7, 9, 14}}, r, 9, 0.0f);
    matrix_ident_3(r);
    ExpectNear(Matrix3{{1, 0, 0, 0, 1, 0, 0, 0, 1}}, r, 9, 0.0f);
    matrix_zero_3(r);
    ExpectNear(Matrix3(), r, 9, 0.0f);
    Vec3 v;
    matrix_multiply_vec_3(v, a, Vec3(1, -1, 2));
    ExpectNear(Vec3(5, 11, 19), v, 3, 0.0f);

    Matrix4 m, t;
    for (int i = 0; i < 16; ++i)
        m.m[i] = float(i + 1);
    matrix_transpose_4(t, m);
    ExpectNear(Matrix4{{1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 4, 8, 12, 16}}, t, 16, 0.0f);
    Matrix4 copy;
    copy.copy(m);
    ExpectNear(m, copy, 16, 0.0f);
    matrix_multiply_4_vec_3(v, m, Vec3(1, -1, 2));  // a point: the last column is added
    ExpectNear(Vec3(9, 21, 33), v, 3, 0.0f);
    matrix_transform_linear(v, m, Vec3(1, -1, 2));  // a direction: it is not
    ExpectNear(Vec3(5, 13, 21), v, 3, 0.0f);
}

TEST(VmathProjection, KnownMatricesAndLookAt)
{
    Matrix4 m, p;
    matrix_frustum_4(m, -1, 1, -1, 1, 1, 10);
    const float frustum[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -11.0f / 9, -20.0f / 9, 0, 0, -1, 0};
    ExpectNear(frustum, m, 16, 1e-6f);
    matrix_perspective_4(p, 90, 2, 2, 10);  // the window at distance 2 is 4 high, 8 wide
    matrix_frustum_4(m, -4, 4, -2, 2, 2, 10);
    ExpectNear(m, p, 16);
    // Equal bounds zero the elements built from them instead of making them infinite.
    matrix_frustum_4(m, 1, 1, 2, 2, 3, 3);
    ExpectNear(Matrix4(), m, 14, 0.0f);

    // The shifted window: dx = 0.5 of width 4 moves x by -0.25, dy = -1 of height 8 moves y by 0.25.
    matrix_frustum_4(m, -1, 1, -1, 1, 1, 10, 0.5, -1.0, 4, 8);
    matrix_frustum_4(p, -1.25f, 0.75f, -0.75f, 1.25f, 1, 10);
    ExpectNear(p, m, 16, 0.0f);
    matrix_perspective_4(m, 90, 2, 2, 10, 0.5, -1.0, 4, 8);
    matrix_frustum_4(p, -5, 3, -1.5f, 2.5f, 2, 10);
    ExpectNear(p, m, 16, 1e-6f);
    matrix_ortho_4(m, -1, 3, -2, 2, 1, 5);
    const float ortho[16] = {0.5f, 0, 0, -0.5f, 0, 0.5f, 0, 0, 0, 0, 0.5f, -1.5f, 0, 0, 0, 1};
    ExpectNear(ortho, m, 16, 0.0f);

    matrix_lookat_4(m, Vec3(0, 0, 5), Vec3(0, 0, 0), Vec3(0, 1, 0));
    const float lookAt[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, -5, 0, 0, 0, 1};
    ExpectNear(lookAt, m, 16, 0.0f);
    // Elsewhere the eye still goes to the origin and the centre onto -z.
    matrix_lookat_4(m, Vec3(3, -2, 7), Vec3(-1, 4, 2), Vec3(0.3f, 0.2f, 1));
    ExpectNear(Vec4(0, 0, 0, 1), mul(m, Vec4(3, -2, 7, 1)), 4);
    ExpectNear(Vec4(0, 0, -std::sqrt(77.0f), 1), mul(m, Vec4(-1, 4, 2, 1)), 4);
}

TEST(VmathVector, KnownAnswers)
{
    // The shortest vector left alone, and one just longer.
    EXPECT_EQ(normalize(Vec4(0.00001f, 0, 0, 0)).v[0], 0.00001f);
    EXPECT_EQ(normalize(Vec4(0, 0, 0, 0.0000101f)).v[3], 1.0f);
    EXPECT_EQ(normalize(Vec4(NAN, 1, 1, 1)).v[1], 1.0f);
    Vec4 w(1, -2, 2, 4);
    vector_normalize_4(w);
    ExpectNear(Vec4(0.2f, -0.4f, 0.4f, 0.8f), w, 4);

    Vec4 out(0, 0, 0, 42);  // the fourth float is not the lerp's to write
    vector_lerp_3(out, 0.25f, Vec3(1, 2, 3), Vec3(5, -2, 3));
    ExpectNear(Vec4(2, 1, 3, 42), out, 4, 0.0f);
    Vec3 v;
    vector_lerp_3(v, -1.0f, Vec3(1, 2, 3), Vec3(5, -2, 3));  // t is not clamped
    ExpectNear(Vec3(-3, 6, 3), v, 3, 0.0f);

    v = Vec3(1, 2, 3);
    project_point_on_plane(v, Vec3(0, 0.6f, 0.8f), v);  // in place
    ExpectNear(Vec3(1, -0.16f, 0.12f), v, 3);

    // The perpendicular is built from the axis of v's smallest component, by magnitude.
    const struct { Vec3 in, out; } perps[] = {
        {{1, 0, 0}, {0, 1, 0}},
        {{0, 0, -1}, {1, 0, 0}},
        {{0.6f, 0.8f, 0}, {0, 0, 1}},
        {{0.64f, -0.48f, 0.6f}, {0.35017786f, 0.87726849f, 0.32829174f}},
    };
    for (const auto& c : perps) {
        v = c.in;
        vector_perp(v, v);  // in place
        ExpectNear(c.out, v, 3);
    }
}

TEST(VmathVector, RandomRangeCoversItsGridEndsIncluded)
{
    std::srand(1);
    bool onGrid = true, sawLo = false, sawHi = false;
    for (int i = 0; i < 400000; ++i) {
        const float x = random_range(-1.0f, 3.0f);
        const float step = (x + 1.0f) / 4.0f * 32767.0f;
        onGrid = onGrid && x >= -1.0f && x <= 3.0f && std::fabs(step - std::round(step)) < 0.01f;
        sawLo = sawLo || x == -1.0f;
        sawHi = sawHi || x == 3.0f;
    }
    EXPECT_TRUE(onGrid);
    EXPECT_TRUE(sawLo);
    EXPECT_TRUE(sawHi);
}

TEST(VmathDebug, PrintsRowsExactly)
{
    testutil::CaptureStdout capture;
    Quat().makeRot().debug();  // the identity
    Matrix3{{1, 2, 3, 4, 5, 6, 7, 8, -9}}.debug();
    Vec4(0.5f, 0, -1, 2).debug();
    Vec3(1, -2.5f, 0.12345f).debug();
    EXPECT_EQ(capture.Text(),
              "(1.0000, 0.0000, 0.0000, 0.0000\n"
              " 0.0000, 1.0000, 0.0000, 0.0000\n"
              " 0.0000, 0.0000, 1.0000, 0.0000\n"
              " 0.0000, 0.0000, 0.0000, 1.0000)\n"
              "(1.0000, 2.0000, 3.0000\n"
              " 4.0000, 5.0000, 6.0000\n"
              " 7.0000, 8.0000, -9.0000)\n"
              "(0.5000, 0.0000, -1.0000, 2.0000)\n"
              "(1.0000, -2.5000, 0.1235)\n");
}

TEST(VmathQuat, ProductsRotationsAndSlerp)
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

    // i ⊗ j = k and j ⊗ i = -k; a general product; the conjugate, in place.
    quat_mult_4(q, Quat(1, 0, 0, 0), Quat(0, 1, 0, 0));
    ExpectNear(Quat(0, 0, 1, 0), q, 4, 0.0f);
    quat_mult_4(q, Quat(0, 1, 0, 0), Quat(1, 0, 0, 0));
    ExpectNear(Quat(0, 0, -1, 0), q, 4, 0.0f);
    quat_mult_4(q, Quat(1, 2, 3, 4), Quat(5, 6, 7, 8));
    ExpectNear(Quat(24, 48, 48, -6), q, 4, 0.0f);
    ExpectNear(Quat(0.5f, 1, 1.5f, 2), Quat(1, 2, 3, 4) / 2, 4, 0.0f);
    quat_conj_4(q, q);
    ExpectNear(Quat(-24, -48, -48, -6), q, 4, 0.0f);

    // Along the arc from 20 to 100 degrees, t = 1.5 going on past the end.
    const float axis[3] = {0.48f, 0.6f, 0.64f};
    const Quat from = RotationQuat(axis, 20), to = RotationQuat(axis, 100);
    for (auto [t, degrees] : {std::pair{0.0f, 20.0f}, {0.5f, 60.0f}, {1.0f, 100.0f}, {1.5f, 140.0f}}) {
        SCOPED_TRACE(t);
        ExpectNear(RotationQuat(axis, degrees), slerp(from, to, t), 4);
    }
    // Negative dot product: the shorter arc starts from -from.
    const Quat far = RotationQuat(axis, 300);
    ExpectNear(Quat(-from.q[0], -from.q[1], -from.q[2], -from.q[3]), slerp(from, far, 0), 4);
    ExpectNear(Quat(), slerp(Quat(), Quat(), 0.7f), 4, 0.0f);
    // Closer than 0.001 radians: the start comes back unchanged.
    EXPECT_EQ(slerp(from, RotationQuat(axis, 20.05f), 1).q[3], from.q[3]);

    // A unit quaternion whose dot product with itself rounds to above 1 in float.
    const Quat near(0, 0.0116231656f, 0.0154975532f, 0.999812365f);
    ASSERT_GT(near.q[1] * near.q[1] + near.q[2] * near.q[2] + near.q[3] * near.q[3], 1.0f);
    ExpectNear(near, slerp(near, near, 0.5f), 4, 1e-3f);
}
