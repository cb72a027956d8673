// Manual pages: the page of every installed program describes every option the program
// accepts and names no long option that it refuses. The options come from the program's own
// -h output and, for a program with commands, from each command's -h. The page is read as
// troff source, in which an option must be written with escaped hyphens (\-m, \-\-help): a
// plain '-' is a hyphen and renders as U+2010, which a reader cannot paste into a shell.
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <regex>
#include <set>

namespace {

// Each installed program's name, executable and installed page.
const std::array<const char*, 3> k_tools[] = {INSTALLED_TOOLS};

using Words = std::set<std::string>;

// The second group of every match of `pattern` in `text`.
Words Matches(const std::string& text, const std::string& pattern)
{
    const std::regex re(pattern);
    Words words;
    for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it)
        words.insert((*it)[2].str());
    return words;
}

// Every word of a usage text that begins with one or two dashes and a letter (so not a
// default of "-3"), at the start of a line or after a blank, '[', '|' or '/': the option
// table's "  -m/--measurements  :  help" gives -m and --measurements, "[-h]" gives -h.
Words Options(const std::string& usage) { return Matches(usage, R"((^|[\s[|/])(--?[A-Za-z][\w-]*))"); }

// One line per fault: an accepted option the troff page does not describe, a long option it
// names that is not accepted. Font changes and zero-width marks are dropped, "\-" is read as
// '-', and a plain '-' as '\x01' so that it spells no option.
std::vector<std::string> PageProblems(const Words& options, const std::string& troff)
{
    std::string text = std::regex_replace(troff, std::regex(R"(\\f(\(..|\[[^\]]*\]|.)|\\&)"), "");
    text = std::regex_replace(text, std::regex(R"(\\-)"), "\x02");
    std::replace(text.begin(), text.end(), '-', '\x01');
    std::replace(text.begin(), text.end(), '\x02', '-');
    std::vector<std::string> problems;
    for (const std::string& option : options)
        if (!std::regex_search(text, std::regex("(^|[^\\w-])" + option + "([^\\w-]|$)")))
            problems.push_back("does not describe " + option);
    for (const std::string& named : Matches(text, R"((^|[^-\w])(--[\w-]+))"))
        if (!options.count(named))
            problems.push_back("names " + named + ", which the program does not accept");
    return problems;
}

TEST(ManPages, DescribeEveryOptionOfEveryInstalledProgram)
{
    for (const auto& [name, executable, installedPage] : k_tools) {
        SCOPED_TRACE(name);
        testutil::TempDir dir;
        const std::string help = testutil::Run(executable, {"-h"}, dir.path()).out;
        Words options = Options(help);
        // The commands, if any: the first word of each line of the block under "commands:".
        std::smatch block;
        std::regex_search(help, block, std::regex(R"(\ncommands:\n((  \w+.*\n)+))"));
        for (const std::string& command : Matches(block[1].str(), R"((^|\n)  (\w+))")) {
            const Words more = Options(testutil::Run(executable, {command, "-h"}, dir.path()).out);
            EXPECT_EQ(1u, more.count("--help")) << command;
            options.insert(more.begin(), more.end());
        }
        // The usage text's format is what the options are read from: no -h means it changed.
        ASSERT_EQ(1u, options.count("-h")) << help;
        std::string title = name;
        std::transform(title.begin(), title.end(), title.begin(), ::toupper);
        const std::string page = testutil::ReadFile(installedPage);
        EXPECT_EQ(0u, page.find(".TH " + title + " 1 ")) << "the page's title line names the program";
        EXPECT_EQ(std::vector<std::string>{}, PageProblems(options, page));
        // The reader sees the faults: a long option the program refuses, an option written
        // with a plain hyphen.
        EXPECT_EQ(std::vector<std::string>{"names --nonesuch, which the program does not accept"},
                  PageProblems(options, page + "\\-\\-nonesuch\n"));
        EXPECT_EQ(std::vector<std::string>{"does not describe -h"}, PageProblems({"-h"}, "\\fB-h\\fR \\-hx\n"));
    }
}

}  // namespace
