// The 5202-patch reduction on a synthetic chart whose gray ramp makes every sample known.
// The printed samples and the two warnings are pinned end to end on the bundled chart.
#include "preprocess5202.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

struct Chart { std::vector<Color3> rgb, lab; };

std::vector<double> Values(const Color3& c) { return {c.c[0], c.c[1], c.c[2]}; }

// The 17^3 grid on 0..100 (Lab = RGB off the diagonal), then the 289 gray levels j * 100 / 288.
// Every 18th level is also a grid gray, so measured twice; each level's measurements average
// to (j^2, j, -j).
Chart Chart5202()
{
    Chart c;
    for (int p = 0; p < 4913; ++p) {
        const Color3 rgb{{p / 289 * 6.25, p / 17 % 17 * 6.25, p % 17 * 6.25}};
        const double j = 18.0 * (p / 289);
        c.rgb.push_back(rgb);
        c.lab.push_back(rgb.c[0] == rgb.c[1] && rgb.c[1] == rgb.c[2] ? Color3{{j * j - 1, j, -j}} : rgb);
    }
    for (int j = 0; j < 289; ++j) {
        c.rgb.push_back(Color3{{j * 100.0 / 288, j * 100.0 / 288, j * 100.0 / 288}});
        c.lab.push_back(Color3{{j * j + (j % 18 == 0 ? 1.0 : 0.0), double(j), -double(j)}});
    }
    return c;
}

TEST(Preprocess5202, ReducesTheChartToItsGrid)
{
    Chart c = Chart5202();
    testutil::CaptureStdout capture;
    Preprocess5202Target(c.rgb, c.lab);
    ASSERT_EQ(4913u, c.rgb.size());
    ASSERT_EQ(4913u, c.lab.size());
    EXPECT_EQ(Values(Color3{{0, 0, 6.25}}), Values(c.rgb[0]));  // the others keep their order
    // The samples in ascending order: the ends plain averages, the inner ones smoothed, which
    // adds exactly 1 to a quadratic ramp and leaves linear ones alone.
    for (int k = 0; k < 17; ++k) {
        const double j = 18.0 * k, inner = (k == 0 || k == 16) ? 0.0 : 1.0;
        EXPECT_EQ(Values(Color3{{k * 6.25, k * 6.25, k * 6.25}}), Values(c.rgb[4896 + k]));
        EXPECT_EQ(Values(Color3{{j * j + inner, j, -j}}), Values(c.lab[4896 + k])) << k;
    }
    const std::string printed = capture.Text();
    EXPECT_EQ(17, std::count(printed.begin(), printed.end(), '\n'));
}

TEST(Preprocess5202, LeavesOtherListsAlone)
{
    for (auto [rgbSize, labSize] : {std::pair(0, 0), {4913, 4913}, {5201, 5201}, {5203, 5203}, {5202, 5201}}) {
        Chart c{std::vector<Color3>(rgbSize, Color3{{1, 1, 1}}), std::vector<Color3>(labSize)};
        testutil::CaptureStdout capture;
        Preprocess5202Target(c.rgb, c.lab);
        EXPECT_EQ("", capture.Text());
        EXPECT_EQ(std::pair(rgbSize, labSize), std::pair(int(c.rgb.size()), int(c.lab.size())));
    }
}

}  // namespace
