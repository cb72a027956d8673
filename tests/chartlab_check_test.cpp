// End-to-end runs of chartlab check on a hand-made chart whose answers are known by
// construction: Lab linear in RGB (every interpolation exact), one patch moved by a known
// offset, two patches measured again with known spreads. The text is compared byte for byte;
// Little CMS gives its dE2000 figures; Python's json module reads the JSON report, which must
// hold the text's numbers; stb reads the swatch image back, whose colours Little CMS predicts.
#include "chartlabtest.h"

#include <lcms2.h>

#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace {

using namespace chartlabtest;

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

const std::string k_usage = Golden("check-usage.txt");

class CheckRun : public ChartlabRun {
protected:
    void SetUp() override { Write("chart.ti3", HandMadeChart()); }
};

// The report of the hand-made chart with --worst 4, and its JSON with --worst 2. Its
// differences are known: repeats 1, 0, 1 and 1, 1 in dE76; one hold-out point of 98 off by
// sqrt(64.250016) = 8.016; L* falls into the moved point along B (by 2.5 + 8) and G (by 5 + 8).
TEST_F(CheckRun, ReportsTheHandMadeChartsKnownFigures)
{
    const std::string grid = "Appears to be a 5 x 5 x 5 grid.\n";
    ExpectRuns({{{"check", "-m", "chart.ti3", "--worst", "4"}, 0, Golden("check-report.txt"), grid},
                {{"check", "-m", "chart.ti3", "--worst", "2", "--json"}, 0, Golden("check-report.json"), grid}});
    // The dE2000 figures above, from Little CMS: the repeats against their means, and the
    // moved patch against its linear value.
    const auto de2000 = [](cmsCIELab a, cmsCIELab b) { return cmsCIE2000DeltaE(&a, &b, 1.0, 1.0, 1.0); };
    const double repeats[] = {de2000({9, 0, 0}, {10, 0, 0}), de2000({11, 0, 0}, {10, 0, 0}),
                              de2000({45, 9, -10}, {45, 10, -10}), de2000({45, 11, -10}, {45, 10, -10})};
    EXPECT_NEAR(0.614, (repeats[0] + repeats[1] + repeats[2] + repeats[3]) / 5, 5e-4);
    EXPECT_NEAR(0.932, *std::max_element(std::begin(repeats), std::end(repeats)), 5e-4);
    EXPECT_NEAR(6.463, de2000({29.5, -0.004, -20.5}, {37.5, 0, -20}), 5e-4);
    EXPECT_NEAR(0.066, de2000({29.5, -0.004, -20.5}, {37.5, 0, -20}) / 98, 5e-4);
}

// Reads the JSON report with Python's json module, checks its keys and prints its figures as
// the text report shows them, null as "-".
constexpr const char* k_readJson = R"(
import json, sys
r = json.load(open(sys.argv[1]))
keys = {"patches", "grid", "repeatability", "holdout", "nonmonotone", "worst"}
assert set(r) in (keys, keys | {"grays"}) and set(r["holdout"]) == {"trilinear", "tetrahedral"}, sorted(r)
f = lambda v, places: "-" if v is None else "%.*f" % (places, v)
print("patches %d" % r["patches"])
print("grid %d x %d x %d" % ((r["grid"],) * 3))
n = r["repeatability"]["de76"]["count"]
print("repeated patches " + ("%d measurements of" % n if n else "none"))
for d in [r["repeatability"], r["holdout"]["trilinear"], r["holdout"]["tetrahedral"]] + [r[k] for k in r if k == "grays"]:
    assert set(d) == {"de76", "de2000"} and all(set(s) == {"count", "mean", "p95", "max"} for s in d.values())
    for k in ("de76", "de2000"):
        print(k.replace("de", "dE"), d[k]["count"], *(f(d[k][s], 3) for s in ("mean", "p95", "max")))
print("Smoothness: %d" % r["nonmonotone"]["count"])
for w in r["worst"]:
    assert set(w) == {"rgb", "measured", "predicted", "de2000"}
    print(*("%g" % v for v in w["rgb"]), *(f(v, 2) for v in w["measured"] + w["predicted"]), f(w["de2000"], 3))
)";

// Each line Python prints is found, in order, in the text report with its blanks collapsed.
TEST_F(CheckRun, JsonHoldsTheTextsFiguresUnderTheListedKeys)
{
    Write("chart17.ti3", testutil::ReadFile(Data("chart17-srgb.ti3")));
    Write("chart5202.ti3", testutil::ReadFile(Data("chart5202-clayrgb.ti3")));
    const std::tuple<std::string, std::string, std::size_t> cases[] = {
        {"chart.ti3", "7", 17}, {"chart17.ti3", "10", 20} /* no repeats: null */, {"chart5202.ti3", "0", 12} /* grays */};
    for (const auto& [chart, worst, lines] : cases) {
        SCOPED_TRACE(chart);
        const std::string report = Run({"check", "-m", chart, "--worst", worst}).out;
        ASSERT_EQ(0, Run({"check", "-m", chart, "--worst", worst, "--json", "-o", "report.json"}).status);
        const auto parsed = testutil::Run(PYTHON3_EXE, {"-c", k_readJson, "report.json"}, m_dir.path());
        ASSERT_EQ(0, parsed.status) << parsed.err;
        std::string text;
        for (char c : report)
            text += std::isspace(static_cast<unsigned char>(c)) ? (text.back() == ' ' ? "" : " ") : std::string(1, c);
        std::istringstream figures(parsed.out);
        std::size_t at = 0, found = 0;
        for (std::string line; std::getline(figures, line); ++found) {
            at = text.find(line, at);
            ASSERT_NE(std::string::npos, at) << line;
        }
        EXPECT_EQ(lines, found);
    }
}

// A 48-pixel square per patch, measured left and predicted right, 12 pixels of background
// around and between them; stb honours the Targa origin: row 0 is the top of the picture.
TEST_F(CheckRun, SwatchesShowMeasuredAndPredictedColoursWorstAtTheTop)
{
    ExpectRuns({{{"check", "-m", "chart.ti3", "--worst", "3", "--swatches", "worst.tga", "-o", "report.txt"}, 0, "",
                 "Appears to be a 5 x 5 x 5 grid.\n"}});
    EXPECT_NE(std::string::npos, Read("report.txt").find("    20       40       60     29.50    0.00  -20.50"));
    int width = 0, height = 0, components = 0;
    unsigned char* pixels = stbi_load(File("worst.tga").c_str(), &width, &height, &components, 3);
    ASSERT_NE(nullptr, pixels) << stbi_failure_reason();
    EXPECT_EQ(72, width);
    EXPECT_EQ(12 + 3 * 60, height);
    const double labs[6][3] = {{29.5, -0.004, -20.5}, {37.5, 0, -20}, {12.5, 0, -10}, {12.5, 0, -10}, {17.5, 0, -30},
                               {17.5, 0, -30}};
    unsigned char want[6][3];
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr), srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM toSrgb = cmsCreateTransform(lab, TYPE_Lab_DBL, srgb, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsDoTransform(toSrgb, labs, want, 6);
    cmsDeleteTransform(toSrgb);
    cmsCloseProfile(srgb);
    cmsCloseProfile(lab);
    const auto pixel = [&](int x, int y, int c) { return int(pixels[(static_cast<std::size_t>(y) * width + x) * 3 + c]); };
    // The corners of each half square, and the background just beside them.
    for (int p = 0; p < 6; ++p)
        for (int corner = 0; corner < 4; ++corner)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(want[p][c], pixel(12 + p % 2 * 24 + corner % 2 * 23, 12 + p / 2 * 60 + corner / 2 * 47, c), 1)
                    << "patch " << p << " corner " << corner << " channel " << c;
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{71, 191}, std::pair{11, 12}, std::pair{12, 11}, std::pair{60, 59},
                               std::pair{59, 60}, std::pair{36, 66}})
        EXPECT_EQ(128 * 3, pixel(x, y, 0) + pixel(x, y, 1) + pixel(x, y, 2)) << x << ", " << y;
    stbi_image_free(pixels);
}

TEST_F(CheckRun, RefusesCommandLinesChartsAndOutputsWithAMessage)
{
    Write("nan.ti3", ColumnTable({{0, 0, 0, 1, 2, 3}, {0, 0, 1, 1, NAN, 3}}));
    Write("big.ti3", "0 0 0\n0 0 1e7\n");  // a plain table's three numbers are its RGB and its Lab
    Write("report.txt", "earlier report\n");
    const std::string grid = "Appears to be a 5 x 5 x 5 grid.\n", check = "chartlab check: ";
    ExpectRuns({
        {{"-h"}, 0, k_usage, ""},
        {{"-m", "chart.ti3", "--worst", "ten"}, 1, "", "Invalid ten: expected integer value\n\n" + k_usage},
        {{"-m", "chart.ti3", "--worst", "-1"}, 1, "", check + "invalid number of worst patches -1: use 0 to 1000\n"},
        {{"-m", "chart.ti3", "--worst", "1001"}, 1, "", check + "invalid number of worst patches 1001: use 0 to 1000\n"},
        {{"-m", "chart.ti3", "--worst", "1000", "-o", "report.txt"}, 0, "", grid},
        {{"-m", "missing.ti3"}, 2, "", check + "cannot open 'missing.ti3': No such file or directory\n"},
        {{"-m", "nan.ti3"}, 2, "", check + "patch 2 of 'nan.ti3' has a value that is not a number from -1e+06 to 1e+06\n"},
        {{"-m", "big.ti3"}, 2, "", check + "patch 2 of 'big.ti3' has a value that is not a number from -1e+06 to 1e+06\n"},
        {{"-m", "chart.ti3", "-o", "missing/report.txt"}, 2, "", grid + check + "cannot write 'missing/report.txt'\n"},
        {{"-m", "chart.ti3", "-o", "out.txt", "--swatches", "missing/worst.tga"}, 2, "",
         grid + check + "cannot write 'missing/worst.tga'\n"},
    }, {"check"});
}

// The README shows the report of the bundled 5202-patch chart: it must be what the program
// prints.
TEST_F(CheckRun, ReadmeShowsTheBundled5202PatchChartsReport)
{
    const std::string readme = testutil::ReadFile(README_PATH), command = "    $ chartlab check -m chart5202-clayrgb.ti3\n";
    const std::size_t start = readme.find(command);
    ASSERT_NE(std::string::npos, start);
    std::string shown;
    std::istringstream lines(readme.substr(start + command.size()));
    for (std::string line; std::getline(lines, line) && (line.empty() || line.rfind("    ", 0) == 0);)
        shown += line.empty() ? "\n" : line.substr(4) + "\n";
    while (shown.size() >= 2 && shown.compare(shown.size() - 2, 2, "\n\n") == 0)
        shown.pop_back();
    Write("chart5202-clayrgb.ti3", testutil::ReadFile(Data("chart5202-clayrgb.ti3")));
    const auto r = Run({"check", "-m", "chart5202-clayrgb.ti3"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(shown, r.out);
}

}  // namespace
