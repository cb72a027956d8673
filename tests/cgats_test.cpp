#include "cgats.h"

#include <gtest/gtest.h>

#include "testutil.h"

using namespace std::string_literals;
using Rows = std::vector<std::vector<double>>;
using Names = std::vector<std::string>;

// Files written by other colour tools: the row count is the header's NUMBER_OF_SETS.
TEST(CgatsRead, ReadsMeasurementFilesOfOtherTools)
{
    const auto check = [](const std::string& path, size_t sets, const std::vector<double>& last) {
        CGATS table;
        ASSERT_EQ(ReadCGATS(path.c_str(), &table, 0), 1) << path;
        EXPECT_EQ(table.rows.size(), sets);
        EXPECT_EQ(table.rows.back(), last);
    };
    check(TEST_DATA_DIR "/chart17-srgb.ti3", 4913, {56.25, 18.75, 0, 33.9308, 37.4694, 41.9982});
    // Characterisation data: CRLF line ends, padded columns, trailing blanks.
    const std::string fogra = "/usr/share/color/icc/FOGRA39L.ti3";
    if (!testutil::FileExists(fogra))
        GTEST_SKIP() << "icc-profiles-free is not installed";
    check(fogra, 1617, {100, 100, 0, 10, 5.05, 3.70, 13.57, 22.64, 20.48, -42.96});
}

// Each data block after the header below has one defect; none may crash, hang or read out of
// bounds. Header lines are kept as read. A long line is read in pieces of 4095 characters,
// each piece a row of its own.
TEST(CgatsRead, ReadsRowsAndNamesUpToTheFirstDefect)
{
    const std::string header = "A\0B\r\nBEGIN_DATA_FORMAT\nEND_DATA_FORMAT\nBEGIN_DATA\n"s;
    const struct { const char* name; std::string data; int readNames, result; Rows rows;
                   Names names; } cases[] = {
        {"names", "1 A .5 -1\r\n2 B 4 5x\nEND_DATA\n3 C 1\n", 1, 1, {{.5, -1}, {4, 5}}, {"A", "B"}},
        {"short second row", "1 1 2 3\n2 1 2\n", 0, 0, {{1, 2, 3}, {1, 2}}, {}},
        {"value fails after a name", "1 n 1\n2 m x\n", 1, 0, {{1}}, {"n", "m"}},
        {"NUL ends a row", "1 1 2\0 junk\n2 3 4\n"s, 0, 1, {{1, 2}, {3, 4}}, {}},
        {"name on the last line", "1 n 1\n2 m", 1, 1, {{1}}, {"n"}},
        {"no newline at the end", "1 1 2\n2 3 4", 0, 1, {{1, 2}, {3, 4}}, {}},
        {"empty rows after names", "1 n\n2 m \n3 o 1\n", 1, 0, {{}, {}, {1}}, {"n", "m", "o"}},
        {"5000-digit field", "1 " + std::string(5000, '0') + " 2 3\n", 0, 0, {{0}, {2, 3}}, {}},
        // The longest row read whole, and one a character longer, whose newline comes as a
        // blank line of its own and closes the block.
        {"longest row", "1 " + std::string(k_cgatsLineBufferSize - 6, '0') + " 7\n2 1 2\n", 0, 1,
         {{0, 7}, {1, 2}}, {}},
        {"row one longer", "1 " + std::string(k_cgatsLineBufferSize - 5, '0') + " 7\n2 1 2\n", 0, 1,
         {{0, 7}}, {}},
    };
    testutil::TempDir dir;
    const std::string path = dir.file("t.ti3");
    CGATS table;  // each read starts by clearing what the one before left
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testutil::WriteFile(path, header + c.data);
        EXPECT_EQ(ReadCGATS(path.c_str(), &table, c.readNames), c.result);
        EXPECT_EQ(table.headerLines,
                  (Names{"A\0B\r\n"s, "BEGIN_DATA_FORMAT\n", "END_DATA_FORMAT\n", "BEGIN_DATA\n"}));
        EXPECT_EQ(table.rows, c.rows);
        EXPECT_EQ(table.sampleNames, c.names);
    }
    // An opening line without a newline has no data block after it.
    testutil::WriteFile(path, "CTI3\nBEGIN_DATA");
    EXPECT_EQ(ReadCGATS(path.c_str(), &table, 0), 0);
    EXPECT_EQ(ReadCGATS(nullptr, &table, 0) + ReadCGATS(path.c_str(), nullptr, 0), 0);
    EXPECT_EQ(table.headerLines, (Names{"CTI3\n", "BEGIN_DATA"}));  // untouched by a null path
    EXPECT_EQ(ReadCGATS(dir.file("missing").c_str(), &table, 0), 0);
    EXPECT_TRUE(table.headerLines.empty());
    // The longest header line kept whole, and one a character longer, cut in two; an empty
    // data block is a success.
    for (int extra : {0, 1}) {
        const std::string line(k_cgatsLineBufferSize - 2 + extra, 'X');
        testutil::WriteFile(path, line + "\nBEGIN_DATA\n");
        EXPECT_EQ(ReadCGATS(path.c_str(), &table, 0), 1);
        const Names whole = {line + "\n", "BEGIN_DATA\n"}, cut = {line, "\n", "BEGIN_DATA\n"};
        EXPECT_EQ(table.headerLines, extra ? cut : whole);
        EXPECT_TRUE(table.rows.empty());
    }
}
