// Vector, matrix and quaternion math: known matrices, and properties that catch wrong signs,
// transposed layouts and swapped product orders (inverse·m = I, a quaternion rotates as its
// matrix does, slerp along its arc), and every array function against a known answer.
#include "vmath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <numeric>
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

// Each plain-array function against a known answer. Its output starts as 7s followed by a
// sentinel 42 that it must not overwrite.
TEST(VmathArrays, KnownAnswersWithinTheirSize)
{
    const Matrix3 a{{1, 2, 3, 4, 5, 6, 7, 8, 10}}, b{{2, 0, 1, 1, 3, 0, 0, 1, 4}};
    Matrix4 m;
    std::iota(m.m, m.m + 16, 1.0f);
    const Vec3 v(2, 3, -2), n(0, 0.6f, 0.8f);
    using Fill = std::function<void(float*)>;
    const auto perp = [](Vec3 u) {  // in place
        return Fill([u](float* r) { std::copy(u.v, u.v + 3, r), vector_perp(r, r); });
    };
    const struct { const char* name; Fill fill; std::vector<float> want; } cases[] = {
        {"multiply_3", [&](float* r) { matrix_multiply_3(r, a, b); },
         {4, 9, 13, 13, 21, 28, 22, 34, 47}},
        {"transpose_3", [&](float* r) { matrix_transpose_3(r, a); }, {1, 4, 7, 2, 5, 8, 3, 6, 10}},
        {"add_3 in place", [&](float* r) { std::copy(a.m, a.m + 9, r), matrix_add_3(r, r, b); },
         {3, 2, 4, 5, 8, 6, 7, 9, 14}},
        {"ident_3", matrix_ident_3, {1, 0, 0, 0, 1, 0, 0, 0, 1}},
        {"zero_3", matrix_zero_3, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"multiply_vec_3", [&](float* r) { matrix_multiply_vec_3(r, a, v); }, {2, 11, 18}},
        {"transpose_4", [&](float* r) { matrix_transpose_4(r, m); },
         {1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 4, 8, 12, 16}},
        {"copy", [&](float* r) { Matrix4 c; c.copy(m), std::copy(c.m, c.m + 16, r); },
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
        // A point gets the last column added, a direction does not.
        {"multiply_4_vec_3", [&](float* r) { matrix_multiply_4_vec_3(r, m, v); }, {6, 22, 38}},
        {"transform_linear", [&](float* r) { matrix_transform_linear(r, m, v); }, {2, 14, 26}},
        {"lerp_3", [&](float* r) { vector_lerp_3(r, 0.25f, Vec3(1, 2, 3), Vec3(5, -2, 3)); },
         {2, 1, 3}},
        {"project in place",
         [&](float* r) { std::copy(v.v, v.v + 3, r), project_point_on_plane(r, n, r); },
         {2, 2.88f, -2.16f}},
        // The perpendicular is built from the axis of the smallest component by magnitude,
        // the first one on a tie.
        {"perp x", perp(Vec3(1, 0, 0)), {0, 1, 0}},
        {"perp 0", perp(Vec3(0.48f, 0.6f, 0.64f)), {0.87726849f, -0.32829174f, -0.35017786f}},
        {"perp 1", perp(Vec3(0.64f, -0.48f, 0.6f)), {0.35017786f, 0.87726849f, 0.32829174f}},
        {"perp 2", perp(Vec3(0.6f, 0.64f, 0.48f)), {-0.32829174f, -0.35017786f, 0.87726849f}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> out(c.want.size() + 1, 7.0f);
        out.back() = 42.0f;
        c.fill(out.data());
        ExpectNear(c.want.data(), out.data(), int(c.want.size()), 1e-6f);
        EXPECT_EQ(out.back(), 42.0f);
    }
}

TEST(VmathProjection, KnownMatricesAndLookAt)
{
    Matrix4 m, p;
    matrix_frustum_4(m, -1, 3, 0, 2, 2, 10);
    const float frustum[16] = {1, 0, 0.5f, 0, 0, 2, 1, 0, 0, 0, -1.5f, -5, 0, 0, -1, 0};
    ExpectNear(frustum, m, 16, 0.0f);
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
    matrix_ortho_4(m, -1, 3, 0, 4, 1, 5);
    const float ortho[16] = {0.5f, 0, 0, -0.5f, 0, 0.5f, 0, -1, 0, 0, 0.5f, -1.5f, 0, 0, 0, 1};
    ExpectNear(ortho, m, 16, 0.0f);

    std::fill(m.m, m.m + 16, 7.0f);  // every element is written
    matrix_lookat_4(m, Vec3(0, 0, 5), Vec3(0, 0, 0), Vec3(0, 1, 0));
    const float lookAt[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, -5, 0, 0, 0, 1};
    ExpectNear(lookAt, m, 16, 0.0f);
    // Elsewhere the eye still goes to the origin and the centre onto -z.
    matrix_lookat_4(m, Vec3(3, -2, 7), Vec3(-1, 4, 2), Vec3(0.3f, 0.2f, 1));
    ExpectNear(Vec4(0, 0, 0, 1), mul(m, Vec4(3, -2, 7, 1)), 4);
    ExpectNear(Vec4(0, 0, -std::sqrt(77.0f), 1), mul(m, Vec4(-1, 4, 2, 1)), 4);
}

TEST(VmathVector, NormalizeLeavesTooShortAndNaNAlone)
{
    // The shortest vector left alone, and one just longer.
    EXPECT_EQ(normalize(Vec4(0.00001f, 0, 0, 0)).v[0], 0.00001f);
    EXPECT_EQ(normalize(Vec4(0, 0, 0, 0.0000101f)).v[3], 1.0f);
    EXPECT_EQ(normalize(Vec4(NAN, 1, 1, 1)).v[1], 1.0f);
    ExpectNear(Vec4(0.2f, -0.4f, 0.4f, 0.8f), normalize(Vec4(1, -2, 2, 4)), 4);
}

TEST(VmathVector, RandomRangeCoversItsGridEndsIncluded)
{
    std::srand(1);
    float lo = 3.0f, hi = -1.0f, offGrid = 0.0f;
    for (int i = 0; i < 400000; ++i) {
        const float x = random_range(-1.0f, 3.0f), step = (x + 1.0f) / 4.0f * 32767.0f;
        lo = std::min(lo, x), hi = std::max(hi, x);
        offGrid = std::max(offGrid, std::fabs(step - std::round(step)));
    }
    EXPECT_TRUE(lo == -1.0f && hi == 3.0f && offGrid < 0.01f) << lo << " " << hi << " " << offGrid;
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

    // The Hamilton product, the conjugate (in place) and division by a scalar.
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
    // Closer than 0.001 radians: the start comes back unchanged.
    EXPECT_EQ(slerp(from, RotationQuat(axis, 20.05f), 1).q[3], from.q[3]);

    // A unit quaternion whose dot product with itself rounds to above 1 in float.
    const Quat near(0, 0.0116231656f, 0.0154975532f, 0.999812365f);
    ASSERT_GT(near.q[1] * near.q[1] + near.q[2] * near.q[2] + near.q[3] * near.q[3], 1.0f);
    ExpectNear(near, slerp(near, near, 0.5f), 4, 1e-3f);
}
