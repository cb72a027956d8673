// Command-line parser: every message and the usage text byte for byte, the values that reach
// the client variables, and that a refused command line leaves those variables alone.
#include "argparser.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <memory>

#include "testutil.h"

using namespace ns_Argparser;

namespace {

const std::string kHelp = "usage: tool [-h] -m string -t string [-n integer] [-g float] [-v] \n"
                          "  -h/--help          :  prints this help message\n"
                          "  -m/--measurements  :  LAB measurements file (required)\n"
                          "  -t/--rgbTarget     :  device RGB target file (required)\n"
                          "  -n/--count         :  count (default: 5)\n"
                          "  -g/--gain          :  gain (default: 0.5)\n"
                          "  -v/--verbose       :  verbose\n";
const std::string kNeedM = "Option -m/--measurements is required.\n";
const std::string kNeedT = "Option -t/--rgbTarget is required.\n";
const std::string kNoSuch = ": no such option\n\n";
const std::string kGroup =
    ": when grouping multiple short options together, all of them must be boolean switches\n\n";

}  // namespace

class ArgparserTest : public ::testing::Test {
protected:
    // A parser for the program "tool" followed by `args`, without options. The parser
    // copies the arguments, so argv need not outlive the constructor.
    Argparser& Bare(std::vector<std::string> args, bool addHelp = true)
    {
        args.insert(args.begin(), "tool");
        std::vector<char*> argv;
        for (auto& word : args)
            argv.push_back(word.data());
        m_parser = std::make_unique<Argparser>(int(argv.size()), argv.data(), addHelp);
        return *m_parser;
    }
    // The conversion tool's two options, then one of each other kind.
    Argparser& Make(const std::vector<std::string>& args)
    {
        Bare(args).AddString('m', "measurements", &meas, "LAB measurements file", true);
        m_parser->AddString('t', "rgbTarget", &target, "device RGB target file", true);
        m_parser->AddInt('n', "count", &count, "count", false);
        m_parser->AddFloat('g', "gain", &gain, "gain", false);
        m_parser->AddSwitch('v', "verbose", &verbose, "verbose");
        return *m_parser;
    }
    bool Run()
    {
        testutil::CaptureStdout capture;
        bool result = m_parser->Process();
        out = capture.Text();
        return result;
    }
    std::string Help()
    {
        testutil::CaptureStdout capture;
        m_parser->PrintHelp();
        return capture.Text();
    }

    std::string out, meas = "M0", target = "T0";
    int count = 5;
    float gain = 0.5f;
    bool verbose = false;
    std::unique_ptr<Argparser> m_parser;
};

TEST_F(ArgparserTest, RefusedCommandLinesPrintExactMessages)
{
    std::string given = kHelp;  // the usage text shows values given before the fault
    given.replace(given.find("(default: 5)"), 12, "(default: 7)");
    const struct {
        std::vector<std::string> args;
        std::string output;
    } cases[] = {
        {{}, kNeedM + kNeedT + kHelp},
        {{"", "-t", "b"}, kNeedM + kHelp},
        {{"-m", "-t", "b"}, kNeedT + kHelp},  // "-t" is the value of -m
        {{"-t", "-h"}, kNeedM + kHelp},
        {{"-t", "b", "-m"}, "Expected string argument for switch -m\n"},
        {{"-m", "a", "--rgbTarget"}, "Expected string argument for switch --rgbTarget\n"},
        {{"-v", "-n"}, "Expected integer argument for switch -n\n"},
        {{"-v", "--gain"}, "Expected float argument for switch --gain\n"},
        {{"--measurements=a", "-t", "b"}, "Invalid --measurements=a" + kNoSuch + kHelp},
        {{"-5"}, "Invalid -5" + kNoSuch + kHelp},
        {{"-\xE9"}, "Invalid -\xE9" + kNoSuch + kHelp},
        {{"-vx"}, "Invalid -vx" + kNoSuch + kHelp},
        {{"-mt", "a"}, "Invalid -mt" + kGroup + kHelp},
        {{"-vn", "3"}, "Invalid -vn" + kGroup + kHelp},
        {{"-n", "abc"}, "Invalid abc: expected integer value\n\n" + kHelp},
        {{"-n", ""}, "Invalid : expected integer value\n\n" + kHelp},
        {{"-vvh"}, kHelp},
        {{"-m", "a", "-h", "-bogus"}, kHelp},
        {{"--help", "-m"}, kHelp},
        {{"-n", "7", "-g", ""}, "Invalid : expected float value\n\n" + given},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Make(c.args);
        EXPECT_FALSE(Run());
        EXPECT_EQ(out, c.output);
        EXPECT_EQ(meas + target + std::to_string(count) + std::to_string(gain), "M0T050.500000");
        EXPECT_FALSE(verbose);
    }
    EXPECT_STREQ(g_errString, "expected float value");
}

TEST_F(ArgparserTest, AcceptedValuesConvertedAndClamped)
{
    const struct {
        std::vector<std::string> args;
        int count;
        float gain;
        bool verbose = false;
    } cases[] = {
        {{}, 5, 0.5f},
        {{"-vv"}, 5, 0.5f, true},
        {{"--verbose"}, 5, 0.5f, true},
        {{"-n", "12abc"}, 12, 0.5f},
        {{"-n", "0x1A"}, 0, 0.5f},
        {{"-n", " -3", "-g", "-2.25e0xyz"}, -3, -2.25f},
        {{"-n", "1", "--count", "2"}, 2, 0.5f},
        {{"-n", "2147483648"}, INT_MAX, 0.5f},
        {{"-n", "-2147483649"}, INT_MIN, 0.5f},
        {{"-n", "-99999999999999999999999"}, INT_MIN, 0.5f},
        {{"-g", "3.4028235e38"}, 5, FLT_MAX},
        {{"-g", "1e39"}, 5, INFINITY},
        {{"-g", "-1e400"}, 5, -INFINITY},
        {{"-g", "1e-50"}, 5, 0.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        // Without a destination the positional "pos" is ignored.
        std::vector<std::string> args = {"-m", "", "pos", "--rgbTarget", "-dir/t.txt", "-m", "a b"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        count = 5;
        gain = 0.5f;
        verbose = false;
        Make(args);
        EXPECT_TRUE(Run());
        EXPECT_EQ(out + meas + "|" + target, "a b|-dir/t.txt");
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(gain, c.gain);
        EXPECT_EQ(verbose, c.verbose);
        EXPECT_STREQ(g_errString, "");
    }
}

TEST_F(ArgparserTest, PositionalArgumentsAppendedOnEveryCall)
{
    std::vector<std::string> names = {"kept"};
    Make({"a", "-", "-n", "3", "--", "", "-m", "x", "-t", "y", "b"}).AddArgNames(&names, "");
    EXPECT_TRUE(Run());
    count = 0;
    EXPECT_TRUE(Run());  // a second call scans afresh
    EXPECT_EQ(count, 3);
    EXPECT_EQ(names, (std::vector<std::string>{"kept", "a", "-", "--", "b", "a", "-", "--", "b"}));
}

TEST_F(ArgparserTest, DuplicateNamesWarnOnEveryCallAndFirstKeepsName)
{
    bool other = false;
    Argparser& parser = Make({"-h"});
    parser.AddSwitch('h', "count", &other, "clash");
    parser.AddSwitch(0, "", &other, "no names");
    parser.AddSwitch(0, "", &other, "no names either");
    const std::string warnings = "Warning: found duplicate short option -h\n"
                                 "Warning: found duplicate long option --count\n"
                                 "Warning: found duplicate long option --\n";
    for (int call = 0; call < 2; ++call) {
        EXPECT_FALSE(Run());
        EXPECT_EQ(out.find("usage: tool [-h]"), warnings.size());
        EXPECT_EQ(out.substr(0, warnings.size()), warnings);
    }
}

TEST_F(ArgparserTest, UsageTextLayout)
{
    Argparser& tool = Bare({});
    tool.AddString('m', "measurements", &meas, "LAB measurements file", true);
    tool.AddString('t', "rgbTarget", &target, "device RGB target file", true);
    EXPECT_EQ(Help(), "usage: tool [-h] -m string -t string \n"
                      "  -h/--help          :  prints this help message\n"
                      "  -m/--measurements  :  LAB measurements file (required)\n"
                      "  -t/--rgbTarget     :  device RGB target file (required)\n");

    std::string blank, word = "w", big(1000, 'x');
    Argparser& parser = Bare({}, false);
    parser.AddString('a', "x", &blank, "empty default", false);
    parser.AddString(0, "long", &word, "no letter", true);
    parser.AddString('\xE9', "y", &big, "long default", false);
    parser.AddArgNames(nullptr, "<in> <out>");
    parser.SetHelpString("Converts things.");
    EXPECT_EQ(Help(), "usage: tool [-a string] --long string [-\xE9 string] <in> <out>\n"
                      "  -a/--x     :  empty default (default: )\n"
                      "    /--long  :  no letter (required)\n"
                      "  -\xE9/--y     :  long default (default: " + big + ")\n"
                      "\nConverts things.\n");
    EXPECT_FALSE(Run());
    EXPECT_EQ(out, "Option --long is required.\n" + Help());

    Bare({}, false).AddSwitch('s', "s", &verbose, "one letter");
    EXPECT_EQ(Help(), "usage: tool [-s] \n  -s/--s   :  one letter\n");
    Bare({}, false);
    EXPECT_EQ(Help(), "usage: tool \n");

    Argparser nameless(0, nullptr, true);  // started without even a program name
    testutil::CaptureStdout capture;
    EXPECT_TRUE(nameless.Process());
    nameless.PrintHelp();
    EXPECT_EQ(capture.Text(), "usage:  [-h] \n  -h/--help  :  prints this help message\n");
}

TEST(ArgparserProgname, TextAfterLastSeparator)
{
    for (auto [path, name] : {std::pair{"tool", "tool"}, {"/usr/bin/tool", "tool"},
                              {"a/b\\c.exe", "c.exe"}, {"a\\b/c", "c"}, {"dir/", ""}, {"", ""}})
        EXPECT_STREQ(simplify_progname(path), name) << path;
}
