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

const std::string kToolHelp =
    "usage: tool [-h] -m string -t string \n"
    "  -h/--help          :  prints this help message\n"
    "  -m/--measurements  :  LAB measurements file (required)\n"
    "  -t/--rgbTarget     :  device RGB target file (required)\n";

const std::string kNumbersHelp =
    "usage: tool [-h] [-n integer] [-g float] [-v] \n"
    "  -h/--help     :  prints this help message\n"
    "  -n/--count    :  count (default: 5)\n"
    "  -g/--gain     :  gain (default: 0.5)\n"
    "  -v/--verbose  :  verbose\n";

const std::string kGroupReason =
    "when grouping multiple short options together, all of them must be boolean switches";

struct Case {
    std::vector<std::string> args;
    std::string output;
};

}  // namespace

class ArgparserTest : public ::testing::Test {
protected:
    // A parser for the program "tool" followed by `args`.
    Argparser& Make(const std::vector<std::string>& args, bool addHelp = true)
    {
        m_words = {"tool"};
        m_words.insert(m_words.end(), args.begin(), args.end());
        m_argv.clear();
        for (auto& word : m_words)
            m_argv.push_back(word.data());
        m_parser = std::make_unique<Argparser>(static_cast<int>(m_argv.size()), m_argv.data(), addHelp);
        return *m_parser;
    }
    // The conversion tool's options.
    Argparser& MakeTool(const std::vector<std::string>& args)
    {
        Make(args).AddString('m', "measurements", &meas, "LAB measurements file", true);
        m_parser->AddString('t', "rgbTarget", &target, "device RGB target file", true);
        return *m_parser;
    }
    Argparser& MakeNumbers(const std::vector<std::string>& args)
    {
        Make(args).AddInt('n', "count", &count, "count", false);
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
    void ExpectUntouched()
    {
        EXPECT_EQ(meas, "M0");
        EXPECT_EQ(target, "T0");
        EXPECT_EQ(count, 5);
        EXPECT_EQ(gain, 0.5f);
        EXPECT_FALSE(verbose);
    }

    std::string out, meas = "M0", target = "T0";
    int count = 5;
    float gain = 0.5f;
    bool verbose = false;

private:
    std::vector<std::string> m_words;
    std::vector<char*> m_argv;
    std::unique_ptr<Argparser> m_parser;
};

TEST_F(ArgparserTest, ToolOptionsRefusedWithExactMessages)
{
    const std::string kNoSuch = ": no such option\n\n";
    const Case cases[] = {
        {{}, "Option -m/--measurements is required.\nOption -t/--rgbTarget is required.\n" + kToolHelp},
        {{"", "-t", "b"}, "Option -m/--measurements is required.\n" + kToolHelp},
        {{"-t", "b", "-m"}, "Expected string argument for switch -m\n"},
        {{"-m", "a", "--rgbTarget"}, "Expected string argument for switch --rgbTarget\n"},
        // "-t" is the value of -m, so the target option is still missing
        {{"-m", "-t", "b"}, "Option -t/--rgbTarget is required.\n" + kToolHelp},
        {{"--measurements=a", "-t", "b"}, "Invalid --measurements=a" + kNoSuch + kToolHelp},
        {{"-mt", "a"}, "Invalid -mt: " + kGroupReason + "\n\n" + kToolHelp},
        {{"-x"}, "Invalid -x" + kNoSuch + kToolHelp},
        {{"-5"}, "Invalid -5" + kNoSuch + kToolHelp},
        {{"---m", "a"}, "Invalid ---m" + kNoSuch + kToolHelp},
        {{"-\xE9"}, "Invalid -\xE9" + kNoSuch + kToolHelp},
        {{"-h\xE9"}, kToolHelp},
        {{"-m", "a", "-h", "-bogus"}, kToolHelp},
        {{"-x", "-h"}, "Invalid -x" + kNoSuch + kToolHelp},
        {{"-t", "-h"}, "Option -m/--measurements is required.\n" + kToolHelp},
        {{"--help", "-m"}, kToolHelp},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        MakeTool(c.args);
        EXPECT_FALSE(Run());
        EXPECT_EQ(out, c.output);
        ExpectUntouched();
    }
}

TEST_F(ArgparserTest, ToolOptionsAccepted)
{
    MakeTool({"-m", "", "--rgbTarget", "-dir/t.txt", "-m", "a b.txt"});
    EXPECT_TRUE(Run());
    EXPECT_EQ(out, "");
    EXPECT_EQ(meas, "a b.txt");
    EXPECT_EQ(target, "-dir/t.txt");
    EXPECT_STREQ(g_errString, "");
}

TEST_F(ArgparserTest, NumberValuesRefusedWithExactMessages)
{
    const Case cases[] = {
        {{"-n", "abc"}, "Invalid abc: expected integer value\n\n" + kNumbersHelp},
        {{"-n", ""}, "Invalid : expected integer value\n\n" + kNumbersHelp},
        {{"-g", "x1"}, "Invalid x1: expected float value\n\n" + kNumbersHelp},
        {{"--gain", ""}, "Invalid : expected float value\n\n" + kNumbersHelp},
        {{"-n"}, "Expected integer argument for switch -n\n"},
        {{"-v", "--gain"}, "Expected float argument for switch --gain\n"},
        {{"-vn", "3"}, "Invalid -vn: " + kGroupReason + "\n\n" + kNumbersHelp},
        {{"-vvh"}, kNumbersHelp},
        {{"-vx"}, "Invalid -vx: no such option\n\n" + kNumbersHelp},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        MakeNumbers(c.args);
        EXPECT_FALSE(Run());
        EXPECT_EQ(out, c.output);
        ExpectUntouched();
    }
    // The usage text shows the values already given on the same line, not the defaults.
    MakeNumbers({"-n", "7", "-g", "-1.5", "-n", "no"});
    EXPECT_FALSE(Run());
    EXPECT_EQ(out, "Invalid no: expected integer value\n\n"
                   "usage: tool [-h] [-n integer] [-g float] [-v] \n"
                   "  -h/--help     :  prints this help message\n"
                   "  -n/--count    :  count (default: 7)\n"
                   "  -g/--gain     :  gain (default: -1.5)\n"
                   "  -v/--verbose  :  verbose\n");
    EXPECT_STREQ(g_errString, "expected integer value");
    ExpectUntouched();
}

TEST_F(ArgparserTest, NumberValuesConvertedAndClamped)
{
    struct NumberCase {
        std::vector<std::string> args;
        int count;
        float gain;
    };
    const NumberCase cases[] = {
        {{}, 5, 0.5f},
        {{"-n", "12abc"}, 12, 0.5f},
        {{"-n", "0x1A"}, 0, 0.5f},
        {{"-n", " -3"}, -3, 0.5f},
        {{"-n", "1", "--count", "2"}, 2, 0.5f},
        {{"-n", "2147483647"}, INT_MAX, 0.5f},
        {{"-n", "2147483648"}, INT_MAX, 0.5f},
        {{"-n", "-2147483649"}, INT_MIN, 0.5f},
        {{"-n", "-99999999999999999999999"}, INT_MIN, 0.5f},
        {{"-g", "-2.25e0xyz"}, 5, -2.25f},
        {{"-g", "0.1"}, 5, 0.1f},
        {{"-g", "3.4028235e38"}, 5, FLT_MAX},
        {{"-g", "1e39"}, 5, INFINITY},
        {{"-g", "-1e400"}, 5, -INFINITY},
        {{"-g", "1e-50"}, 5, 0.0f},
    };
    for (const NumberCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        count = 5;
        gain = 0.5f;
        MakeNumbers(c.args);
        EXPECT_TRUE(Run());
        EXPECT_EQ(out, "");
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(gain, c.gain);
    }
}

TEST_F(ArgparserTest, SwitchesAloneAndGrouped)
{
    bool quiet = false;
    for (const auto& args : {std::vector<std::string>{"-v"}, {"--verbose"}, {"-qv"}, {"-vqv"}}) {
        verbose = false;
        MakeNumbers(args).AddSwitch('q', "quiet", &quiet, "quiet");
        EXPECT_TRUE(Run());
        EXPECT_TRUE(verbose);
    }
}

TEST_F(ArgparserTest, PositionalArgumentsAppendedInOrder)
{
    std::vector<std::string> names = {"kept"};
    Argparser& parser = MakeNumbers({"a", "-", "-n", "3", "--", "", "b"});
    parser.AddArgNames(&names, "files...");
    EXPECT_TRUE(Run());
    EXPECT_EQ(names, (std::vector<std::string>{"kept", "a", "-", "--", "b"}));
    EXPECT_EQ(count, 3);

    // Without a destination positional arguments are ignored.
    MakeNumbers({"x", "--"});
    EXPECT_TRUE(Run());
    EXPECT_EQ(out, "");
}

TEST_F(ArgparserTest, DuplicateNamesWarnAndFirstKeepsName)
{
    bool other = false;
    Argparser& parser = MakeNumbers({"-h"});
    parser.AddSwitch('h', "count", &other, "clash");
    parser.AddSwitch(0, "", &other, "no names");
    parser.AddSwitch(0, "", &other, "no names either");
    const std::string warnings = "Warning: found duplicate short option -h\n"
                                 "Warning: found duplicate long option --count\n"
                                 "Warning: found duplicate long option --\n";
    EXPECT_FALSE(Run());
    EXPECT_EQ(out.substr(0, warnings.size()), warnings);
    EXPECT_EQ(out.find("usage: tool [-h]"), warnings.size());
    EXPECT_FALSE(other);

    // Every call rebuilds the tables, so the warnings come again.
    EXPECT_FALSE(Run());
    EXPECT_EQ(out.substr(0, warnings.size()), warnings);
}

TEST_F(ArgparserTest, ProcessTwiceRepeatsTheScan)
{
    std::vector<std::string> names;
    MakeTool({"-m", "a", "pos", "-t", "b"}).AddArgNames(&names, "");
    EXPECT_TRUE(Run());
    meas = "changed";
    EXPECT_TRUE(Run());
    EXPECT_EQ(meas, "a");
    EXPECT_EQ(names, (std::vector<std::string>{"pos", "pos"}));
}

TEST_F(ArgparserTest, UsageTextLayout)
{
    MakeTool({});
    EXPECT_EQ(Help(), kToolHelp);

    std::string blank, word = "w", big(1000, 'x');
    Argparser& parser = Make({}, false);
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

    Make({}, false).AddSwitch('s', "s", &verbose, "one letter");
    EXPECT_EQ(Help(), "usage: tool [-s] \n  -s/--s   :  one letter\n");
    Make({}, false);
    EXPECT_EQ(Help(), "usage: tool \n");
}

TEST_F(ArgparserTest, MissingProgramName)
{
    Argparser parser(0, nullptr, true);
    testutil::CaptureStdout capture;
    EXPECT_TRUE(parser.Process());
    parser.PrintHelp();
    EXPECT_EQ(capture.Text(), "usage:  [-h] \n  -h/--help  :  prints this help message\n");
}

TEST(ArgparserProgname, TextAfterLastSeparator)
{
    EXPECT_STREQ(simplify_progname("tool"), "tool");
    EXPECT_STREQ(simplify_progname("/usr/bin/tool"), "tool");
    EXPECT_STREQ(simplify_progname("a/b\\c.exe"), "c.exe");
    EXPECT_STREQ(simplify_progname("a\\b/c"), "c");
    EXPECT_STREQ(simplify_progname("dir/"), "");
    EXPECT_STREQ(simplify_progname(""), "");
}
