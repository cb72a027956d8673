// Command-line parser: its messages and the usage text byte for byte, the values that reach
// the client variables, and that a refused command line leaves those variables alone. The
// messages and usage texts the programs print (a missing required option or value, an unknown
// long option, a help text after the option table) are checked end to end in rgb2lab_test
// and chartlab_test.
#include "argparser.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <memory>
#include <tuple>

#include "testutil.h"

using namespace ns_Argparser;

const std::string kHelp = "usage: tool [-h] -m string -t string [-n integer] [-g float] [-v] \n"
                          "  -h/--help          :  prints this help message\n"
                          "  -m/--measurements  :  LAB measurements file (required)\n"
                          "  -t/--rgbTarget     :  device RGB target file (required)\n"
                          "  -n/--count         :  count (default: 5)\n"
                          "  -g/--gain          :  gain (default: 0.5)\n"
                          "  -v/--verbose       :  verbose\n";

class ArgparserTest : public ::testing::Test {
protected:
    // A parser for the program "tool" followed by `args` (copied, so argv need not outlive
    // it) with one option of each kind.
    Argparser& Make(std::vector<std::string> args)
    {
        args.insert(args.begin(), "tool");
        std::vector<char*> argv;
        for (auto& word : args)
            argv.push_back(word.data());
        m_parser = std::make_unique<Argparser>(int(argv.size()), argv.data(), true);
        meas = "M0", target = "T0", count = 5, gain = 0.5f, verbose = false;
        m_parser->AddString('m', "measurements", &meas, "LAB measurements file", true);
        m_parser->AddString('t', "rgbTarget", &target, "device RGB target file", true);
        m_parser->AddInt('n', "count", &count, "count", false);
        m_parser->AddFloat('g', "gain", &gain, "gain", false);
        m_parser->AddSwitch('v', "verbose", &verbose, "verbose");
        return *m_parser;
    }
    // Processes twice: each call scans afresh, with the same result and the same texts on
    // standard output, which a null stream selects. A set stream gets the texts in
    // chartlab_test, whose parser messages go to standard error and help to standard output.
    bool Run()
    {
        testutil::CaptureStdout capture;
        m_parser->SetOutput(nullptr);
        const bool result = m_parser->Process();
        EXPECT_EQ(m_parser->Process(), result);
        const std::string twice = capture.Text();
        out = twice.substr(0, twice.size() / 2);
        EXPECT_EQ(out + out, twice);
        return result;
    }

    auto Values() const { return std::tuple(meas, target, count, gain, verbose); }

    std::string out, meas, target;
    int count = 0; float gain = 0; bool verbose = false;
    std::unique_ptr<Argparser> m_parser;
};

TEST_F(ArgparserTest, RefusedCommandLinesPrintExactMessages)
{
    std::string given = kHelp;  // the usage text shows values given before the fault
    given.replace(given.find("(default: 5)"), 12, "(default: 7)");
    const struct { std::vector<std::string> args; std::string output; } cases[] = {
        {{"-v", "-n"}, "Expected integer argument for switch -n\n"},
        {{"-v", "--gain"}, "Expected float argument for switch --gain\n"},
        {{"-\xE9"}, "Invalid -\xE9: no such option\n\n" + kHelp},
        {{"-vx"}, "Invalid -vx: no such option\n\n" + kHelp},
        {{"-vn", "3"}, "Invalid -vn: when grouping multiple short options together, all of them "
                       "must be boolean switches\n\n" + kHelp},
        {{"-vhx", "-n"}, kHelp},  // help stops the scan at once, even inside a group
        {{"-n", "7", "-g", "x"}, "Invalid x: expected float value\n\n" + given},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Make(c.args);
        EXPECT_FALSE(Run());
        EXPECT_EQ(out, c.output);
        EXPECT_EQ(Values(), std::tuple("M0", "T0", 5, 0.5f, false));
    }
    EXPECT_STREQ(g_errString, "expected float value");
    Make({"-m", "a", "-t", "b"});
    EXPECT_TRUE(Run() && *g_errString == '\0');  // the next call clears the reason
}

TEST_F(ArgparserTest, AcceptedValuesConvertedAndClamped)
{
    const struct { std::vector<std::string> args; int count; float gain; bool verbose; } cases[] = {
        {{}, 5, 0.5f, false},
        {{"-vv", "-n", "12abc"}, 12, 0.5f, true},
        {{"-n", "0x1A"}, 0, 0.5f, false},
        {{"-n", " -3", "-g", "-2.25e0xyz"}, -3, -2.25f, false},
        {{"-n", "2147483648", "-g", "1e39"}, INT_MAX, INFINITY, false},
        {{"-n", "-99999999999999999999999", "-g", "1e-50"}, INT_MIN, 0.0f, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        // The later -m wins with an empty value; without a destination "pos" is ignored. Long
        // names are looked up alike for every kind (--rgbTarget here, --gain in the test above).
        std::vector<std::string> args = {"--rgbTarget", "-dir/t.txt", "-m", "a b", "-m", "", "pos"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Make(args);
        EXPECT_TRUE(Run() && out.empty());
        EXPECT_EQ(Values(), std::tuple("", "-dir/t.txt", c.count, c.gain, c.verbose));
    }
}

TEST_F(ArgparserTest, EveryCallWarnsOfClashesAndAppendsPositionals)
{
    std::vector<std::string> names = {"kept"};
    Make({"a", "-", "-n", "3", "--", "", "--count", "4", "-m", "x", "-t", "y", "b"})
        .AddArgNames(&names, "");
    bool other = false;
    m_parser->AddSwitch('n', "count", &other, "clash: the first option keeps both names");
    m_parser->AddSwitch(0, "", &other, "no names");
    m_parser->AddSwitch(0, "", &other, "no names either");
    EXPECT_TRUE(Run());  // twice: each call rebuilds its tables and appends again
    EXPECT_EQ(out, "Warning: found duplicate short option -n\n"
                   "Warning: found duplicate long option --count\n"
                   "Warning: found duplicate long option --\n");
    EXPECT_EQ(names, (std::vector<std::string>{"kept", "a", "-", "--", "b", "a", "-", "--", "b"}));
}

TEST_F(ArgparserTest, UsageTextLayout)
{
    // Started without even a program name; one-letter long names still get a width of 2.
    std::string blank, word = "w", big(1000, 'x');
    m_parser = std::make_unique<Argparser>(0, nullptr, false);
    m_parser->AddString('a', "x", &blank, "empty default", false);
    m_parser->AddString(0, "l", &word, "no letter", true);
    m_parser->AddString('\xE9', "y", &big, "long default", false);
    m_parser->AddArgNames(nullptr, "<in> <out>");
    EXPECT_FALSE(Run());
    EXPECT_EQ(out, "Option --l is required.\n"
                   "usage:  [-a string] --l string [-\xE9 string] <in> <out>\n"
                   "  -a/--x   :  empty default (default: )\n"
                   "    /--l   :  no letter (required)\n"
                   "  -\xE9/--y   :  long default (default: " + big + ")\n");
}

TEST(ArgparserProgname, TextAfterLastSeparator)
{
    for (auto [path, name] : {std::pair{"tool", "tool"}, {"/usr/bin/tool", "tool"},
                              {"a/b\\c.exe", "c.exe"}, {"a\\b/c", "c"}, {"dir/", ""}, {"", ""}})
        EXPECT_STREQ(simplify_progname(path), name) << path;
}
