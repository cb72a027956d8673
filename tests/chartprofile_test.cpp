// Chart profiles, checked by Little CMS as the independent engine: the bundled charts and
// test charts with uneven axes, through every intent, against Lab values the test derives
// with the engine's own colour maths (and the library's black and white transform for the
// perceptual table); then the header and tags as our reader and the
// engine see them, and the grids a profile cannot be made from.
#include "chartprofile.h"
#include "colorcommon.h"
#include "patchtables.h"
#include "preprocess5202.h"
#include "testutil.h"
#include "vmath.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

struct Chart {
    std::string name;
    std::vector<Color3> rgb, lab;
};

Chart LoadChart(const std::string& file)
{
    Chart chart{file, {}, {}};
    const std::string path = std::string(TEST_DATA_DIR "/") + file;
    EXPECT_EQ(ReadTripletFileString(path, &chart.rgb, "RGB_R", "RGB_G", "RGB_B"), 1);
    EXPECT_EQ(ReadTripletFileString(path, &chart.lab, "LAB_L", "LAB_A", "LAB_B"), 1);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> quiet(std::fopen("/dev/null", "w"), std::fclose);
    Preprocess5202Target(chart.rgb, chart.lab, quiet.get());
    return chart;
}

// A noise-free chart on the given axes (0..100 units), measured through sRGB.
Chart SyntheticChart(const std::string& name, const std::vector<double> axes[3])
{
    Chart chart{name, {}, {}};
    for (double r : axes[0])
        for (double g : axes[1])
            for (double b : axes[2]) {
                Color3 rgb{{r, g, b}}, lab;
                const double unit[3] = {r / 100.0, g / 100.0, b / 100.0};
                srgb_to_lab_d50(unit, lab.c);
                chart.rgb.push_back(rgb);
                chart.lab.push_back(lab);
            }
    return chart;
}

MeasuredGrid BuildGrid(const Chart& chart)
{
    MeasuredGrid grid;
    EXPECT_EQ(grid.Build(chart.rgb, chart.lab, nullptr), GridBuild::Ok);
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

bool Encodable(const cmsCIELab& lab)
{
    return lab.L >= 0.0 && lab.L <= 65535 * 100.0 / 65280 && std::min(lab.a, lab.b) >= -128.0 &&
           std::max(lab.a, lab.b) <= 65535 / 256.0 - 128.0;
}

double Distance(const cmsCIELab& x, const cmsCIELab& y)
{
    return std::sqrt((x.L - y.L) * (x.L - y.L) + (x.a - y.a) * (x.a - y.a) + (x.b - y.b) * (x.b - y.b));
}

// Device RGB (0..1) to Lab through the profile with one intent, in double precision.
class Engine {
public:
    Engine(const Bytes& profile, cmsUInt32Number intent)
    {
        cmsHPROFILE device = cmsOpenProfileFromMem(profile.data(), cmsUInt32Number(profile.size()));
        cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
        if (device && lab)
            m_transform = cmsCreateTransform(device, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, intent,
                                             cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE);
        if (device)
            cmsCloseProfile(device);
        if (lab)
            cmsCloseProfile(lab);
    }
    ~Engine()
    {
        if (m_transform)
            cmsDeleteTransform(m_transform);
    }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    bool Ok() const { return m_transform != nullptr; }
    cmsCIELab operator()(double r, double g, double b) const
    {
        const double rgb[3] = {r, g, b};
        cmsCIELab lab;
        cmsDoTransform(m_transform, rgb, &lab, 1);
        return lab;
    }

private:
    cmsHTRANSFORM m_transform = nullptr;
};

std::vector<double> Axis(std::initializer_list<double> values)
{
    return values;
}

}  // namespace

TEST(ChartProfile, LittleCmsReproducesTheGridThroughEveryIntent)
{
    const std::vector<double> uneven[3] = {Axis({0, 3, 10, 22, 40, 65, 100}), Axis({0, 3, 10, 22, 40, 65, 100}),
                                           Axis({0, 3, 10, 22, 40, 65, 100})};
    // Axes of their own per channel, one starting above 0 and one ending below the top.
    const std::vector<double> skewed[3] = {Axis({0, 10, 35, 70, 100}), Axis({0, 20, 45, 60, 100}),
                                           Axis({10, 25, 50, 75, 90})};
    // A veiled black: every Lab value lifted towards (4, 1, -1).
    Chart flare = SyntheticChart("flare", uneven);
    for (Color3& lab : flare.lab)
        lab = Color3{{4 + 0.96 * lab.c[0], 1 + lab.c[1], lab.c[2] - 1}};
    const Chart charts[] = {LoadChart("chart17-srgb.ti3"), LoadChart("chart5202-clayrgb.ti3"),
                            SyntheticChart("uneven", uneven), SyntheticChart("skewed", skewed), flare};
    for (const Chart& chart : charts) {
        SCOPED_TRACE(chart.name);
        const MeasuredGrid grid = BuildGrid(chart);
        const int n = grid.N(), top = n - 1;
        const double scale = std::max({grid.Axis(0).back(), grid.Axis(1).back(), grid.Axis(2).back()});
        const Bytes profile = MakeProfile(grid, ChartProfileSettings());
        const Engine relative(profile, INTENT_RELATIVE_COLORIMETRIC), absolute(profile, INTENT_ABSOLUTE_COLORIMETRIC),
            perceptual(profile, INTENT_PERCEPTUAL);
        ASSERT_TRUE(relative.Ok() && absolute.Ok() && perceptual.Ok());
        // The perceptual table: the relative Lab carried by the library's transform made from
        // the black's and the white's relative Lab.
        const cmsCIELab blackRelative = EngineRelativeLab(grid.Lab(0, 0, 0), grid.Lab(top, top, top));
        const Matrix4 toPcs = ComputeTransformFromMeasuredLabToPCSLab(
            Vec3(float(blackRelative.L), float(blackRelative.a), float(blackRelative.b)), Vec3(100, 0, 0));
        double worstRelative = 0.0, worstAbsolute = 0.0, worstPerceptual = 0.0;
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
                    worstRelative = std::max(worstRelative, Distance(relative(r, g, b), want));
                    const cmsCIELab asMeasured{measured.c[0], measured.c[1], measured.c[2]};
                    worstAbsolute = std::max(worstAbsolute, Distance(absolute(r, g, b), asMeasured));
                    const Vec4 pcs = mul(toPcs, Vec4(float(want.L), float(want.a), float(want.b), 1));
                    const cmsCIELab wantPerceptual{pcs.v[0], pcs.v[1], pcs.v[2]};
                    if (Encodable(wantPerceptual))
                        worstPerceptual = std::max(worstPerceptual, Distance(perceptual(r, g, b), wantPerceptual));
                }
        EXPECT_GT(encodable, n * n * n * 9 / 10);
        EXPECT_LE(worstRelative, 0.01);
        EXPECT_LE(worstAbsolute, 0.01);
        EXPECT_LE(worstPerceptual, 0.01);

        // The perceptual table takes the black to L* = 0 and the white to L* = 100, neutral,
        // to within one code of the encoding (1/256 in a* and b*).
        const cmsCIELab black = perceptual(0, 0, 0), white = perceptual(1, 1, 1);
        EXPECT_LE(Distance(black, cmsCIELab{0, 0, 0}), 0.004);
        EXPECT_LE(Distance(white, cmsCIELab{100, 0, 0}), 0.004);
    }
}

// The chart with its Lab relative to the white at the highest grid corner, as the engine
// computes it.
Chart RelativeChart(const Chart& chart, const MeasuredGrid& grid)
{
    const int top = grid.N() - 1;
    Chart relative = chart;
    for (Color3& lab : relative.lab) {
        const cmsCIELab rel = EngineRelativeLab(lab, grid.Lab(top, top, top));
        lab = Color3{{rel.L, rel.a, rel.b}};
    }
    return relative;
}

TEST(ChartProfile, LittleCmsAgreesWithTetrahedralInterpolationBetweenGridPoints)
{
    const Chart chart = LoadChart("chart17-srgb.ti3");
    const MeasuredGrid grid = BuildGrid(chart);
    const MeasuredGrid relativeGrid = BuildGrid(RelativeChart(chart, grid));
    const Engine relative(MakeProfile(grid, ChartProfileSettings()), INTENT_RELATIVE_COLORIMETRIC);
    ASSERT_TRUE(relative.Ok());
    std::mt19937_64 random(17);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    double worst = 0.0;
    for (int t = 0; t < 2000; ++t) {
        const Color3 rgb{{100 * unit(random), 100 * unit(random), 100 * unit(random)}};
        Color3 want;
        ASSERT_EQ(relativeGrid.Interpolate(rgb, Interpolation::Tetrahedral, &want), GridLookup::Ok);
        worst = std::max(worst, Distance(relative(rgb.c[0] / 100, rgb.c[1] / 100, rgb.c[2] / 100),
                                         cmsCIELab{want.c[0], want.c[1], want.c[2]}));
    }
    EXPECT_LE(worst, 0.02);
}

// Lab to device RGB through a display profile's B2A tables and back through its A2B tables,
// by Little CMS: in-gamut colours (the chart's own, interpolated at random device values)
// come back close, the white, the black and the neutral axis map to their device values.
TEST(ChartProfile, DisplayProfileRoundTripsThroughLittleCms)
{
    const Chart chart = LoadChart("chart17-srgb.ti3");
    const MeasuredGrid grid = BuildGrid(chart);
    const MeasuredGrid relativeGrid = BuildGrid(RelativeChart(chart, grid));
    ChartProfileSettings settings;
    settings.profileClass = ProfileClass::Display;
    const Bytes bytes = MakeProfile(grid, settings);
    const cmsHPROFILE device = cmsOpenProfileFromMem(bytes.data(), cmsUInt32Number(bytes.size()));
    const cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    ASSERT_TRUE(device && lab);
    cmsHTRANSFORM toDevice[2], toLab = cmsCreateTransform(device, TYPE_RGB_DBL, lab, TYPE_Lab_DBL,
                                                         INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
    for (cmsUInt32Number intent : {INTENT_PERCEPTUAL, INTENT_RELATIVE_COLORIMETRIC})
        toDevice[intent] = cmsCreateTransform(lab, TYPE_Lab_DBL, device, TYPE_RGB_DBL, intent, cmsFLAGS_NOOPTIMIZE);
    ASSERT_TRUE(toDevice[0] && toDevice[1] && toLab);

    std::mt19937_64 random(29);
    std::uniform_real_distribution<double> unit(0.0, 100.0);
    std::vector<double> errors;
    for (int t = 0; t < 2000; ++t) {
        const Color3 rgb{{unit(random), unit(random), unit(random)}};
        Color3 want;
        ASSERT_EQ(relativeGrid.Interpolate(rgb, Interpolation::Tetrahedral, &want), GridLookup::Ok);
        const cmsCIELab wanted{want.c[0], want.c[1], want.c[2]};
        double deviceRgb[3];
        cmsCIELab back;
        cmsDoTransform(toDevice[INTENT_RELATIVE_COLORIMETRIC], &wanted, deviceRgb, 1);
        cmsDoTransform(toLab, deviceRgb, &back, 1);
        errors.push_back(Distance(back, wanted));
    }
    std::sort(errors.begin(), errors.end());
    double mean = 0.0;
    for (double e : errors)
        mean += e / errors.size();
    EXPECT_LE(mean, 0.5);
    EXPECT_LE(errors[errors.size() * 95 / 100], 1.5);

    // Both intents take L* 0 and 100 to black and white, and the relative neutral axis to
    // device grays (the chart's grays are neutral against its white).
    const std::tuple<cmsUInt32Number, cmsCIELab, double> neutrals[] = {
        {INTENT_PERCEPTUAL, {0, 0, 0}, 0.0},         {INTENT_PERCEPTUAL, {100, 0, 0}, 1.0},
        {INTENT_RELATIVE_COLORIMETRIC, {0, 0, 0}, 0.0}, {INTENT_RELATIVE_COLORIMETRIC, {100, 0, 0}, 1.0},
        {INTENT_RELATIVE_COLORIMETRIC, {50, 0, 0}, -1}};
    for (const auto& [intent, neutral, level] : neutrals) {
        double out[3];
        cmsDoTransform(toDevice[intent], &neutral, out, 1);
        SCOPED_TRACE(testing::Message() << intent << " " << neutral.L);
        EXPECT_NEAR(out[1], level < 0 ? out[0] : level, 1e-4);
        EXPECT_NEAR(out[0], out[2], 1e-4);
        EXPECT_NEAR(out[0], out[1], 1e-4);
    }
    for (cmsHTRANSFORM t : {toDevice[0], toDevice[1], toLab})
        cmsDeleteTransform(t);
    cmsCloseProfile(device);
    cmsCloseProfile(lab);
}

TEST(ChartProfile, HeaderAndTagsAsOurReaderAndLittleCmsSeeThem)
{
    const std::vector<double> axes[3] = {Axis({0, 50, 100}), Axis({0, 50, 100}), Axis({0, 50, 100})};
    const MeasuredGrid grid = BuildGrid(SyntheticChart("3 x 3 x 3", axes));
    for (ProfileClass profileClass : {ProfileClass::Input, ProfileClass::Display}) {
        const bool display = profileClass == ProfileClass::Display;
        SCOPED_TRACE(display ? "display" : "input");
        ChartProfileSettings settings;
        settings.profileClass = profileClass;
        settings.description = "Caf\xC3\xA9 chart";
        settings.copyright = "\xC2\xA9 2015 Someone";
        settings.created = 1425564429;  // 2015-03-05 14:07:09 UTC
        const Bytes bytes = MakeProfile(grid, settings);

        const Bytes header(bytes.begin() + 8, bytes.begin() + 100);
        const Bytes want = {2, 0x40, 0, 0, 'm', 'n', 't', 'r', 'R', 'G', 'B', ' ', 'L', 'a', 'b', ' ',
                            0x07, 0xDF, 0, 3, 0, 5, 0, 14, 0, 7, 0, 9, 'a', 'c', 's', 'p',
                            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                            0, 0, 0xF6, 0xD6, 0, 1, 0, 0, 0, 0, 0xD3, 0x2D, 'O', 'R', 'L', 'K',
                            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        Bytes wantHere = want;
        if (!display)
            std::copy_n("scnr", 4, wantHere.begin() + 4);
        EXPECT_EQ(header, wantHere);

        // Our reader: every tag as its own type, written back to the same bytes.
        std::unique_ptr<ICC_CPP_Profile> back(ICC_CPP_Profile::ReadFromMemory(bytes.data(), bytes.size()));
        ASSERT_NE(back, nullptr);
        const std::vector<ICC_CPP_Tag*>& tags = back->GetTags();
        ASSERT_EQ(tags.size(), display ? 8u : 6u);
        const char* const names[] = {"desc", "cprt", "wtpt", "bkpt", "A2B0", "A2B1", "B2A0", "B2A1"};
        for (size_t t = 0; t < tags.size(); ++t)
            EXPECT_EQ(tags[t]->signature, ICCSignature({names[t][0], names[t][1], names[t][2], names[t][3], 0}));
        for (size_t t = 6; t < tags.size(); ++t)
            EXPECT_TRUE(dynamic_cast<ICC_CPP_lut16_Tag*>(tags[t]) && !dynamic_cast<ICC_CPP_A2B_Tag*>(tags[t]));
        auto* desc = dynamic_cast<ICC_CPP_textDescription_Tag*>(tags[0]);
        auto* cprt = dynamic_cast<ICC_CPP_cprt_Tag*>(tags[1]);
        ASSERT_TRUE(desc && cprt && dynamic_cast<ICC_CPP_XYZ_Tag*>(tags[2]) && dynamic_cast<ICC_CPP_XYZ_Tag*>(tags[3]) &&
                    dynamic_cast<ICC_CPP_A2B_Tag*>(tags[4]) && dynamic_cast<ICC_CPP_A2B_Tag*>(tags[5]));
        EXPECT_EQ(desc->description->ascii, "Caf? chart");
        EXPECT_EQ(desc->description->unicode,
                  (std::vector<unsigned short>{'C', 'a', 'f', 0xE9, ' ', 'c', 'h', 'a', 'r', 't'}));
        EXPECT_EQ(cprt->GetText(), "? 2015 Someone");
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
            const Color3& lab = grid.Lab(point, point, point);
            const cmsCIELab measured{lab.c[0], lab.c[1], lab.c[2]};
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
