// Manual pages: the page of every installed program describes every option the program
// accepts and names no long option that it refuses. The options come from the program's own
// -h output and, for a program with commands, from each command's -h. The page is read as
// troff source, in which an option must be written with escaped hyphens (\-m, \-\-help): a
// plain '-' is a hyphen and renders as U+2010, which a reader cannot paste into a shell.
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>

namespace {

struct InstalledTool {
    const char* name;
    const char* executable;
    const char* page;  // as installed
};
const InstalledTool k_tools[] = {INSTALLED_TOOLS};

using Options = std::set<std::string>;

// Every word of a usage text that begins with one or two dashes and a letter (so not a
// default of "-3"), at the start of a line or after a blank, '[', '|' or '/': the option
// table's "  -m/--measurements  :  help" gives -m and --measurements, "[-h]" gives -h.
// With `commands`, the first word of each line of the block under "commands:" instead.
std::vector<std::string> InUsage(const std::string& usage, bool commands = false)
{
    static const std::regex option(R"((^|[\s[|/])(--?[A-Za-z][\w-]*))"), block(R"(\ncommands:\n((  \w+.*\n)+))"),
        command(R"((^|\n)  (\w+))");
    std::smatch found;
    if (commands && !std::regex_search(usage, found, block))
        return {};
    const std::string text = commands ? found[1].str() : usage;
    std::vector<std::string> words;
    const std::regex& word = commands ? command : option;
    for (std::sregex_iterator it(text.begin(), text.end(), word), end; it != end; ++it)
        words.push_back((*it)[2].str());
    return words;
}

// One line per fault: an accepted option the troff page does not describe, a long option it
// names that is not accepted. Font changes and zero-width marks are dropped, "\-" is read as
// '-', and a plain '-' as '\x01' so that it spells no option.
std::vector<std::string> PageProblems(const Options& options, const std::string& troff)
{
    std::string text = std::regex_replace(troff, std::regex(R"(\\f(\(..|\[[^\]]*\]|.)|\\&)"), "");
    text = std::regex_replace(text, std::regex(R"(\\-)"), "\x02");
    std::replace(text.begin(), text.end(), '-', '\x01');
    std::replace(text.begin(), text.end(), '\x02', '-');
    std::vector<std::string> problems;
    for (const std::string& option : options)
        if (!std::regex_search(text, std::regex("(^|[^\\w-])" + option + "([^\\w-]|$)")))
            problems.push_back("does not describe " + option);
    static const std::regex longOption(R"((^|[^-\w])(--[\w-]+))");
    for (std::sregex_iterator it(text.begin(), text.end(), longOption), end; it != end; ++it)
        if (!options.count((*it)[2].str()))
            problems.push_back("names " + (*it)[2].str() + ", which the program does not accept");
    return problems;
}

TEST(ManPages, DescribeEveryOptionOfEveryInstalledProgram)
{
    ASSERT_NE(0u, std::size(k_tools));
    for (const InstalledTool& tool : k_tools) {
        SCOPED_TRACE(tool.name);
        testutil::TempDir dir;
        const std::string help = testutil::Run(tool.executable, {"-h"}, dir.path()).out;
        std::vector<std::string> options = InUsage(help);
        for (const std::string& command : InUsage(help, true)) {
            const std::vector<std::string> more = InUsage(testutil::Run(tool.executable, {command, "-h"}, dir.path()).out);
            EXPECT_TRUE(std::count(more.begin(), more.end(), "--help")) << command;
            options.insert(options.end(), more.begin(), more.end());
        }
        // The usage text's format is what the options are read from: no -h means it changed.
        ASSERT_NE(options.end(), std::find(options.begin(), options.end(), "-h")) << help;
        std::string title = tool.name;
        std::transform(title.begin(), title.end(), title.begin(), ::toupper);
        const std::string page = testutil::ReadFile(tool.page);
        EXPECT_EQ(0u, page.find(".TH " + title + " 1 ")) << "the page's title line names the program";
        EXPECT_EQ(std::vector<std::string>{}, PageProblems(Options(options.begin(), options.end()), page));
    }
}

TEST(ManPages, ReadOptionsFromUsageTextAndTroff)
{
    const std::string usage = "usage: tool [-h] -m string [--level integer] [-q|-v] \n"
                              "  -h/--help          :  prints this help message\n"
                              "    /--level         :  level (default: -3), not log-only\n"
                              "  -q/--              :  quiet\n"
                              "commands:\n"
                              "  convert  converts\n"
                              "  invert   inverts\n"
                              "\n"
                              "  more text\n";
    const std::vector<std::string> options = InUsage(usage);
    EXPECT_EQ((Options{"-h", "--help", "-m", "--level", "-q", "-v"}), Options(options.begin(), options.end()));
    EXPECT_EQ((std::vector<std::string>{"convert", "invert"}), InUsage(usage, true));
    EXPECT_EQ(std::vector<std::string>{}, InUsage("usage: tool [-h]\n", true));

    const Options accepted = {"-m", "--measurements", "-q", "--v"};
    const std::string described = "\\fB\\-m\\fR, \\f(CW\\-\\-measure\\&ments\\fP [\\-q] \\-\\-v x\\-\\-foo y\\f[I]\\-\\-bar\n";
    const struct { std::string from, to; std::vector<std::string> problems; } cases[] = {
        {"", "", {}},
        {"[\\-q]", "[-q]", {"does not describe -q"}},
        {"\\fB\\-m\\fR", "\\fB\\-mx\\fR", {"does not describe -m"}},
        {"\\fB\\-m\\fR", "\\fBx\\-m\\fR", {"does not describe -m"}},
        {"\\-\\-measure\\&ments", "\\-\\-measurement",
         {"does not describe --measurements", "names --measurement, which the program does not accept"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to);
        std::string page = described;
        page.replace(page.find(c.from), c.from.size(), c.to);
        EXPECT_EQ(c.problems, PageProblems(accepted, page));
    }
}

}  // namespace
