// End-to-end runs of the built rgb2lab in a temporary directory: exit status, standard
// output, log.txt and out, byte for byte. The expected out files of the two bundled charts
// were produced by an independent model of the conversion (tests/data/make_golden.py).
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

using testutil::ReadFile;
using testutil::WriteFile;

const std::string k_usage = "usage: rgb2lab [-h] -m string -t string \n"
                            "  -h/--help          :  prints this help message\n"
                            "  -m/--measurements  :  LAB measurements file (required)\n"
                            "  -t/--rgbTarget     :  device RGB target file (required)\n";
const std::string k_stages = "Reading RGB reference values...\n"
                             "Reading Lab measurement values...\n"
                             "Reading RGB target values...\n"
                             "Computing derived LAB values...\n";
const std::string k_grid17 = "Appears to be a 17 x 17 x 17 grid.\n";
const std::string k_writing = "Writing derived LAB values...\n";
const std::string k_success = "Num errors:   0\nNum warnings  0\nDone.\n";
const std::string k_failure = "Num errors:   1\nNum warnings  0\nDone.\n";

std::string Data(const std::string& name) { return std::string(TEST_DATA_DIR) + "/" + name; }

// A 2 x 2 x 2 chart in the plain triplet layout: its Lab equals its RGB.
const std::string k_tripletChart = "0 0 0\n0 0 100\n0 100 0\n0 100 100\n100 0 0\n100 0 100\n100 100 0\n100 100 100\n";
const std::string k_grid2 = "Appears to be a 2 x 2 x 2 grid.\n";

// The 5202-patch chart with one row replaced.
std::string Chart5202With(const std::string& row, const std::string& replacement)
{
    std::string text = ReadFile(Data("chart5202-clayrgb.ti3"));
    const std::size_t at = text.find(row);
    EXPECT_NE(std::string::npos, at);
    return text.replace(at, row.size(), replacement);
}

class Rgb2LabRun : public ::testing::Test {
protected:
    testutil::RunResult Run(const std::vector<std::string>& args) { return testutil::RunTool(args, m_dir.path()); }
    std::string File(const std::string& name) { return m_dir.file(name); }
    std::string Read(const std::string& name) { return ReadFile(File(name)); }
    void Write(const std::string& name, const std::string& text) { WriteFile(File(name), text); }

    testutil::TempDir m_dir;
};

TEST_F(Rgb2LabRun, ConvertsTheBundledCharts)
{
    Write("chart17.ti3", ReadFile(Data("chart17-srgb.ti3")));
    Write("targets.txt", ReadFile(Data("targets1000.txt")));
    auto r = Run({"-m", "chart17.ti3", "-t", "targets.txt"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(k_stages + k_grid17 + k_writing + k_success, r.out);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(k_stages + k_writing + "Done.\n", Read("log.txt"));
    EXPECT_EQ(ReadFile(Data("chart17-srgb.out")), Read("out"));

    // The output goes beside the measurement table; the log keeps appending in the
    // working directory.
    std::filesystem::create_directory(File("sub"));
    Write("sub/chart5202.ti3", ReadFile(Data("chart5202-clayrgb.ti3")));
    r = Run({"--rgbTarget", "targets.txt", "--measurements", File("sub/chart5202.ti3")});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(ReadFile(Data("chart5202-clayrgb.stdout")), r.out);
    EXPECT_EQ(ReadFile(Data("chart5202-clayrgb.out")), Read("sub/out"));
    EXPECT_EQ(ReadFile(Data("chart17-srgb.out")), Read("out"));
    const std::string oneRun = k_stages + k_writing + "Done.\n";
    EXPECT_EQ(oneRun + oneRun, Read("log.txt"));
}

// Tab-separated and with CR-LF endings too, as spreadsheet exports write them.
TEST_F(Rgb2LabRun, DecimalCommasGiveTheSameOutAsPoints)
{
    const std::string points = ReadFile(Data("chart17-srgb.ti3"));
    const std::size_t data = points.find("BEGIN_DATA\n");
    std::string commas;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const char c = points[i];
        if (c == '\n')
            commas += "\r\n";
        else if (i > data && c == '.')
            commas += ',';
        else if (i > data && c == ' ')
            commas += '\t';
        else
            commas += c;
    }
    Write("chart.ti3", commas);
    Write("targets.txt", ReadFile(Data("targets1000.txt")));
    const auto r = Run({"-m", "chart.ti3", "-t", "targets.txt"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(k_stages + k_grid17 + k_writing + k_success, r.out);
    EXPECT_EQ(ReadFile(Data("chart17-srgb.out")), Read("out"));
}

TEST_F(Rgb2LabRun, RefusedCommandLinesLogNothing)
{
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const std::vector<Case> cases = {
        {{}, "Option -m/--measurements is required.\nOption -t/--rgbTarget is required.\n" + k_usage},
        {{"-t", "x", "-m"}, "Expected string argument for switch -m\n"},
        {{"-m", "a", "--help", "--bogus"}, k_usage},
        {{"--measurements=a", "-t", "b"}, "Invalid --measurements=a: no such option\n\n" + k_usage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        const auto r = Run(c.args);
        EXPECT_EQ(1, r.status);
        EXPECT_EQ(c.out, r.out);
        EXPECT_FALSE(testutil::FileExists(File("log.txt")));
    }
}

// The last case cannot replace sub/out, a directory, and leaves no temporary file beside it.
TEST_F(Rgb2LabRun, AFailedStageLogsOneErrorAndExitsTwo)
{
    Write("chart.txt", k_tripletChart);
    std::filesystem::create_directories(File("sub/out"));
    Write("sub/chart.txt", k_tripletChart);
    Write("targets.txt", "50 50 50\n");
    Write("outside.txt", "50 50 50\n100 100 100.5\n");
    Write("nogrid.txt", "0 0 0\n1 1 1\n2 2 1\n");
    Write("nodata.txt", "CGATS\nSAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A\nBEGIN_DATA\n1 2 3 4 5 6\n");
    struct Case {
        std::string measurements, targets, stdoutTail;
    };
    const std::string interpolate = "Error: Could not interpolate desired LAB values\n";
    const std::vector<Case> cases = {
        {"missing.txt", "targets.txt",
         "Reading RGB reference values...\nError: Could not read RGB reference values from 'missing.txt'.\n"},
        {"nodata.txt", "targets.txt",
         "Reading RGB reference values...\nReading Lab measurement values...\n"
         "Error: Could not read measured LAB values from 'nodata.txt'.\n"},
        {"chart.txt", "missing.txt",
         "Reading RGB reference values...\nReading Lab measurement values...\nReading RGB target values...\n"
         "Error: Could not read target RGB values from 'missing.txt'.\n"},
        {"forged\nError: x\x1b[0m\t\r\x7f\x01\\n \u00e9.txt", "targets.txt",
         "Reading RGB reference values...\nError: Could not read RGB reference values from "
         "'forged\\nError: x\\x1b[0m\\t\\r\\x7f\\x01\\n \u00e9.txt'.\n"},
        {"/dev/zero", "targets.txt",
         "Reading RGB reference values...\nError: Could not read RGB reference values from '/dev/zero'.\n"},
        {"chart.txt", "/dev/zero",
         "Reading RGB reference values...\nReading Lab measurement values...\nReading RGB target values...\n"
         "Error: Could not read target RGB values from '/dev/zero'.\n"},
        {"chart.txt", "outside.txt", k_stages + k_grid2 + interpolate},
        {"nogrid.txt", "targets.txt", k_stages + interpolate},
        {"sub/chart.txt", "targets.txt",
         k_stages + k_grid2 + k_writing + "Error: Failed to write derived LAB values!\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.measurements + " " + c.targets);
        std::filesystem::remove(File("log.txt"));
        Write("out", "earlier\n");
        const auto r = Run({"-m", c.measurements, "-t", c.targets});
        EXPECT_EQ(2, r.status);
        EXPECT_EQ(c.stdoutTail + k_failure, r.out);
        // The grid line goes to standard output only.
        std::string logged = c.stdoutTail;
        if (const std::size_t grid = logged.find("Appears"); grid != std::string::npos)
            logged.erase(grid, logged.find('\n', grid) + 1 - grid);
        EXPECT_EQ(logged + "Done.\n", Read("log.txt"));
        EXPECT_EQ("earlier\n", Read("out"));
    }
    EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator(File("sub")), {}));
}

// Given by name, through a hard link or through a symbolic link, an input that is also the
// output file is left as it was and the write stage fails.
TEST_F(Rgb2LabRun, NeverOverwritesAnInput)
{
    const std::string failed = k_stages + k_grid2 + k_writing + "Error: Failed to write derived LAB values!\n";
    const std::vector<std::vector<std::string>> cases = {
        {"-m", "chart.txt", "-t", "out"},
        {"-m", "out", "-t", "targets.txt"},
        {"-m", "chart.txt", "-t", "hardlink"},
        {"-m", "symlink", "-t", "targets.txt"},
    };
    for (const std::vector<std::string>& args : cases) {
        SCOPED_TRACE(args[1] + " " + args[3]);
        std::filesystem::remove(File("out"));
        std::filesystem::remove(File("hardlink"));
        std::filesystem::remove(File("symlink"));
        Write("chart.txt", k_tripletChart);
        Write("targets.txt", "50 50 50\n");
        if (args[1] == "out" || args[1] == "symlink")
            Write("out", k_tripletChart);
        else
            Write("out", "50 50 50\n");
        std::filesystem::create_hard_link(File("out"), File("hardlink"));
        std::filesystem::create_symlink("out", File("symlink"));
        const auto r = Run(args);
        EXPECT_EQ(2, r.status);
        EXPECT_EQ(failed + k_failure, r.out);
        EXPECT_EQ(args[1] == "out" || args[1] == "symlink" ? k_tripletChart : "50 50 50\n", Read("out"));
    }
}

// Standard output, the exit status and out stay as they are; the log's failure is said once.
TEST_F(Rgb2LabRun, SaysOnceOnStandardErrorWhenLogTxtCannotBeWritten)
{
    Write("chart.txt", k_tripletChart);
    Write("targets.txt", "50 25 100\n");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"directory", "rgb2lab: cannot write log.txt: Is a directory\n"},
        {"/dev/full", "rgb2lab: cannot write log.txt: No space left on device\n"},
    };
    for (const auto& [logTxt, err] : cases) {
        SCOPED_TRACE(logTxt);
        std::filesystem::remove_all(File("log.txt"));
        std::filesystem::remove(File("out"));
        if (logTxt == "directory")
            std::filesystem::create_directory(File("log.txt"));
        else
            std::filesystem::create_symlink(logTxt, File("log.txt"));
        const auto r = Run({"-m", "chart.txt", "-t", "targets.txt"});
        EXPECT_EQ(0, r.status);
        EXPECT_EQ(k_stages + k_grid2 + k_writing + k_success, r.out);
        EXPECT_EQ(err, r.err);
        EXPECT_EQ("50.000000\t25.000000\t100.000000\n", Read("out"));
    }
}

// The limit (512 bytes) is below the size of out: the write fails, and the run says so.
TEST_F(Rgb2LabRun, AFileSizeLimitFailsTheWriteStage)
{
    Write("chart17.ti3", ReadFile(Data("chart17-srgb.ti3")));
    Write("targets.txt", ReadFile(Data("targets1000.txt")));
    Write("out", "earlier\n");
    const auto r = testutil::Run(
        "/bin/sh", {"-c", "ulimit -f 1 && exec \"$0\" -m chart17.ti3 -t targets.txt", RGB2LAB_EXE}, m_dir.path());
    EXPECT_EQ(2, r.status);
    EXPECT_EQ(k_stages + k_grid17 + k_writing + "Error: Failed to write derived LAB values!\n" + k_failure, r.out);
    EXPECT_EQ("earlier\n", Read("out"));
    EXPECT_EQ(4, std::distance(std::filesystem::directory_iterator(m_dir.path()), {}));  // log.txt beside the three
}

TEST_F(Rgb2LabRun, ReadsTargetsFromAPipe)
{
    Write("chart.txt", k_tripletChart);
    const auto r = testutil::Run("/bin/sh", {"-c", "printf '50 25 100\\n' | \"$0\" -m chart.txt -t /dev/stdin", RGB2LAB_EXE},
                                 m_dir.path());
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(k_stages + k_grid2 + k_writing + k_success, r.out);
    EXPECT_EQ("50.000000\t25.000000\t100.000000\n", Read("out"));
}

TEST_F(Rgb2LabRun, A5202ChartWhosePreprocessingGivesUpLeavesTheDiagonalUnmeasured)
{
    struct Case {
        std::string row, replacement, warning;
    };
    // An extra gray moved onto a grid point; a gray measured twice moved to a new level.
    const std::vector<Case> cases = {
        {"4595 4.51389 4.51389 4.51389 ", "4595 0 0 6.25 ",
         "Warning: Preprocess5202Target () failed because an unexpected number (305) of "
         "gray patches were found. We were expecting 306 gray patches instead.\n"},
        {"1041 6.25 6.25 6.25 ", "1041 4.6 4.6 4.6 ",
         "Warning: Preprocess5202Target () failed because an unexpected number (290) "
         "of unique gray patches were found. We were expecting 289 unique gray patches instead.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.replacement);
        Write("chart.ti3", Chart5202With(c.row, c.replacement));
        Write("targets.txt", "10 90 50\n50 50 50\n");
        const auto r = Run({"-m", "chart.ti3", "-t", "targets.txt"});
        EXPECT_EQ(2, r.status);
        EXPECT_EQ(k_stages + c.warning + k_grid17 + "Error: Could not interpolate desired LAB values\n" + k_failure,
                  r.out);
    }
}

}  // namespace
