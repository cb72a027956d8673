// End-to-end runs of chartlab profile: exit status and texts byte for byte, and the profile as
// Little CMS reads it.
#include "chartlabtest.h"

#include <cmath>
#include <lcms2.h>

namespace {

using namespace chartlabtest;

const std::string k_profileUsage = Golden("profile-usage.txt");

// The 2 x 2 x 2 grid on `low` and `high`, black (0, 0, 0) to white (100, 0, 0); patch p has
// R high when bit 2 is set, G bit 1, B bit 0.
std::vector<std::vector<double>> Cube(double low, double high = 100)
{
    std::vector<std::vector<double>> rows;
    for (int p = 0; p < 8; ++p)
        rows.push_back({p & 4 ? high : low, p & 2 ? high : low, p & 1 ? high : low, p == 7 ? 100.0 : 10.0 * p, 0, 0});
    return rows;
}

TEST_F(ChartlabRun, ProfileSaysWhyItRefusesACommandLineOrAChart)
{
    std::vector<std::vector<double>> missing = Cube(0), dark = Cube(0), nan = Cube(0), far = Cube(0), edge = Cube(0),
                                     diagonal;
    missing.erase(missing.begin() + 2);  // (0, 100, 0)
    dark[7] = {100, 100, 100, 0, 0, 0};
    nan[5][5] = NAN;
    far[6][4] = 1000.001;  // beyond the limit of 1000 even in single precision
    edge[6][4] = 1000;
    for (int i = 0; i < 256; ++i)
        diagonal.push_back({double(i), double(i), double(i), 50, 0, 0});
    for (const auto& [name, rows] : std::vector<std::pair<std::string, std::vector<std::vector<double>>>>{
             {"one", {{0, 0, 0, 0, 0, 0}}}, {"big", diagonal}, {"diagonal", {diagonal.begin(), diagonal.end() - 1}},
             {"negative", Cube(-1)}, {"missing", missing}, {"dark", dark}, {"infinite", Cube(0, INFINITY)}, {"nan", nan},
             {"far", far}, {"edge", edge}})
        Write(name + ".ti3", ColumnTable(rows));
    const std::string pre = "chartlab profile: ", cube = "Appears to be a 2 x 2 x 2 grid.\n" + pre + "'";
    const std::string point = "a profile needs every point, with L*, a* and b* within -1000..1000\n";
    const std::string negative = ".ti3' has an RGB value below 0 or infinite: a profile's device values run from 0 to the largest\n";
    ExpectRuns({
        {{"-h"}, 0, k_profileUsage, ""},
        {{"-m", "c.ti3"}, 1, "", "Option -o/--output is required.\n" + k_profileUsage},
        {{"-m", "c.ti3", "-o", "-"}, 1, "", pre + "a profile is written to a file, not to standard output: name one with -o\n"},
        {{"-m", "c.ti3", "-o", "p.icc", "--class", "printer"}, 1, "", pre + "unknown class 'printer': use input or display\n"},
        {{"-m", "c.ti3", "-o", "p.icc", "--clut", "1"}, 1, "", pre + "invalid --clut 1: use 2 to 255\n"},
        {{"-m", "c.ti3", "-o", "p.icc", "--clut", "256"}, 1, "", pre + "invalid --clut 256: use 2 to 255\n"},
        {{"-m", "c.ti3", "-o", "p.icc", "--clut", "x"}, 1, "", "Invalid x: expected integer value\n\n" + k_profileUsage},
        {{"-m", "one.ti3", "-o", "out.txt"}, 2, "",
         "Appears to be a 1 x 1 x 1 grid.\n" + pre + "'one.ti3' has only one value in each channel: a profile needs at least 2\n"},
        {{"-m", "big.ti3", "-o", "out.txt"}, 2, "",
         "Appears to be a 256 x 256 x 256 grid.\n" + pre + "'big.ti3' has 256 values in each channel: a profile holds at most 255\n"},
        {{"-m", "diagonal.ti3", "-o", "out.txt"}, 2, "",  // 255 values fit: its trouble is elsewhere
         "Appears to be a 255 x 255 x 255 grid.\n" + pre + "'diagonal.ti3' has no usable Lab value at the grid point 0 0 1: " + point},
        {{"-m", "negative.ti3", "-o", "out.txt"}, 2, "", cube + "negative" + negative},
        {{"-m", "infinite.ti3", "-o", "out.txt"}, 2, "", cube + "infinite" + negative},
        {{"-m", "missing.ti3", "-o", "out.txt"}, 2, "", cube + "missing.ti3' has no usable Lab value at the grid point 0 100 0: " + point},
        {{"-m", "nan.ti3", "-o", "out.txt"}, 2, "", cube + "nan.ti3' has no usable Lab value at the grid point 100 0 100: " + point},
        {{"-m", "far.ti3", "-o", "out.txt"}, 2, "", cube + "far.ti3' has no usable Lab value at the grid point 100 100 0: " + point},
        {{"-m", "dark.ti3", "-o", "out.txt"}, 2, "",
         cube + "dark.ti3' has no usable white: the patch at 100 100 100 (the grid's highest corner) has Lab 0 0 0\n"},
        {{"-m", "edge.ti3", "-o", "none/p.icc"}, 2, "", "Appears to be a 2 x 2 x 2 grid.\n" + pre + "cannot write 'none/p.icc'\n"},
        {{"-m", "absent.ti3", "-o", "out.txt"}, 2, "", pre + "cannot open 'absent.ti3': No such file or directory\n"},
        {{"-m", "edge.ti3", "-o", "edge.icc", "--clut", "2"}, 0, "", "Appears to be a 2 x 2 x 2 grid.\n"},
        {{"-m", "edge.ti3", "-o", "edge.icc", "--clut", "255", "--class", "input"}, 0, "", "Appears to be a 2 x 2 x 2 grid.\n"},
    }, {"profile"});
}

// Little CMS finds every patch of the bundled chart in the input profile, absolute
// colorimetric to the tables' 16-bit steps, the white at L* 100 relative colorimetric, and
// the texts; a display profile has B2A tables of --clut points per axis. (Little CMS takes
// D50 as the media white of a version 2 display profile: its absolute is its relative.)
TEST_F(ChartlabRun, ProfileHoldsTheChartAndItsTextsAsLittleCmsReadsThem)
{
    Write("chart17.ti3", testutil::ReadFile(Data("chart17-srgb.ti3")));
    Write("p.icc", "old");
    ExpectRuns({{{"-o", "p.icc"}, 0, "", "Appears to be a 17 x 17 x 17 grid.\n"},
                {{"-o", "named.icc", "--description", "Monitor, 2015", "--copyright", "\xC2\xA9 Someone", "--class",
                  "display", "--clut", "9"}, 0, "", "Appears to be a 17 x 17 x 17 grid.\n"}},
               {"profile", "-m", "chart17.ti3"});
    const std::tuple<std::string, std::string, std::string, bool> expected[] = {
        {"p.icc", "chart17.ti3", "No copyright, use freely. Made with chartlab from measured chart data.", false},
        {"named.icc", "Monitor, 2015", "? Someone", true}};
    for (const auto& [file, description, copyright, display] : expected) {
        SCOPED_TRACE(file);
        cmsHPROFILE profile = cmsOpenProfileFromFile(File(file).c_str(), "r");
        ASSERT_NE(nullptr, profile);
        EXPECT_EQ(display ? cmsSigDisplayClass : cmsSigInputClass, cmsGetDeviceClass(profile));
        char text[200];
        cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", text, sizeof text);
        EXPECT_EQ(description, text);
        cmsGetProfileInfoASCII(profile, cmsInfoCopyright, "en", "US", text, sizeof text);
        EXPECT_EQ(copyright, text);
        EXPECT_TRUE(cmsIsTag(profile, cmsSigAToB0Tag) && cmsIsTag(profile, cmsSigAToB1Tag));
        for (const cmsTagSignature b2a : {cmsSigBToA0Tag, cmsSigBToA1Tag}) {
            auto* pipeline = static_cast<cmsPipeline*>(cmsReadTag(profile, b2a));
            int points = 0;
            for (cmsStage* s = pipeline ? cmsPipelineGetPtrToFirstStage(pipeline) : nullptr; s; s = cmsStageNext(s))
                if (cmsStageType(s) == cmsSigCLutElemType)
                    cmsStageSampleCLut16bit(
                        s, [](const cmsUInt16Number*, cmsUInt16Number*, void* n) { return ++*static_cast<int*>(n); },
                        &points, SAMPLER_INSPECT);
            EXPECT_EQ(display ? 9 * 9 * 9 : 0, points);
        }
        cmsCloseProfile(profile);
    }
    const std::vector<double> chart = Numbers(Read("chart17.ti3").substr(Read("chart17.ti3").find("BEGIN_DATA\n") + 11));
    ASSERT_EQ(4913u * 7, chart.size());
    cmsHPROFILE profile = cmsOpenProfileFromFile(File("p.icc").c_str(), "r"), lab = cmsCreateLab4Profile(nullptr);
    cmsSetAdaptationState(0.0);
    for (const int intent : {INTENT_ABSOLUTE_COLORIMETRIC, INTENT_RELATIVE_COLORIMETRIC}) {
        cmsHTRANSFORM transform = cmsCreateTransform(profile, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, intent, cmsFLAGS_NOOPTIMIZE);
        for (std::size_t p = 0; p < chart.size(); p += 7) {
            const double rgb[3] = {chart[p + 1] / 100, chart[p + 2] / 100, chart[p + 3] / 100}, white[3] = {100, 0, 0};
            const double* want = intent == INTENT_ABSOLUTE_COLORIMETRIC ? &chart[p + 4] : white;
            double got[3];
            cmsDoTransform(transform, rgb, got, 1);
            if (want != white || rgb[0] + rgb[1] + rgb[2] == 3) {
                EXPECT_LT(std::hypot(got[0] - want[0], got[1] - want[1], got[2] - want[2]), 0.005) << p / 7;
            }
        }
        cmsDeleteTransform(transform);
    }
    cmsCloseProfile(lab);
    cmsCloseProfile(profile);
}

}  // namespace
