#include "preprocess5202.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

struct Chart {
    std::vector<Color3> rgb;
    std::vector<Color3> lab;
};

// A 5202-patch chart: the 17^3 grid on 0..100 with Lab (R, G, B), then the 289 gray levels
// j * 100 / 288. Every 18th level coincides with a grid gray and is measured twice; each gray
// level's two measurements average to (j^2, j, -j), the others measure (j^2, j, -j) once.
Chart Chart5202()
{
    Chart c;
    for (int i = 0; i < 17; ++i)
        for (int j = 0; j < 17; ++j)
            for (int k = 0; k < 17; ++k) {
                c.rgb.push_back(Color3{{i * 6.25, j * 6.25, k * 6.25}});
                const double g = (i == j && j == k) ? 18.0 * i : 0.0;
                c.lab.push_back((i == j && j == k) ? Color3{{g * g - 1, g, -g}}
                                                   : Color3{{i * 6.25, j * 6.25, k * 6.25}});
            }
    for (int j = 0; j < 289; ++j) {
        const double level = j * 100.0 / 288;
        const double d = (j % 18 == 0) ? 1.0 : 0.0;
        c.rgb.push_back(Color3{{level, level, level}});
        c.lab.push_back(Color3{{double(j) * j + d, double(j), -double(j)}});
    }
    return c;
}

std::string Preprocess(Chart& c)
{
    testutil::CaptureStdout capture;
    Preprocess5202Target(c.rgb, c.lab);
    return capture.Text();
}

TEST(Preprocess5202, ReducesTheChartToItsGrid)
{
    Chart c = Chart5202();
    const std::string printed = Preprocess(c);
    ASSERT_EQ(4913u, c.rgb.size());
    ASSERT_EQ(4913u, c.lab.size());
    // The non-gray patches keep their order, then come the 17 samples in ascending order.
    EXPECT_EQ(0.0, c.rgb[0].c[0]);
    EXPECT_EQ(6.25, c.rgb[0].c[2]);
    for (int k = 0; k < 17; ++k) {
        const Color3& rgb = c.rgb[4896 + k];
        const Color3& lab = c.lab[4896 + k];
        const double j = 18.0 * k;
        EXPECT_EQ(k * 6.25, rgb.c[0]);
        EXPECT_EQ(rgb.c[0], rgb.c[1]);
        EXPECT_EQ(rgb.c[0], rgb.c[2]);
        // The ends are plain averages; inner samples are smoothed, which adds exactly 1 to
        // a quadratic ramp and leaves linear ones alone.
        EXPECT_EQ(j * j + ((k == 0 || k == 16) ? 0 : 1), lab.c[0]) << k;
        EXPECT_EQ(j, lab.c[1]);
        EXPECT_EQ(-j, lab.c[2]);
    }
    EXPECT_EQ(0u, printed.find("(0.000000, 0.000000, 0.000000) -> (0.000000, 0.000000, -0.000000)\n"
                               "(6.250000, 6.250000, 6.250000) -> (325.000000, 18.000000, -18.000000)\n"));
    EXPECT_EQ(17, std::count(printed.begin(), printed.end(), '\n'));
    EXPECT_NE(std::string::npos,
              printed.find("(100.000000, 100.000000, 100.000000) -> (82944.000000, 288.000000, -288.000000)\n"));
}

TEST(Preprocess5202, GivesUpOnUnexpectedGrays)
{
    // One gray patch nudged off the diagonal: 305 gray patches.
    Chart c = Chart5202();
    c.rgb[5000].c[2] += 0.0001;
    EXPECT_EQ("Warning: Preprocess5202Target () failed because an unexpected number (305) of gray "
              "patches were found. We were expecting 306 gray patches instead.\n",
              Preprocess(c));
    EXPECT_EQ(4897u, c.rgb.size());
    EXPECT_EQ(4897u, c.lab.size());

    // A grid gray moved to a new level: 306 gray patches at 290 levels.
    c = Chart5202();
    c.rgb[0] = Color3{{0.5, 0.5, 0.5}};
    EXPECT_EQ("Warning: Preprocess5202Target () failed because an unexpected number (290) of unique "
              "gray patches were found. We were expecting 289 unique gray patches instead.\n",
              Preprocess(c));
    EXPECT_EQ(4896u, c.rgb.size());
    for (const Color3& rgb : c.rgb)
        EXPECT_FALSE(rgb.c[0] == rgb.c[1] && rgb.c[1] == rgb.c[2]);
}

TEST(Preprocess5202, LeavesOtherSizesAlone)
{
    for (std::size_t size : {0u, 4913u, 5201u, 5203u}) {
        Chart c;
        c.rgb.assign(size, Color3{{1, 1, 1}});
        c.lab.assign(size, Color3{{2, 2, 2}});
        EXPECT_EQ("", Preprocess(c));
        EXPECT_EQ(size, c.rgb.size());
        EXPECT_EQ(size, c.lab.size());
    }
}

}  // namespace
