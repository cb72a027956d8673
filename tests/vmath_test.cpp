// Vector, matrix and quaternion math against known answers worked out by hand or in double
// precision. The inputs have no symmetry, so a wrong sign, a transposed layout or a swapped
// product order shows. The debug printers are checked for what they print (every value, in
// order), not for their layout, which a test could only spell again.
#include "testutil.h"
#include "vmath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <numeric>
#include <regex>
#include <set>
#include <vector>

namespace {

// The floats of a value type: stored at r, or as a vector.
template <typename T>
void Put(float* r, const T& value)
{
    std::memcpy(r, &value, sizeof value);
}
template <typename T>
std::vector<float> Floats(const T& value)
{
    const float* p = value;
    return {p, p + sizeof value / sizeof(float)};
}

// A unit quaternion turning by `degrees` about the unit `axis`.
Quat Turn(const float* axis, float degrees)
{
    Quat q;
    quat_make_rotate_4(q, axis, 0.5f * degrees * 0.017453292f);
    return q;
}

}  // namespace

// Each function's output starts as 7s followed by a sentinel 42: every element must be
// written, and nothing past the result.
TEST(Vmath, KnownAnswersWithinTheirSize)
{
    const Matrix3 a{{1, 2, 3, 4, 5, 6, 7, 8, 10}}, b{{2, 0, 1, 1, 3, 0, 0, 1, 4}};
    Matrix4 m, t, s;
    std::iota(m.m, m.m + 16, 1.0f);  // singular
    const Matrix4 g{{1, -3, 2, 2, 1, 1, -1, 2, 2, 3, -2, 3, 1, 3, -2, 2}};  // determinant 2
    matrix_translate_4(t, 1, 2, 3);
    matrix_scale_4(s, 2, 3, 4);
    const Vec3 v(2, 3, -2), n(0, 0.6f, 0.8f), axis(0.48f, 0.6f, 0.64f);
    const std::vector<float> rotation = {0.4936187f, -0.4119051f, 0.765947f, 0, 0.7909015f,
                                         0.5788929f, -0.1983882f, 0, -0.3616842f, 0.7037167f,
                                         0.6115287f, 0, 0, 0, 0, 1};  // 70 degrees about axis
    const Quat from = Turn(axis, 20);
    const auto slerpTo = [&](float degrees, float at) {
        return [=, end = Turn(axis, degrees)](float* r) { Put(r, slerp(from, end, at)); };
    };
    // A unit quaternion whose dot product with itself rounds to above 1 in float.
    const Quat near(0, 0.0116231656f, 0.0154975532f, 0.999812365f);
    using Fill = std::function<void(float*)>;
    const auto perp = [](float x, float y, float z) {  // the 0 after v is not a component
        return Fill([=](float* r) { vector_perp(r, Vec4(x, y, z, 0)); });
    };
    const struct { const char* name; Fill fill; std::vector<float> want; } cases[] = {
        {"multiply_3", [&](float* r) { matrix_multiply_3(r, a, b); }, {4, 9, 13, 13, 21, 28, 22, 34, 47}},
        {"transpose_3", [&](float* r) { matrix_transpose_3(r, a); }, {1, 4, 7, 2, 5, 8, 3, 6, 10}},
        {"add_3 in place", [&](float* r) { std::copy(a.m, a.m + 9, r), matrix_add_3(r, r, b); },
         {3, 2, 4, 5, 8, 6, 7, 9, 14}},
        {"ident_3", matrix_ident_3, {1, 0, 0, 0, 1, 0, 0, 0, 1}},
        {"zero_3", matrix_zero_3, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"multiply_vec_3", [&](float* r) { matrix_multiply_vec_3(r, a, v); }, {2, 11, 18}},
        {"transpose_4", [&](float* r) { matrix_transpose_4(r, m); },
         {1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 4, 8, 12, 16}},
        {"copy", [&](float* r) { Matrix4 c; c.copy(m), Put(r, c); }, Floats(m)},
        // A point gets the last column added, a direction does not.
        {"multiply_4_vec_3", [&](float* r) { matrix_multiply_4_vec_3(r, m, v); }, {6, 22, 38}},
        {"transform_linear", [&](float* r) { matrix_transform_linear(r, m, v); }, {2, 14, 26}},
        {"invert_3 in place",
         [&](float* r) { Put(r, Matrix3{{-8, 8, 7, 9, -7, -9, 3, -1, -4}}), matrix_invert_3(r, r); },
         {4.75f, 6.25f, -5.75f, 2.25f, 2.75f, -2.25f, 3, 4, -4}},
        {"invert_3 singular", [&](float* r) { matrix_invert_3(r, Matrix3{{1, 2, 3, 2, 4, 6, 0, 1, 5}}); },
         std::vector<float>(9, 0)},
        {"invert_4 in place", [&](float* r) { Put(r, g), matrix_invert_4(r, r); },
         {-0.5f, 0, 2, -2.5f, 0.5f, -2, 0, 1.5f, 1, -3, 0, 2, 0.5f, 0, -1, 1.5f}},
        {"invert_4 singular", [&](float* r) { matrix_invert_4(r, m); }, std::vector<float>(16, 0)},
        {"multiply_4", [&](float* r) { matrix_multiply_4(r, g, m); },
         {30, 32, 34, 36, 23, 26, 29, 32, 38, 44, 50, 56, 24, 28, 32, 36}},
        {"multiply_vec_4", [&](float* r) { matrix_multiply_vec_4(r, g, Vec4(1, -2, 3, 0.5f)); },
         {14, -3, -8.5f, -10}},
        // mul(t, s) scales first; a w of 2 doubles the shift: (1, 1, 1) -> (2, 3, 4) -> (4, 7, 10).
        {"translate after scale", [&](float* r) { Put(r, mul(mul(t, s), Vec4(1, 1, 1, 2))); }, {4, 7, 10, 2}},
        {"rotate (axis of any length)",
         [&](float* r) { matrix_rotate_4(r, 70, 1.44f, 1.8f, 1.92f); }, rotation},
        {"quaternion's matrix", [&](float* r) { Put(r, Turn(axis, 70).makeRot()); }, rotation},
        // Equal bounds zero the elements built from them instead of making them infinite.
        {"frustum, equal bounds", [&](float* r) { matrix_frustum_4(r, 1, 1, 2, 2, 3, 3); },
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, 0}},
        // The window at distance 2 is 4 high and 8 wide. Shifted (through the shifted frustum):
        // dx = 0.5 of width 4 moves x by -0.25 of the window, dy = -1 of height 8 y by 0.25.
        // Both build their matrices with matrix_frustum_4, the shifted one from off-centre bounds.
        {"perspective", [&](float* r) { matrix_perspective_4(r, 90, 2, 2, 10); },
         {0.5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1.5f, -5, 0, 0, -1, 0}},
        {"perspective, shifted", [&](float* r) { matrix_perspective_4(r, 90, 2, 2, 10, 0.5, -1.0, 4, 8); },
         {0.5f, 0, -0.25f, 0, 0, 1, 0.25f, 0, 0, 0, -1.5f, -5, 0, 0, -1, 0}},
        {"ortho", [&](float* r) { matrix_ortho_4(r, -1, 3, 0, 4, 1, 5); },
         {0.5f, 0, 0, -0.5f, 0, 0.5f, 0, -1, 0, 0, 0.5f, -1.5f, 0, 0, 0, 1}},
        {"lookat", [&](float* r) { matrix_lookat_4(r, Vec3(3, -2, 7), Vec3(-1, 4, 2), Vec3(0.3f, 0.2f, 1)); },
         {0.8889292f, 0.3174747f, -0.3301737f, 0.2793777f, 0.04486271f, 0.6570216f, 0.7525357f,
          -4.088295f, 0.4558423f, -0.6837635f, 0.5698029f, -6.723674f, 0, 0, 0, 1}},
        {"lerp_3", [&](float* r) { vector_lerp_3(r, 0.25f, Vec3(1, 2, 3), Vec3(5, -2, 3)); }, {2, 1, 3}},
        {"project in place", [&](float* r) { std::copy(v.v, v.v + 3, r), project_point_on_plane(r, n, r); },
         {2, 2.88f, -2.16f}},
        // The perpendicular is built from the axis of the smallest component by magnitude,
        // the first one on a tie.
        {"perp x in place", [](float* r) { r[0] = 1, r[1] = r[2] = 0, vector_perp(r, r); }, {0, 1, 0}},
        {"perp 0", perp(0.48f, 0.6f, 0.64f), {0.87726849f, -0.32829174f, -0.35017786f}},
        {"perp 1", perp(0.64f, -0.48f, 0.6f), {0.35017786f, 0.87726849f, 0.32829174f}},
        {"perp 2", perp(0.6f, 0.64f, 0.48f), {-0.32829174f, -0.35017786f, 0.87726849f}},
        // The shortest vector is left alone, one just longer is not, nor is NaN.
        {"normalize", [](float* r) { Put(r, normalize(Vec4(1, -2, 2, 4))); }, {0.2f, -0.4f, 0.4f, 0.8f}},
        {"normalize, too short", [](float* r) { Put(r, normalize(Vec4(0.00001f, 0, 0, 0))); },
         {0.00001f, 0, 0, 0}},
        {"normalize, just long enough", [](float* r) { Put(r, normalize(Vec4(0, 0, 0, 0.0000101f))); },
         {0, 0, 0, 1}},
        {"normalize, NaN", [](float* r) { Put(r, normalize(Vec4(NAN, 1, 1, 1)).v[1]); }, {1}},
        // The Hamilton product; a rotation multiplies by the conjugate too.
        {"quat_mult_4", [](float* r) { quat_mult_4(r, Quat(1, 2, 3, 4), Quat(5, 6, 7, 8)); },
         {24, 48, 48, -6}},
        {"quat_rotate_4", [&](float* r) { quat_rotate_4(r, Turn(axis, 70), Vec4(1, -2, 3, 0)); },
         {3.61527f, -0.9620489f, 0.06546847f, 0}},
        // Along the arc from 20 to 100 degrees, t = 1.5 going on past the end: both ends'
        // weights are in play, and their sum is divided by sin θ with the quaternion's operator/.
        {"slerp 1.5", slerpTo(100, 1.5f), Floats(Turn(axis, 140))},
        // A negative dot product: the shorter arc starts from -from.
        {"slerp, far", slerpTo(300, 0), Floats(from / -1)},
        // Closer than 0.001 radians: the start comes back unchanged.
        {"slerp, close", slerpTo(20.05f, 1), Floats(from)},
        {"slerp, dot of 1", [](float* r) { Put(r, slerp(Quat(), Quat(), 0.5f)); }, {0, 0, 0, 1}},
        {"slerp, dot above 1", [&](float* r) { Put(r, slerp(near, near, 0)); }, Floats(near)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> out(c.want.size() + 1, 7.0f);
        out.back() = 42.0f;
        c.fill(out.data());
        for (size_t i = 0; i < c.want.size(); ++i)
            EXPECT_NEAR(out[i], c.want[i], 1e-5f) << "element " << i;
        EXPECT_EQ(out.back(), 42.0f);
    }
}

// A million draws give every one of the 32768 values, the ends among them.
TEST(Vmath, RandomRangeTakes32768ValuesEndsIncluded)
{
    std::srand(1);
    std::set<float> seen;
    for (int i = 0; i < 1000000; ++i)
        seen.insert(random_range(-1.0f, 3.0f));
    EXPECT_EQ(std::tuple(seen.size(), *seen.begin(), *seen.rbegin()), std::tuple(32768u, -1.0f, 3.0f));
}

TEST(VmathDebug, PrintersPrintEveryValueInOrder)
{
    Matrix4 m4;
    std::iota(m4.m, m4.m + 16, -7.5f);
    Matrix3 m3;
    std::iota(m3.m, m3.m + 9, 0.25f);
    const std::pair<std::function<void()>, std::vector<float>> cases[] = {
        {[] { Vec3(1.5f, -2, 3).debug(); }, {1.5f, -2, 3}},
        {[] { Vec4(4, 0.125f, -6, 7).debug(); }, {4, 0.125f, -6, 7}},
        {[&] { m3.debug(); }, std::vector<float>(m3.m, m3.m + 9)},
        {[&] { m4.debug(); }, std::vector<float>(m4.m, m4.m + 16)}};
    for (const auto& [print, values] : cases) {
        testutil::CaptureStdout out;
        print();
        std::fflush(stdout);
        const std::string text = out.Text();
        const std::regex number("-?[0-9]+\\.[0-9]+");
        std::vector<float> printed;
        for (auto n = std::sregex_iterator(text.begin(), text.end(), number); n != std::sregex_iterator(); ++n)
            printed.push_back(std::stof(n->str()));
        EXPECT_EQ(values, printed) << text;
    }
}
