// End-to-end runs of chartlab convert and invert: exit status and texts byte for byte,
// trilinear plain output against rgb2lab's committed out files, tetrahedral against known
// answers and against Little CMS as the truth of the profile the bundled chart was simulated
// through, CGATS output read back by Little CMS.
#include "chartlabtest.h"
#include "colorcommon.h"

#include <cmath>
#include <lcms2.h>
#include <random>

namespace {

using namespace chartlabtest;
using testutil::ReadFile;

// The usage texts, byte for byte as the program prints them.
const std::string k_programUsage = Golden("usage.txt"), k_convertUsage = Golden("convert-usage.txt"),
                  k_invertUsage = Golden("invert-usage.txt");
const std::string k_grid17 = "Appears to be a 17 x 17 x 17 grid.\n", k_grid3 = "Appears to be a 3 x 3 x 3 grid.\n";

// Every refusal (status 1) and failure (status 2) names its cause and writes nothing. The
// chart and table readers, the parser frame and the output step are shared by the commands:
// their messages are checked here once.
TEST_F(ChartlabRun, RefusalsAndFailuresSayWhyAndWriteNothing)
{
    const std::string header = "x\nSAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B\nBEGIN_DATA\n";
    std::string holed = header, centreless, big = header;
    for (const auto& p : GridRgb(3)) {
        const std::string rgb = std::to_string(p[0]) + " " + std::to_string(p[1]) + " " + std::to_string(p[2]);
        holed += p[0] + p[1] + p[2] < 300 ? "1 " + rgb + " 1 2 3\n" : "";  // (100, 100, 100) unmeasured
        centreless += p[0] == 50 && p[1] == 50 && p[2] == 50 ? "" : rgb + "\n";
    }
    for (int v = 0; v < 257; ++v)
        big += "1 " + std::to_string(v) + " " + std::to_string(v) + " " + std::to_string(v) + " 1 2 3\n";
    for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
             {"holed.ti3", holed}, {"centreless.txt", centreless}, {"big.ti3", big}, {"empty.ti3", header + "END_DATA\n"},
             {"norgb.ti3", "x\nSAMPLE_ID RGB_R RGB_G LAB_L LAB_A LAB_B\nBEGIN_DATA\n1 2 3 4 5 6\n"},
             {"nolab.ti3", "x\nSAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A XYZ_X XYZ_Y\nBEGIN_DATA\n1 2 3 4 5 6 7 8\n"},
             {"nogrid.ti3", "0 0 0\n1 1 1\n2 2 1\n"}, {"nan.ti3", "0 0 0\n1 1 1\n1 nan 1\n"}, {"targets.txt", "75 75 75\n"},
             {"ids.ti3", "CTI3\nSAMPLE_ID RGB_R RGB_G RGB_B\nBEGIN_DATA\nA1 0 0 0\nA2 0 100 0\nA3 100 100 100\nEND_DATA\n"},
             {"labids.ti3", "CTI3\nSAMPLE_ID LAB_L LAB_A LAB_B\nBEGIN_DATA\nA1 50 0 0\nA2 50 inf 0\nEND_DATA\n"},
             {"unreadable.txt", "PATCH_HEADER\n"}, {"corner.txt", "0 0 0\n"}})
        Write(name, text);
    const std::string conv = "chartlab convert: ", inv = "chartlab invert: ", holes = k_grid3 + conv;
    const std::string unmeasured = " lies in a grid cell with an unmeasured corner\n";
    ExpectRuns({
        {{"-h"}, 0, k_programUsage, ""},
        {{"--help", "convert"}, 0, k_programUsage, ""},
        {{"--version"}, 0, "chartlab 0.1.0\n", ""},
        {{}, 1, "", k_programUsage},
        {{"conv"}, 1, "", "chartlab: unknown command 'conv' (chartlab -h lists the commands)\n"},
        {{"convert", "-h", "--bogus"}, 0, k_convertUsage, ""},
        {{"convert", "-m", "c", "--help"}, 0, k_convertUsage, ""},
        {{"convert"}, 1, "", "Option -m/--measurements is required.\n" + k_convertUsage},
        {{"convert", "--bogus", "-h"}, 1, "", "Invalid --bogus: no such option\n\n" + k_convertUsage},
        {{"convert", "-m"}, 1, "", "Expected string argument for switch -m\n"},
        {{"convert", "-m", "c", "x.txt"}, 1, "", conv + "unexpected argument 'x.txt'\n"},
        {{"convert", "-m", "c", "-i", "cubic"}, 1, "", conv + "unknown interpolation 'cubic': use trilinear or tetrahedral\n"},
        {{"convert", "-m", "c", "--format", "CGATS"}, 1, "", conv + "unknown format 'CGATS': use plain or cgats\n"},
        {{"invert", "--help"}, 0, k_invertUsage, ""},
        {{"invert", "-m", "c", "-t", "x"}, 1, "", "Invalid -t: no such option\n\n" + k_invertUsage},
        {{"invert", "-o", "out.txt", "-m", "missing.ti3"}, 2, "", inv + "cannot open 'missing.ti3': No such file or directory\n"},
        {{"invert", "-o", "out.txt", "-m", "centreless.txt"}, 2, "",
         k_grid3 + inv + "'centreless.txt' has no grid cell whose eight corners all have a finite measured Lab value\n"},
        {{"invert", "-o", "out.txt", "-m", "holed.ti3", "-l", "labids.ti3"}, 2, "",
         k_grid3 + inv + "Lab 50 inf 0 on line 5 of 'labids.ti3' (sample id A2) has a NaN or infinite component\n"},
        {{"invert", "-o", "out.txt", "-m", "holed.ti3", "-l", "ids.ti3"}, 2, "", k_grid3 + inv + "cannot read LAB_L LAB_A LAB_B from 'ids.ti3'\n"},
        {{"invert", "-m", "holed.ti3", "-l", "corner.txt", "-o", "none/out.txt"}, 2, "", k_grid3 + inv + "cannot write 'none/out.txt'\n"},
    });
    ExpectRuns({
        {{"missing.ti3"}, 2, "", conv + "cannot open 'missing.ti3': No such file or directory\n"},
        {{"norgb.ti3"}, 2, "", conv + "cannot read RGB_R RGB_G RGB_B from 'norgb.ti3'\n"},
        {{"nolab.ti3"}, 2, "", conv + "cannot read LAB_L LAB_A LAB_B or XYZ_X XYZ_Y XYZ_Z from 'nolab.ti3'\n"},
        {{"empty.ti3"}, 2, "", conv + "'empty.ti3' holds no patches\n"},
        {{"nogrid.ti3"}, 2, "",
         conv + "the RGB values in 'nogrid.ti3' do not form a grid: the channels have different numbers of values\n"},
        {{"big.ti3"}, 2, "", "Appears to be a 257 x 257 x 257 grid.\n" + conv + "'big.ti3' has more than 256 values in a channel\n"},
        {{"nan.ti3"}, 2, "",
         "Appears to be a 2 x 2 x 2 grid.\n" + conv + "'nan.ti3' has a patch with a NaN RGB value or one at or below -999\n"},
        {{"holed.ti3", "-t", "missing.txt"}, 2, "", holes + "cannot open 'missing.txt': No such file or directory\n"},
        {{"holed.ti3", "-t", "unreadable.txt"}, 2, "", holes + "cannot read RGB_R RGB_G RGB_B from 'unreadable.txt'\n"},
        {{"holed.ti3"}, 2, "", holes + "cannot read RGB_R RGB_G RGB_B from standard input\n"},
        {{"holed.ti3", "-t", "ids.ti3"}, 2, "", holes + "target 100 100 100 on line 6 of 'ids.ti3' (sample id A3)" + unmeasured},
        {{"holed.ti3", "-i", "tetrahedral"}, 2, "", holes + "target 75 75 75 on line 1 of standard input" + unmeasured, "targets.txt"},
        {{"holed.ti3", "-t", "-"}, 2, "", holes + "target 1 nan 1 on line 3 of standard input is outside the chart's grid\n", "nan.ti3"},
        {{"holed.ti3", "-t", "corner.txt", "-o", "none/out.txt"}, 2, "", holes + "cannot write 'none/out.txt'\n"},
    }, {"convert", "-o", "out.txt", "-m"});
    for (const char* range : {"0", "-1", "inf", "nan", "1x", "", "NONE"})
        ExpectRuns({{{"-r", range}, 1, "", conv + "invalid range '" + range + "': use a number above 0, or none\n"}},
                   {"convert", "-m", "c"});
    const auto full = testutil::Run(
        "/bin/sh", {"-c", "exec \"$1\" convert -m holed.ti3 -t corner.txt >/dev/full", "sh", CHARTLAB_EXE}, m_dir.path());
    EXPECT_EQ(2, full.status);
    EXPECT_EQ(holes + "cannot write standard output\n", full.err);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir.path()))
        EXPECT_EQ(std::string::npos, entry.path().string().find(".tmp-")) << entry.path();
}

// Plain trilinear output is rgb2lab's out (its committed files), whichever way the targets
// come in and the results go out; the grid line and a 5202-patch chart's samples, which
// rgb2lab prints, go to standard error.
TEST_F(ChartlabRun, TrilinearPlainOutputIsRgb2labsOut)
{
    for (const std::string chart : {"chart17-srgb", "chart5202-clayrgb"}) {
        // rgb2lab's standard output without its progress lines and counts.
        std::string diagnostics;
        std::istringstream lines(chart[5] == '1' ? k_grid17 : ReadFile(Data(chart + ".stdout")));
        for (std::string line; std::getline(lines, line);)
            diagnostics += line[0] == '(' || line.rfind("Appears", 0) == 0 ? line + "\n" : "";
        ExpectRuns({{{"convert", "-m", Data(chart + ".ti3")}, 0, ReadFile(Data(chart + ".out")), diagnostics,
                     Data("targets1000.txt")}});
    }
    ExpectRuns({{{"convert", "--targets", Data("targets1000.txt"), "--output", "result.txt", "-i", "trilinear",
                  "--measurements", Data("chart17-srgb.ti3"), "-f", "plain"}, 0, "", k_grid17}});
    EXPECT_TRUE(ReadFile(Data("chart17-srgb.out")) == Read("result.txt"));
    // Through pipes: an output of several buffer blocks.
    std::string many, want;
    for (int copy = 0; copy < 40; ++copy) {
        many += ReadFile(Data("targets1000.txt"));
        want += ReadFile(Data("chart17-srgb.out"));
    }
    Write("many.txt", many);
    const auto piped = testutil::Run(
        "/bin/sh", {"-c", "cat many.txt | \"$1\" convert -m \"$2\" -t - | cat", "sh", CHARTLAB_EXE, Data("chart17-srgb.ti3")},
        m_dir.path());
    EXPECT_EQ(0, piped.status);
    EXPECT_TRUE(want == piped.out);
}

// On an evenly spaced grid, minima and maxima of two components are linear inside each
// tetrahedron of the split, so tetrahedral interpolation reproduces them (here to the printed
// six decimals); trilinear does not.
TEST_F(ChartlabRun, TetrahedralReproducesAChartLinearInEachTetrahedron)
{
    const auto truth = [](double r, double g, double b) {
        return std::vector<double>{r, g, b, std::min(r, g) + 0.5 * b, std::max(g, b) - 0.25 * r, std::fabs(r - b) - std::min(g, b)};
    };
    std::vector<std::vector<double>> rows, targets;
    for (const auto& p : GridRgb(5))
        rows.push_back(truth(p[0], p[1], p[2]));
    // Components on a 0.0625 lattice: exact in the table and in float, often on a cell face or
    // with two equal fractions.
    for (int t = 0; t < 200; ++t)
        targets.push_back(truth(t * 37 % 1601 / 16.0, t * 91 % 1601 / 16.0, (t % 3 ? t * 53 : t * 37) % 1601 / 16.0));
    Write("chart.ti3", ColumnTable(rows));
    Write("targets.ti3", ColumnTable(targets));
    for (const std::string how : {"tetrahedral", "trilinear"}) {
        const std::vector<double> got = Numbers(Run({"convert", "-m", "chart.ti3", "-t", "targets.ti3", "-i", how}).out);
        ASSERT_EQ(3 * targets.size(), got.size());
        double worst = 0.0;
        for (std::size_t i = 0; i < got.size(); ++i)
            worst = std::max(worst, std::fabs(targets[i / 3][3 + i % 3] - got[i]));
        EXPECT_EQ(how == "tetrahedral", worst <= 5.0001e-7) << how << " is off by " << worst;
    }
}

// XYZ on 0..100 against the D50 white (96.42, 100, 82.49), X following R, Y G and Z B: the
// corners' Lab are 0 or 100 and 0 or +-500 and +-200 times 25/29 (f of 1 less f of 0). The
// Lab columns win over XYZ ones.
TEST_F(ChartlabRun, XyzColumnsGiveTheirLab)
{
    std::vector<std::vector<double>> xyz, both;
    for (const auto& p : GridRgb(2)) {
        xyz.push_back({p[0], p[1], p[2], 0.9642 * p[0], p[1], 0.8249 * p[2]});
        both.push_back({p[0], p[1], p[2], 0.9642 * p[0], p[1], 0.8249 * p[2], 1, 2, 3});
    }
    Write("xyz.ti3", ColumnTable(xyz, "RGB_R RGB_G RGB_B XYZ_X XYZ_Y XYZ_Z"));
    Write("both.ti3", ColumnTable(both, "RGB_R RGB_G RGB_B XYZ_X XYZ_Y XYZ_Z LAB_L LAB_A LAB_B"));
    Write("targets.txt", "100 100 100\n0 100 0\n100 0 100\n50 50 50\n");
    const std::vector<double> want = {100, 0, 0, 100, -431.034483, 172.413793, 0, 431.034483, -172.413793, 50, 0, 0};
    for (const char* how : {"trilinear", "tetrahedral"}) {
        const std::vector<double> got = Numbers(Run({"convert", "-m", "xyz.ti3", "-t", "targets.txt", "-i", how}).out);
        ASSERT_EQ(want.size(), got.size());
        for (std::size_t i = 0; i < want.size(); ++i)
            EXPECT_NEAR(want[i], got[i], 1e-4) << how << " value " << i;  // the table is read as floats
    }
    EXPECT_EQ("1.000000\t2.000000\t3.000000\n", Run({"convert", "-m", "both.ti3"}, "targets.txt").out.substr(0, 27));
}

// The CGATS output: byte for byte on a small case with a column table's own sample ids; the
// bundled targets (numbered from 1) read back by Little CMS with rgb2lab's numbers.
TEST_F(ChartlabRun, CgatsOutputIsReadByLittleCms)
{
    const std::string chart = Data("chart17-srgb.ti3");
    Write("ids.ti3", "CTI3\nSAMPLE_ID RGB_R RGB_G RGB_B\nBEGIN_DATA\nA1 25 50 75\nZ9 0 0 0\nEND_DATA\n");
    EXPECT_EQ("CTI3\n\nDESCRIPTOR \"chartlab convert, tetrahedral\"\nORIGINATOR \"chartlab 0.1.0\"\n"
              "COLOR_REP \"RGB_LAB\"\n\nNUMBER_OF_FIELDS 7\nBEGIN_DATA_FORMAT\n"
              "SAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B\nEND_DATA_FORMAT\n\nNUMBER_OF_SETS 2\nBEGIN_DATA\n"
              "A1 25.000000 50.000000 75.000000 52.020699 -1.340020 -54.510502\n"
              "Z9 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000\nEND_DATA\n",
              Run({"convert", "-m", chart, "-t", "ids.ti3", "-f", "cgats", "-i", "tetrahedral"}).out);

    ASSERT_EQ(0, Run({"convert", "-m", chart, "-t", Data("targets1000.txt"), "-f", "cgats", "-o", "out.ti3"}).status);
    const std::vector<double> want = Numbers(ReadFile(Data("chart17-srgb.out")));
    const std::vector<double> targets = Numbers(ReadFile(Data("targets1000.txt")));
    cmsHANDLE it8 = cmsIT8LoadFromFile(nullptr, File("out.ti3").c_str());
    ASSERT_NE(nullptr, it8);
    EXPECT_EQ(1000.0, cmsIT8GetPropertyDbl(it8, "NUMBER_OF_SETS"));
    for (int p = 0; p < 1000; ++p) {
        const char* id = cmsIT8GetDataRowCol(it8, p, 0);
        EXPECT_EQ(std::to_string(p + 1), id ? id : "");
        // Little CMS reads decimals to within a few units in the last place.
        for (int c = 0; c < 6; ++c)
            EXPECT_NEAR((c < 3 ? targets : want)[3 * p + c % 3], cmsIT8GetDataRowColDbl(it8, p, 1 + c), 1e-12) << p;
    }
    cmsIT8Free(it8);
}

// Targets from 0 to RANGE land on 0 to the chart's largest axis value: RANGE itself exactly.
TEST_F(ChartlabRun, RangeScalesTheTargetsOntoTheChart)
{
    Write("percent.txt", "25 50 6.25\n100 100 100\n0 0 0\n");
    Write("unit.txt", "0.25 0.5 0.0625\n1 1 1\n0 0 0\n");
    Write("bytes.txt", "255 255 255\n");
    Write("over.txt", "0 0 0\n255 255 255.5\n");
    const std::string percent = Run({"convert", "-m", Data("chart17-srgb.ti3"), "-t", "percent.txt"}).out;
    const std::size_t white = percent.find('\n') + 1;
    ExpectRuns({{{"-t", "unit.txt", "-r", "1"}, 0, percent, k_grid17},
                {{"-t", "bytes.txt", "--range", "255"}, 0, percent.substr(white, percent.find('\n', white) + 1 - white), k_grid17},
                // Scaled targets still beyond the chart are named with their own values.
                {{"-t", "over.txt", "-r", "255"}, 2, "",
                 k_grid17 + "chartlab convert: target 255 255 255.5 on line 2 of 'over.txt' is outside the chart's grid\n"}},
               {"convert", "-m", Data("chart17-srgb.ti3")});
}

// Lab values that the chart reaches come back as RGB that converts to them again (to 1e-4
// from the printed six decimals) at distance 0: on the bundled 5202-patch chart, and on one
// with unevenly spaced axis values measured with noise and repeats; both interpolations.
TEST_F(ChartlabRun, InvertedLabConvertsBackToItself)
{
    std::mt19937 random(4);
    std::normal_distribution<double> noise(0.0, 0.3);
    std::vector<std::vector<double>> uneven;
    const double axis[] = {0, 2, 9, 30, 31, 64, 100};
    for (int i = 0; i < 7 * 7 * 7; ++i)
        for (int repeat = 0; repeat < (i / 7 % 7 == i / 49 ? 2 : 1); ++repeat) {
            const double rgb[3] = {axis[i / 49] / 100, axis[i / 7 % 7] / 100, axis[i % 7] / 100};
            double lab[3];
            srgb_to_lab_d50(rgb, lab);
            uneven.push_back({100 * rgb[0], 100 * rgb[1], 100 * rgb[2], lab[0] + noise(random), lab[1] + noise(random),
                              lab[2] + noise(random)});
        }
    Write("uneven.ti3", ColumnTable(uneven));
    for (const std::string& chart : {Data("chart5202-clayrgb.ti3"), File("uneven.ti3")})
        for (const char* how : {"trilinear", "tetrahedral"}) {
            SCOPED_TRACE(chart + " " + how);
            // The wanted values from standard input, the RGB to a CGATS file that convert reads.
            ASSERT_EQ(0, Run({"convert", "-m", chart, "-t", Data("targets1000.txt"), "-i", how, "-o", "lab.txt"}).status);
            const auto inverted = Run({"invert", "-m", chart, "-i", how, "-f", "cgats", "-o", "rgb.ti3"}, "lab.txt");
            ASSERT_EQ(0, inverted.status);
            EXPECT_EQ("", inverted.out);
            const std::vector<double> want = Numbers(Read("lab.txt")),
                                      got = Numbers(Run({"convert", "-m", chart, "-t", "rgb.ti3", "-i", how}).out);
            ASSERT_EQ(want.size(), got.size());
            for (std::size_t i = 0; i < want.size(); ++i)
                EXPECT_NEAR(want[i], got[i], 1e-4) << "value " << i / 3;
            // Every row ends with a distance of 0, and no value is printed as -0.
            const std::string rgb = Read("rgb.ti3");
            std::size_t zeros = 0;
            for (std::size_t at = rgb.find(" 0.000000\n"); at != std::string::npos; at = rgb.find(" 0.000000\n", at + 1))
                ++zeros;
            EXPECT_EQ(1000u, zeros);
            EXPECT_EQ(std::string::npos, rgb.find("-0.000000"));
        }
}

// Known answers on a chart whose Lab is RGB moved by (0, -50, -50), so that its gamut is the
// box L 0..100, a and b -50..50: inside, the RGB that reaches the value; outside, the RGB of
// the nearest point of the box and the distance to it. Plain and CGATS (with -r), the CGATS
// read back by Little CMS.
TEST_F(ChartlabRun, InvertWritesTheRgbAndItsDistance)
{
    std::vector<std::vector<double>> rows;
    for (const auto& p : GridRgb(3))
        rows.push_back({p[0], p[1], p[2], p[0], p[1] - 50, p[2] - 50});
    Write("box.ti3", ColumnTable(rows));
    Write("labs.ti3", "CTI3\nSAMPLE_ID LAB_L LAB_A LAB_B\nBEGIN_DATA\nin 50 10 -20\nout 110 0 60\n"
                      "corner -3 -54 62\nEND_DATA\n");
    for (const char* how : {"trilinear", "tetrahedral"})
        ExpectRuns({{{"invert", "-m", "box.ti3", "-l", "labs.ti3", "-i", how}, 0,
                     "50.000000\t60.000000\t30.000000\t0.000000\n100.000000\t50.000000\t100.000000\t14.142136\n"
                     "0.000000\t0.000000\t100.000000\t13.000000\n",
                     k_grid3}});
    ExpectRuns({{{"invert", "-m", "box.ti3", "-l", "labs.ti3", "-i", "tetrahedral", "-f", "cgats", "-r", "255", "-o",
                  "out.ti3"}, 0, "", k_grid3}});
    EXPECT_EQ("CTI3\n\nDESCRIPTOR \"chartlab invert, tetrahedral\"\nORIGINATOR \"chartlab 0.1.0\"\nCOLOR_REP \"RGB_LAB\"\n\n"
              "NUMBER_OF_FIELDS 8\nBEGIN_DATA_FORMAT\nSAMPLE_ID LAB_L LAB_A LAB_B RGB_R RGB_G RGB_B DE76\nEND_DATA_FORMAT\n\n"
              "NUMBER_OF_SETS 3\nBEGIN_DATA\n"
              "in 50.000000 10.000000 -20.000000 127.500000 153.000000 76.500000 0.000000\n"
              "out 110.000000 0.000000 60.000000 255.000000 127.500000 255.000000 14.142136\n"
              "corner -3.000000 -54.000000 62.000000 0.000000 0.000000 255.000000 13.000000\nEND_DATA\n",
              Read("out.ti3"));
    // Little CMS reads the table, DE76 field included.
    cmsHANDLE it8 = cmsIT8LoadFromFile(nullptr, File("out.ti3").c_str());
    ASSERT_NE(nullptr, it8);
    EXPECT_EQ(3.0, cmsIT8GetPropertyDbl(it8, "NUMBER_OF_SETS"));
    EXPECT_NEAR(14.142136, cmsIT8GetDataDbl(it8, "out", "DE76"), 1e-12);
    EXPECT_NEAR(255.0, cmsIT8GetDataDbl(it8, "corner", "RGB_B"), 1e-12);
    cmsIT8Free(it8);
}

}  // namespace
