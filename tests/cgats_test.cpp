#include "cgats.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testutil.h"

using namespace std::string_literals;

namespace {

// The count of the NUMBER_OF_SETS keyword line, or -1 when the header has none.
long NumberOfSets(const CGATS& table)
{
    for (const std::string& line : table.headerLines)
        if (line.rfind("NUMBER_OF_SETS", 0) == 0)
            return std::stol(line.substr(14));
    return -1;
}

// Reads a measurement file another tool wrote and checks its row count and two rows.
void CheckRealFile(const std::string& path, size_t fields, const std::vector<double>& first,
                   const std::vector<double>& last, const std::string& openingLine)
{
    SCOPED_TRACE(path);
    CGATS table;
    ASSERT_EQ(ReadCGATS(path.c_str(), &table, 0), 1);
    EXPECT_EQ(table.headerLines.back(), openingLine);
    ASSERT_EQ(static_cast<long>(table.rows.size()), NumberOfSets(table));
    for (const std::vector<double>& row : table.rows)
        ASSERT_EQ(row.size(), fields);
    EXPECT_EQ(table.rows.front(), first);
    EXPECT_EQ(table.rows.back(), last);
    EXPECT_TRUE(table.sampleNames.empty());
}

std::string WriteTemp(const testutil::TempDir& dir, const std::string& text)
{
    const std::string path = dir.file("table.ti3");
    testutil::WriteFile(path, text);
    return path;
}

const std::string k_header =
    "CTI3\nNUMBER_OF_FIELDS 4\nBEGIN_DATA_FORMAT\nSAMPLE_ID A B C\nEND_DATA_FORMAT\nBEGIN_DATA\n";

}  // namespace

TEST(CgatsRead, ReadsMeasurementFilesOfAnotherTool)
{
    CheckRealFile(TEST_DATA_DIR "/chart17-srgb.ti3", 6, {31.25, 50, 62.5, 51.2872, -8.45387, -35.415},
                  {56.25, 18.75, 0, 33.9308, 37.4694, 41.9982}, "BEGIN_DATA\n");
    CheckRealFile(TEST_DATA_DIR "/chart5202-clayrgb.ti3", 6,
                  {31.25, 68.75, 56.25, 63.2993, -56.4843, -8.03683},
                  {87.5, 75, 68.75, 81.1783, 10.6051, -0.866253}, "BEGIN_DATA\n");
}

// Characterisation data with CRLF line ends, column padding and trailing blanks.
TEST(CgatsRead, ReadsSystemCharacterisationData)
{
    const std::string dir = "/usr/share/color/icc/";
    if (!testutil::FileExists(dir + "FOGRA39L.ti3") || !testutil::FileExists(dir + "TR002.ti3"))
        GTEST_SKIP() << "icc-profiles-free is not installed";
    CheckRealFile(dir + "FOGRA39L.ti3", 10, {0, 0, 0, 0, 84.48, 87.62, 74.57, 95.00, 0.00, -2.00},
                  {100, 100, 0, 10, 5.05, 3.70, 13.57, 22.64, 20.48, -42.96}, "BEGIN_DATA\r\n");
    CheckRealFile(dir + "TR002.ti3", 10, {100, 0, 0, 0, 18.71, 24.5, 35.94, 56.58, -23.4, -26.45},
                  {100, 100, 100, 80, 6.76, 7.03, 5.75, 31.88, -0.2, 0.26}, "BEGIN_DATA\r\n");
}

TEST(CgatsRead, KeepsHeaderLinesAndSampleNames)
{
    testutil::TempDir dir;
    const std::string path =
        WriteTemp(dir, k_header + "1 A1 0.5 1e2 -3\r\n2 B1 4 5x 6\nEND_DATA\nignored 1 2\n");
    CGATS table;
    table.rows = {{9}};
    ASSERT_EQ(ReadCGATS(path.c_str(), &table, 1), 1);
    EXPECT_EQ(table.headerLines, (std::vector<std::string>{"CTI3\n", "NUMBER_OF_FIELDS 4\n",
                                 "BEGIN_DATA_FORMAT\n", "SAMPLE_ID A B C\n", "END_DATA_FORMAT\n",
                                 "BEGIN_DATA\n"}));
    EXPECT_EQ(table.sampleNames, (std::vector<std::string>{"A1", "B1"}));
    EXPECT_EQ(table.rows, (std::vector<std::vector<double>>{{0.5, 100, -3}, {4, 5, 6}}));

    EXPECT_EQ(ReadCGATS(nullptr, &table, 1), 0);
    EXPECT_EQ(table.rows.size(), 2u);
    EXPECT_EQ(ReadCGATS(dir.file("missing").c_str(), &table, 1), 0);
    EXPECT_TRUE(table.rows.empty() && table.headerLines.empty() && table.sampleNames.empty());

    // A header line is kept byte for byte, NUL bytes included.
    const std::string withNul = WriteTemp(dir, "A\0B\r\nBEGIN_DATA\n1 2\n"s);
    ASSERT_EQ(ReadCGATS(withNul.c_str(), &table, 0), 1);
    EXPECT_EQ(table.headerLines.front(), "A\0B\r\n"s);
}

// Each case is a small table with one defect; none may crash or read out of bounds.
TEST(CgatsRead, HandlesMalformedTables)
{
    std::string hundredKilobytes = "1";
    while (hundredKilobytes.size() < 100000)
        hundredKilobytes += " 2";
    struct Case {
        const char* name;
        std::string text;
        int readNames;
        int result;
        size_t rows;
        size_t names;
    };
    const Case cases[] = {
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
        {"100 kB line", k_header + hundredKilobytes + "\n", 0, 0, 2, 0},
    };
    testutil::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = WriteTemp(dir, c.text);
        CGATS table;
        EXPECT_EQ(ReadCGATS(path.c_str(), &table, c.readNames), c.result);
        EXPECT_EQ(table.rows.size(), c.rows);
        EXPECT_EQ(table.sampleNames.size(), c.names);
    }
}
