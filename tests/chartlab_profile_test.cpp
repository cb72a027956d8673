// End-to-end runs of chartlab profile in a temporary directory: exit status, standard output
// and standard error byte for byte, the profile file as the project's reader sees it, and
// ArgyllCMS's profcheck comparing the profile with its chart where it is installed.
#include "icc.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using testutil::ReadFile;
using testutil::WriteFile;

const std::string k_grid17 = "Appears to be a 17 x 17 x 17 grid.\n";
const std::string k_profileUsage =
    "usage: chartlab profile [-h] -m string -o string [--class string] [--description string] [--copyright string] "
    "[--clut integer] \n"
    "  -h/--help          :  prints this help message\n"
    "  -m/--measurements  :  measured chart: RGB_R RGB_G RGB_B with LAB_L LAB_A LAB_B or XYZ_X XYZ_Y XYZ_Z "
    "(required)\n"
    "  -o/--output        :  the profile file to write (required)\n"
    "    /--class         :  input (A2B tables) or display (A2B and B2A tables) (default: input)\n"
    "    /--description   :  the profile's description; empty: the chart's file name (default: )\n"
    "    /--copyright     :  the profile's copyright text (ASCII) (default: No copyright, use freely. Made with "
    "chartlab from measured chart data.)\n"
    "    /--clut          :  points per axis of a display profile's B2A tables, 2 to 255 (default: 33)\n"
    "\n"
    "Writes the chart as an ICC profile (version 2.4, RGB to Lab) whose tables hold the measured\n"
    "grid. Exit status: 0 when the profile was written, 1 when the command line was refused, 2\n"
    "when the chart cannot be made into a profile or the file cannot be written (the message on\n"
    "standard error says why; an existing file is then left untouched).\n";

std::string Data(const std::string& name)
{
    return std::string(TEST_DATA_DIR) + "/" + name;
}

// A column table of RGB and Lab rows.
std::string Chart(const std::vector<std::vector<double>>& rows)
{
    std::string text = "CTI3\n\nBEGIN_DATA_FORMAT\nSAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B\nEND_DATA_FORMAT\n\n"
                       "BEGIN_DATA\n";
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

// The 2 x 2 x 2 grid on `low` and `high`, black (0, 0, 0) to white (100, 0, 0); patch p has
// R high when bit 2 is set, G bit 1, B bit 0.
std::vector<std::vector<double>> Cube(double low, double high = 100)
{
    std::vector<std::vector<double>> rows;
    for (int p = 0; p < 8; ++p)
        rows.push_back({p & 4 ? high : low, p & 2 ? high : low, p & 1 ? high : low, p == 7 ? 100.0 : 10.0 * p, 0, 0});
    return rows;
}

using ProfilePtr = std::unique_ptr<ICC_CPP_Profile>;

class ChartlabProfile : public ::testing::Test {
protected:
    testutil::RunResult Run(const std::vector<std::string>& args)
    {
        std::vector<std::string> all = {"profile"};
        all.insert(all.end(), args.begin(), args.end());
        return testutil::RunChartlab(all, m_dir.path());
    }
    std::string File(const std::string& name) { return m_dir.file(name); }

    testutil::TempDir m_dir;
};

}  // namespace

TEST_F(ChartlabProfile, ExplainsAndRefusesCommandLines)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    };
    const std::vector<Case> cases = {
        {{"-h"}, 0, k_profileUsage, ""},
        {{"-m", "c.ti3", "--help"}, 0, k_profileUsage, ""},
        {{"-o", "p.icc"}, 1, "", "Option -m/--measurements is required.\n" + k_profileUsage},
        {{"-m", "c.ti3"}, 1, "", "Option -o/--output is required.\n" + k_profileUsage},
        {{"-m", "c.ti3", "-o", "p.icc", "more"}, 1, "", "chartlab profile: unexpected argument 'more'\n"},
        {{"-m", "c.ti3", "-o", "-"}, 1, "",
         "chartlab profile: a profile is written to a file, not to standard output: name one with -o\n"},
        {{"-m", "c.ti3", "-o", "p.icc", "--class", "printer"}, 1, "",
         "chartlab profile: unknown class 'printer': use input or display\n"},
        {{"-m", "c.ti3", "-o", "p.icc", "--clut", "1"}, 1, "", "chartlab profile: invalid --clut 1: use 2 to 255\n"},
        {{"-m", "c.ti3", "-o", "p.icc", "--clut", "256"}, 1, "", "chartlab profile: invalid --clut 256: use 2 to 255\n"},
        {{"-m", "c.ti3", "-o", "p.icc", "--clut", "x"}, 1, "", "Invalid x: expected integer value\n\n" + k_profileUsage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto r = Run(c.args);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(c.out, r.out);
        EXPECT_EQ(c.err, r.err);
    }
}

TEST_F(ChartlabProfile, SaysWhyAChartMakesNoProfileAndKeepsTheOldFile)
{
    std::vector<std::vector<double>> missing = Cube(0), dark = Cube(0), nan = Cube(0), far = Cube(0), edge = Cube(0),
                                     diagonal, shorter;
    missing.erase(missing.begin() + 2);  // (0, 100, 0)
    dark[7] = {100, 100, 100, 0, 0, 0};
    nan[5][5] = std::nan("");
    far[6][4] = 1000.001;  // beyond the limit of 1000 even in single precision
    edge[6][4] = 1000;
    for (int i = 0; i < 256; ++i)
        diagonal.push_back({double(i), double(i), double(i), 50, 0, 0});
    shorter.assign(diagonal.begin(), diagonal.end() - 1);  // 255 values fit: its trouble is elsewhere
    struct Case {
        std::string name, chart, grid, err;
    };
    const std::string pre = "chartlab profile: '";
    const std::vector<Case> cases = {
        {"one.ti3", Chart({{0, 0, 0, 0, 0, 0}}), "1 x 1 x 1",
         "' has only one value in each channel: a profile needs at least 2\n"},
        {"big.ti3", Chart(diagonal), "256 x 256 x 256", "' has 256 values in each channel: a profile holds at most 255\n"},
        {"diagonal.ti3", Chart(shorter), "255 x 255 x 255",
         "' has no usable Lab value at the grid point 0 0 1: a profile needs every point, with L*, a* and b* "
         "within -1000..1000\n"},
        {"negative.ti3", Chart(Cube(-1)), "2 x 2 x 2",
         "' has an RGB value below 0 or infinite: a profile's device values run from 0 to the largest\n"},
        {"missing.ti3", Chart(missing), "2 x 2 x 2",
         "' has no usable Lab value at the grid point 0 100 0: a profile needs every point, with L*, a* and b* "
         "within -1000..1000\n"},
        {"dark.ti3", Chart(dark), "2 x 2 x 2",
         "' has no usable white: the patch at 100 100 100 (the grid's highest corner) has Lab 0 0 0\n"},
        {"infinite.ti3", Chart(Cube(0, INFINITY)), "2 x 2 x 2",
         "' has an RGB value below 0 or infinite: a profile's device values run from 0 to the largest\n"},
        {"nan.ti3", Chart(nan), "2 x 2 x 2",
         "' has no usable Lab value at the grid point 100 0 100: a profile needs every point, with L*, a* and b* "
         "within -1000..1000\n"},
        {"far.ti3", Chart(far), "2 x 2 x 2",
         "' has no usable Lab value at the grid point 100 100 0: a profile needs every point, with L*, a* and b* "
         "within -1000..1000\n"},
    };
    WriteFile(File("p.icc"), "old");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(File(c.name), c.chart);
        const auto r = Run({"-m", c.name, "-o", "p.icc"});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Appears to be a " + c.grid + " grid.\n" + pre + c.name + c.err);
    }
    WriteFile(File("edge.ti3"), Chart(edge));
    EXPECT_EQ(Run({"-m", "edge.ti3", "-o", "edge.icc"}).status, 0);
    const auto unwritable = Run({"-m", "edge.ti3", "-o", "none/p.icc"});
    EXPECT_EQ(unwritable.status, 2);
    EXPECT_EQ(unwritable.err, "Appears to be a 2 x 2 x 2 grid.\nchartlab profile: cannot write 'none/p.icc'\n");
    const auto absent = Run({"-m", "absent.ti3", "-o", "p.icc"});
    EXPECT_EQ(absent.status, 2);
    EXPECT_EQ(absent.err, "chartlab profile: cannot open 'absent.ti3': No such file or directory\n");
    EXPECT_EQ(ReadFile(File("p.icc")), "old");
}

TEST_F(ChartlabProfile, WritesTheProfileWithItsTexts)
{
    WriteFile(File("chart17.ti3"), ReadFile(Data("chart17-srgb.ti3")));
    WriteFile(File("p.icc"), "old");
    const auto plain = Run({"-m", "chart17.ti3", "-o", "p.icc"});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out, "");
    EXPECT_EQ(plain.err, k_grid17);
    const auto named = Run({"-m", "chart17.ti3", "-o", "named.icc", "--description", "Monitor, 2015",
                            "--copyright", "\xC2\xA9 Someone", "--class", "display", "--clut", "9"});
    EXPECT_EQ(named.status, 0);
    EXPECT_EQ(named.err, k_grid17);

    const std::tuple<std::string, std::string, std::string, bool> expected[] = {
        {"p.icc", "chart17.ti3", "No copyright, use freely. Made with chartlab from measured chart data.", false},
        {"named.icc", "Monitor, 2015", "? Someone", true}};
    for (const auto& [file, description, copyright, display] : expected) {
        SCOPED_TRACE(file);
        const ProfilePtr profile(ICC_CPP_Profile::ReadFile(File(file).c_str()));
        ASSERT_NE(profile, nullptr);
        EXPECT_EQ(profile->header.deviceClass, ICCSignature(display ? "mntr" : "scnr"));
        for (const char* b2a : {"B2A0", "B2A1"}) {
            auto* table = dynamic_cast<ICC_CPP_lut16_Tag*>(profile->GetTag(ICCSignature({b2a[0], b2a[1], b2a[2], b2a[3], 0})));
            EXPECT_EQ(table != nullptr, display) << b2a;
            EXPECT_TRUE(!table || (table->GetData() && table->GetData()->rows.size() == 9 * 9 * 9)) << b2a;
        }
        auto* desc = dynamic_cast<ICC_CPP_textDescription_Tag*>(profile->GetTag(ICCSignature("desc")));
        auto* cprt = dynamic_cast<ICC_CPP_cprt_Tag*>(profile->GetTag(ICCSignature("cprt")));
        ASSERT_TRUE(desc && cprt);
        EXPECT_EQ(desc->description->ascii, description);
        EXPECT_EQ(cprt->GetText(), copyright);
        EXPECT_TRUE(profile->GetTag(ICCSignature("A2B0")) && profile->GetTag(ICCSignature("A2B1")));
    }
}

// profcheck looks every patch of the chart up through the profile (absolute colorimetric)
// and reports the CIE76 errors. On the noise-free 17^3 chart every patch is a grid point.
TEST_F(ChartlabProfile, ProfcheckFindsTheChartInItsProfile)
{
    if (std::system("command -v profcheck >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "profcheck (Debian package argyll) is not installed";
    WriteFile(File("chart17.ti3"), ReadFile(Data("chart17-srgb.ti3")));
    ASSERT_EQ(Run({"-m", "chart17.ti3", "-o", "p.icc"}).status, 0);
    const auto check = testutil::Run("/bin/sh", {"-c", "profcheck chart17.ti3 p.icc"}, m_dir.path());
    ASSERT_EQ(check.status, 0) << check.err;
    double max = -1, average = -1, rms = -1;
    ASSERT_EQ(std::sscanf(check.out.c_str(), "Profile check complete, errors: max. = %lf, avg. = %lf, RMS = %lf", &max,
                          &average, &rms),
              3)
        << check.out;
    EXPECT_LE(max, 0.1);
    EXPECT_LE(average, max);
}
