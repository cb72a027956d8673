// Chart profiles, checked by Little CMS as the independent engine: through every intent at the
// grid points, against Lab values the test derives with the engine's own colour
// maths (and the library's black and white transform for the perceptual table); a display
// profile's Lab-to-device tables; the header and tags as our reader and the engine see them. What
// a profile cannot be made from is pinned end to end (chartlab_profile_test), but for a white
// whose Y alone is 0.
#include "chartprofile.h"
#include "colorcommon.h"
#include "patchtables.h"
#include "vmath.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

using Bytes = std::vector<unsigned char>;

// The bundled 17-level chart as measured, or a noise-free one through sRGB on the given axes
// (0..100), its Lab changed by `veil`.
MeasuredGrid MakeGrid(const std::vector<double>* axes = nullptr, Color3 (*veil)(const Color3&) = nullptr)
{
    std::vector<Color3> rgb, lab;
    if (!axes) {
        EXPECT_EQ(ReadTripletFileString(TEST_DATA_DIR "/chart17-srgb.ti3", &rgb, "RGB_R", "RGB_G", "RGB_B"), 1);
        EXPECT_EQ(ReadTripletFileString(TEST_DATA_DIR "/chart17-srgb.ti3", &lab, "LAB_L", "LAB_A", "LAB_B"), 1);
    }
    for (double r : axes ? axes[0] : std::vector<double>())
        for (double g : axes[1])
            for (double b : axes[2]) {
                const double unit[3] = {r / 100.0, g / 100.0, b / 100.0};
                rgb.push_back(Color3{{r, g, b}});
                srgb_to_lab_d50(unit, lab.emplace_back().c);
                lab.back() = veil ? veil(lab.back()) : lab.back();
            }
    MeasuredGrid grid;
    EXPECT_EQ(grid.Build(rgb, lab, nullptr), GridBuild::Ok);
    return grid;
}

Bytes MakeProfile(const MeasuredGrid& grid, const ChartProfileSettings& settings)
{
    std::unique_ptr<ICC_CPP_Profile> profile;
    Bytes bytes;
    EXPECT_EQ(BuildChartProfile(grid, settings, &profile), ChartProfileBuild::Ok);
    EXPECT_TRUE(profile && profile->WriteToMemory(bytes));
    return bytes;
}

// The engine's relative Lab of a measured Lab against the white's measured Lab.
cmsCIELab EngineRelativeLab(const Color3& lab, const Color3& white)
{
    const cmsCIELab in{lab.c[0], lab.c[1], lab.c[2]}, w{white.c[0], white.c[1], white.c[2]};
    cmsCIEXYZ xyz, wxyz;
    cmsLab2XYZ(cmsD50_XYZ(), &xyz, &in);
    cmsLab2XYZ(cmsD50_XYZ(), &wxyz, &w);
    const cmsCIEXYZ* d50 = cmsD50_XYZ();
    const cmsCIEXYZ scaled{xyz.X * d50->X / wxyz.X, xyz.Y * d50->Y / wxyz.Y, xyz.Z * d50->Z / wxyz.Z};
    cmsCIELab out;
    cmsXYZ2Lab(cmsD50_XYZ(), &out, &scaled);
    return out;
}

// Whether the 16-bit Lab of version 2 holds the value.
bool Encodable(const cmsCIELab& lab)
{
    return lab.L >= 0.0 && lab.L <= 65535 * 100.0 / 65280 && std::min(lab.a, lab.b) >= -128.0 &&
           std::max(lab.a, lab.b) <= 65535 / 256.0 - 128.0;
}

double Distance(const cmsCIELab& x, const cmsCIELab& y) { return cmsDeltaE(&x, &y); }

// A transform between a profile in memory and Lab, in double precision, either way.
struct Engine {
    Engine(const Bytes& profile, cmsUInt32Number intent, bool toLab = true)
    {
        cmsHPROFILE device = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
        cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
        if (device && lab)
            transform = toLab ? cmsCreateTransform(device, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, intent, cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE)
                              : cmsCreateTransform(lab, TYPE_Lab_DBL, device, TYPE_RGB_DBL, intent, cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE);
        cmsCloseProfile(device);
        cmsCloseProfile(lab);
        EXPECT_NE(transform, nullptr);
    }
    Engine(const Engine&) = delete;
    ~Engine()
    {
        if (transform)
            cmsDeleteTransform(transform);
    }
    cmsCIELab operator()(double r, double g, double b) const
    {
        const double rgb[3] = {r, g, b};
        cmsCIELab lab;
        cmsDoTransform(transform, rgb, &lab, 1);
        return lab;
    }
    cmsHTRANSFORM transform = nullptr;
};

// At every grid point each intent gives its Lab: relative to the white, as measured, and
// carried by the library's transform made from the black's and the white's relative Lab. The
// perceptual table takes the black to L* = 0 and the white to L* = 100, neutral, to within one
// code (1/256 in a* and b*). The input tables follow each axis, however uneven.
TEST(ChartProfile, LittleCmsReproducesTheGridThroughEveryIntent)
{
    // Axes of their own per channel, one starting above 0 and one ending below the top, and a
    // veiled black: every Lab value lifted towards (4, 1, -1).
    const std::vector<double> skewed[3] = {{0, 10, 35, 70, 100}, {0, 20, 45, 60, 100}, {10, 25, 50, 75, 90}};
    const MeasuredGrid grids[] = {MakeGrid(), MakeGrid(skewed, [](const Color3& lab) {
        return Color3{{4 + 0.96 * lab.c[0], 1 + lab.c[1], lab.c[2] - 1}};
    })};
    for (const MeasuredGrid& grid : grids) {
        SCOPED_TRACE(grid.Axis(0).size());
        const int n = grid.N(), top = n - 1;
        const double scale = std::max({grid.Axis(0).back(), grid.Axis(1).back(), grid.Axis(2).back()});
        const Bytes profile = MakeProfile(grid, ChartProfileSettings());
        const Engine relative(profile, INTENT_RELATIVE_COLORIMETRIC), absolute(profile, INTENT_ABSOLUTE_COLORIMETRIC),
            perceptual(profile, INTENT_PERCEPTUAL);
        const cmsCIELab black = EngineRelativeLab(grid.Lab(0, 0, 0), grid.Lab(top, top, top));
        const Matrix4 toPcs = ComputeTransformFromMeasuredLabToPCSLab(Vec3(float(black.L), float(black.a), float(black.b)), Vec3(100, 0, 0));
        int encodable = 0;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                for (int k = 0; k < n; ++k) {
                    const double r = grid.Axis(0)[i] / scale, g = grid.Axis(1)[j] / scale, b = grid.Axis(2)[k] / scale;
                    const Color3& measured = grid.Lab(i, j, k);
                    const cmsCIELab want = EngineRelativeLab(measured, grid.Lab(top, top, top));
                    if (!Encodable(want))
                        continue;
                    ++encodable;
                    EXPECT_LE(Distance(relative(r, g, b), want), 0.01);
                    EXPECT_LE(Distance(absolute(r, g, b), cmsCIELab{measured.c[0], measured.c[1], measured.c[2]}), 0.01);
                    const Vec4 pcs = mul(toPcs, Vec4(float(want.L), float(want.a), float(want.b), 1));
                    const cmsCIELab wantPerceptual{pcs.v[0], pcs.v[1], pcs.v[2]};
                    EXPECT_TRUE(!Encodable(wantPerceptual) || Distance(perceptual(r, g, b), wantPerceptual) <= 0.01);
                }
        EXPECT_GT(encodable, n * n * n * 9 / 10);
        EXPECT_LE(Distance(perceptual(0, 0, 0), cmsCIELab{0, 0, 0}), 0.004);
        EXPECT_LE(Distance(perceptual(1, 1, 1), cmsCIELab{100, 0, 0}), 0.004);
    }
}

// Lab to device RGB through a display profile's B2A tables and back through its A2B tables: the
// chart's own colours come back close; L* 0 and 100 go to black and white, and the relative
// neutral axis to device grays (the chart's grays are neutral against its white).
TEST(ChartProfile, DisplayProfileRoundTripsThroughLittleCms)
{
    const MeasuredGrid grid = MakeGrid();
    ChartProfileSettings settings;
    settings.profileClass = ProfileClass::Display;
    const Bytes bytes = MakeProfile(grid, settings);
    const Engine toLab(bytes, INTENT_RELATIVE_COLORIMETRIC), toDevice[2] = {{bytes, INTENT_PERCEPTUAL, false},
                                                                           {bytes, INTENT_RELATIVE_COLORIMETRIC, false}};
    std::vector<double> errors;
    for (int p = 0; p < 17 * 17 * 17; p += 7) {
        const cmsCIELab wanted = EngineRelativeLab(grid.Lab(p / 289, p / 17 % 17, p % 17), grid.Lab(16, 16, 16));
        double device[3];
        cmsDoTransform(toDevice[INTENT_RELATIVE_COLORIMETRIC].transform, &wanted, device, 1);
        errors.push_back(Distance(toLab(device[0], device[1], device[2]), wanted));
    }
    std::sort(errors.begin(), errors.end());
    EXPECT_LE(errors[errors.size() / 2], 0.5);
    EXPECT_LE(errors[errors.size() * 95 / 100], 1.5);
    const struct { int intent; cmsCIELab lab; double level; } neutrals[] = {
        {INTENT_PERCEPTUAL, {0, 0, 0}, 0.0}, {INTENT_PERCEPTUAL, {100, 0, 0}, 1.0}, {INTENT_RELATIVE_COLORIMETRIC, {0, 0, 0}, 0.0},
        {INTENT_RELATIVE_COLORIMETRIC, {100, 0, 0}, 1.0}, {INTENT_RELATIVE_COLORIMETRIC, {50, 0, 0}, -1}};
    for (const auto& c : neutrals) {
        double out[3];
        cmsDoTransform(toDevice[c.intent].transform, &c.lab, out, 1);
        SCOPED_TRACE(testing::Message() << c.intent << " " << c.lab.L);
        EXPECT_NEAR(out[1], c.level < 0 ? out[0] : c.level, 1e-4);
        EXPECT_NEAR(out[0], out[2], 1e-4);
        EXPECT_NEAR(out[0], out[1], 1e-4);
    }
}

TEST(ChartProfile, HeaderAndTagsAsOurReaderAndLittleCmsSeeThem)
{
    const std::vector<double> axes[3] = {{0, 50, 100}, {0, 50, 100}, {0, 50, 100}};
    const MeasuredGrid grid = MakeGrid(axes);
    for (ProfileClass profileClass : {ProfileClass::Input, ProfileClass::Display}) {
        const bool display = profileClass == ProfileClass::Display;
        SCOPED_TRACE(display ? "display" : "input");
        ChartProfileSettings settings;
        settings.profileClass = profileClass;
        settings.description = "Caf\xC3\xA9 chart";
        settings.copyright = "\xC2\xA9 2015 Someone";
        settings.created = 1425564429;  // 2015-03-05 14:07:09 UTC
        const Bytes bytes = MakeProfile(grid, settings);
        const Bytes want = {2, 0x40, 0, 0, 'm', 'n', 't', 'r', 'R', 'G', 'B', ' ', 'L', 'a', 'b', ' ',
                            0x07, 0xDF, 0, 3, 0, 5, 0, 14, 0, 7, 0, 9, 'a', 'c', 's', 'p',
                            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                            0, 0, 0xF6, 0xD6, 0, 1, 0, 0, 0, 0, 0xD3, 0x2D, 'O', 'R', 'L', 'K',
                            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        EXPECT_EQ(Bytes(bytes.begin() + 8, bytes.begin() + 12), Bytes(want.begin(), want.begin() + 4));
        EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), display ? "mntr" : "scnr");
        EXPECT_EQ(Bytes(bytes.begin() + 16, bytes.begin() + 100), Bytes(want.begin() + 8, want.end()));

        // Our reader: the tags in order, B2A as "mft2", the description's Unicode copy (Little CMS
        // below reads the ASCII texts), written back to the same bytes.
        std::unique_ptr<ICC_CPP_Profile> back(ICC_CPP_Profile::ReadFromMemory(bytes.data(), bytes.size()));
        ASSERT_NE(back, nullptr);
        const std::vector<ICC_CPP_Tag*>& tags = back->GetTags();
        ASSERT_EQ(tags.size(), display ? 8u : 6u);
        const unsigned int names[] = {ICCSignature("desc"), ICCSignature("cprt"), ICCSignature("wtpt"), ICCSignature("bkpt"),
                                      ICCSignature("A2B0"), ICCSignature("A2B1"), ICCSignature("B2A0"), ICCSignature("B2A1")};
        for (size_t t = 0; t < tags.size(); ++t) {
            EXPECT_EQ(tags[t]->signature, names[t]);
            EXPECT_EQ(t >= 6, dynamic_cast<ICC_CPP_lut16_Tag*>(tags[t]) && !dynamic_cast<ICC_CPP_A2B_Tag*>(tags[t]));
        }
        auto* desc = dynamic_cast<ICC_CPP_textDescription_Tag*>(tags[0]);
        ASSERT_NE(desc, nullptr);
        EXPECT_EQ(desc->description->unicode, (std::vector<unsigned short>{'C', 'a', 'f', 0xE9, ' ', 'c', 'h', 'a', 'r', 't'}));
        Bytes again;
        ASSERT_TRUE(back->WriteToMemory(again));
        EXPECT_EQ(again, bytes);

        // Little CMS: the texts, and the white and black points as the chart measured them.
        const cmsHPROFILE engine = cmsOpenProfileFromMem(bytes.data(), cmsUInt32Number(bytes.size()));
        ASSERT_NE(engine, nullptr);
        char text[64] = {};
        cmsGetProfileInfoASCII(engine, cmsInfoDescription, "en", "US", text, sizeof text);
        EXPECT_STREQ(text, "Caf? chart");
        cmsGetProfileInfoASCII(engine, cmsInfoCopyright, "en", "US", text, sizeof text);
        EXPECT_STREQ(text, "? 2015 Someone");
        for (const auto& [sig, point] : {std::pair{cmsSigMediaWhitePointTag, 2}, std::pair{cmsSigMediaBlackPointTag, 0}}) {
            const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(engine, sig));
            const cmsCIELab measured{grid.Lab(point, point, point).c[0], grid.Lab(point, point, point).c[1], grid.Lab(point, point, point).c[2]};
            cmsCIEXYZ want;
            cmsLab2XYZ(cmsD50_XYZ(), &want, &measured);
            ASSERT_NE(xyz, nullptr);
            EXPECT_NEAR(xyz->X, want.X, 0.5 / 65536);
            EXPECT_NEAR(xyz->Y, want.Y, 0.5 / 65536);
            EXPECT_NEAR(xyz->Z, want.Z, 0.5 / 65536);
        }
        cmsCloseProfile(engine);
    }
}

// Lab (0, 50, -50) has X and Z above 0 but Y at 0: no white.
TEST(ChartProfile, RefusesAWhiteWhoseYIsZero)
{
    const std::vector<double> axes[3] = {{0, 100}, {0, 100}, {0, 100}};
    const MeasuredGrid grid = MakeGrid(axes, [](const Color3& lab) { return lab.c[0] > 99 ? Color3{{0, 50, -50}} : lab; });
    std::unique_ptr<ICC_CPP_Profile> profile;
    EXPECT_EQ(BuildChartProfile(grid, ChartProfileSettings(), &profile), ChartProfileBuild::BadWhite);
    EXPECT_EQ(profile, nullptr);
}

}  // namespace
