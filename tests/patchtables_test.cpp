// The table reader on one known-good text per layout and one defect per case, the stream
// reader's record of where each patch stands, and the writer's all-or-nothing replacement of
// the file ("%lf" lines: fastpaths_test and the end-to-end golden files).
#include "patchtables.h"
#include "testutil.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <sys/resource.h>

using Values = std::vector<std::vector<double>>;
// Reads `text` from a file and, through the stream reader, from memory, for the three named
// columns: the same result and patches either way, and the stream reader records a line for
// each patch and, in the column layout, a sample id. The lists start non-empty, so that a
// failure must clear them. Gives the patches.
static Values Read(const testutil::TempDir& dir, const std::string& text, int wantResult, const char* a = "RGB_R",
            const char* b = "RGB_G", const char* c = "RGB_B")
{
    testutil::WriteFile(dir.file("t"), text);
    std::vector<Color3> patches{Color3{{9, 9, 9}}};
    EXPECT_EQ(wantResult, ReadTripletFileString(dir.file("t"), &patches, a, b, c));
    std::unique_ptr<FILE, int (*)(FILE*)> stream(fmemopen(const_cast<char*>(text.data()), text.size(), "r"), std::fclose);
    TripletTable table{{Color3{}}, {99}, {"old"}};
    EXPECT_EQ(wantResult, ReadTripletStream(stream.get(), &table, a, b, c));
    Values values[2];
    for (int i = 0; i < 2; ++i)
        for (const Color3& p : i == 0 ? patches : table.patches)
            values[i].push_back({p.c[0], p.c[1], p.c[2]});
    const long lines = std::count(text.begin(), text.end(), '\n') + !text.ends_with('\n');  // a long line's pieces share one
    EXPECT_EQ(std::tuple(values[0], patches.size(), text.find("BEGIN_DATA") == std::string::npos ? 0 : patches.size(), true),
              std::tuple(values[1], table.lines.size(), table.sampleIds.size(), patches.empty() || long(table.lines.back()) <= lines));
    return values[0];
}

const std::string k_header = "CTI3\n\nBEGIN_DATA_FORMAT\nSAMPLE_ID\tNAME\tRGB_R\tRGB_G\tRGB_B\tLAB_L\tLAB_A\tLAB_B\n"
                             "END_DATA_FORMAT\nBEGIN_DATA\n";
const std::string k_longLine = "1 2 3" + std::string(k_maxPieceChars - 5, ' ');  // one full piece

// Each case is the known-good text of a layout or one defect. The values of the stream
// reader's lines and sample ids are checked in chartlab_test.
TEST(PatchTableRead, ReadsEachLayoutAndRefusesMalformedTables)
{
    const std::tuple<const char*, std::string, int, Values> cases[] = {
        {"triplets read as strtod does, up to the first line without three numbers",
         "1e400 -inf 0x10 4\n 4\t5 6 x\n7,8,9\n10 11 12\n", 1, {{HUGE_VAL, -HUGE_VAL, 16}, {4, 5, 6}}},
        {"patch layout", "PATCH_HEADER x\nfoo\n\nPATCH_DATA\n1 2 3\n4 5 6\nend\n7 8 9", 1, {{1, 2, 3}, {4, 5, 6}}},
        {"patch layout with no patches", "PATCH_HEADER\nPATCH_DATA\n", 1, {}},
        {"patch layout without data", "PATCH_HEADER\n1 2 3\n", 0, {}},
        {"columns rounded to single precision, a name reading 0, a row of three fields ending the block",
         k_header + "1\tA1\t0.1\t2\t3\t4\t5\t6\n2 B1 B1 8 9 10 11 12\n3 C1 1\n4 D1 1 1 1 1 1 1\n", 1,
         {{static_cast<float>(0.1), 2, 3}, {0, 8, 9}}},
        {"decimal commas; a comma in any other field ends the number",
         k_header + "1 A 0,5 -2,25 +51,2872 1 1 1\n2 B 1,2,3 1,5e2 ,5 1 1 1\n3 C 7 8 9,75\r\n", 1,
         {{0.5, -2.25, static_cast<float>(51.2872)}, {1, 1, 0}, {7, 8, 9.75}}},
        {"CR-LF endings, SampleID header, first occurrence of a name kept",
         "x\r\nSampleID RGB_R RGB_G RGB_B RGB_R\r\nSAMPLE_ID RGB_B\r\nBEGIN_DATA\r\nA1 2 3 4 5\r\n2 7 8 9 \r\n\r\n3 1 1 1 1\r\n",
         1, {{2, 3, 4}, {7, 8, 9}}},
        {"no BEGIN_DATA", k_header.substr(0, k_header.size() - 11), 0, {}},
        {"header on the first line is never examined", "SAMPLE_ID RGB_R RGB_G RGB_B\nBEGIN_DATA\n1 2 3 4\n", 0, {}},
        {"names only in lines not starting with SAMPLE_ID, or in another case",
         "x\nRGB_R RGB_G RGB_B\nSAMPLE_ID rgb_r rgb_g rgb_b\nBEGIN_DATA\n1 2 3 4\n", 0, {}},
        {"a row too short for a requested column", k_header + "1 A 1 2 3 4 5 6\n2 B 1 2\n", 0, {}},
        {"empty file", "", 0, {}},
        {"a long line is read in pieces", k_longLine + "4 5 6\n7 8 9\n", 1, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}},
        {"a line of exactly one piece keeps its newline", k_longLine + "\n4 5 6\n", 1, {{1, 2, 3}, {4, 5, 6}}},
        {"a piece full with its newline takes no more", k_longLine.substr(0, k_maxPieceChars - 1) + "\n\n4 5 6\n", 1, {{1, 2, 3}}},
        {"a row of exactly one piece keeps its CR-LF ending",
         k_header + "1 A 1 2 3 4 5 6" + std::string(k_maxPieceChars - 15, ' ') + "\r\n2 B 7 8 9 4 5 6\r\n", 1,
         {{1, 2, 3}, {7, 8, 9}}},
        {"a 5000-character header field is compared in full",
         "x\nSAMPLE_ID " + std::string(5000, 'R') + " RGB_R RGB_G RGB_B\nBEGIN_DATA\n1 0 2 3 4\n", 1, {{2, 3, 4}}},
    };
    testutil::TempDir dir;
    for (const auto& [name, text, wantResult, want] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(want, Read(dir, text, wantResult));
    }
    // Columns are chosen by name, in the order asked for, the first column too.
    EXPECT_EQ((Values{{1, 60, 3}}), Read(dir, k_header + "1 A 1 2 3 40 50 60\n", 1, "SAMPLE_ID", "LAB_B", "RGB_B"));
}

// An endless stream ends the read; a data block must begin within the first 64 MiB.
TEST(PatchTableRead, SearchesTheFirst64MiBForTheData)
{
    std::vector<Color3> patches;
    EXPECT_EQ(0, ReadTripletFileString("/dev/zero", &patches, "RGB_R", "RGB_G", "RGB_B"));
    testutil::TempDir dir;
    for (const auto& [head, data] : {std::pair<std::string, std::string>{"x\nSAMPLE_ID RGB_R RGB_G RGB_B\n", "BEGIN_DATA\n1 2 3 4\n"},
                                     {"PATCH_HEADER\n", "PATCH_DATA\n2 3 4\n"}}) {
        for (const std::uint64_t start : {k_maxSearchBytes - 1, k_maxSearchBytes}) {
            SCOPED_TRACE(head + std::to_string(start));
            // Comment lines of 4096 bytes fill the file up to the line that opens the data.
            std::string text = head;
            while (text.size() < start)
                text += std::string(std::min<std::size_t>(4095, start - text.size() - 1), '#') + "\n";
            EXPECT_EQ(start < k_maxSearchBytes ? Values(1, {2, 3, 4}) : Values(), Read(dir, text + data, start < k_maxSearchBytes));
        }
    }
}

// A write that the file size limit stops part way (SIGXFSZ does not end the process) leaves
// the earlier file whole and no temporary beside it.
TEST(PatchTableWrite, ReplacesTheFileWholeOrNotAtAll)
{
    testutil::TempDir dir;
    const std::string path = dir.file("out");
    ASSERT_EQ(1, WriteTabDelimitedTriplets(path.c_str(), {{{50, -1.25, 3}}}));
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit small{4096, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    const int result = WriteTabDelimitedTriplets(path.c_str(), std::vector<Color3>(1000, Color3{{1, 2, 3}}));
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(std::tuple(0, "50.000000\t-1.250000\t3.000000\n", 1),
              std::tuple(result, testutil::ReadFile(path), std::distance(std::filesystem::directory_iterator(dir.path()), {})));
}
