// The main log, in a fresh working directory where it writes "log.txt". What rgb2lab logs,
// the appending across runs and a log.txt that cannot be written are seen end to end
// (rgb2lab_test).
#include "log.h"
#include "testutil.h"

#include <gtest/gtest.h>

// Two openings, the second quiet: messages are written to log.txt and echoed (unless quiet)
// only while the log is open, and counted by their very first characters, one class at most.
// The counts start again at each opening and outlive the close.
TEST(Log, CountsEchoesAndWritesMessagesWhileOpen)
{
    testutil::TempDir dir;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    testutil::CaptureStdout capture;
    std::string logged, echoed;
    for (const bool quiet : {false, true}) {
        g_quiet = quiet;
        Log("Error: before\n");
        OpenMainLog();
        std::ostringstream stream("line\n", std::ios::ate);
        Log(stream);
        LogLine();
        LogBlankLine();
        std::string run = "line\n" + std::string(70, '-') + "\n\n";
        for (const char* m : {"Error:", "error: x\n", " Error: x\n", "Erro", "Warning: x", "Warning x", "MISMATCH: 1\n",
                              "Mismatch: 1\n", "Info\nError: second line\n", ""}) {
            Log(m);
            run += m;
        }
        CloseMainLog();
        Log("Error: after\n");
        logged += run + "Done.\n";
        echoed += quiet ? "" : run + "Done.\n";
        EXPECT_EQ(std::tuple(1, 1, 1), std::tuple(GetNumErrors(), GetNumWarnings(), GetNumMismatches()));
    }
    g_quiet = false;
    EXPECT_EQ(std::tuple(echoed, logged), std::tuple(capture.Text(), testutil::ReadFile("log.txt")));
    std::filesystem::current_path(previous);
}
