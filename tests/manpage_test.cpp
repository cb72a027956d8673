// Manual pages: the page of every installed program describes every option the program
// accepts and names no long option that it refuses. The options come from the program's own
// -h output and, for a program with commands, from each command's -h. The page is read as
// troff source, in which an option must be written with escaped hyphens (\-m, \-\-help): a
// plain '-' is a hyphen and renders as U+2010, which a reader cannot paste into a shell.
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

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
Options OptionsInUsage(const std::string& usage)
{
    static const std::regex option(R"((^|[\s[|/])(--?[A-Za-z][\w-]*))");
    Options options;
    for (std::sregex_iterator it(usage.begin(), usage.end(), option), end; it != end; ++it)
        options.insert((*it)[2].str());
    return options;
}

// The first word of each line of the block that follows a line "commands:", up to a blank line.
std::vector<std::string> CommandsInUsage(const std::string& usage)
{
    std::vector<std::string> commands;
    std::istringstream lines(usage);
    std::string line;
    while (std::getline(lines, line) && line != "commands:") {
    }
    while (std::getline(lines, line) && !line.empty()) {
        std::istringstream words(line);
        std::string word;
        if (words >> word)
            commands.push_back(word);
    }
    return commands;
}

// The troff source as far as options are concerned: font changes and zero-width marks
// dropped, "\-" read as '-', and a plain '-' read as '\x01' so that it spells no option.
// An escape cut short by the end of the text reads troff[troff.size()], which is '\0'.
std::string PageText(const std::string& troff)
{
    std::string text;
    for (std::size_t i = 0; i < troff.size(); ++i) {
        const char c = troff[i];
        if (c == '-') {
            text += '\x01';
        } else if (c != '\\') {
            text += c;
        } else if (const char e = troff[++i]; e == '-') {
            text += '-';
        } else if (e == 'f') {  // \fB, \f(CW, \f[CW]
            if (troff[i + 1] == '(')
                i += 3;
            else if (troff[i + 1] == '[')
                i = std::min(troff.find(']', i), troff.size());
            else
                i += 1;
        } else if (e != '&') {
            text += '\\';
            text += e;
        }
    }
    return text;
}

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_'; }

bool Mentions(const std::string& text, const std::string& option)
{
    for (std::size_t at = text.find(option); at != std::string::npos; at = text.find(option, at + 1)) {
        const std::size_t end = at + option.size();
        if ((at == 0 || !IsWordChar(text[at - 1])) && (end == text.size() || !IsWordChar(text[end])))
            return true;
    }
    return false;
}

// One line per fault: an accepted option the page does not describe, a long option the page
// names that is not accepted.
std::vector<std::string> PageProblems(const Options& options, const std::string& troff)
{
    const std::string text = PageText(troff);
    std::vector<std::string> problems;
    for (const std::string& option : options)
        if (!Mentions(text, option))
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
        Options options = OptionsInUsage(help);
        for (const std::string& command : CommandsInUsage(help)) {
            const Options more = OptionsInUsage(testutil::Run(tool.executable, {command, "-h"}, dir.path()).out);
            EXPECT_TRUE(more.count("--help")) << command;
            options.insert(more.begin(), more.end());
        }
        // The usage text's format is what the options are read from: no -h means it changed.
        ASSERT_TRUE(options.count("-h")) << help;

        const std::string page = testutil::ReadFile(tool.page);
        std::string title = tool.name;
        std::transform(title.begin(), title.end(), title.begin(), ::toupper);
        EXPECT_EQ(0u, page.find(".TH " + title + " 1 ")) << "the page's title line names the program";
        EXPECT_EQ(std::vector<std::string>{}, PageProblems(options, page));
    }
}

TEST(ManPages, ReadOptionsFromUsageTextAndTroff)
{
    const std::string usage = "usage: tool [-h] -m string [--level integer] [-q|-v] \n"
                              "  -h/--help          :  prints this help message\n"
                              "  -m/--measurements  :  LAB measurements file, - for standard input\n"
                              "    /--level         :  level (default: -3)\n"
                              "  -q/--              :  quiet, not log-only\n"
                              "  -v/--v             :  verbose\n";
    const Options options = OptionsInUsage(usage);
    EXPECT_EQ((Options{"-h", "--help", "-m", "--measurements", "--level", "-q", "-v", "--v"}), options);
    const std::string withCommands = "usage: tool COMMAND [options]\n"
                                     "       tool COMMAND -h    explains COMMAND\n"
                                     "       tool --version     prints the version\n"
                                     "\n"
                                     "commands:\n"
                                     "  convert  converts\n"
                                     "  invert   inverts\n"
                                     "\n"
                                     "more text\n";
    EXPECT_EQ((Options{"-h", "--version"}), OptionsInUsage(withCommands));
    EXPECT_EQ((std::vector<std::string>{"convert", "invert"}), CommandsInUsage(withCommands));
    EXPECT_EQ(std::vector<std::string>{}, CommandsInUsage(usage));

    const std::string described = "\\fB\\-m\\fR, \\f(CW\\-\\-measure\\&ments\\fP \\fIfile\\fR\n"
                                  ".BR \\-h \", \" \\-\\-help\n"
                                  ".B \\f[B]\\-\\-level\\f[]\n"
                                  "\\-quiet [\\-q] \\-v, \\-\\-v\n";
    const struct { const char* name; std::string from, to; std::vector<std::string> problems; } cases[] = {
        {"every option", "", "", {}},
        {"plain hyphen", "[\\-q]", "[-q]", {"does not describe -q"}},
        {"longer word", "\\fB\\-m\\fR", "\\fB\\-mx\\fR", {"does not describe -m"}},
        {"inside a word", "\\fB\\-m\\fR", "\\fBx\\-m\\fR", {"does not describe -m"}},
        {"renamed long option", "\\-\\-measure\\&ments", "\\-\\-measurement",
         {"does not describe --measurements", "names --measurement, which the program does not accept"}},
        {"dashes inside a word", "[\\-q]", "[\\-q] x\\-\\-foo y\\f[I]\\-\\-bar", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string page = described;
        if (!c.from.empty())
            page.replace(page.find(c.from), c.from.size(), c.to);
        EXPECT_EQ(c.problems, PageProblems(options, page));
    }
}

}  // namespace
