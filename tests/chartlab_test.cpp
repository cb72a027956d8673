// End-to-end runs of chartlab: each command's exit status and texts byte for byte.
// convert: plain output against rgb2lab's committed out file, tetrahedral and invert against
// known answers, their CGATS tables golden files that Little CMS reads too, invert's RGB
// converted back. profile: the profile as Little CMS reads it. check: a hand-made chart whose
// answers are known by construction (Lab linear in RGB, so every interpolation is exact; one
// patch moved by a known offset; two patches measured again with known spreads), Little CMS
// giving its dE2000 figures, Python's json module reading the JSON report, which must hold
// the text's numbers, stb reading the swatch image back, whose colours Little CMS predicts.
#include "testutil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <cstdio>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace {

using testutil::ReadFile;

inline std::string Data(const std::string& name) { return std::string(TEST_DATA_DIR) + "/" + name; }

// A text that chartlab prints, kept under tests/data/chartlab.
inline std::string Golden(const std::string& name) { return ReadFile(Data("chartlab/" + name)); }

// The numbers of a text, in order.
inline std::vector<double> Numbers(const std::string& text)
{
    std::istringstream in(text);
    return {std::istream_iterator<double>(in), std::istream_iterator<double>()};
}

// A column table with the given columns; each row is the sample id's number and the values.
inline std::string ColumnTable(const std::vector<std::vector<double>>& rows,
                               const std::string& columns = "RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B")
{
    std::string text = "CTI3\n\nBEGIN_DATA_FORMAT\nSAMPLE_ID " + columns + "\nEND_DATA_FORMAT\n\nBEGIN_DATA\n";
    char field[64];
    for (std::size_t r = 0; r < rows.size(); ++r) {
        text += std::to_string(r + 1);
        for (double v : rows[r])
            text += std::string(field, std::snprintf(field, sizeof field, " %.10g", v));
        text += "\n";
    }
    return text + "END_DATA\n";
}

// The n x n x n grid on 0..100, B varying fastest.
inline std::vector<std::vector<double>> GridRgb(int n)
{
    std::vector<std::vector<double>> rgb;
    for (int i = 0; i < n * n * n; ++i)
        rgb.push_back({100.0 * (i / (n * n)) / (n - 1), 100.0 * (i / n % n) / (n - 1), 100.0 * (i % n) / (n - 1)});
    return rgb;
}

// One field of a CGATS table as Little CMS reads it (to within a few units in the last place).
double LittleCmsField(const std::string& table, const char* sample, const char* field)
{
    cmsHANDLE it8 = cmsIT8LoadFromMem(nullptr, table.data(), static_cast<cmsUInt32Number>(table.size()));
    const double value = it8 ? cmsIT8GetDataDbl(it8, sample, field) : NAN;
    cmsIT8Free(it8);
    return value;
}

// One run of the program: its arguments, standard input (a file of the test directory, or
// /dev/null when empty) and what it must give.
struct RunCase {
    std::vector<std::string> args;
    int status;
    std::string out, err, input = "";
};

class ChartlabRun : public ::testing::Test {
protected:
    testutil::RunResult Run(const std::vector<std::string>& args, const std::string& input = "")
    {
        return testutil::RunChartlab(args, m_dir.path(), input.empty() ? "/dev/null" : File(input));
    }
    std::string File(const std::string& name) { return m_dir.file(name); }
    std::string Read(const std::string& name) { return ReadFile(File(name)); }
    void Write(const std::string& name, const std::string& text) { testutil::WriteFile(File(name), text); }

    // Each case byte for byte, its arguments after `first`; a failed run leaves an earlier
    // out.txt as it was.
    void ExpectRuns(const std::vector<RunCase>& cases, const std::vector<std::string>& first = {})
    {
        for (const RunCase& c : cases) {
            std::vector<std::string> args = first;
            args.insert(args.end(), c.args.begin(), c.args.end());
            SCOPED_TRACE(testing::PrintToString(args));
            Write("out.txt", "earlier\n");
            const auto r = Run(args, c.input);
            EXPECT_EQ(std::tuple(c.status, c.out, c.err), std::tuple(r.status, r.out, r.err));
            EXPECT_TRUE(c.status == 0 || Read("out.txt") == "earlier\n");
        }
    }

    testutil::TempDir m_dir;
};

// The usage texts, byte for byte as the program prints them, and the grid lines.
const std::string k_programUsage = Golden("usage.txt"), k_convertUsage = Golden("convert-usage.txt"),
                  k_invertUsage = Golden("invert-usage.txt"), k_profileUsage = Golden("profile-usage.txt"),
                  k_checkUsage = Golden("check-usage.txt");
const std::string k_grid17 = "Appears to be a 17 x 17 x 17 grid.\n", k_grid5 = "Appears to be a 5 x 5 x 5 grid.\n";
const std::string k_grid3 = "Appears to be a 3 x 3 x 3 grid.\n", k_grid2 = "Appears to be a 2 x 2 x 2 grid.\n";

// Every refusal (status 1) and failure (status 2) names its cause and writes nothing. The
// chart and table readers, the parser frame and the output step are shared by the commands:
// their messages are checked here once.
TEST_F(ChartlabRun, RefusalsAndFailuresSayWhyAndWriteNothing)
{
    // The 3 x 3 x 3 grid with Lab equal to RGB, without its top corner.
    std::vector<std::vector<double>> holed;
    for (const auto& p : GridRgb(3))
        holed.push_back({p[0], p[1], p[2], p[0], p[1], p[2]});
    holed.pop_back();
    for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
             {"holed.ti3", ColumnTable(holed)}, {"empty.ti3", ColumnTable({})}, {"unreadable.txt", "PATCH_HEADER\n"},
             {"norgb.ti3", "x\nSAMPLE_ID RGB_R RGB_G LAB_L LAB_A LAB_B\nBEGIN_DATA\n1 2 3 4 5 6\n"},
             {"nolab.ti3", "x\nSAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A XYZ_X XYZ_Y\nBEGIN_DATA\n1 2 3 4 5 6 7 8\n"},
             {"nogrid.ti3", "0 0 0\n1 1 1\n2 2 1\n"}, {"nan.ti3", "0 0 0\n1 1 1\n1 nan 1\n"}, {"corner.txt", "0 0 0\n"},
             {"ids.ti3", "CTI3\n\nSAMPLE_ID RGB_R RGB_G RGB_B\nBEGIN_DATA\nA1 0 0 0\nA2 0 100 0\n"
                         "A3 100 100 100\nEND_DATA\n"}, {"targets.txt", "75 75 75\n"},
             {"labids.ti3", "CTI3\nSAMPLE_ID LAB_L LAB_A LAB_B\nBEGIN_DATA\nA1 50 0 0\nA2 50 inf 0\nEND_DATA\n"}})
        Write(name, text);
    const std::string conv = "chartlab convert: ", inv = k_grid3 + "chartlab invert: ", holes = k_grid3 + conv;
    const std::string unmeasured = " lies in a grid cell with an unmeasured corner\n";
    ExpectRuns({
        {{"-h"}, 0, k_programUsage, ""},
        {{"--help", "convert"}, 0, k_programUsage, ""},
        {{"--version"}, 0, "chartlab 0.1.0\n", ""},
        {{}, 1, "", k_programUsage},
        {{"conv"}, 1, "", "chartlab: unknown command 'conv' (chartlab -h lists the commands)\n"},
        {{"convert", "-h", "--bogus"}, 0, k_convertUsage, ""},
        {{"convert"}, 1, "", "Option -m/--measurements is required.\n" + k_convertUsage},
        {{"convert", "--bogus", "-h"}, 1, "", "Invalid --bogus: no such option\n\n" + k_convertUsage},
        {{"convert", "-m"}, 1, "", "Expected string argument for switch -m\n"},
        {{"invert", "--help"}, 0, k_invertUsage, ""},
    });
    std::vector<RunCase> runs = {
        {{"x.txt"}, 1, "", conv + "unexpected argument 'x.txt'\n"},
        {{"-i", "cubic"}, 1, "", conv + "unknown interpolation 'cubic': use trilinear or tetrahedral\n"},
        {{"--format", "CGATS"}, 1, "", conv + "unknown format 'CGATS': use plain or cgats\n"},
    };
    for (const std::string range : {"0", "-1", "inf", "nan", "1x", "", "NONE"})
        runs.push_back({{"-r", range}, 1, "", conv + "invalid range '" + range + "': use a number above 0, or none\n"});
    ExpectRuns(runs, {"convert", "-m", "c"});
    ExpectRuns({
        {{"missing.ti3"}, 2, "", "chartlab invert: cannot open 'missing.ti3': No such file or directory\n"},
        {{"corner.txt"}, 2, "",
         "Appears to be a 1 x 1 x 1 grid.\nchartlab invert: 'corner.txt' has no grid cell whose eight corners all "
         "have a finite measured Lab value\n"},
        {{"holed.ti3", "-l", "labids.ti3"}, 2, "",
         inv + "Lab 50 inf 0 on line 5 of 'labids.ti3' (sample id A2) has a NaN or infinite component\n"},
        {{"holed.ti3", "-l", "ids.ti3"}, 2, "", inv + "cannot read LAB_L LAB_A LAB_B from 'ids.ti3'\n"},
        {{"holed.ti3", "-l", "corner.txt", "-o", "none/out.txt"}, 2, "", inv + "cannot write 'none/out.txt'\n"},
    }, {"invert", "-o", "out.txt", "-m"});
    ExpectRuns({
        {{"missing.ti3"}, 2, "", conv + "cannot open 'missing.ti3': No such file or directory\n"},
        {{"norgb.ti3"}, 2, "", conv + "cannot read RGB_R RGB_G RGB_B from 'norgb.ti3'\n"},
        {{"nolab.ti3"}, 2, "", conv + "cannot read LAB_L LAB_A LAB_B or XYZ_X XYZ_Y XYZ_Z from 'nolab.ti3'\n"},
        {{"empty.ti3"}, 2, "", conv + "'empty.ti3' holds no patches\n"},
        {{"nogrid.ti3"}, 2, "",
         conv + "the RGB values in 'nogrid.ti3' do not form a grid: the channels have different numbers of values\n"},
        {{"nan.ti3"}, 2, "", k_grid2 + conv + "'nan.ti3' has a patch with a NaN RGB value or one at or below -999\n"},
        {{"holed.ti3", "-t", "missing.txt"}, 2, "", holes + "cannot open 'missing.txt': No such file or directory\n"},
        {{"holed.ti3", "-t", "unreadable.txt"}, 2, "", holes + "cannot read RGB_R RGB_G RGB_B from 'unreadable.txt'\n"},
        {{"holed.ti3"}, 2, "", holes + "cannot read RGB_R RGB_G RGB_B from standard input\n"},
        {{"holed.ti3", "-t", "ids.ti3"}, 2, "",
         holes + "target 100 100 100 on line 7 of 'ids.ti3' (sample id A3)" + unmeasured},
        {{"holed.ti3", "-i", "tetrahedral"}, 2, "", holes + "target 75 75 75 on line 1 of standard input" + unmeasured,
         "targets.txt"},
        {{"holed.ti3", "-t", "-"}, 2, "",
         holes + "target 1 nan 1 on line 3 of standard input is outside the chart's grid\n", "nan.ti3"},
        {{"holed.ti3", "-t", "corner.txt", "-o", "none/out.txt"}, 2, "", holes + "cannot write 'none/out.txt'\n"},
    }, {"convert", "-o", "out.txt", "-m"});
    const auto full = testutil::Run("/bin/sh", {"-c", "exec \"$1\" convert -m holed.ti3 -t corner.txt >/dev/full", "sh",
                                                CHARTLAB_EXE}, m_dir.path());
    EXPECT_EQ(std::tuple(2, holes + "cannot write standard output\n"), std::tuple(full.status, full.err));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir.path()))
        EXPECT_EQ(std::string::npos, entry.path().string().find(".tmp-")) << entry.path();
}

// Plain trilinear output is rgb2lab's out (its committed file for the 5202-patch chart); the
// grid line and the chart's samples, which rgb2lab prints, go to standard error.
TEST_F(ChartlabRun, TrilinearPlainOutputIsRgb2labsOut)
{
    // rgb2lab's standard output without its progress lines and counts.
    const std::string diagnostics = std::regex_replace(ReadFile(Data("chart5202-clayrgb.stdout")),
                                                       std::regex("(Reading|Computing|Writing|Num|Done)[^\n]*\n"), "");
    // Through pipes, with the long options: an output of several buffer blocks.
    const std::string command = "for copy in $(seq 40); do cat \"$3\"; done | \"$1\" convert --measurements \"$2\" "
                                "--targets - --output - --interpolation trilinear --format plain | cat";
    const auto piped = testutil::Run("/bin/sh", {"-c", command, "sh", CHARTLAB_EXE, Data("chart5202-clayrgb.ti3"),
                                                 Data("targets1000.txt")}, m_dir.path());
    std::string want;
    for (int copy = 0; copy < 40; ++copy)
        want += ReadFile(Data("chart5202-clayrgb.out"));
    EXPECT_EQ(std::tuple(0, diagnostics, true), std::tuple(piped.status, piped.err, want == piped.out));
}

// XYZ on 0..100 against the D50 white (96.42, 100, 82.49), X following R, Y G and Z B: the
// corners' Lab are 0 or 100 and 0 or +-500 and +-200 times 25/29 (f of 1 less f of 0), also
// where the table has two of the three Lab columns. All three Lab columns win over XYZ ones.
TEST_F(ChartlabRun, XyzColumnsGiveTheirLab)
{
    std::vector<std::vector<double>> rows;
    for (const auto& p : GridRgb(2))
        rows.push_back({p[0], p[1], p[2], 0.9642 * p[0], p[1], 0.8249 * p[2], 1, 2, 3});
    Write("xyz.ti3", ColumnTable(rows, "RGB_R RGB_G RGB_B XYZ_X XYZ_Y XYZ_Z LAB_L LAB_A LAB_X"));
    Write("both.ti3", ColumnTable(rows, "RGB_R RGB_G RGB_B XYZ_X XYZ_Y XYZ_Z LAB_L LAB_A LAB_B"));
    Write("targets.txt", "100 100 100\n0 100 0\n100 0 100\n50 50 50\n");
    // The table is read as floats: the zeros come out a few millionths off.
    ExpectRuns({{{"convert", "-m", "xyz.ti3", "-t", "targets.txt"}, 0,
                 "100.000000\t-0.000003\t0.000002\n100.000000\t-431.034483\t172.413793\n"
                 "0.000000\t431.034480\t-172.413791\n50.000000\t-0.000002\t0.000001\n", k_grid2}});
    EXPECT_EQ("1.000000\t2.000000\t3.000000\n", Run({"convert", "-m", "both.ti3"}, "targets.txt").out.substr(0, 27));
}

// On an evenly spaced grid, minima and maxima of two components are linear inside each
// tetrahedron of a cell (where the fractions keep their order), though not inside the cell:
// tetrahedral interpolation reproduces Lab (min(R, G) + B / 2, max(G, B) - R / 4,
// |R - B| - min(G, B)) where trilinear does not. The CGATS output, its rows numbered from 1
// (the targets have no sample ids), holds these known answers in each of the six tetrahedra,
// on a face between two and at grid points; Little CMS reads it.
TEST_F(ChartlabRun, TetrahedralReproducesAChartLinearInEachTetrahedron)
{
    std::vector<std::vector<double>> rows;
    for (const auto& p : GridRgb(3)) {
        const double r = p[0], g = p[1], b = p[2];
        rows.push_back({r, g, b, std::min(r, g) + 0.5 * b, std::max(g, b) - 0.25 * r,
                        std::fabs(r - b) - std::min(g, b)});
    }
    Write("chart.ti3", ColumnTable(rows));
    Write("targets.txt", "60 30 10\n60 10 30\n30 60 10\n10 60 30\n30 10 60\n10 30 60\n"
                         "40 40 10\n50 50 50\n100 100 100\n");
    const std::string table =
        Run({"convert", "-m", "chart.ti3", "-t", "targets.txt", "-f", "cgats", "-i", "tetrahedral"}).out;
    EXPECT_EQ(Golden("convert-tetrahedral.ti3"), table);
    EXPECT_NEAR(40.0, LittleCmsField(table, "1", "LAB_B"), 1e-12);
}

// Targets from 0 to RANGE land on 0 to the chart's largest axis value: RANGE itself exactly.
TEST_F(ChartlabRun, RangeScalesTheTargetsOntoTheChart)
{
    Write("percent.txt", "25 50 6.25\n100 100 100\n0 0 0\n");
    Write("unit.txt", "0.25 0.5 0.0625\n1 1 1\n0 0 0\n");
    Write("bytes.txt", "63.75 127.5 15.9375\n255 255 255\n0 0 0\n");
    Write("over.txt", "0 0 0\n255 255 255.5\n");
    const std::string percent = Run({"convert", "-m", Data("chart17-srgb.ti3"), "-t", "percent.txt"}).out;
    ExpectRuns({{{"-t", "unit.txt", "-r", "1"}, 0, percent, k_grid17},
                {{"-t", "bytes.txt", "--range", "255"}, 0, percent, k_grid17},
                // Scaled targets still beyond the chart are named with their own values.
                {{"-t", "over.txt", "-r", "255"}, 2, "", k_grid17 +
                 "chartlab convert: target 255 255 255.5 on line 2 of 'over.txt' is outside the chart's grid\n"}},
               {"convert", "-m", Data("chart17-srgb.ti3")});
    // R's axis the longest: its top (200) is the chart's. L* is 12.5 times the corner's number.
    std::vector<std::vector<double>> tall;
    for (int p = 0; p < 8; ++p)
        tall.push_back({p & 4 ? 200.0 : 0, p & 2 ? 100.0 : 0, p & 1 ? 100.0 : 0, 12.5 * p, 0, 0});
    Write("tall.ti3", ColumnTable(tall));
    Write("half.txt", "1 0.5 0.5\n");
    EXPECT_EQ("87.500000\t0.000000\t0.000000\n", Run({"convert", "-m", "tall.ti3", "-t", "half.txt", "-r", "1"}).out);
}

// Lab values that the chart reaches come back as RGB that converts to them again (to 1e-4 from
// the printed six decimals) at distance 0: on the bundled 5202-patch chart, and on one with
// unevenly spaced axis values whose Lab, bent (a cube root), is measured with noise (a fixed
// pattern up to 0.3); both interpolations.
TEST_F(ChartlabRun, InvertedLabConvertsBackToItself)
{
    std::vector<std::vector<double>> uneven;
    const double axis[] = {0, 2, 9, 30, 31, 64, 100};
    for (int i = 0; i < 7 * 7 * 7; ++i) {
        const double r = axis[i / 49], g = axis[i / 7 % 7], b = axis[i % 7], noise = (i % 11 - 5) * 0.06;
        uneven.push_back({r, g, b, 100 * std::cbrt((r + 2 * g + b) / 400) + noise, (r - g) / 2 - noise, (g - b) / 2});
    }
    Write("uneven.ti3", ColumnTable(uneven));
    for (const std::string& chart : {Data("chart5202-clayrgb.ti3"), File("uneven.ti3")})
        for (const char* how : {"trilinear", "tetrahedral"}) {
            SCOPED_TRACE(chart + " " + how);
            // The values from standard input, the RGB to a CGATS file that convert reads.
            ASSERT_EQ(0, Run({"convert", "-m", chart, "-i", how, "-o", "lab.txt"}, Data("targets1000.txt")).status);
            ASSERT_EQ(0, Run({"invert", "-m", chart, "-i", how, "-f", "cgats", "-o", "rgb.ti3"}, "lab.txt").status);
            EXPECT_THAT(Numbers(Run({"convert", "-m", chart, "-t", "rgb.ti3", "-i", how}).out),
                        testing::Pointwise(testing::DoubleNear(1e-4), Numbers(Read("lab.txt"))));
            // Every row ends with a distance of 0, and no value is printed as -0.
            const std::string rgb = Read("rgb.ti3");
            const std::regex zero(" 0\\.000000\n");
            EXPECT_EQ(1000, std::distance(std::sregex_iterator(rgb.begin(), rgb.end(), zero), std::sregex_iterator()));
            EXPECT_EQ(std::string::npos, rgb.find("-0.000000"));
        }
}

// Known answers on a chart whose Lab is RGB moved by (0, -50, -50), so that its gamut is the
// box L 0..100, a and b -50..50: inside, the RGB that reaches the value; outside, the RGB of
// the nearest point of the box and the distance to it. Plain and CGATS (with -r), the CGATS
// read by Little CMS too.
TEST_F(ChartlabRun, InvertWritesTheRgbAndItsDistance)
{
    std::vector<std::vector<double>> rows;
    for (const auto& p : GridRgb(3))
        rows.push_back({p[0], p[1], p[2], p[0], p[1] - 50, p[2] - 50});
    Write("box.ti3", ColumnTable(rows));
    Write("labs.ti3", "CTI3\nSAMPLE_ID LAB_L LAB_A LAB_B\nBEGIN_DATA\nin 50 10 -20\nout 110 0 60\n"
                      "corner -3 -54 62\nEND_DATA\n");
    const std::string table = Golden("invert-box.ti3");
    ExpectRuns({{{"trilinear"}, 0, "50.000000\t60.000000\t30.000000\t0.000000\n"
                 "100.000000\t50.000000\t100.000000\t14.142136\n0.000000\t0.000000\t100.000000\t13.000000\n", k_grid3},
                {{"tetrahedral", "-f", "cgats", "-r", "255"}, 0, table, k_grid3}},
               {"invert", "-m", "box.ti3", "-l", "labs.ti3", "-i"});
    EXPECT_NEAR(14.142136, LittleCmsField(table, "out", "DE76"), 1e-12);
    EXPECT_NEAR(255.0, LittleCmsField(table, "corner", "RGB_B"), 1e-12);
}

// The 2 x 2 x 2 grid on `low` and `high`, but for R's axis, which ends at half of `high`, and
// B's, at twice `high` (so that the messages show which axis a value comes from), black (0, 0, 0)
// to white (100, 0, 0); patch p has R high when bit 2 is set, G bit 1, B bit 0. Then column
// `column` of patch `patch` (by default black's L*) is set to `value`.
std::vector<std::vector<double>> Cube(double low, double high = 100, int patch = 0, int column = 3, double value = 0)
{
    std::vector<std::vector<double>> rows;
    for (int p = 0; p < 8; ++p)
        rows.push_back({p & 4 ? high / 2 : low, p & 2 ? high : low, p & 1 ? 2 * high : low, p == 7 ? 100.0 : 10.0 * p,
                        0, 0});
    rows[patch][column] = value;
    return rows;
}

// The grid's limit of 256 values per axis and the profile's of 255 as boundary pairs: the
// diagonal's 257, 256 and 255 values.
TEST_F(ChartlabRun, ProfileSaysWhyItRefusesACommandLineOrAChart)
{
    std::vector<std::vector<double>> diagonal;
    for (int i = 0; i < 257; ++i)
        diagonal.push_back({double(i), double(i), double(i), 50, 0, 0});
    // missing: (0, 100, 0) moved onto black; dark: the white's L* 0; far: a* 1000.001, beyond
    // the limit of 1000 even in single precision; edge: a* 1000.
    for (const auto& [name, rows] : std::vector<std::pair<std::string, std::vector<std::vector<double>>>>{
             {"one", {{0, 0, 0, 0, 0, 0}}}, {"huge", diagonal}, {"big", {diagonal.begin(), diagonal.end() - 1}},
             {"diagonal", {diagonal.begin(), diagonal.end() - 2}}, {"negative", Cube(-1)},
             {"missing", Cube(0, 100, 2, 1, 0)}, {"dark", Cube(0, 100, 7, 3, 0)}, {"infinite", Cube(0, INFINITY)},
             {"nan", Cube(0, 100, 5, 5, NAN)}, {"far", Cube(0, 100, 6, 4, 1000.001)},
             {"edge", Cube(0, 100, 6, 4, 1000)}})
        Write(name + ".ti3", ColumnTable(rows));
    const std::string pre = "chartlab profile: ", cube = k_grid2 + pre + "'";
    const auto grid = [&](std::string n) { return "Appears to be a " + n + " x " + n + " x " + n + " grid.\n" + pre; };
    const std::string point = "a profile needs every point, with L*, a* and b* within -1000..1000\n";
    const std::string negative =
        ".ti3' has an RGB value below 0 or infinite: a profile's device values run from 0 to the largest\n";
    ExpectRuns({
        {{"-h"}, 0, k_profileUsage, ""},
        {{}, 1, "", "Option -o/--output is required.\n" + k_profileUsage},
        {{"-o", "-"}, 1, "", pre + "a profile is written to a file, not to standard output: name one with -o\n"},
        {{"-o", "p.icc", "--class", "printer"}, 1, "", pre + "unknown class 'printer': use input or display\n"},
        {{"-o", "p.icc", "--clut", "1"}, 1, "", pre + "invalid --clut 1: use 2 to 255\n"},
        {{"-o", "p.icc", "--clut", "256"}, 1, "", pre + "invalid --clut 256: use 2 to 255\n"},
    }, {"profile", "-m", "c.ti3"});
    ExpectRuns({
        {{"one.ti3"}, 2, "", grid("1") + "'one.ti3' has only one value in each channel: a profile needs at least 2\n"},
        {{"huge.ti3"}, 2, "", grid("257") + "'huge.ti3' has more than 256 values in a channel\n"},
        {{"big.ti3"}, 2, "", grid("256") + "'big.ti3' has 256 values in each channel: a profile holds at most 255\n"},
        {{"diagonal.ti3"}, 2, "",  // 255 values fit: its trouble is elsewhere
         grid("255") + "'diagonal.ti3' has no usable Lab value at the grid point 0 0 1: " + point},
        {{"negative.ti3"}, 2, "", cube + "negative" + negative},
        {{"infinite.ti3"}, 2, "", cube + "infinite" + negative},
        {{"missing.ti3"}, 2, "", cube + "missing.ti3' has no usable Lab value at the grid point 0 100 0: " + point},
        {{"nan.ti3"}, 2, "", cube + "nan.ti3' has no usable Lab value at the grid point 50 0 200: " + point},
        {{"far.ti3"}, 2, "", cube + "far.ti3' has no usable Lab value at the grid point 50 100 0: " + point},
        {{"dark.ti3"}, 2, "",
         cube + "dark.ti3' has no usable white: the patch at 50 100 200 (the grid's highest corner) has Lab 0 0 0\n"},
        {{"edge.ti3", "-o", "none/p.icc"}, 2, "", k_grid2 + pre + "cannot write 'none/p.icc'\n"},
        {{"absent.ti3"}, 2, "", pre + "cannot open 'absent.ti3': No such file or directory\n"},
        {{"edge.ti3", "-o", "edge.icc", "--clut", "2"}, 0, "", k_grid2},
        {{"edge.ti3", "-o", "edge.icc", "--clut", "255", "--class", "input"}, 0, "", k_grid2},
    }, {"profile", "-o", "out.txt", "-m"});
}

// Little CMS finds every patch of the bundled chart in the input profile, absolute
// colorimetric to the tables' 16-bit steps, the white at L* 100 relative colorimetric, and
// the texts (the description by default the chart's file name); a display profile has B2A
// tables of --clut points per axis. (Little CMS takes D50 as the media white of a version 2
// display profile: its absolute is its relative.)
TEST_F(ChartlabRun, ProfileHoldsTheChartAndItsTextsAsLittleCmsReadsThem)
{
    Write("p.icc", "old");
    ExpectRuns({{{"-o", "p.icc"}, 0, "", k_grid17},
                {{"-o", "named.icc", "--description", "Monitor, 2015", "--copyright", "\xC2\xA9 Someone", "--class",
                  "display", "--clut", "9"}, 0, "", k_grid17}},
               {"profile", "-m", Data("chart17-srgb.ti3")});
    const std::tuple<std::string, std::string, std::string, bool> expected[] = {
        {"p.icc", "chart17-srgb.ti3", "No copyright, use freely. Made with chartlab from measured chart data.", false},
        {"named.icc", "Monitor, 2015", "? Someone", true}};
    for (const auto& [file, description, copyright, display] : expected) {
        SCOPED_TRACE(file);
        cmsHPROFILE profile = cmsOpenProfileFromFile(File(file).c_str(), "r");
        ASSERT_NE(nullptr, profile);
        char texts[2][200];
        cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", texts[0], sizeof texts[0]);
        cmsGetProfileInfoASCII(profile, cmsInfoCopyright, "en", "US", texts[1], sizeof texts[1]);
        EXPECT_EQ(std::tuple(display ? cmsSigDisplayClass : cmsSigInputClass, description, copyright),
                  std::tuple(cmsGetDeviceClass(profile), std::string(texts[0]), std::string(texts[1])));
        auto* pipeline = static_cast<cmsPipeline*>(cmsReadTag(profile, cmsSigBToA0Tag));
        int points = 0;
        for (cmsStage* s = pipeline ? cmsPipelineGetPtrToFirstStage(pipeline) : nullptr; s; s = cmsStageNext(s))
            if (cmsStageType(s) == cmsSigCLutElemType)
                cmsStageSampleCLut16bit(
                    s, [](const cmsUInt16Number*, cmsUInt16Number*, void* n) { return ++*static_cast<int*>(n); },
                    &points, SAMPLER_INSPECT);
        EXPECT_EQ(display ? 9 * 9 * 9 : 0, points);
        cmsCloseProfile(profile);
    }
    const std::string bundled = ReadFile(Data("chart17-srgb.ti3"));
    const std::vector<double> chart = Numbers(bundled.substr(bundled.find("BEGIN_DATA\n") + 11));
    ASSERT_EQ(4913u * 7, chart.size());
    cmsHPROFILE profile = cmsOpenProfileFromFile(File("p.icc").c_str(), "r"), lab = cmsCreateLab4Profile(nullptr);
    cmsSetAdaptationState(0.0);
    for (const int intent : {INTENT_ABSOLUTE_COLORIMETRIC, INTENT_RELATIVE_COLORIMETRIC}) {
        cmsHTRANSFORM transform =
            cmsCreateTransform(profile, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, intent, cmsFLAGS_NOOPTIMIZE);
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

// The 5 x 5 x 5 grid on 0, 20, ..., 80 with Lab linear in RGB (exact in binary); grid point
// (1, 2, 3) moved by (-8, -0.004, -0.5), its a* printed as 0.00; black measured three times
// (L* 9, 10 and 11), the centre twice (a* 9 and 11): the means are the linear values.
std::string HandMadeChart()
{
    std::vector<std::vector<double>> rows;
    for (int i = 0; i < 125; ++i) {
        const double r = 20.0 * (i / 25), g = 20.0 * (i / 5 % 5), b = 20.0 * (i % 5);
        rows.push_back({r, g, b, 10.0 + 0.5 * r + 0.25 * g + 0.125 * b, 0.5 * r - 0.25 * g, 0.25 * g - 0.5 * b});
    }
    rows[(1 * 5 + 2) * 5 + 3] = {20, 40, 60, 29.5, -0.004, -20.5};
    rows[0][3] = 9;
    rows[(2 * 5 + 2) * 5 + 2][4] = 9;
    rows.insert(rows.end(), {{0, 0, 0, 11, 0, 0}, {0, 0, 0, 10, 0, 0}, {40, 40, 40, 45, 11, -10}});
    return ColumnTable(rows);
}

class CheckRun : public ChartlabRun {
protected:
    void SetUp() override { Write("chart.ti3", HandMadeChart()); }
};

// The report of the hand-made chart with --worst 4, and its JSON with --worst 2. Its
// differences are known: repeats 1, 0, 1 and 1, 1 in dE76; one hold-out point of 98 off by
// sqrt(64.250016) = 8.016; L* falls into the moved point along B (by 2.5 + 8) and G (by 5 + 8).
TEST_F(CheckRun, ReportsTheHandMadeChartsKnownFigures)
{
    ExpectRuns({{{"check", "-m", "chart.ti3", "--worst", "4"}, 0, Golden("check-report.txt"), k_grid5},
                {{"check", "-m", "chart.ti3", "--worst", "2", "--json"}, 0, Golden("check-report.json"), k_grid5}});
    // The dE2000 figures above, from Little CMS: the repeats against their means, and the
    // moved patch against its linear value.
    const auto de2000 = [](cmsCIELab a, cmsCIELab b) { return cmsCIE2000DeltaE(&a, &b, 1.0, 1.0, 1.0); };
    const double repeats[] = {de2000({9, 0, 0}, {10, 0, 0}), de2000({11, 0, 0}, {10, 0, 0}),
                              de2000({45, 9, -10}, {45, 10, -10}), de2000({45, 11, -10}, {45, 10, -10})};
    EXPECT_NEAR(0.614, (repeats[0] + repeats[1] + repeats[2] + repeats[3]) / 5, 5e-4);
    EXPECT_NEAR(0.932, *std::max_element(std::begin(repeats), std::end(repeats)), 5e-4);
    EXPECT_NEAR(6.463, de2000({29.5, -0.004, -20.5}, {37.5, 0, -20}), 5e-4);
    EXPECT_NEAR(0.066, de2000({29.5, -0.004, -20.5}, {37.5, 0, -20}) / 98, 5e-4);
    // A value as wide as its column (a* of -1000 in the 8 columns of the worst list) keeps a
    // space before it.
    std::string wide = HandMadeChart();
    Write("wide.ti3", wide.replace(wide.find(" -0.004 "), 8, " -1000 "));
    EXPECT_THAT(Run({"check", "-m", "wide.ti3", "--worst", "1"}).out, testing::HasSubstr("29.50 -1000.00  -20.50"));
}

// Python's json module reads the JSON report; its figures are those of the text report
// (tests/data/chartlab/read_check_json.py).
TEST_F(CheckRun, JsonHoldsTheTextsFiguresUnderTheListedKeys)
{
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {Data("chart17-srgb.ti3"), "10", "20\n"} /* no repeats: null */, {Data("chart5202-clayrgb.ti3"), "0", "12\n"}};
    for (const auto& [chart, worst, lines] : cases) {
        SCOPED_TRACE(chart);
        ASSERT_EQ(0, Run({"check", "-m", chart, "--worst", worst, "-o", "report.txt"}).status);
        ASSERT_EQ(0, Run({"check", "-m", chart, "--worst", worst, "--json", "-o", "report.json"}).status);
        const auto parsed = testutil::Run(PYTHON3_EXE, {Data("chartlab/read_check_json.py"), "report.json",
                                                        "report.txt"}, m_dir.path());
        EXPECT_EQ(std::tuple(0, lines), std::tuple(parsed.status, parsed.out)) << parsed.err;
    }
}

// A 48-pixel square per patch, measured left and predicted right, 12 pixels of background
// around and between them; stb honours the Targa origin: row 0 is the top of the picture.
TEST_F(CheckRun, SwatchesShowMeasuredAndPredictedColoursWorstAtTheTop)
{
    ExpectRuns({{{"check", "-m", "chart.ti3", "--worst", "3", "--swatches", "worst.tga", "-o", "report.txt"}, 0, "",
                 k_grid5}});
    int width = 0, height = 0, components = 0;
    unsigned char* pixels = stbi_load(File("worst.tga").c_str(), &width, &height, &components, 3);
    ASSERT_NE(nullptr, pixels) << stbi_failure_reason();
    EXPECT_EQ((std::pair{72, 12 + 3 * 60}), (std::pair{width, height}));
    const double labs[6][3] = {{29.5, -0.004, -20.5}, {37.5, 0, -20}, {12.5, 0, -10}, {12.5, 0, -10}, {17.5, 0, -30},
                               {17.5, 0, -30}};
    unsigned char want[6][3];
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr), srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM toSrgb = cmsCreateTransform(lab, TYPE_Lab_DBL, srgb, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsDoTransform(toSrgb, labs, want, 6);
    cmsDeleteTransform(toSrgb);
    cmsCloseProfile(srgb);
    cmsCloseProfile(lab);
    const auto pixel = [&](int x, int y, int c) { return int(pixels[(std::size_t(y) * width + x) * 3 + c]); };
    // The corners of each half square, and the background just beside them.
    for (int p = 0; p < 6; ++p)
        for (int corner = 0; corner < 4; ++corner)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(want[p][c], pixel(12 + p % 2 * 24 + corner % 2 * 23, 12 + p / 2 * 60 + corner / 2 * 47, c),
                            1) << "patch " << p << " corner " << corner << " channel " << c;
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{71, 191}, std::pair{11, 12}, std::pair{12, 11},
                               std::pair{60, 59}, std::pair{59, 60}, std::pair{36, 66}})
        EXPECT_EQ(128 * 3, pixel(x, y, 0) + pixel(x, y, 1) + pixel(x, y, 2)) << x << ", " << y;
    stbi_image_free(pixels);
}

TEST_F(CheckRun, RefusesCommandLinesChartsAndOutputsWithAMessage)
{
    Write("nan.ti3", ColumnTable({{0, 0, 0, 1, 2, 3}, {0, 0, 1, 1, NAN, 3}}));
    const std::string pre = "chartlab check: ", built = k_grid5 + pre;
    ExpectRuns({
        {{"-h"}, 0, k_checkUsage, ""},
        {{"-m", "chart.ti3", "--worst", "ten"}, 1, "", "Invalid ten: expected integer value\n\n" + k_checkUsage},
        {{"-m", "chart.ti3", "--worst", "-1"}, 1, "", pre + "invalid number of worst patches -1: use 0 to 1000\n"},
        {{"-m", "chart.ti3", "--worst", "1001"}, 1, "", pre + "invalid number of worst patches 1001: use 0 to 1000\n"},
        {{"-m", "chart.ti3", "--worst", "1000", "-o", "report.txt"}, 0, "", k_grid5},
        {{"-m", "chart.ti3", "-o", "missing/report.txt"}, 2, "", built + "cannot write 'missing/report.txt'\n"},
        {{"-m", "chart.ti3", "--swatches", "missing/worst.tga"}, 2, "", built + "cannot write 'missing/worst.tga'\n"},
        {{"-m", "missing.ti3"}, 2, "", pre + "cannot open 'missing.ti3': No such file or directory\n"},
        {{"-m", "nan.ti3"}, 2, "",
         pre + "patch 2 of 'nan.ti3' has a value that is not a number from -1e+06 to 1e+06\n"},
    }, {"check"});
}

// The README shows the report of the bundled 5202-patch chart: it must be what the program
// prints.
TEST_F(CheckRun, ReadmeShowsTheBundled5202PatchChartsReport)
{
    Write("chart5202-clayrgb.ti3", ReadFile(Data("chart5202-clayrgb.ti3")));
    const auto r = Run({"check", "-m", "chart5202-clayrgb.ti3"});
    // The command and its output indented by four, and the text going on after a blank line.
    std::string shown = "\n    $ chartlab check -m chart5202-clayrgb.ti3\n";
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        shown += line.empty() ? "\n" : "    " + line + "\n";
    const std::string readme = ReadFile(README_PATH);
    const std::size_t at = readme.find(shown + "\n");
    ASSERT_NE(std::string::npos, at) << r.out;
    EXPECT_NE(' ', readme[at + shown.size() + 1]);
}

}  // namespace
