// What the end-to-end tests of chartlab share: a fixture that runs the built program in a
// temporary directory, a table of runs with their exact exit status and texts, and small
// chart builders.
#pragma once

#include "testutil.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace chartlabtest {

inline std::string Data(const std::string& name) { return std::string(TEST_DATA_DIR) + "/" + name; }

// A text that chartlab prints, kept under tests/data/chartlab.
inline std::string Golden(const std::string& name) { return testutil::ReadFile(Data("chartlab/" + name)); }

// The numbers of a text, in order.
inline std::vector<double> Numbers(const std::string& text)
{
    std::vector<double> values;
    std::istringstream in(text);
    for (double v; in >> v;)
        values.push_back(v);
    return values;
}

// A column table with the given columns; each row is the sample id's number and the values.
inline std::string ColumnTable(const std::vector<std::vector<double>>& rows,
                               const std::string& columns = "RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B")
{
    std::string text = "CTI3\n\nBEGIN_DATA_FORMAT\nSAMPLE_ID " + columns + "\nEND_DATA_FORMAT\n\nBEGIN_DATA\n";
    char field[64];
    for (std::size_t r = 0; r < rows.size(); ++r) {
        text += std::to_string(r + 1);
        for (double v : rows[r])
            text += std::string(field, std::snprintf(field, sizeof field, " %.10g", v));
        text += "\n";
    }
    return text + "END_DATA\n";
}

// The n x n x n grid on 0..100, B varying fastest.
inline std::vector<std::vector<double>> GridRgb(int n)
{
    std::vector<std::vector<double>> rgb;
    for (int i = 0; i < n * n * n; ++i)
        rgb.push_back({100.0 * (i / (n * n)) / (n - 1), 100.0 * (i / n % n) / (n - 1), 100.0 * (i % n) / (n - 1)});
    return rgb;
}

// One run of the program: its arguments, standard input (a file of the test directory, or
// /dev/null when empty) and what it must give.
struct RunCase {
    std::vector<std::string> args;
    int status;
    std::string out, err, input = "";
};

class ChartlabRun : public ::testing::Test {
protected:
    testutil::RunResult Run(const std::vector<std::string>& args, const std::string& input = "")
    {
        return testutil::RunChartlab(args, m_dir.path(), input.empty() ? "/dev/null" : File(input));
    }
    std::string File(const std::string& name) { return m_dir.file(name); }
    std::string Read(const std::string& name) { return testutil::ReadFile(File(name)); }
    void Write(const std::string& name, const std::string& text) { testutil::WriteFile(File(name), text); }

    // Each case byte for byte, its arguments after `first`; a failed run leaves an earlier
    // out.txt as it was.
    void ExpectRuns(const std::vector<RunCase>& cases, const std::vector<std::string>& first = {})
    {
        for (const RunCase& c : cases) {
            std::vector<std::string> args = first;
            args.insert(args.end(), c.args.begin(), c.args.end());
            SCOPED_TRACE(testing::PrintToString(args));
            Write("out.txt", "earlier\n");
            const auto r = Run(args, c.input);
            EXPECT_EQ(c.status, r.status);
            EXPECT_EQ(c.out, r.out);
            EXPECT_EQ(c.err, r.err);
            EXPECT_TRUE(c.status == 0 || Read("out.txt") == "earlier\n");
        }
    }

    testutil::TempDir m_dir;
};

}  // namespace chartlabtest
