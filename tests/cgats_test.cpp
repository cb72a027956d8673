#include "cgats.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testutil.h"

using namespace std::string_literals;
using Rows = std::vector<std::vector<double>>;

namespace {

const std::string k_header =
    "CTI3\nBEGIN_DATA_FORMAT\nSAMPLE_ID A B C\nEND_DATA_FORMAT\nBEGIN_DATA\n";

// Files written by other colour tools: the row count matches the header's NUMBER_OF_SETS.
void CheckRealFile(const std::string& path, const Rows& firstAndLast, const std::string& opening)
{
    SCOPED_TRACE(path);
    CGATS table;
    ASSERT_EQ(ReadCGATS(path.c_str(), &table, 0), 1);
    std::string sets;
    for (const std::string& line : table.headerLines)
        if (line.rfind("NUMBER_OF_SETS", 0) == 0)
            sets = line.substr(14);
    EXPECT_EQ(table.rows.size(), std::stoul(sets));
    for (const std::vector<double>& row : table.rows)
        ASSERT_EQ(row.size(), firstAndLast[0].size());
    EXPECT_EQ(Rows({table.rows.front(), table.rows.back()}), firstAndLast);
    EXPECT_EQ(table.headerLines.back(), opening);
}

}  // namespace

TEST(CgatsRead, ReadsMeasurementFilesOfOtherTools)
{
    CheckRealFile(TEST_DATA_DIR "/chart17-srgb.ti3",
                  {{31.25, 50, 62.5, 51.2872, -8.45387, -35.415},
                   {56.25, 18.75, 0, 33.9308, 37.4694, 41.9982}}, "BEGIN_DATA\n");
    CheckRealFile(TEST_DATA_DIR "/chart5202-clayrgb.ti3",
                  {{31.25, 68.75, 56.25, 63.2993, -56.4843, -8.03683},
                   {87.5, 75, 68.75, 81.1783, 10.6051, -0.866253}}, "BEGIN_DATA\n");
    // Characterisation data: CRLF line ends, padded columns, trailing blanks.
    const std::string icc = "/usr/share/color/icc/";
    if (!testutil::FileExists(icc + "FOGRA39L.ti3") || !testutil::FileExists(icc + "TR002.ti3"))
        GTEST_SKIP() << "icc-profiles-free is not installed";
    CheckRealFile(icc + "FOGRA39L.ti3",
                  {{0, 0, 0, 0, 84.48, 87.62, 74.57, 95.00, 0.00, -2.00},
                   {100, 100, 0, 10, 5.05, 3.70, 13.57, 22.64, 20.48, -42.96}}, "BEGIN_DATA\r\n");
    CheckRealFile(icc + "TR002.ti3",
                  {{100, 0, 0, 0, 18.71, 24.5, 35.94, 56.58, -23.4, -26.45},
                   {100, 100, 100, 80, 6.76, 7.03, 5.75, 31.88, -0.2, 0.26}}, "BEGIN_DATA\r\n");
}

TEST(CgatsRead, KeepsHeaderLinesAndSampleNames)
{
    testutil::TempDir dir;
    const std::string path = dir.file("names.ti3");
    testutil::WriteFile(
        path, "A\0B\r\n"s + k_header + "1 A1 0.5 1e2 -3\r\n2 B1 4 5x 6\nEND_DATA\n3 C1 1 2\n");
    CGATS table;
    table.rows = {{9}};
    ASSERT_EQ(ReadCGATS(path.c_str(), &table, 1), 1);
    EXPECT_EQ(table.headerLines,
              (std::vector<std::string>{"A\0B\r\n"s, "CTI3\n", "BEGIN_DATA_FORMAT\n",
                                        "SAMPLE_ID A B C\n", "END_DATA_FORMAT\n", "BEGIN_DATA\n"}));
    EXPECT_EQ(table.sampleNames, (std::vector<std::string>{"A1", "B1"}));
    EXPECT_EQ(table.rows, (Rows{{0.5, 100, -3}, {4, 5, 6}}));

    EXPECT_EQ(ReadCGATS(nullptr, &table, 1), 0);
    EXPECT_EQ(table.rows.size(), 2u);
    EXPECT_EQ(ReadCGATS(dir.file("missing").c_str(), &table, 1), 0);
    EXPECT_TRUE(table.rows.empty() && table.headerLines.empty() && table.sampleNames.empty());
}

// Each table has one defect; none may crash, hang or read out of bounds.
TEST(CgatsRead, HandlesMalformedTables)
{
    std::string longLine = "1";  // read in pieces; the second piece has one value fewer
    while (longLine.size() < 100000)
        longLine += " 2";
    const struct {
        const char* name;
        std::string text;
        int readNames, result;
        size_t rows, names;
    } cases[] = {
        {"blank line ends the block", k_header + "1 1 2 3\n \t\n2 x\n", 0, 1, 1, 0},
        {"name in a value position", k_header + "1 1 2 3\n2 A1 2 3\n", 0, 0, 1, 0},
        {"short second row", k_header + "1 1 2 3\n2 1 2\n", 0, 0, 2, 0},
        {"value fails after a name", k_header + "1 n 1\n2 m x\n", 1, 0, 1, 2},
        {"empty data block", k_header + "END_DATA\n", 0, 1, 0, 0},
        {"opening line without newline", "CTI3\nBEGIN_DATA", 0, 0, 0, 0},
        {"no data block", "CTI3\nBEGIN_DATA_FORMAT\n1 2 3\n", 0, 0, 0, 0},
        {"NUL ends a row", k_header + "1 1 2\0 junk\n2 3 4\n"s, 0, 1, 2, 0},
        {"name on the last line", k_header + "1 n 1\n2 m", 1, 1, 1, 1},
        {"empty rows after names", k_header + "1 n\n2 m \n3 o 1\n", 1, 0, 3, 3},
        {"100 kB line", k_header + longLine + "\n", 0, 0, 2, 0},
    };
    testutil::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testutil::WriteFile(dir.file("t.ti3"), c.text);
        CGATS table;
        EXPECT_EQ(ReadCGATS(dir.file("t.ti3").c_str(), &table, c.readNames), c.result);
        EXPECT_EQ(table.rows.size(), c.rows);
        EXPECT_EQ(table.sampleNames.size(), c.names);
    }
}
