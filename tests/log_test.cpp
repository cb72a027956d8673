#include "log.h"
#include "testutil.h"

#include <gtest/gtest.h>

namespace {

// Each test runs in a fresh working directory, where the log writes "log.txt".
class LogTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::current_path(m_dir.path()); }
    void TearDown() override
    {
        CloseMainLog();
        g_quiet = false;
        std::filesystem::current_path(m_previous);
    }
    std::string LogFile() { return testutil::ReadFile(m_dir.file("log.txt")); }

    std::filesystem::path m_previous = std::filesystem::current_path();
    testutil::TempDir m_dir;
};

TEST_F(LogTest, CountsMessagesByTheirFirstCharacters)
{
    testutil::CaptureStdout capture;
    OpenMainLog();
    for (const char* m : {"Error:", "Error: x\n", "error: x\n", " Error: x\n", "Error x\n", "Erro",
                          "Warning: possible divide by zero during lerp operation!\n", "Warning x",
                          "MISMATCH: 1\n", "Mismatch: 1\n", "Info\nError: second line\n", ""})
        Log(m);
    EXPECT_EQ(2, GetNumErrors());
    EXPECT_EQ(1, GetNumWarnings());
    EXPECT_EQ(1, GetNumMismatches());
    FlushLog();
    EXPECT_EQ(capture.Text(), LogFile());
}

TEST_F(LogTest, WritesOnlyWhileOpenAndAppendsAcrossRuns)
{
    testutil::CaptureStdout capture;
    const int errorsBefore = GetNumErrors();
    Log("Error: before\n");
    EXPECT_EQ(errorsBefore, GetNumErrors());
    OpenMainLog();
    std::ostringstream s;
    s << "line " << 1 << "\n";
    Log(s);
    Log(s);
    LogLine();
    LogBlankLine();
    Log("Error: counted\n");
    CloseMainLog();
    Log("Error: after\n");
    const std::string expected = "line 1\nline 1\n" + std::string(70, '-') + "\n\nError: counted\nDone.\n";
    EXPECT_EQ(expected, capture.Text());
    // The totals outlive the close and are reset by the next open.
    EXPECT_EQ(1, GetNumErrors());
    g_quiet = true;
    OpenMainLog();
    EXPECT_EQ(0, GetNumErrors());
    Log("Warning: quiet\n");
    CloseMainLog();
    EXPECT_EQ(expected, capture.Text());
    EXPECT_EQ(expected + "Warning: quiet\nDone.\n", LogFile());
    EXPECT_EQ(1, GetNumWarnings());
}

TEST_F(LogTest, AnUnwritableLogStillEchoesAndCounts)
{
    std::filesystem::create_directory(m_dir.file("log.txt"));
    testutil::CaptureStdout capture;
    OpenMainLog();
    Log("Error: still counted\n");
    CloseMainLog();
    EXPECT_EQ("Error: still counted\nDone.\n", capture.Text());
    EXPECT_EQ(1, GetNumErrors());
}

}  // namespace
