#include "patchtables.h"
#include "testutil.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <signal.h>
#include <sys/resource.h>

namespace {

using testutil::TempDir;

struct ReadCase {
    const char* name;
    std::string text;
    int wantResult;
    std::vector<Color3> wantPatches;  // read for the RGB columns
};

std::vector<Color3> Read(const std::string& path, int* result, const char* a = "RGB_R",
                         const char* b = "RGB_G", const char* c = "RGB_B")
{
    std::vector<Color3> patches{Color3{{9, 9, 9}}};
    *result = ReadTripletFileString(path, &patches, a, b, c);
    return patches;
}

void ExpectPatches(const std::vector<Color3>& want, const std::vector<Color3>& got)
{
    ASSERT_EQ(want.size(), got.size());
    for (std::size_t i = 0; i < want.size(); ++i)
        for (int n = 0; n < 3; ++n)
            EXPECT_EQ(want[i].c[n], got[i].c[n]) << "patch " << i << " component " << n;
}

double F(double v)
{
    return static_cast<float>(v);
}

const std::string k_header = "CTI3\n\nBEGIN_DATA_FORMAT\nSAMPLE_ID\tNAME\tRGB_R\tRGB_G\tRGB_B\tLAB_L\tLAB_A\tLAB_B\n"
                             "END_DATA_FORMAT\nBEGIN_DATA\n";

TEST(PatchTableRead, ReadsEachLayoutAndItsEndings)
{
    const std::vector<ReadCase> cases = {
        {"triplets, extra numbers and text ignored", "1 2 3 4\n 4\t5 6 x\n7,8,9\n10 11 12\n", 1,
         {{{1, 2, 3}}, {{4, 5, 6}}}},
        {"triplets end at a blank line", "0 0 0\n\n1 1 1\n", 1, {{{0, 0, 0}}}},
        {"triplets read with strtod", "1e400 -inf 0x10\n", 1,
         {{{HUGE_VAL, -HUGE_VAL, 16}}}},
        {"patch layout", "PATCH_HEADER x\nfoo\nPATCH_DATA\n1 2 3\n4 5 6\nend\n7 8 9\n", 1,
         {{{1, 2, 3}}, {{4, 5, 6}}}},
        {"patch layout without data", "PATCH_HEADER\n1 2 3\n", 0, {}},
        {"patch layout with no patches", "PATCH_HEADER\nPATCH_DATA\n", 1, {}},
        {"columns, rounded to single precision, closed by END_DATA",
         k_header + "1\tA1\t0.1\t2\t3\t4\t5\t6\n2 B1 7 8 9 10 11 12\nEND_DATA\n3 C1 1 1 1 1 1 1\n", 1,
         {{{F(0.1), 2, 3}}, {{7, 8, 9}}}},
        {"a name in a value column reads 0", k_header + "1 A1 A1 2 3 4 5 6\n", 1, {{{0, 2, 3}}}},
        {"a row of three numbers ends the block", k_header + "1 2 3\n1 A 1 2 3 4 5 6\n", 1, {}},
        {"CR-LF endings", "CTI3\r\nBEGIN_DATA_FORMAT\r\nSAMPLE_ID NAME RGB_R RGB_G RGB_B\r\n"
                          "BEGIN_DATA\r\n1 A 4 5 6\r\n2 B 7 8 9 \r\n\r\n3 C 1 1 1\r\n", 1,
         {{{4, 5, 6}}, {{7, 8, 9}}}},
        {"SampleID header, first occurrence of a name kept",
         "x\nSampleID RGB_R RGB_G RGB_B RGB_R\nSAMPLE_ID RGB_B\nBEGIN_DATA\n1 2 3 4 5\n", 1,
         {{{2, 3, 4}}}},
        {"no BEGIN_DATA", k_header.substr(0, k_header.size() - 11), 0, {}},
        {"header on the first line is never examined",
         "SAMPLE_ID RGB_R RGB_G RGB_B\nBEGIN_DATA\n1 2 3 4\n", 0, {}},
        {"header not starting with SAMPLE_ID", "x\nRGB_R RGB_G RGB_B\nBEGIN_DATA\n1 2 3 4\n", 0, {}},
        {"names are case-sensitive", "x\nSAMPLE_ID rgb_r rgb_g rgb_b\nBEGIN_DATA\n1 2 3 4\n", 0, {}},
        {"a row too short for a requested column fails the read",
         k_header + "1 A 1 2 3 4 5 6\n2 B 1 2\n", 0, {}},
        {"empty file", "", 0, {}},
        {"a long line is read in 8190-character pieces",
         "1 2 3" + std::string(8185, ' ') + "4 5 6\n7 8 9\n", 1, {{{1, 2, 3}}, {{4, 5, 6}}, {{7, 8, 9}}}},
        {"a 5000-character header field is compared in full",
         "x\nSAMPLE_ID " + std::string(5000, 'R') + " RGB_R RGB_G RGB_B\nBEGIN_DATA\n1 0 2 3 4\n", 1,
         {{{2, 3, 4}}}},
    };
    TempDir dir;
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        testutil::WriteFile(dir.file("t"), c.text);
        int result = -1;
        const std::vector<Color3> got = Read(dir.file("t"), &result);
        EXPECT_EQ(c.wantResult, result);
        ExpectPatches(c.wantPatches, got);
    }
}

TEST(PatchTableRead, ColumnsAreChosenByName)
{
    TempDir dir;
    testutil::WriteFile(dir.file("t"), k_header + "1 A 1 2 3 40 50 60\n");
    int result = 0;
    ExpectPatches({{{40, 50, 60}}}, Read(dir.file("t"), &result, "LAB_L", "LAB_A", "LAB_B"));
    EXPECT_EQ(1, result);
    ExpectPatches({{{60, 1, 40}}}, Read(dir.file("t"), &result, "LAB_B", "RGB_R", "LAB_L"));
    ExpectPatches({}, Read(dir.file("t"), &result, "LAB_L", "LAB_A", "XYZ_X"));
    EXPECT_EQ(0, result);
    ExpectPatches({}, Read(dir.file("missing"), &result));
    EXPECT_EQ(0, result);
}

TEST(PatchTableWrite, WritesPercentLfLines)
{
    TempDir dir;
    const std::string path = dir.file("out");
    ASSERT_EQ(1, WriteTabDelimitedTriplets(path.c_str(), {{{50, -1.25, 3}}, {{-0.0, 1e-7, 0.1234567}}}));
    EXPECT_EQ("50.000000\t-1.250000\t3.000000\n-0.000000\t0.000000\t0.123457\n", testutil::ReadFile(path));
    ASSERT_EQ(1, WriteTabDelimitedTriplets(path.c_str(), {}));
    EXPECT_EQ("", testutil::ReadFile(path));
}

TEST(PatchTableWrite, FailureLeavesEarlierFileAndNoTemporary)
{
    TempDir dir;
    const std::string path = dir.file("out");
    testutil::WriteFile(path, "earlier\n");

    // The file size limit makes a write fail part way through.
    std::vector<Color3> many(1000, Color3{{1, 2, 3}});
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    sighandler_t oldHandler = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const int result = WriteTabDelimitedTriplets(path.c_str(), many);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(0, result);
    EXPECT_EQ("earlier\n", testutil::ReadFile(path));
    EXPECT_EQ(1, std::distance(std::filesystem::directory_iterator(dir.path()), {}));

    EXPECT_EQ(0, WriteTabDelimitedTriplets(dir.file("no/such/dir/out").c_str(), many));
    std::filesystem::create_directory(dir.file("isdir"));
    EXPECT_EQ(0, WriteTabDelimitedTriplets(dir.file("isdir").c_str(), many));
    EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator(dir.path()), {}));
}

}  // namespace
