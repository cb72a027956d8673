// Manual pages: the page of every installed program describes every option the program
// accepts and names no long option that it refuses. The options come from the program's own
// -h output. The page is read as troff source, in which an option must be written with
// escaped hyphens (\-m, \-\-help): a plain '-' is a hyphen and renders as U+2010, which a
// reader cannot paste into a shell.
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <regex>
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

// "-m" and "--measurements" from each option line "  -m/--measurements  :  help" of a usage
// text; an option without a letter has "    /--name", one without a long name "  -m/--  ".
std::vector<std::string> OptionsInUsage(const std::string& usage)
{
    static const std::regex optionLine(R"(^  (?:-(.)|  )/--(\S*) +:  )");
    std::vector<std::string> options;
    std::istringstream lines(usage);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, optionLine))
            continue;
        // Appended rather than "-" + str: GCC 12 warns falsely about the concatenation at -O3.
        if (m[1].matched)
            options.push_back(std::string("-").append(m[1].first, m[1].second));
        if (m[2].length() > 0)
            options.push_back(std::string("--").append(m[2].first, m[2].second));
    }
    return options;
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
std::vector<std::string> PageProblems(const std::vector<std::string>& options, const std::string& troff)
{
    const std::string text = PageText(troff);
    std::vector<std::string> problems;
    for (const std::string& option : options)
        if (!Mentions(text, option))
            problems.push_back("does not describe " + option);
    static const std::regex longOption(R"((^|[^-\w])(--[\w-]+))");
    for (std::sregex_iterator it(text.begin(), text.end(), longOption), end; it != end; ++it)
        if (std::find(options.begin(), options.end(), (*it)[2].str()) == options.end())
            problems.push_back("names " + (*it)[2].str() + ", which the program does not accept");
    return problems;
}

TEST(ManPages, DescribeEveryOptionOfEveryInstalledProgram)
{
    ASSERT_NE(0u, std::size(k_tools));
    for (const InstalledTool& tool : k_tools) {
        SCOPED_TRACE(tool.name);
        testutil::TempDir dir;
        const testutil::RunResult help = testutil::Run(tool.executable, {"-h"}, dir.path());
        EXPECT_EQ(1, help.status);
        const std::vector<std::string> options = OptionsInUsage(help.out);
        // The usage text's format is what the options are read from: none found means it changed.
        ASSERT_NE(options.end(), std::find(options.begin(), options.end(), "--help")) << help.out;

        const std::string page = testutil::ReadFile(tool.page);
        std::string title = tool.name;
        std::transform(title.begin(), title.end(), title.begin(), ::toupper);
        EXPECT_EQ(0u, page.find(".TH " + title + " 1 ")) << "the page's title line names the program";
        EXPECT_EQ(std::vector<std::string>{}, PageProblems(options, page));
    }
}

TEST(ManPages, ReadOptionsFromUsageTextAndTroff)
{
    const std::string usage = "usage: tool [-h] -m string [--level integer] [-q] [-v] \n"
                              "  -h/--help          :  prints this help message\n"
                              "  -m/--measurements  :  LAB measurements file (required)\n"
                              "    /--level         :  level (default: 3)\n"
                              "  -q/--              :  quiet\n"
                              "  -v/--v             :  verbose\n";
    const std::vector<std::string> options = OptionsInUsage(usage);
    EXPECT_EQ((std::vector<std::string>{"-h", "--help", "-m", "--measurements", "--level", "-q", "-v", "--v"}),
              options);

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
