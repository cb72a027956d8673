// The measurement tables and their numbers: the CGATS reader, the patch table reader on one
// known-good text per layout and one defect per case, the writer's all-or-nothing replacement
// of the file, and the fast number reading and "%lf" writing against strtod and printf, to
// the bit, on thousands of random inputs.
#include "cgats.h"
#include "numbertext.h"
#include "patchtables.h"
#include "testutil.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>

using namespace std::string_literals;
using Values = std::vector<std::vector<double>>;
using Names = std::vector<std::string>;

// Each data block after the header below has one defect; none may crash, hang or read out of
// bounds. Header lines are kept as read. A long line is read in pieces of 4095 characters,
// each piece a row of its own.
TEST(CgatsRead, ReadsRowsAndNamesUpToTheFirstDefect)
{
    const std::string header = "A\0B\r\nBEGIN_DATA_FORMAT\nEND_DATA_FORMAT\nBEGIN_DATA\n"s;
    const struct { const char* name; std::string data; int readNames, result; Values rows; Names names; } cases[] = {
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
        {"row one longer", "1 " + std::string(k_cgatsLineBufferSize - 5, '0') + " 7\n2 1 2\n", 0, 1, {{0, 7}}, {}},
    };
    // A file written by another colour tool: the row count is the header's NUMBER_OF_SETS.
    CGATS table;  // each read starts by clearing what the one before left
    ASSERT_EQ(ReadCGATS(TEST_DATA_DIR "/chart17-srgb.ti3", &table, 0), 1);
    EXPECT_EQ(std::tuple(table.rows.size(), table.rows.back()),
              std::tuple(4913u, std::vector<double>{56.25, 18.75, 0, 33.9308, 37.4694, 41.9982}));
    testutil::TempDir dir;
    const std::string path = dir.file("t.ti3");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testutil::WriteFile(path, header + c.data);
        EXPECT_EQ(ReadCGATS(path.c_str(), &table, c.readNames), c.result);
        EXPECT_EQ(table.headerLines,
                  (Names{"A\0B\r\n"s, "BEGIN_DATA_FORMAT\n", "END_DATA_FORMAT\n", "BEGIN_DATA\n"}));
        EXPECT_EQ(std::tuple(table.rows, table.sampleNames), std::tuple(c.rows, c.names));
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
        const int result = ReadCGATS(path.c_str(), &table, 0);
        const Names whole = {line + "\n", "BEGIN_DATA\n"}, cut = {line, "\n", "BEGIN_DATA\n"};
        EXPECT_EQ(std::tuple(1, extra ? cut : whole, 0u), std::tuple(result, table.headerLines, table.rows.size()));
    }
}

// Reads `text` from memory through the stream reader, for the three named columns: in the
// column layout it records a sample id for each patch. The table starts non-empty, so that a
// failure must clear it. Gives the patches. The file reader that the programs use is the
// same reader behind fopen (below, and end to end in rgb2lab_test). The line numbers are
// checked below and in chartlab_test.
static Values Read(const std::string& text, int wantResult, const char* a = "RGB_R", const char* b = "RGB_G",
                   const char* c = "RGB_B")
{
    std::unique_ptr<FILE, int (*)(FILE*)> stream(fmemopen(const_cast<char*>(text.data()), text.size(), "r"),
                                                 std::fclose);
    TripletTable table{{Color3{}}, {{0, 99}}, {"old"}};
    EXPECT_EQ(wantResult, ReadTripletStream(stream.get(), &table, a, b, c));
    Values values;
    for (const Color3& p : table.patches)
        values.push_back({p.c[0], p.c[1], p.c[2]});
    EXPECT_EQ(text.find("BEGIN_DATA") == std::string::npos ? 0 : values.size(), table.sampleIds.size());
    return values;
}

// Each case is the known-good text of a layout or one defect. The values of the stream
// reader's lines and sample ids are checked in chartlab_test, and so are an empty input and
// a patch layout that ends before its data.
TEST(PatchTableRead, ReadsEachLayoutAndRefusesMalformedTables)
{
    const std::string header = "CTI3\n\nBEGIN_DATA_FORMAT\nSAMPLE_ID\tNAME\tRGB_R\tRGB_G\tRGB_B\tLAB_L\tLAB_A\tLAB_B\n"
                               "END_DATA_FORMAT\nBEGIN_DATA\n";
    const std::string longLine = "1 2 3" + std::string(k_maxPieceChars - 5, ' ');  // one full piece
    const std::tuple<const char*, std::string, int, Values> cases[] = {
        {"triplets read as strtod does, up to the first line without three numbers",
         "1e400 -inf 0x10 4\n 4\t5 6 x\n7,8,9\n10 11 12\n", 1, {{HUGE_VAL, -HUGE_VAL, 16}, {4, 5, 6}}},
        {"patch layout", "PATCH_HEADER x\nfoo\n\nPATCH_DATA\n1 2 3\n4 5 6\nend\n7 8 9", 1, {{1, 2, 3}, {4, 5, 6}}},
        {"patch layout with no patches", "PATCH_HEADER\nPATCH_DATA\n", 1, {}},
        {"columns rounded to single precision, a name reading 0, a row of three fields ending the block",
         header + "1\tA1\t0.1\t2\t3\t4\t5\t6\n2 B1 B1 8 9 10 11 12\n3 C1 1\n4 D1 1 1 1 1 1 1\n", 1,
         {{static_cast<float>(0.1), 2, 3}, {0, 8, 9}}},
        {"decimal commas; a comma in any other field ends the number",
         header + "1 A 0,5 -2,25 +51,2872 1 1 1\n2 B 1,2,3 1,5e2 ,5 1 1 1\n3 C 7 8 9,75\r\n", 1,
         {{0.5, -2.25, static_cast<float>(51.2872)}, {1, 1, 0}, {7, 8, 9.75}}},
        {"CR-LF endings, SampleID header, first occurrence of a name kept",
         "x\r\nSampleID RGB_R RGB_G RGB_B RGB_R\r\nSAMPLE_ID RGB_B\r\nBEGIN_DATA\r\n"
         "A1 2 3 4 5\r\n2 7 8 9 \r\n\r\n3 1 1 1 1\r\n",
         1, {{2, 3, 4}, {7, 8, 9}}},
        {"no BEGIN_DATA", header.substr(0, header.size() - 11), 0, {}},
        {"header on the first line is never examined", "SAMPLE_ID RGB_R RGB_G RGB_B\nBEGIN_DATA\n1 2 3 4\n", 0, {}},
        {"names only in lines not starting with SAMPLE_ID, or in another case",
         "x\nRGB_R RGB_G RGB_B\nSAMPLE_ID rgb_r rgb_g rgb_b\nBEGIN_DATA\n1 2 3 4\n", 0, {}},
        {"a row too short for a requested column", header + "1 A 1 2 3 4 5 6\n2 B 1 2\n", 0, {}},
        {"a long line is read in pieces", longLine + "4 5 6\n7 8 9\n", 1, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}},
        {"a line of exactly one piece keeps its newline", longLine + "\n4 5 6\n", 1, {{1, 2, 3}, {4, 5, 6}}},
        {"a piece full with its newline takes no more", longLine.substr(0, k_maxPieceChars - 1) + "\n\n4 5 6\n", 1,
         {{1, 2, 3}}},
        {"a row of exactly one piece keeps its CR-LF ending",
         header + "1 A 1 2 3 4 5 6" + std::string(k_maxPieceChars - 15, ' ') + "\r\n2 B 7 8 9 4 5 6\r\n", 1,
         {{1, 2, 3}, {7, 8, 9}}},
        {"a 5000-character header field is compared in full",
         "x\nSAMPLE_ID " + std::string(5000, 'R') + " RGB_R RGB_G RGB_B\nBEGIN_DATA\n1 0 2 3 4\n", 1, {{2, 3, 4}}},
    };
    for (const auto& [name, text, wantResult, want] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(want, Read(text, wantResult));
    }
    // Columns are chosen by name, in the order asked for, the first column too.
    EXPECT_EQ((Values{{1, 60, 3}}), Read(header + "1 A 1 2 3 40 50 60\n", 1, "SAMPLE_ID", "LAB_B", "RGB_B"));
}

// An endless file ends the read; a data block must begin within the first 64 MiB. The file
// reader empties its list before it reads.
TEST(PatchTableRead, SearchesTheFirst64MiBForTheData)
{
    std::vector<Color3> patches(1);
    ASSERT_EQ(1, ReadTripletFileString(TEST_DATA_DIR "/targets1000.txt", &patches, "RGB_R", "RGB_G", "RGB_B"));
    EXPECT_EQ(1000u, patches.size());
    EXPECT_EQ(0, ReadTripletFileString("/dev/zero", &patches, "RGB_R", "RGB_G", "RGB_B"));
    for (const auto& [head, data] : {std::pair<std::string, std::string>{"x\nSAMPLE_ID RGB_R RGB_G RGB_B\n",
                                                                         "BEGIN_DATA\n1 2 3 4\n"},
                                     {"PATCH_HEADER\n", "PATCH_DATA\n2 3 4\n"}}) {
        for (const std::uint64_t start : {k_maxSearchBytes - 1, k_maxSearchBytes}) {
            SCOPED_TRACE(head + std::to_string(start));
            // Comment lines of 4096 bytes fill the file up to the line that opens the data.
            std::string text = head;
            while (text.size() < start)
                text += std::string(std::min<std::size_t>(4095, start - text.size() - 1), '#') + "\n";
            const bool found = start < k_maxSearchBytes;
            EXPECT_EQ(found ? Values(1, {2, 3, 4}) : Values(), Read(text + data, found));
        }
    }
}

// The pieces of a line longer than a piece share its number; the lines after it count on.
TEST(PatchTableRead, NumbersEachPatchWithTheLineItStartsOn)
{
    std::string text = "1 1 1" + std::string(k_maxPieceChars - 5, ' ') + "2 2 2\n3 3 3\n4 4 4\n";
    std::unique_ptr<FILE, int (*)(FILE*)> stream(fmemopen(text.data(), text.size(), "r"), std::fclose);
    TripletTable table;
    ASSERT_EQ(1, ReadTripletStream(stream.get(), &table, "RGB_R", "RGB_G", "RGB_B"));
    EXPECT_EQ(std::tuple(4u, 1u, 1u, 2u, 3u), std::tuple(table.patches.size(), table.LineOf(0), table.LineOf(1),
                                                         table.LineOf(2), table.LineOf(3)));
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
              std::tuple(result, testutil::ReadFile(path),
                         std::distance(std::filesystem::directory_iterator(dir.path()), {})));
}

// Spellings picked at random, each read both ways: the values must be the same bits and the
// ends the same place.
TEST(FastNumberText, ReadsEverySpellingAsStrtodDoes)
{
    std::vector<std::string> texts = {"", "-.", "e5", "0x1.8p3", "-INFINITY", "nan(123)", "1e-400", "4.9e-324",
                                      "2.2250738585072011e-308", "1.7976931348623159e308", "9007199254740993",
                                      "1.5E-x", "1e23", "3e-23", "1e0000000000005", "4503599627370497.5",
                                      "  \t\n\v\f\r7", "\xa0" "5"};
    std::mt19937_64 random(7);
    auto pick = [&](std::initializer_list<const char*> l) { return std::string(l.begin()[random() % l.size()]); };
    auto digits = [&](int most) {
        std::string s(random() % (most + 1), '0');
        std::generate(s.begin(), s.end(), [&] { return static_cast<char>('0' + random() % 10); });
        return s;
    };
    for (int i = 0; i < 20000; ++i)
        texts.push_back(pick({"", " ", "\v\f\r"}) + pick({"", "", "+", "-"}) + digits(22) + pick({"", "."}) +
                        digits(22) + pick({"", "", "", "e", "E-", "e+"}) + digits(4) + pick({"", " 1", "x"}));
    for (const std::string& text : texts) {
        char *wantEnd = nullptr, *gotEnd = nullptr;
        const double want = std::strtod(text.c_str(), &wantEnd), got = ParseDouble(text.c_str(), &gotEnd);
        EXPECT_EQ(std::pair(std::bit_cast<std::uint64_t>(want), wantEnd - text.c_str()),
                  std::pair(std::bit_cast<std::uint64_t>(got), gotEnd - text.c_str())) << '"' << text << '"';
    }
}

// Each value alone, then all of them as lines of three through the file writer, whose
// buffer they fill several times over.
TEST(FastNumberText, WritesEveryDoubleAsPrintfDoes)
{
    std::vector<double> values = {0.0, -0.0, HUGE_VAL, -HUGE_VAL, std::nan(""), -std::nan(""), -0.0000004, 0.0000005,
                                  999999.9999995, std::ldexp(1.0, 43), std::nextafter(std::ldexp(1.0, 43), 0.0),
                                  8796093022207.9999995};
    std::mt19937_64 random(11);
    for (int i = 0; i < 12000; ++i) {
        // Odd multiples of 2^-7 have a 5 in the seventh decimal; their neighbours do not.
        const double half = static_cast<double>(static_cast<std::int64_t>(random() % 2000001) - 1000000) / 128.0;
        // Values of every magnitude around the integer path's limit of 2^43 and below.
        const double scaled = std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 140));
        values.insert(values.end(), {std::bit_cast<double>(random()), half, std::nextafter(half, -HUGE_VAL),
                                     std::nextafter(half, HUGE_VAL), scaled, -scaled});
    }
    std::vector<Color3> triplets(values.size() / 3);
    std::string want;
    for (std::size_t i = 0; i < values.size(); ++i) {
        char printed[k_maxFixed6Chars + 1], text[k_maxFixed6Chars];
        std::snprintf(printed, sizeof printed, "%lf", values[i]);
        EXPECT_EQ(printed, std::string(text, FormatFixed6(text, values[i]))) << std::hexfloat << values[i];
        triplets[i / 3].c[i % 3] = values[i];
        want += printed + std::string(i % 3 == 2 ? "\n" : "\t");
    }
    testutil::TempDir dir;
    ASSERT_EQ(1, WriteTabDelimitedTriplets(dir.file("out").c_str(), triplets));
    EXPECT_TRUE(want == testutil::ReadFile(dir.file("out")));
}
