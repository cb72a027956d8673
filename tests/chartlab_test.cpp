// End-to-end runs of the built chartlab in a temporary directory: exit status, standard
// output and standard error byte for byte, output files. Trilinear plain output is compared
// with rgb2lab's out; tetrahedral with known answers and with Little CMS as the truth of the
// sRGB profile the bundled chart was simulated through; the CGATS output is read back by the
// project's CGATS reader and by Little CMS.
#include "cgats.h"
#include "colorcommon.h"
#include "testutil.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <random>
#include <sstream>

namespace {

using testutil::ReadFile;
using testutil::WriteFile;

std::string Data(const std::string& name) { return std::string(TEST_DATA_DIR) + "/" + name; }

const std::string k_grid17 = "Appears to be a 17 x 17 x 17 grid.\n";
const std::string k_convertUsage =
    "usage: chartlab convert [-h] -m string [-t string] [-o string] [-i string] [-f string] [-r string] \n"
    "  -h/--help           :  prints this help message\n"
    "  -m/--measurements   :  measured chart: RGB_R RGB_G RGB_B with LAB_L LAB_A LAB_B or XYZ_X XYZ_Y XYZ_Z "
    "(required)\n"
    "  -t/--targets        :  device RGB targets, - for standard input (default: -)\n"
    "  -o/--output         :  output file, - for standard output (default: -)\n"
    "  -i/--interpolation  :  trilinear or tetrahedral (default: trilinear)\n"
    "  -f/--format         :  plain (L a b lines) or cgats (default: plain)\n"
    "  -r/--range          :  targets run from 0 to RANGE, scaled onto the chart's range (default: none)\n"
    "\n"
    "Writes one Lab value per target, in target order. Exit status: 0 when every target was\n"
    "converted, 1 when the command line was refused, 2 when the conversion failed (the\n"
    "message on standard error says why; the output is then left untouched).\n";
const std::string k_programUsage =
    "usage: chartlab COMMAND [options]\n"
    "       chartlab COMMAND -h    explains COMMAND\n"
    "       chartlab --version     prints the version\n"
    "\n"
    "commands:\n"
    "  convert  derives the Lab value of each target device RGB from a measured chart\n"
    "  invert   finds the device RGB that gives each wanted Lab value in a measured chart\n"
    "  profile  makes an ICC profile whose tables hold the measured chart\n"
    "  check    reports how far a measured chart can be trusted\n";
const std::string k_invertUsage =
    "usage: chartlab invert [-h] -m string [-l string] [-o string] [-i string] [-f string] [-r string] \n"
    "  -h/--help           :  prints this help message\n"
    "  -m/--measurements   :  measured chart: RGB_R RGB_G RGB_B with LAB_L LAB_A LAB_B or XYZ_X XYZ_Y XYZ_Z "
    "(required)\n"
    "  -l/--lab            :  wanted Lab values, - for standard input (default: -)\n"
    "  -o/--output         :  output file, - for standard output (default: -)\n"
    "  -i/--interpolation  :  trilinear or tetrahedral (default: trilinear)\n"
    "  -f/--format         :  plain (R G B dE76 lines) or cgats (default: plain)\n"
    "  -r/--range          :  RGB written from 0 to RANGE, scaled from the chart's range (default: none)\n"
    "\n"
    "Writes one line per wanted Lab value, in order: the device RGB that gives it under the\n"
    "chart's interpolation, and the CIE76 distance from the wanted value to the Lab that RGB\n"
    "gives: 0 inside the chart's gamut; outside it, the RGB is that of the nearest Lab the chart\n"
    "reaches. Exit status: 0 when every value was inverted, 1 when the command line was\n"
    "refused, 2 when the inversion failed (the message on standard error says why; the output\n"
    "is then left untouched).\n";

// The numbers of a text, in order.
std::vector<double> Numbers(const std::string& text)
{
    std::vector<double> values;
    std::istringstream in(text);
    for (double v; in >> v;)
        values.push_back(v);
    return values;
}

// A column table with the given columns; each row is the sample id's number and the values.
std::string ColumnTable(const std::string& columns, const std::vector<std::vector<double>>& rows)
{
    std::string text = "CTI3\n\nBEGIN_DATA_FORMAT\nSAMPLE_ID " + columns + "\nEND_DATA_FORMAT\n\nBEGIN_DATA\n";
    for (std::size_t r = 0; r < rows.size(); ++r) {
        text += std::to_string(r + 1);
        for (double v : rows[r]) {
            char field[64];
            std::snprintf(field, sizeof field, " %.10g", v);
            text += field;
        }
        text += "\n";
    }
    return text + "END_DATA\n";
}

// The n x n x n grid on 0..100.
std::vector<std::vector<double>> GridRgb(int n)
{
    std::vector<std::vector<double>> rgb;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < n; ++k)
                rgb.push_back({100.0 * i / (n - 1), 100.0 * j / (n - 1), 100.0 * k / (n - 1)});
    return rgb;
}

double Cie76(const std::vector<double>& a, std::size_t i, const cmsCIELab& b)
{
    return std::sqrt((a[i] - b.L) * (a[i] - b.L) + (a[i + 1] - b.a) * (a[i + 1] - b.a) +
                     (a[i + 2] - b.b) * (a[i + 2] - b.b));
}

class ChartlabRun : public ::testing::Test {
protected:
    testutil::RunResult Run(const std::vector<std::string>& args, const std::string& input = "/dev/null")
    {
        return testutil::RunChartlab(args, m_dir.path(), input);
    }
    std::string File(const std::string& name) { return m_dir.file(name); }
    std::string Read(const std::string& name) { return ReadFile(File(name)); }
    void Write(const std::string& name, const std::string& text) { WriteFile(File(name), text); }

    testutil::TempDir m_dir;
};

TEST_F(ChartlabRun, ListsExplainsAndRefusesCommands)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    };
    const std::vector<Case> cases = {
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
        {{"convert", "-m", "c", "x.txt"}, 1, "", "chartlab convert: unexpected argument 'x.txt'\n"},
        {{"convert", "-m", "c", "-i", "cubic"}, 1, "",
         "chartlab convert: unknown interpolation 'cubic': use trilinear or tetrahedral\n"},
        {{"convert", "-m", "c", "--format", "CGATS"}, 1, "", "chartlab convert: unknown format 'CGATS': use plain or cgats\n"},
        {{"invert", "--help"}, 0, k_invertUsage, ""},
        {{"invert"}, 1, "", "Option -m/--measurements is required.\n" + k_invertUsage},
        {{"invert", "-m", "c", "-t", "x"}, 1, "", "Invalid -t: no such option\n\n" + k_invertUsage},
        {{"invert", "-m", "c", "-i", "linear"}, 1, "",
         "chartlab invert: unknown interpolation 'linear': use trilinear or tetrahedral\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto r = Run(c.args);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(c.out, r.out);
        EXPECT_EQ(c.err, r.err);
    }
    for (const char* range : {"0", "-1", "inf", "nan", "1x", "", "NONE"}) {
        const auto r = Run({"convert", "-m", "c", "-r", range});
        EXPECT_EQ(1, r.status) << range;
        EXPECT_EQ("chartlab convert: invalid range '" + std::string(range) + "': use a number above 0, or none\n", r.err);
    }
}

// Plain trilinear output is rgb2lab's out, whichever way the targets come in and the results
// go out; the grid line and a 5202-patch chart's samples, which rgb2lab prints, go to
// standard error.
TEST_F(ChartlabRun, TrilinearPlainOutputIsRgb2labsOut)
{
    for (const std::string chart : {"chart17-srgb.ti3", "chart5202-clayrgb.ti3"}) {
        SCOPED_TRACE(chart);
        Write("chart.ti3", ReadFile(Data(chart)));
        const auto tool = testutil::RunTool({"-m", "chart.ti3", "-t", Data("targets1000.txt")}, m_dir.path());
        ASSERT_EQ(0, tool.status);
        const std::string out = Read("out");
        // rgb2lab's standard output without its progress lines and counts.
        std::string diagnostics;
        std::istringstream lines(tool.out);
        for (std::string line; std::getline(lines, line);)
            if (line[0] == '(' || line.rfind("Appears", 0) == 0)
                diagnostics += line + "\n";

        auto r = Run({"convert", "-m", "chart.ti3"}, Data("targets1000.txt"));
        EXPECT_EQ(0, r.status);
        EXPECT_TRUE(out == r.out);
        EXPECT_EQ(diagnostics, r.err);
        r = Run({"convert", "--targets", Data("targets1000.txt"), "--output", "result.txt", "-i", "trilinear",
                 "--measurements", "chart.ti3", "-f", "plain"});
        EXPECT_EQ(0, r.status);
        EXPECT_EQ("", r.out);
        EXPECT_TRUE(out == Read("result.txt"));
    }
    // Through pipes, and into a file: an output of several buffer blocks.
    std::string many;
    for (int copy = 0; copy < 40; ++copy)
        many += ReadFile(Data("targets1000.txt"));
    Write("many.txt", many);
    Write("chart.ti3", ReadFile(Data("chart17-srgb.ti3")));
    ASSERT_EQ(0, testutil::RunTool({"-m", "chart.ti3", "-t", "many.txt"}, m_dir.path()).status);
    const auto piped = testutil::Run("/bin/sh", {"-c", "cat many.txt | \"$1\" convert -m chart.ti3 -t - | cat", "sh",
                                                 CHARTLAB_EXE},
                                     m_dir.path());
    EXPECT_EQ(0, piped.status);
    EXPECT_TRUE(Read("out") == piped.out);
    EXPECT_EQ(0, Run({"convert", "-m", "chart.ti3", "-t", "many.txt", "-o", "many.out"}).status);
    EXPECT_TRUE(Read("out") == Read("many.out"));
}

// On an evenly spaced grid, minima and maxima of two components are linear inside each
// tetrahedron of the split, so tetrahedral interpolation reproduces them (to 1e-12 in memory,
// tested with the grid; here to the printed six decimals); trilinear does not.
TEST_F(ChartlabRun, TetrahedralReproducesAChartLinearInEachTetrahedron)
{
    const auto truth = [](double r, double g, double b) {
        return std::vector<double>{std::min(r, g) + 0.5 * b, std::max(g, b) - 0.25 * r, std::fabs(r - b) - std::min(g, b)};
    };
    std::vector<std::vector<double>> rows;
    for (const auto& rgb : GridRgb(5)) {
        std::vector<double> row = rgb;
        for (double v : truth(rgb[0], rgb[1], rgb[2]))
            row.push_back(v);
        rows.push_back(row);
    }
    Write("chart.ti3", ColumnTable("RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B", rows));
    std::string targets;
    std::vector<double> want;
    for (int t = 0; t < 400; ++t) {
        // Components on a 0.0625 lattice: exact in the table and in float, often on a cell face
        // or with two equal fractions.
        const double r = (t * 37 % 1601) / 16.0, g = (t * 91 % 1601) / 16.0, b = t % 3 ? (t * 53 % 1601) / 16.0 : r;
        targets += std::to_string(r) + " " + std::to_string(g) + " " + std::to_string(b) + "\n";
        for (double v : truth(r, g, b))
            want.push_back(v);
    }
    Write("targets.txt", targets);
    const auto tetrahedral = Run({"convert", "-m", "chart.ti3", "-t", "targets.txt", "-i", "tetrahedral"});
    const auto trilinear = Run({"convert", "-m", "chart.ti3", "-t", "targets.txt"});
    ASSERT_EQ(0, tetrahedral.status);
    const std::vector<double> got = Numbers(tetrahedral.out), gotTrilinear = Numbers(trilinear.out);
    ASSERT_EQ(want.size(), got.size());
    double worstTrilinear = 0.0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_NEAR(want[i], got[i], 5.0001e-7) << "value " << i;
        worstTrilinear = std::max(worstTrilinear, std::fabs(want[i] - gotTrilinear[i]));
    }
    EXPECT_GT(worstTrilinear, 0.5);
}

// The bundled sRGB chart was simulated through tests/data/icc/sRGB.icc, absolute
// colorimetric without adaptation (its patches agree with Little CMS's to 0.012 CIE76).
TEST_F(ChartlabRun, TetrahedralIsCloserThanTrilinearToTheProfileOfTheSrgbChart)
{
    cmsContext context = cmsCreateContext(nullptr, nullptr);
    cmsSetAdaptationStateTHR(context, 0.0);
    cmsHPROFILE srgb = cmsOpenProfileFromFileTHR(context, Data("icc/sRGB.icc").c_str(), "r");
    cmsHPROFILE lab = cmsCreateLab4ProfileTHR(context, nullptr);
    ASSERT_NE(nullptr, srgb);
    cmsHTRANSFORM transform = cmsCreateTransformTHR(context, srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL,
                                                    INTENT_ABSOLUTE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
    ASSERT_NE(nullptr, transform);
    const std::vector<double> targets = Numbers(ReadFile(Data("targets1000.txt")));
    std::vector<cmsCIELab> truth(targets.size() / 3);
    for (std::size_t t = 0; t < truth.size(); ++t) {
        const double rgb[3] = {targets[3 * t] / 100, targets[3 * t + 1] / 100, targets[3 * t + 2] / 100};
        cmsDoTransform(transform, rgb, &truth[t], 1);
    }
    cmsDeleteTransform(transform);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    cmsDeleteContext(context);

    double mean[2] = {0.0, 0.0};
    const char* names[2] = {"trilinear", "tetrahedral"};
    for (int m = 0; m < 2; ++m) {
        const auto r = Run({"convert", "-m", Data("chart17-srgb.ti3"), "-t", Data("targets1000.txt"), "-i", names[m]});
        ASSERT_EQ(0, r.status);
        const std::vector<double> lab = Numbers(r.out);
        ASSERT_EQ(3 * truth.size(), lab.size());
        for (std::size_t t = 0; t < truth.size(); ++t)
            mean[m] += Cie76(lab, 3 * t, truth[t]) / static_cast<double>(truth.size());
        RecordProperty(std::string("mean_cie76_") + names[m], std::to_string(mean[m]));
    }
    EXPECT_LT(mean[1], mean[0]);
    EXPECT_LT(mean[0], 0.2);
}

// One simulated measurement (sRGB formulas, XYZ on 0..100) written once with XYZ columns
// and once with the Lab Little CMS computes from that XYZ against (0.9642, 1, 0.8249).
TEST_F(ChartlabRun, XyzColumnsGiveTheLabOfTheSameMeasurement)
{
    const auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    std::vector<std::vector<double>> xyzRows, labRows, bothRows;
    for (const auto& rgb : GridRgb(5)) {
        const double r = linear(rgb[0] / 100), g = linear(rgb[1] / 100), b = linear(rgb[2] / 100);
        const cmsCIEXYZ xyz = {43.6 * r + 38.5 * g + 14.3 * b, 22.2 * r + 71.7 * g + 6.1 * b, 1.4 * r + 9.7 * g + 71.4 * b};
        const cmsCIEXYZ scaled = {xyz.X / 100, xyz.Y / 100, xyz.Z / 100};
        const cmsCIEXYZ white = {0.9642, 1.0, 0.8249};
        cmsCIELab lab;
        cmsXYZ2Lab(&white, &lab, &scaled);
        xyzRows.push_back({rgb[0], rgb[1], rgb[2], xyz.X, xyz.Y, xyz.Z});
        labRows.push_back({rgb[0], rgb[1], rgb[2], lab.L, lab.a, lab.b});
        bothRows.push_back({rgb[0], rgb[1], rgb[2], xyz.Y, xyz.X, xyz.Z, lab.L, lab.a, lab.b});
    }
    Write("xyz.ti3", ColumnTable("RGB_R RGB_G RGB_B XYZ_X XYZ_Y XYZ_Z", xyzRows));
    Write("lab.ti3", ColumnTable("RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B", labRows));
    // XYZ columns with X and Y swapped, and the Lab columns, which win.
    Write("both.ti3", ColumnTable("RGB_R RGB_G RGB_B XYZ_X XYZ_Y XYZ_Z LAB_L LAB_A LAB_B", bothRows));
    Write("targets.txt", "0 0 0\n100 100 100\n12.5 60 99\n33 33 33\n100 0 0\n");
    for (const char* how : {"trilinear", "tetrahedral"}) {
        const auto fromXyz = Run({"convert", "-m", "xyz.ti3", "-t", "targets.txt", "-i", how});
        const auto fromLab = Run({"convert", "-m", "lab.ti3", "-t", "targets.txt", "-i", how});
        const auto fromBoth = Run({"convert", "-m", "both.ti3", "-t", "targets.txt", "-i", how});
        ASSERT_EQ(0, fromXyz.status);
        EXPECT_EQ(fromLab.out, fromBoth.out);
        const std::vector<double> a = Numbers(fromXyz.out), b = Numbers(fromLab.out);
        ASSERT_EQ(15u, a.size());
        // The tables hold ten digits, read as floats: equal to a few units in the sixth decimal.
        for (std::size_t i = 0; i < a.size(); ++i)
            EXPECT_NEAR(b[i], a[i], 3e-5) << how << " value " << i;
        EXPECT_NEAR(100.0, a[3], 3e-5);  // the white
    }
}

// The CGATS output: byte for byte on a small case, with a column table's own sample ids;
// the bundled targets (numbered from 1) read back by the project's reader and by Little CMS
// with the plain output's numbers.
TEST_F(ChartlabRun, CgatsOutputIsReadByBothReaders)
{
    const std::string chart = Data("chart17-srgb.ti3");
    Write("ids.ti3", "CTI3\nSAMPLE_ID RGB_R RGB_G RGB_B\nBEGIN_DATA\nA1 25 50 75\nZ9 0 0 0\nEND_DATA\n");
    auto r = Run({"convert", "-m", chart, "-t", "ids.ti3", "-f", "cgats", "-i", "tetrahedral"});
    EXPECT_EQ(0, r.status);
    const std::vector<double> lab = Numbers(Run({"convert", "-m", chart, "-t", "ids.ti3", "-i", "tetrahedral"}).out);
    ASSERT_EQ(6u, lab.size());
    char rows[512];
    std::snprintf(rows, sizeof rows, "A1 25.000000 50.000000 75.000000 %f %f %f\nZ9 0.000000 0.000000 0.000000 %f %f %f\n",
                  lab[0], lab[1], lab[2], lab[3], lab[4], lab[5]);
    EXPECT_EQ("CTI3\n\nDESCRIPTOR \"chartlab convert, tetrahedral\"\nORIGINATOR \"chartlab 0.1.0\"\n"
              "COLOR_REP \"RGB_LAB\"\n\nNUMBER_OF_FIELDS 7\nBEGIN_DATA_FORMAT\n"
              "SAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B\nEND_DATA_FORMAT\n\nNUMBER_OF_SETS 2\nBEGIN_DATA\n" +
                  std::string(rows) + "END_DATA\n",
              r.out);

    r = Run({"convert", "-m", chart, "-t", Data("targets1000.txt"), "-f", "cgats", "-o", "out.ti3"});
    ASSERT_EQ(0, r.status);
    const std::vector<double> want = Numbers(ReadFile(Data("chart17-srgb.out")));
    const std::vector<double> targets = Numbers(ReadFile(Data("targets1000.txt")));
    CGATS ours;
    ASSERT_EQ(1, ReadCGATS(File("out.ti3").c_str(), &ours, 0));
    ASSERT_EQ(1000u, ours.rows.size());
    cmsHANDLE it8 = cmsIT8LoadFromFile(nullptr, File("out.ti3").c_str());
    ASSERT_NE(nullptr, it8);
    EXPECT_EQ(1000.0, cmsIT8GetPropertyDbl(it8, "NUMBER_OF_SETS"));
    for (int p = 0; p < 1000; ++p) {
        SCOPED_TRACE(p);
        const char* id = cmsIT8GetDataRowCol(it8, p, 0);
        EXPECT_EQ(std::to_string(p + 1), id ? id : "");
        for (int c = 0; c < 6; ++c) {
            const double value = (c < 3 ? targets : want)[3 * p + c % 3];
            EXPECT_EQ(value, ours.rows[p][c]);
            // Little CMS reads decimals to within a few units in the last place.
            EXPECT_NEAR(value, cmsIT8GetDataRowColDbl(it8, p, 1 + c), 1e-12);
        }
    }
    EXPECT_NEAR(want[3 * 999], cmsIT8GetDataDbl(it8, "1000", "LAB_L"), 1e-12);
    cmsIT8Free(it8);
}

// Targets from 0 to RANGE land on 0 to the chart's largest axis value: RANGE itself exactly.
TEST_F(ChartlabRun, RangeScalesTheTargetsOntoTheChart)
{
    Write("percent.txt", "25 50 6.25\n100 100 100\n0 0 0\n");
    Write("unit.txt", "0.25 0.5 0.0625\n1 1 1\n0 0 0\n");
    Write("bytes.txt", "255 255 255\n");
    const auto percent = Run({"convert", "-m", Data("chart17-srgb.ti3"), "-t", "percent.txt"});
    const auto unit = Run({"convert", "-m", Data("chart17-srgb.ti3"), "-t", "unit.txt", "-r", "1"});
    const auto bytes = Run({"convert", "-m", Data("chart17-srgb.ti3"), "-t", "bytes.txt", "--range", "255"});
    ASSERT_EQ(0, percent.status);
    EXPECT_EQ(percent.out, unit.out);
    EXPECT_EQ(0, bytes.status);
    const std::size_t second = percent.out.find('\n') + 1;
    EXPECT_EQ(percent.out.substr(second, percent.out.find('\n', second) + 1 - second), bytes.out);
    // Scaled targets still beyond the chart are named with their own values.
    Write("over.txt", "0 0 0\n255 255 255.5\n");
    const auto over = Run({"convert", "-m", Data("chart17-srgb.ti3"), "-t", "over.txt", "-r", "255"});
    EXPECT_EQ(2, over.status);
    EXPECT_EQ(k_grid17 + "chartlab convert: target 255 255 255.5 on line 2 of 'over.txt' is outside the chart's grid\n",
              over.err);
}

// Each failure: exit 2, one message naming the cause, nothing on standard output and an
// earlier output file left as it was.
TEST_F(ChartlabRun, FailuresSayWhyAndWriteNothing)
{
    const std::string grid = "SAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B\nBEGIN_DATA\n";
    std::string holed = "x\n" + grid, bigAxis = "x\n" + grid;
    for (const auto& rgb : GridRgb(3))
        if (rgb[0] + rgb[1] + rgb[2] < 300)
            holed += "1 " + std::to_string(rgb[0]) + " " + std::to_string(rgb[1]) + " " + std::to_string(rgb[2]) + " 1 2 3\n";
    for (int v = 0; v < 257; ++v)
        bigAxis += "1 " + std::to_string(v) + " " + std::to_string(v) + " " + std::to_string(v) + " 1 2 3\n";
    Write("holed.ti3", holed);
    Write("big.ti3", bigAxis);
    Write("empty.ti3", "x\n" + grid + "END_DATA\n");
    Write("norgb.ti3", "x\nSAMPLE_ID RGB_R RGB_G LAB_L LAB_A LAB_B\nBEGIN_DATA\n1 2 3 4 5 6\n");
    Write("nolab.ti3", "x\nSAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A XYZ_X XYZ_Y\nBEGIN_DATA\n1 2 3 4 5 6 7 8\n");
    Write("nogrid.ti3", "0 0 0\n1 1 1\n2 2 1\n");
    Write("nan.ti3", "0 0 0\n1 1 1\n1 nan 1\n");
    Write("targets.txt", "75 75 75\n");
    Write("ids.ti3", "CTI3\nSAMPLE_ID RGB_R RGB_G RGB_B\nBEGIN_DATA\nA1 0 0 0\nA2 0 100 0\nA3 100 100 100\nEND_DATA\n");
    Write("unreadable.txt", "PATCH_HEADER\n");
    std::filesystem::create_directory(File("dir"));
    const std::string holes = "Appears to be a 3 x 3 x 3 grid.\n", three = "Appears to be a 2 x 2 x 2 grid.\n";
    struct Case {
        std::vector<std::string> args;
        std::string input, err;
    };
    const std::vector<Case> cases = {
        {{"-m", "missing.ti3"}, "targets.txt", "chartlab convert: cannot open 'missing.ti3': No such file or directory\n"},
        {{"-m", "norgb.ti3"}, "targets.txt", "chartlab convert: cannot read RGB_R RGB_G RGB_B from 'norgb.ti3'\n"},
        {{"-m", "nolab.ti3"}, "targets.txt",
         "chartlab convert: cannot read LAB_L LAB_A LAB_B or XYZ_X XYZ_Y XYZ_Z from 'nolab.ti3'\n"},
        {{"-m", "empty.ti3"}, "targets.txt", "chartlab convert: 'empty.ti3' holds no patches\n"},
        {{"-m", "nogrid.ti3"}, "targets.txt",
         "chartlab convert: the RGB values in 'nogrid.ti3' do not form a grid: the channels have different "
         "numbers of values\n"},
        {{"-m", "big.ti3"}, "targets.txt",
         "Appears to be a 257 x 257 x 257 grid.\nchartlab convert: 'big.ti3' has more than 256 values in a channel\n"},
        {{"-m", "nan.ti3"}, "targets.txt",
         three + "chartlab convert: 'nan.ti3' has a patch with a NaN RGB value or one at or below -999\n"},
        {{"-m", "holed.ti3", "-t", "missing.txt"}, "",
         holes + "chartlab convert: cannot open 'missing.txt': No such file or directory\n"},
        {{"-m", "holed.ti3", "-t", "unreadable.txt"}, "",
         holes + "chartlab convert: cannot read RGB_R RGB_G RGB_B from 'unreadable.txt'\n"},
        {{"-m", "holed.ti3"}, "/dev/null", holes + "chartlab convert: cannot read RGB_R RGB_G RGB_B from standard input\n"},
        {{"-m", "holed.ti3", "-t", "ids.ti3"}, "",
         holes + "chartlab convert: target 100 100 100 on line 6 of 'ids.ti3' (sample id A3) lies in a grid cell "
                 "with an unmeasured corner\n"},
        {{"-m", "holed.ti3", "-i", "tetrahedral"}, "targets.txt",
         holes + "chartlab convert: target 75 75 75 on line 1 of standard input lies in a grid cell with an "
                 "unmeasured corner\n"},
        {{"-m", "holed.ti3", "-t", "-"}, "nan.ti3",
         holes + "chartlab convert: target 1 nan 1 on line 3 of standard input is outside the chart's grid\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Write("out.txt", "earlier\n");
        std::vector<std::string> args = {"convert", "-o", "out.txt"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = Run(args, c.input.empty() ? "/dev/null" : File(c.input));
        EXPECT_EQ(2, r.status);
        EXPECT_EQ("", r.out);
        EXPECT_EQ(c.err, r.err);
        EXPECT_EQ("earlier\n", Read("out.txt"));
    }

    // The output cannot be written: a file in a missing directory, or standard output.
    Write("corner.txt", "0 0 0\n");
    auto r = Run({"convert", "-m", "holed.ti3", "-t", "corner.txt", "-o", "dir/none/out.txt"});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ(holes + "chartlab convert: cannot write 'dir/none/out.txt'\n", r.err);
    r = testutil::Run("/bin/sh", {"-c", "exec \"$1\" convert -m holed.ti3 -t corner.txt >/dev/full", "sh", CHARTLAB_EXE},
                      m_dir.path());
    EXPECT_EQ(2, r.status);
    EXPECT_EQ(holes + "chartlab convert: cannot write standard output\n", r.err);
    // No temporary file was left anywhere.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir.path()))
        EXPECT_EQ(std::string::npos, entry.path().string().find(".tmp-")) << entry.path();
}

// A chart whose Lab is RGB moved by (0, -50, -50): its gamut is the box L 0..100, a and b
// -50..50, so the nearest reachable colour of any Lab is known.
std::string BoxChart()
{
    std::vector<std::vector<double>> rows;
    for (const auto& rgb : GridRgb(3))
        rows.push_back({rgb[0], rgb[1], rgb[2], rgb[0], rgb[1] - 50, rgb[2] - 50});
    return ColumnTable("RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B", rows);
}

// Lab values that the chart reaches come back as RGB that converts to them again (to 1e-4
// from the printed six decimals) at distance 0; on the bundled charts, a chart measured with
// noise and repeats, and one with unevenly spaced axis values; both interpolations.
TEST_F(ChartlabRun, InvertedLabConvertsBackToItself)
{
    std::mt19937 random(4);
    std::normal_distribution<double> noise(0.0, 0.3);
    const auto display = [](double r, double g, double b) {
        const double rgb[3] = {r / 100, g / 100, b / 100};
        double lab[3];
        srgb_to_lab_d50(rgb, lab);
        return std::vector<double>{lab[0], lab[1], lab[2]};
    };
    std::vector<std::vector<double>> noisy, uneven;
    for (const auto& rgb : GridRgb(6))
        for (int repeat = 0; repeat < (rgb[0] == rgb[1] ? 3 : 1); ++repeat) {
            std::vector<double> row = rgb;
            for (double v : display(rgb[0], rgb[1], rgb[2]))
                row.push_back(v + noise(random));
            noisy.push_back(row);
        }
    const double axis[] = {0, 2, 9, 30, 31, 64, 100};
    for (double r : axis)
        for (double g : axis)
            for (double b : axis) {
                std::vector<double> row = {r, g, b};
                for (double v : display(r, g, b))
                    row.push_back(v);
                uneven.push_back(row);
            }
    Write("noisy.ti3", ColumnTable("RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B", noisy));
    Write("uneven.ti3", ColumnTable("RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B", uneven));
    for (const std::string& chart : {Data("chart17-srgb.ti3"), Data("chart5202-clayrgb.ti3"), File("noisy.ti3"),
                                    File("uneven.ti3")})
        for (const char* how : {"trilinear", "tetrahedral"}) {
            SCOPED_TRACE(chart + " " + how);
            const auto labs = Run({"convert", "-m", chart, "-t", Data("targets1000.txt"), "-i", how, "-o", "lab.txt"});
            ASSERT_EQ(0, labs.status);
            // The wanted values from standard input, the answer to a file.
            const auto inverted = Run({"invert", "-m", chart, "-i", how, "-o", "rgb.txt"}, File("lab.txt"));
            ASSERT_EQ(0, inverted.status);
            EXPECT_EQ("", inverted.out);
            const std::vector<double> rgbDistance = Numbers(Read("rgb.txt"));
            ASSERT_EQ(4000u, rgbDistance.size());
            std::string rgb;
            for (std::size_t v = 0; v < 1000; ++v) {
                EXPECT_EQ(0.0, rgbDistance[4 * v + 3]) << "value " << v;
                for (int c = 0; c < 3; ++c)
                    rgb += std::to_string(rgbDistance[4 * v + c]) + (c < 2 ? " " : "\n");
            }
            EXPECT_EQ(std::string::npos, Read("rgb.txt").find("-0.000000"));
            Write("rgb-only.txt", rgb);
            const auto again = Run({"convert", "-m", chart, "-t", "rgb-only.txt", "-i", how});
            ASSERT_EQ(0, again.status);
            const std::vector<double> want = Numbers(Read("lab.txt")), got = Numbers(again.out);
            ASSERT_EQ(want.size(), got.size());
            for (std::size_t i = 0; i < want.size(); ++i)
                EXPECT_NEAR(want[i], got[i], 1e-4) << "value " << i / 3;
        }
}

// Known answers on a chart whose gamut is a box: inside, the RGB that reaches the value;
// outside, the RGB of the nearest point of the box and the distance to it. Plain and CGATS
// (with -r), the CGATS read back by Little CMS.
TEST_F(ChartlabRun, InvertWritesTheRgbAndItsDistance)
{
    Write("box.ti3", BoxChart());
    Write("labs.ti3", "CTI3\nSAMPLE_ID LAB_L LAB_A LAB_B\nBEGIN_DATA\nin 50 10 -20\nout 110 0 60\n"
                      "corner -3 -54 62\nEND_DATA\n");
    for (const char* how : {"trilinear", "tetrahedral"}) {
        SCOPED_TRACE(how);
        auto r = Run({"invert", "-m", "box.ti3", "-l", "labs.ti3", "-i", how});
        EXPECT_EQ(0, r.status);
        EXPECT_EQ("50.000000\t60.000000\t30.000000\t0.000000\n"
                  "100.000000\t50.000000\t100.000000\t14.142136\n"
                  "0.000000\t0.000000\t100.000000\t13.000000\n",
                  r.out);
        EXPECT_EQ("Appears to be a 3 x 3 x 3 grid.\n", r.err);
        r = Run({"invert", "-m", "box.ti3", "-l", "labs.ti3", "-i", how, "-f", "cgats", "-r", "255"});
        EXPECT_EQ(0, r.status);
        EXPECT_EQ("CTI3\n\nDESCRIPTOR \"chartlab invert, " + std::string(how) +
                      "\"\nORIGINATOR \"chartlab 0.1.0\"\nCOLOR_REP \"RGB_LAB\"\n\nNUMBER_OF_FIELDS 8\n"
                      "BEGIN_DATA_FORMAT\nSAMPLE_ID LAB_L LAB_A LAB_B RGB_R RGB_G RGB_B DE76\nEND_DATA_FORMAT\n\n"
                      "NUMBER_OF_SETS 3\nBEGIN_DATA\n"
                      "in 50.000000 10.000000 -20.000000 127.500000 153.000000 76.500000 0.000000\n"
                      "out 110.000000 0.000000 60.000000 255.000000 127.500000 255.000000 14.142136\n"
                      "corner -3.000000 -54.000000 62.000000 0.000000 0.000000 255.000000 13.000000\n"
                      "END_DATA\n",
                  r.out);
    }
    // Little CMS reads the table, DE76 field included.
    Write("out.ti3", Run({"invert", "-m", "box.ti3", "-l", "labs.ti3", "-f", "cgats"}).out);
    cmsHANDLE it8 = cmsIT8LoadFromFile(nullptr, File("out.ti3").c_str());
    ASSERT_NE(nullptr, it8);
    EXPECT_EQ(3.0, cmsIT8GetPropertyDbl(it8, "NUMBER_OF_SETS"));
    EXPECT_NEAR(14.142136, cmsIT8GetDataDbl(it8, "out", "DE76"), 1e-12);
    EXPECT_NEAR(100.0, cmsIT8GetDataDbl(it8, "corner", "RGB_B"), 1e-12);
    cmsIT8Free(it8);
}

// Each failure: exit 2, one message naming the cause, nothing on standard output and an
// earlier output file left as it was.
TEST_F(ChartlabRun, InvertFailuresSayWhyAndWriteNothing)
{
    std::string holed = "0 0 0\n";
    for (const auto& rgb : GridRgb(3))
        if (rgb[0] != 50 || rgb[1] != 50 || rgb[2] != 50)
            holed += std::to_string(rgb[0]) + " " + std::to_string(rgb[1]) + " " + std::to_string(rgb[2]) + "\n";
    Write("holed.txt", holed);
    Write("nanlab.ti3", "x\nSAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B\nBEGIN_DATA\n1 0 0 0 0 0 0\n"
                        "2 0 0 1 1 1 1\n3 0 1 0 1 1 1\n4 0 1 1 1 1 1\n5 1 0 0 1 1 1\n6 1 0 1 1 1 1\n"
                        "7 1 1 0 1 1 1\n8 1 1 1 nan 1 1\nEND_DATA\n");
    Write("box.ti3", BoxChart());
    Write("ids.ti3", "CTI3\nSAMPLE_ID LAB_L LAB_A LAB_B\nBEGIN_DATA\nA1 50 0 0\nA2 50 inf 0\nEND_DATA\n");
    Write("plain.txt", "50 0 0\n\n");
    Write("rgb.ti3", "CTI3\nSAMPLE_ID RGB_R RGB_G RGB_B\nBEGIN_DATA\n1 0 0 0\nEND_DATA\n");
    Write("nan.txt", "50 0 0\n60 1 -nan\n");
    const std::string three = "Appears to be a 3 x 3 x 3 grid.\n";
    struct Case {
        std::vector<std::string> args;
        std::string input, err;
    };
    const std::vector<Case> cases = {
        {{"-m", "holed.txt"}, "plain.txt",
         three + "chartlab invert: 'holed.txt' has no grid cell whose eight corners all have a finite measured Lab "
                 "value\n"},
        {{"-m", "nanlab.ti3", "-l", "plain.txt"}, "",
         "Appears to be a 2 x 2 x 2 grid.\nchartlab invert: 'nanlab.ti3' has no grid cell whose eight corners all "
         "have a finite measured Lab value\n"},
        {{"-m", "box.ti3", "-l", "ids.ti3"}, "",
         three + "chartlab invert: Lab 50 inf 0 on line 5 of 'ids.ti3' (sample id A2) has a NaN or infinite "
                 "component\n"},
        {{"-m", "box.ti3", "-i", "tetrahedral"}, "nan.txt",
         three + "chartlab invert: Lab 60 1 -nan on line 2 of standard input has a NaN or infinite component\n"},
        {{"-m", "box.ti3", "-l", "missing.txt"}, "",
         three + "chartlab invert: cannot open 'missing.txt': No such file or directory\n"},
        {{"-m", "box.ti3", "-l", "rgb.ti3"}, "", three + "chartlab invert: cannot read LAB_L LAB_A LAB_B from 'rgb.ti3'\n"},
        {{"-m", "box.ti3"}, "/dev/null", three + "chartlab invert: cannot read LAB_L LAB_A LAB_B from standard input\n"},
        {{"-m", "missing.ti3"}, "plain.txt", "chartlab invert: cannot open 'missing.ti3': No such file or directory\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Write("out.txt", "earlier\n");
        std::vector<std::string> args = {"invert", "-o", "out.txt"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = Run(args, c.input.empty() ? "/dev/null" : File(c.input));
        EXPECT_EQ(2, r.status);
        EXPECT_EQ("", r.out);
        EXPECT_EQ(c.err, r.err);
        EXPECT_EQ("earlier\n", Read("out.txt"));
    }
    const auto r = Run({"invert", "-m", "box.ti3", "-l", "plain.txt", "-o", "dir/none/out.txt"});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ(three + "chartlab invert: cannot write 'dir/none/out.txt'\n", r.err);
}

}  // namespace
