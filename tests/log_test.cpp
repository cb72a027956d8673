// The main log, each test in a fresh working directory where it writes "log.txt".
#include "log.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::current_path(m_dir.path()); }
    void TearDown() override { CloseMainLog(); g_quiet = false; std::filesystem::current_path(m_previous); }

    std::filesystem::path m_previous = std::filesystem::current_path();
    testutil::TempDir m_dir;
    testutil::CaptureStdout m_stdout;
};

// A log file that cannot be opened (a directory is in the way) changes neither.
TEST_F(LogTest, CountsAndEchoesMessagesByTheirFirstCharactersEvenWithoutAFile)
{
    std::filesystem::create_directory(m_dir.file("log.txt"));
    OpenMainLog();
    std::string echoed;
    for (const char* m : {"Error:", "Error: x\n", "error: x\n", " Error: x\n", "Erro", "Warning: x",
                          "Warning x", "MISMATCH: 1\n", "Mismatch: 1\n", "Info\nError: second line\n", ""}) {
        Log(m);
        echoed += m;
    }
    EXPECT_EQ(std::tuple(2, 1, 1, echoed), std::tuple(GetNumErrors(), GetNumWarnings(), GetNumMismatches(), m_stdout.Text()));
}

TEST_F(LogTest, WritesOnlyWhileOpenAndAppendsAcrossRuns)
{
    Log("Error: before\n");
    OpenMainLog();
    std::ostringstream s("line 1\n", std::ios::ate);
    Log(s);
    Log(s);
    LogLine();
    LogBlankLine();
    Log("Error: counted\n");
    CloseMainLog();
    Log("Error: after\n");
    const std::string expected = "line 1\nline 1\n" + std::string(70, '-') + "\n\nError: counted\nDone.\n";
    EXPECT_EQ(std::tuple(expected, 1), std::tuple(m_stdout.Text(), GetNumErrors()));  // the totals outlive the close
    g_quiet = true;
    OpenMainLog();
    EXPECT_EQ(0, GetNumErrors());
    Log("Warning: quiet\n");
    CloseMainLog();
    EXPECT_EQ(std::tuple(expected, expected + "Warning: quiet\nDone.\n"), std::tuple(m_stdout.Text(), testutil::ReadFile("log.txt")));
}

}  // namespace
