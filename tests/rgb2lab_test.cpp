// End-to-end runs of the built rgb2lab in a temporary directory: exit status, standard
// output, log.txt and out, byte for byte. The expected out files of the two bundled charts
// were produced by an independent model of the conversion (tests/data/make_golden.py).
#include "log.h"
#include "testutil.h"

#include <array>
#include <gtest/gtest.h>
#include <regex>

const std::string k_usage = "usage: rgb2lab [-h] -m string -t string \n"
                            "  -h/--help          :  prints this help message\n"
                            "  -m/--measurements  :  LAB measurements file (required)\n"
                            "  -t/--rgbTarget     :  device RGB target file (required)\n";
const std::string k_stages = "Reading RGB reference values...\nReading Lab measurement values...\n"
                             "Reading RGB target values...\nComputing derived LAB values...\n";
const std::string k_grid17 = "Appears to be a 17 x 17 x 17 grid.\n";
const std::string k_writing = "Writing derived LAB values...\n";
const std::string k_success = "Num errors:   0\nNum warnings  0\nDone.\n";
const std::string k_writeFailed =
    k_stages + "Appears to be a 2 x 2 x 2 grid.\n" + k_writing + "Error: Failed to write derived LAB values!\n";
const std::string k_notInterpolated = "Error: Could not interpolate desired LAB values\n";

// A 2 x 2 x 2 chart in the plain triplet layout: its Lab equals its RGB.
const std::string k_tripletChart = "0 0 0\n0 0 100\n0 100 0\n0 100 100\n100 0 0\n100 0 100\n100 100 0\n100 100 100\n";

static std::string Data(const std::string& name) { return testutil::ReadFile(std::string(TEST_DATA_DIR) + "/" + name); }

// n patches on the grey diagonal, giving n values per axis.
static std::string Diagonal(int n)
{
    std::string text;
    for (int i = 0; i < n; ++i)
        text += std::to_string(i) + " " + std::to_string(i) + " " + std::to_string(i) + "\n";
    return text;
}

class Rgb2LabRun : public ::testing::Test {
protected:
    testutil::RunResult Run(const std::vector<std::string>& args) { return testutil::RunTool(args, m_dir.path()); }
    std::string File(const std::string& name) { return m_dir.file(name); }
    std::string Read(const std::string& name) { return testutil::ReadFile(File(name)); }
    void Write(const std::string& name, const std::string& text) { testutil::WriteFile(File(name), text); }

    testutil::TempDir m_dir;
};

// The 17-cube chart as a spreadsheet exports it (decimal commas, tabs, CR-LF endings) gives
// the same out as written with points. The output goes beside the measurement table; the log
// keeps appending in the working directory.
TEST_F(Rgb2LabRun, ConvertsTheBundledCharts)
{
    const std::string points = Data("chart17-srgb.ti3");
    const std::size_t data = points.find("BEGIN_DATA\n");
    const std::string commas = std::regex_replace(points.substr(data), std::regex("\\."), ",");
    Write("chart17.ti3", std::regex_replace(points.substr(0, data) + std::regex_replace(commas, std::regex(" "), "\t"),
                                            std::regex("\n"), "\r\n"));
    Write("targets.txt", Data("targets1000.txt"));
    auto r = Run({"-m", "chart17.ti3", "-t", "targets.txt"});
    EXPECT_EQ(std::tuple(0, k_stages + k_grid17 + k_writing + k_success, ""), std::tuple(r.status, r.out, r.err));

    std::filesystem::create_directory(File("sub"));
    Write("sub/chart5202.ti3", Data("chart5202-clayrgb.ti3"));
    r = Run({"--rgbTarget", "targets.txt", "--measurements", File("sub/chart5202.ti3")});
    EXPECT_EQ(std::tuple(0, Data("chart5202-clayrgb.stdout")), std::tuple(r.status, r.out));
    const std::string logged = k_stages + k_writing + "Done.\n";
    EXPECT_EQ(std::tuple(Data("chart5202-clayrgb.out"), Data("chart17-srgb.out"), logged + logged),
              std::tuple(Read("sub/out"), Read("out"), Read("log.txt")));
}

TEST_F(Rgb2LabRun, RefusedCommandLinesLogNothing)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "Option -m/--measurements is required.\nOption -t/--rgbTarget is required.\n" + k_usage},
        {{"-t", "x", "-m"}, "Expected string argument for switch -m\n"},
        {{"-m", "a", "--help", "--bogus"}, k_usage},
        {{"--measurements=a", "-t", "b"}, "Invalid --measurements=a: no such option\n\n" + k_usage},
    };
    for (const auto& [args, out] : cases) {
        const auto r = Run(args);
        EXPECT_EQ(std::tuple(1, out, false), std::tuple(r.status, r.out, testutil::FileExists(File("log.txt"))));
    }
}

// Each run fails one stage: one error, status 2, and out (or an input that is out, by a hard
// or symbolic link) left as it was. The last case cannot replace sub/out, a directory, and
// leaves no temporary file beside it. Grid and preprocessing lines go to standard output only.
TEST_F(Rgb2LabRun, AFailedStageLogsOneErrorAndExitsTwo)
{
    std::filesystem::create_directories(File("sub/out"));
    for (const char* name : {"chart.txt", "out", "sub/chart.txt"})
        Write(name, k_tripletChart);
    Write("nodata.txt", "CGATS\nSAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A\nBEGIN_DATA\n1 2 3 4 5 6\n");
    Write("big.txt", Diagonal(257));
    // The 5202-patch chart with an extra gray moved onto a grid point, and with a gray
    // measured twice moved to a new level.
    const std::string chart5202 = Data("chart5202-clayrgb.ti3");
    Write("grays.ti3",
          std::regex_replace(chart5202, std::regex("\n4595 4.51389 4.51389 4.51389 "), "\n4595 0 0 6.25 "));
    Write("levels.ti3", std::regex_replace(chart5202, std::regex("\n1041 6.25 6.25 6.25 "), "\n1041 4.6 4.6 4.6 "));
    std::filesystem::create_hard_link(File("out"), File("hardlink"));
    std::filesystem::create_symlink("out", File("symlink"));
    const std::string warning = "Warning: Preprocess5202Target () failed because an unexpected number ";
    const std::vector<std::array<std::string, 3>> cases = {
        {"forged\nError: x\x1b[0m\t\r\x7f\x01\\n \u00e9.txt", "chart.txt",
         "Reading RGB reference values...\nError: Could not read RGB reference values from "
         "'forged\\nError: x\\x1b[0m\\t\\r\\x7f\\x01\\n \u00e9.txt'.\n"},
        {"nodata.txt", "chart.txt",
         "Reading RGB reference values...\nReading Lab measurement values...\n"
         "Error: Could not read measured LAB values from 'nodata.txt'.\n"},
        {"chart.txt", "missing.txt",
         "Reading RGB reference values...\nReading Lab measurement values...\nReading RGB target values...\n"
         "Error: Could not read target RGB values from 'missing.txt'.\n"},
        {"big.txt", "chart.txt", k_stages + "Appears to be a 257 x 257 x 257 grid.\n" + k_notInterpolated},
        {"grays.ti3", "chart.txt", k_stages + warning + "(305) of gray patches were found. We were expecting 306 gray "
                                   "patches instead.\n" + k_grid17 + k_notInterpolated},
        {"levels.ti3", "chart.txt", k_stages + warning + "(290) of unique gray patches were found. We were expecting "
                                    "289 unique gray patches instead.\n" + k_grid17 + k_notInterpolated},
        {"chart.txt", "hardlink", k_writeFailed},
        {"symlink", "chart.txt", k_writeFailed},
        {"sub/chart.txt", "chart.txt", k_writeFailed},
    };
    for (const auto& [measurements, targets, out] : cases) {
        SCOPED_TRACE(measurements + " " + targets);
        std::filesystem::remove(File("log.txt"));
        const auto r = Run({"-m", measurements, "-t", targets});
        EXPECT_EQ(std::tuple(2, out + "Num errors:   1\nNum warnings  0\nDone.\n"), std::tuple(r.status, r.out));
        const std::string logged = std::regex_replace(out, std::regex("(Appears|Warning)[^\n]*\n"), "") + "Done.\n";
        EXPECT_EQ(std::tuple(logged, k_tripletChart), std::tuple(Read("log.txt"), Read("out")));
    }
    EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator(File("sub")), {}));
}

// A successful run on the largest grid (256 values per axis, one cell measured), the targets
// read from a pipe, whatever stands in the way of log.txt: standard output, the exit status
// and out are as ever, and the log's failure is said once on standard error.
TEST_F(Rgb2LabRun, Accepts256ValuesPerAxisAndRunsWithoutLogTxt)
{
    Write("chart.txt", Diagonal(256) + "0 0 1\n0 1 0\n0 1 1\n1 0 0\n1 0 1\n1 1 0\n");
    std::filesystem::create_directories(File("log.txt/full"));
    std::filesystem::create_symlink("/dev/full", File("log.txt/full/log.txt"));
    for (const auto& [cwd, err] : {std::pair<std::string, std::string>{"", "Is a directory"},
                                   {"log.txt/full", "No space left on device"}}) {
        std::filesystem::remove(File("out"));
        const std::string pipe = "printf '0.5 0.25 1\\n' | \"$0\" -m \"$1\" -t /dev/stdin";
        const auto r = testutil::Run("/bin/sh", {"-c", pipe, RGB2LAB_EXE, File("chart.txt")}, File(cwd));
        EXPECT_EQ(std::tuple(0, k_stages + "Appears to be a 256 x 256 x 256 grid.\n" + k_writing + k_success,
                             "rgb2lab: cannot write log.txt: " + err + "\n"),
                  std::tuple(r.status, r.out, r.err));
        EXPECT_EQ("0.500000\t0.250000\t1.000000\n", Read("out"));
    }
}

// The main log in-process: what rgb2lab logs and echoes, the appending across runs and a
// log.txt that cannot be written are seen end to end above.
// Two quiet openings: messages are written to log.txt only while the log is open (the
// second opening's first message comes after the first close), and counted by their very
// first characters, one class at most. The counts start again at each opening and outlive
// the close.
TEST(Log, CountsAndWritesMessagesWhileOpenQuietly)
{
    testutil::TempDir dir;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    testutil::CaptureStdout capture;
    g_quiet = true;
    std::string logged;
    for (int opening = 0; opening < 2; ++opening) {
        Log("Error: before\n");
        OpenMainLog();
        std::ostringstream stream("line\n", std::ios::ate);
        Log(stream);
        LogLine();
        LogBlankLine();
        logged += "line\n" + std::string(70, '-') + "\n\n";
        for (const char* m : {"Error:", "error: x\n", " Error: x\n", "Erro", "Warning: x", "Warning x",
                              "MISMATCH: 1\n", "Mismatch: 1\n", "Info\nError: second line\n", ""}) {
            Log(m);
            logged += m;
        }
        CloseMainLog();
        logged += "Done.\n";
        EXPECT_EQ(std::tuple(1, 1, 1), std::tuple(GetNumErrors(), GetNumWarnings(), GetNumMismatches()));
    }
    g_quiet = false;
    EXPECT_EQ(std::tuple("", logged), std::tuple(capture.Text(), testutil::ReadFile("log.txt")));
    std::filesystem::current_path(previous);
}
