#include "commands.h"

#include "cli.h"
#include "version.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

const Command k_commands[] = {
    {"convert", "derives the Lab value of each target device RGB from a measured chart", RunConvert},
    {"invert", "finds the device RGB that gives each wanted Lab value in a measured chart", RunInvert},
    {"profile", "makes an ICC profile whose tables hold the measured chart", RunProfile},
    {"check", "reports how far a measured chart can be trusted", RunCheck},
};

void PrintUsage(std::FILE* stream)
{
    std::string text = "usage: chartlab COMMAND [options]\n"
                       "       chartlab COMMAND -h    explains COMMAND\n"
                       "       chartlab --version     prints the version\n"
                       "\n"
                       "commands:\n";
    std::size_t width = 0;
    for (const Command& c : k_commands)
        width = std::max(width, std::strlen(c.name));
    for (const Command& c : k_commands)
        text += "  " + std::string(c.name) + std::string(width - std::strlen(c.name) + 2, ' ') + c.summary + "\n";
    std::fputs(text.c_str(), stream);
}

}  // namespace

int RunChartlab(int argc, char** argv)
{
    if (argc < 2) {
        PrintUsage(stderr);
        return chartlab::k_exitUsage;
    }
    const std::string word = argv[1];
    if (word == "-h" || word == "--help") {
        PrintUsage(stdout);
        return chartlab::k_exitSuccess;
    }
    if (word == "--version") {
        std::printf("chartlab " CHARTLAB_VERSION "\n");
        return chartlab::k_exitSuccess;
    }
    for (const Command& c : k_commands) {
        if (word != c.name)
            continue;
        // The command sees "chartlab NAME" as its program name, which its usage text shows.
        std::string program = "chartlab " + word;
        try {
            std::vector<char*> args{program.data()};
            args.insert(args.end(), argv + 2, argv + argc);
            args.push_back(nullptr);
            return c.run(argc - 1, args.data());
        } catch (const std::bad_alloc&) {
            // Every command ends here when memory runs out, whatever it was doing.
            chartlab::Complain(program.c_str(), "out of memory");
            return chartlab::k_exitFailure;
        }
    }
    std::fprintf(stderr, "chartlab: unknown command '%s' (chartlab -h lists the commands)\n", word.c_str());
    return chartlab::k_exitUsage;
}
