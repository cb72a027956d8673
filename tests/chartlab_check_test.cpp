// End-to-end runs of chartlab check in a temporary directory, on a hand-made chart whose
// answers are known by construction: Lab linear in RGB (every interpolation exact), one patch
// moved by a known offset, two patches measured again with known spreads. The text is
// compared byte for byte; Python's json module reads the JSON report, which must hold the
// text's numbers; stb reads the swatch image back, whose colours Little CMS predicts.
#include "testutil.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <sstream>

#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace {

using testutil::ReadFile;

// Lab of the chart: linear in RGB, exact in binary on the axis 0, 20, ..., 80.
std::vector<double> LinearLab(double r, double g, double b)
{
    return {10.0 + 0.5 * r + 0.25 * g + 0.125 * b, 0.5 * r - 0.25 * g, 0.25 * g - 0.5 * b};
}

struct Patch { std::vector<double> rgb, lab; };

// The 5 x 5 x 5 grid; grid point (1, 2, 3) moved by (-8, -0.004, -0.5), its a* printed as 0.00; black measured three
// times (L* 9, 10 and 11), the centre twice (a* 9 and 11): the means are the linear values.
std::vector<Patch> HandMadeChart()
{
    std::vector<Patch> patches;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            for (int k = 0; k < 5; ++k)
                patches.push_back({{20.0 * i, 20.0 * j, 20.0 * k}, LinearLab(20.0 * i, 20.0 * j, 20.0 * k)});
    patches[(1 * 5 + 2) * 5 + 3].lab = {29.5, -0.004, -20.5};
    patches[0].lab = {9, 0, 0};
    patches.push_back({{0, 0, 0}, {11, 0, 0}});
    patches.push_back({{0, 0, 0}, {10, 0, 0}});
    patches[(2 * 5 + 2) * 5 + 2].lab = {45, 9, -10};
    patches.push_back({{40, 40, 40}, {45, 11, -10}});
    return patches;
}

std::string ChartText(const std::vector<Patch>& patches)
{
    std::string text = "CTI3\n\nBEGIN_DATA_FORMAT\nSAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B\nEND_DATA_FORMAT\n\n"
                       "BEGIN_DATA\n";
    for (std::size_t p = 0; p < patches.size(); ++p) {
        char row[200];
        const auto& c = patches[p].rgb;
        const auto& l = patches[p].lab;
        std::snprintf(row, sizeof row, "%zu %g %g %g %g %g %g\n", p + 1, c[0], c[1], c[2], l[0], l[1], l[2]);
        text += row;
    }
    return text + "END_DATA\n";
}

double LcmsDe2000(const std::vector<double>& a, const std::vector<double>& b)
{
    const cmsCIELab x = {a[0], a[1], a[2]}, y = {b[0], b[1], b[2]};
    return cmsCIE2000DeltaE(&x, &y, 1.0, 1.0, 1.0);
}

std::string Fixed3(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

const std::string k_usage =
    "usage: chartlab check [-h] -m string [-o string] [--json] [--worst integer] [--swatches string] \n"
    "  -h/--help          :  prints this help message\n"
    "  -m/--measurements  :  measured chart: RGB_R RGB_G RGB_B with LAB_L LAB_A LAB_B or XYZ_X XYZ_Y XYZ_Z "
    "(required)\n"
    "  -o/--output        :  report file, - for standard output (default: -)\n"
    "    /--json          :  writes the report as a JSON object\n"
    "    /--worst         :  number of worst patches listed, 0 to 1000 (default: 10)\n"
    "    /--swatches      :  Targa image of the worst patches, or none (default: none)\n"
    "\n"
    "Reports how far the chart can be trusted: how repeatable its measurements are, how close\n"
    "interpolation between measured points comes to measured truth, and which patches look\n"
    "wrong. Exit status: 0 after the report, 1 when the command line was refused, 2 when the\n"
    "chart could not be checked or an output could not be written (the message on standard\n"
    "error says why).\n";

// The report of the hand-made chart with --worst 4. Its differences are known: repeats 1, 0, 1
// and 1, 1 in dE76; one hold-out point of 98 off by sqrt(64.250016) = 8.016; L* falls into the moved
// point along B (by 2.5 + 8) and G (by 5 + 8). Its dE2000 figures are checked against Little
// CMS below.
const std::string k_report =
    "Chart 'chart.ti3'\n"
    "  patches                  128\n"
    "  grid                     5 x 5 x 5\n"
    "  R axis                   0 20 40 60 80 (evenly spaced)\n"
    "  G axis                   0 20 40 60 80 (evenly spaced)\n"
    "  B axis                   0 20 40 60 80 (evenly spaced)\n"
    "  repeated patches         5 measurements of 2 device values\n"
    "  unoccupied grid points   0\n"
    "\n"
    "Repeatability: every measurement of a repeated device value against their mean\n"
    "                         count      mean       p95       max\n"
    "  dE76                       5     0.800     1.000     1.000\n"
    "  dE2000                     5     0.614     0.932     0.932\n"
    "\n"
    "Interpolation error by hold-out: the 3 x 3 x 3 grid of levels 0, 2, 4, ... and the last\n"
    "predicts the grid points it leaves out (98 measured, 98 predicted).\n"
    "This is the error at half the chart's density, an upper bound for the full chart.\n"
    "                         count      mean       p95       max\n"
    "  trilinear    dE76         98     0.082     0.000     8.016\n"
    "  trilinear    dE2000       98     0.066     0.000     6.463\n"
    "  tetrahedral  dE76         98     0.082     0.000     8.016\n"
    "  tetrahedral  dE2000       98     0.066     0.000     6.463\n"
    "\n"
    "Smoothness: 2 steps along an axis where L* goes down as the device value goes up\n"
    "  along B from (1, 2, 2) to (1, 2, 3): L* 35.00 -> 29.50\n"
    "  along G from (1, 1, 3) to (1, 2, 3): L* 32.50 -> 29.50\n"
    "\n"
    "Worst 4 patches of the trilinear hold-out and the gray check, by dE2000\n"
    "        R        G        B       measured L*, a*, b*      predicted L*, a*, b*    dE2000  from\n"
    "       20       40       60     29.50    0.00  -20.50     37.50    0.00  -20.00     6.463  hold-out\n"
    "        0        0       20     12.50    0.00  -10.00     12.50    0.00  -10.00     0.000  hold-out\n"
    "        0        0       60     17.50    0.00  -30.00     17.50    0.00  -30.00     0.000  hold-out\n"
    "        0       20        0     15.00   -5.00    5.00     15.00   -5.00    5.00     0.000  hold-out\n";

// The same chart's JSON report with --worst 2.
const std::string k_json =
    "{\n"
    "  \"patches\": 128,\n"
    "  \"grid\": 5,\n"
    "  \"repeatability\": {\n"
    "    \"de76\": {\"count\": 5, \"mean\": 0.800, \"p95\": 1.000, \"max\": 1.000},\n"
    "    \"de2000\": {\"count\": 5, \"mean\": 0.614, \"p95\": 0.932, \"max\": 0.932}\n"
    "  },\n"
    "  \"holdout\": {\n"
    "    \"trilinear\": {\n"
    "      \"de76\": {\"count\": 98, \"mean\": 0.082, \"p95\": 0.000, \"max\": 8.016},\n"
    "      \"de2000\": {\"count\": 98, \"mean\": 0.066, \"p95\": 0.000, \"max\": 6.463}\n"
    "    },\n"
    "    \"tetrahedral\": {\n"
    "      \"de76\": {\"count\": 98, \"mean\": 0.082, \"p95\": 0.000, \"max\": 8.016},\n"
    "      \"de2000\": {\"count\": 98, \"mean\": 0.066, \"p95\": 0.000, \"max\": 6.463}\n"
    "    }\n"
    "  },\n"
    "  \"nonmonotone\": {\"count\": 2},\n"
    "  \"worst\": [\n"
    "    {\"rgb\": [20, 40, 60], \"measured\": [29.50, 0.00, -20.50], \"predicted\": [37.50, 0.00, -20.00], "
    "\"de2000\": 6.463},\n"
    "    {\"rgb\": [0, 0, 20], \"measured\": [12.50, 0.00, -10.00], \"predicted\": [12.50, 0.00, -10.00], "
    "\"de2000\": 0.000}\n"
    "  ]\n"
    "}\n";

class CheckRun : public ::testing::Test {
protected:
    void SetUp() override { Write("chart.ti3", ChartText(HandMadeChart())); }
    testutil::RunResult Run(const std::vector<std::string>& args) { return testutil::RunChartlab(args, m_dir.path()); }
    std::string File(const std::string& name) { return m_dir.file(name); }
    std::string Read(const std::string& name) { return ReadFile(File(name)); }
    void Write(const std::string& name, const std::string& text) { testutil::WriteFile(File(name), text); }

    testutil::TempDir m_dir;
};

TEST_F(CheckRun, ReportsTheHandMadeChartsKnownFigures)
{
    const auto r = Run({"check", "-m", "chart.ti3", "--worst", "4"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("Appears to be a 5 x 5 x 5 grid.\n", r.err);
    EXPECT_EQ(k_report, r.out);
    const auto json = Run({"check", "-m", "chart.ti3", "--worst", "2", "--json"});
    EXPECT_EQ(0, json.status);
    EXPECT_EQ(k_json, json.out);

    // The dE2000 literals above, from Little CMS: the repeats against their means, and the
    // moved patch against its linear value.
    const std::vector<double> repeats = {LcmsDe2000({9, 0, 0}, {10, 0, 0}), LcmsDe2000({11, 0, 0}, {10, 0, 0}),
                                         LcmsDe2000({45, 9, -10}, {45, 10, -10}),
                                         LcmsDe2000({45, 11, -10}, {45, 10, -10})};
    double sum = 0.0, largest = 0.0;
    for (double d : repeats) {
        sum += d;
        largest = std::max(largest, d);
    }
    EXPECT_EQ("0.614", Fixed3(sum / 5));
    EXPECT_EQ("0.932", Fixed3(largest));
    const double moved = LcmsDe2000({29.5, -0.004, -20.5}, {37.5, 0, -20});
    EXPECT_EQ("6.463", Fixed3(moved));
    EXPECT_EQ("0.066", Fixed3(moved / 98));
}

// The figures of a text report, each line of them as words: the chart's patches and grid
// size, the summary rows (count, mean, p95, max) in order, the non-monotone count, and the
// worst patches' ten numbers.
std::vector<std::vector<std::string>> TextFigures(const std::string& report)
{
    std::vector<std::vector<std::string>> figures(1);
    std::istringstream lines(report);
    bool worst = false;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream in(line);
        std::vector<std::string> words;
        for (std::string w; in >> w;)
            words.push_back(w);
        if (words.empty())
            continue;
        if (words[0] == "patches" || words[0] == "grid")
            figures[0].push_back(words[1]);
        else if (words.back() == "mean" || words[0] == "Worst")
            continue;
        else if (words.size() >= 5 && words[words.size() - 5].rfind("dE", 0) == 0)
            figures.emplace_back(words.end() - 4, words.end());
        else if (words[0] == "Smoothness:")
            figures[0].push_back(words[1]);
        else if (line.find("measured L*") != std::string::npos)
            worst = true;
        else if (worst)
            figures.emplace_back(words.begin(), words.begin() + 10);
    }
    return figures;
}

// Reads the JSON report with Python's json module, checks its keys and prints its figures in
// the order TextFigures gives them, null as "-".
constexpr const char* k_readJson = R"(
import json, sys
report = json.load(open(sys.argv[1]))
def keys(obj, want):
    if sorted(obj) != sorted(want):
        sys.exit("keys %s, want %s" % (sorted(obj), sorted(want)))
keys(report, ["patches", "grid", "repeatability", "holdout", "nonmonotone", "worst"]
     + (["grays"] if "grays" in report else []))
rows = []
def pair(d):
    keys(d, ["de76", "de2000"])
    for s in (d["de76"], d["de2000"]):
        keys(s, ["count", "mean", "p95", "max"])
        rows.append([s["count"]] + ["-" if s[k] is None else s[k] for k in ("mean", "p95", "max")])
keys(report["holdout"], ["trilinear", "tetrahedral"])
keys(report["nonmonotone"], ["count"])
for d in (report["repeatability"], report["holdout"]["trilinear"], report["holdout"]["tetrahedral"]):
    pair(d)
if "grays" in report:
    pair(report["grays"])
print(report["patches"], report["grid"], report["nonmonotone"]["count"])
for r in rows:
    print(*r)
for w in report["worst"]:
    keys(w, ["rgb", "measured", "predicted", "de2000"])
    print(*(w["rgb"] + w["measured"] + w["predicted"] + [w["de2000"]]))
)";

// Equal words, or words of equal value when both are numbers ("0.000" and "0.0").
void ExpectSameFigures(const std::vector<std::vector<std::string>>& text, const std::string& json)
{
    std::vector<std::vector<std::string>> parsed;
    std::istringstream lines(json);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream in(line);
        parsed.emplace_back();
        for (std::string w; in >> w;)
            parsed.back().push_back(w);
    }
    ASSERT_EQ(text.size(), parsed.size());
    for (std::size_t l = 0; l < text.size(); ++l) {
        ASSERT_EQ(text[l].size(), parsed[l].size()) << "line " << l;
        for (std::size_t w = 0; w < text[l].size(); ++w) {
            const std::string& a = text[l][w];
            const std::string& b = parsed[l][w];
            if (a == "-" || b == "-")
                EXPECT_EQ(a, b) << "line " << l;
            else
                EXPECT_EQ(std::stod(a), std::stod(b)) << "line " << l << ": " << a << " and " << b;
        }
    }
    // Grid size in the text is "5 x 5 x 5": the first word is the JSON's integer.
}

TEST_F(CheckRun, JsonHoldsTheTextsFiguresUnderTheListedKeys)
{
    struct Case {
        std::string chart;
        std::vector<std::string> options;
        std::size_t summaries;
    };
    Write("chart17.ti3", ReadFile(std::string(TEST_DATA_DIR) + "/chart17-srgb.ti3"));
    Write("chart5202.ti3", ReadFile(std::string(TEST_DATA_DIR) + "/chart5202-clayrgb.ti3"));
    const Case cases[] = {
        {"chart.ti3", {"--worst", "7"}, 6},
        {"chart17.ti3", {}, 6},           // no repeats: null figures
        {"chart5202.ti3", {"--worst", "0"}, 8},  // grays; an empty worst list
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chart);
        std::vector<std::string> args = {"check", "-m", c.chart};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto text = Run(args);
        ASSERT_EQ(0, text.status);
        args.insert(args.end(), {"--json", "-o", "report.json"});
        const auto json = Run(args);
        ASSERT_EQ(0, json.status);
        EXPECT_EQ("", json.out);
        const auto parsed = testutil::Run(PYTHON3_EXE, {"-c", k_readJson, "report.json"}, m_dir.path());
        ASSERT_EQ(0, parsed.status) << parsed.err;
        std::vector<std::vector<std::string>> figures = TextFigures(text.out);
        EXPECT_EQ(1 + c.summaries + (c.options.empty() ? 10 : std::stoul(c.options[1])), figures.size());
        ExpectSameFigures(figures, parsed.out);
    }
}

// Little CMS's sRGB of a D50 Lab value, clipped, as bytes.
std::vector<int> SrgbBytes(const std::vector<double>& lab)
{
    cmsHPROFILE labProfile = cmsCreateLab4Profile(nullptr), srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform =
        cmsCreateTransform(labProfile, TYPE_Lab_DBL, srgb, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    const cmsCIELab in = {lab[0], lab[1], lab[2]};
    double rgb[3];
    cmsDoTransform(transform, &in, rgb, 1);
    cmsDeleteTransform(transform);
    cmsCloseProfile(srgb);
    cmsCloseProfile(labProfile);
    std::vector<int> bytes;
    for (double v : rgb)
        bytes.push_back(static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)));
    return bytes;
}

// stb honours the Targa origin: row 0 of what it returns is the top of the picture.
TEST_F(CheckRun, SwatchesShowMeasuredAndPredictedColoursWorstAtTheTop)
{
    const auto r = Run({"check", "-m", "chart.ti3", "--worst", "3", "--swatches", "worst.tga", "-o", "report.txt"});
    ASSERT_EQ(0, r.status) << r.err;
    int width = 0, height = 0, components = 0;
    unsigned char* pixels = stbi_load(File("worst.tga").c_str(), &width, &height, &components, 3);
    ASSERT_NE(nullptr, pixels) << stbi_failure_reason();
    // A 48-pixel square per patch, 12 pixels of background around and between them.
    EXPECT_EQ(72, width);
    EXPECT_EQ(12 + 3 * 60, height);
    const auto pixel = [&](int x, int y) {
        const unsigned char* p = pixels + (static_cast<std::size_t>(y) * width + x) * 3;
        return std::vector<int>{p[0], p[1], p[2]};
    };
    const std::vector<std::vector<double>> measured = {{29.5, -0.004, -20.5}, {12.5, 0, -10}, {17.5, 0, -30}};
    const std::vector<std::vector<double>> predicted = {{37.5, 0, -20}, {12.5, 0, -10}, {17.5, 0, -30}};
    for (int row = 0; row < 3; ++row) {
        const int centre = 12 + row * 60 + 24;
        for (const auto& [x, lab] : {std::pair{24, measured[row]}, std::pair{48, predicted[row]}}) {
            const std::vector<int> want = SrgbBytes(lab), got = pixel(x, centre);
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(want[c], got[c], 1) << "row " << row << " x " << x << " channel " << c;
        }
    }
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{71, 191}, std::pair{36, 66}, std::pair{6, 30}})
        EXPECT_EQ((std::vector<int>{128, 128, 128}), pixel(x, y)) << x << ", " << y;
    stbi_image_free(pixels);
    // The report went to its file, and says what the image shows.
    EXPECT_EQ("", r.out);
    EXPECT_NE(std::string::npos, Read("report.txt").find("    20       40       60     29.50    0.00  -20.50"));
}

TEST_F(CheckRun, RefusesCommandLinesChartsAndOutputsWithAMessage)
{
    Write("nan.ti3", "CTI3\nBEGIN_DATA_FORMAT\nSAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B\nEND_DATA_FORMAT\n"
                     "BEGIN_DATA\n1 0 0 0 1 2 3\n2 0 0 1 1 nan 3\nEND_DATA\n");
    Write("big.ti3", "0 0 0\n0 0 1e7\n");
    Write("uneven.ti3", "CTI3\nBEGIN_DATA_FORMAT\nSAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B\nEND_DATA_FORMAT\n"
                        "BEGIN_DATA\n1 0 0 0 1 2 3\n2 0 1 2 1 2 3\nEND_DATA\n");
    Write("report.txt", "earlier report\n");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    };
    const std::vector<Case> cases = {
        {{"check", "-h"}, 0, k_usage, ""},
        {{"check"}, 1, "", "Option -m/--measurements is required.\n" + k_usage},
        {{"check", "-m", "chart.ti3", "--worst", "ten"}, 1, "", "Invalid ten: expected integer value\n\n" + k_usage},
        {{"check", "-m", "chart.ti3", "--worst", "-1"}, 1, "",
         "chartlab check: invalid number of worst patches -1: use 0 to 1000\n"},
        {{"check", "-m", "chart.ti3", "--worst", "1001"}, 1, "",
         "chartlab check: invalid number of worst patches 1001: use 0 to 1000\n"},
        {{"check", "-m", "chart.ti3", "report"}, 1, "", "chartlab check: unexpected argument 'report'\n"},
        {{"check", "-m", "missing.ti3"}, 2, "", "chartlab check: cannot open 'missing.ti3': No such file or directory\n"},
        {{"check", "-m", "nan.ti3"}, 2, "",
         "chartlab check: patch 2 of 'nan.ti3' has a value that is not a number from -1e+06 to 1e+06\n"},
        // A plain table's three numbers are its RGB and its Lab.
        {{"check", "-m", "big.ti3"}, 2, "",
         "chartlab check: patch 2 of 'big.ti3' has a value that is not a number from -1e+06 to 1e+06\n"},
        {{"check", "-m", "uneven.ti3"}, 2, "",
         "chartlab check: the RGB values in 'uneven.ti3' do not form a grid: the channels have different numbers of "
         "values\n"},
        {{"check", "-m", "chart.ti3", "-o", "missing/report.txt"}, 2, "",
         "Appears to be a 5 x 5 x 5 grid.\nchartlab check: cannot write 'missing/report.txt'\n"},
        {{"check", "-m", "chart.ti3", "-o", "report.txt", "--swatches", "missing/worst.tga"}, 2, "",
         "Appears to be a 5 x 5 x 5 grid.\nchartlab check: cannot write 'missing/worst.tga'\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto r = Run(c.args);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(c.out, r.out);
        EXPECT_EQ(c.err, r.err);
    }
    // A failed image leaves the report as it was.
    EXPECT_EQ("earlier report\n", Read("report.txt"));
}

// The README shows the report of the bundled 5202-patch chart: it must be what the program
// prints.
TEST_F(CheckRun, ReadmeShowsTheBundled5202PatchChartsReport)
{
    const std::string readme = ReadFile(README_PATH);
    const std::string command = "    $ chartlab check -m chart5202-clayrgb.ti3\n";
    const std::size_t start = readme.find(command);
    ASSERT_NE(std::string::npos, start);
    std::string shown;
    std::istringstream lines(readme.substr(start + command.size()));
    for (std::string line; std::getline(lines, line) && (line.empty() || line.rfind("    ", 0) == 0);)
        shown += line.empty() ? "\n" : line.substr(4) + "\n";
    while (shown.size() >= 2 && shown.compare(shown.size() - 2, 2, "\n\n") == 0)
        shown.pop_back();

    Write("chart5202-clayrgb.ti3", ReadFile(std::string(TEST_DATA_DIR) + "/chart5202-clayrgb.ti3"));
    const auto r = Run({"check", "-m", "chart5202-clayrgb.ti3"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(shown, r.out);
}

}  // namespace
