// The command-line parser on a fuzzed argv. The first input byte chooses the set-up (bit 0:
// built-in help; bit 1: a second option reusing the short name 'm' and the long name "count";
// bit 2: positional arguments); the rest, split at NUL bytes, gives up to 64 arguments after
// the program name. Invariants: a refused command line leaves every bound variable at its
// default; an accepted one names the required option's value among its arguments, and a
// second parser over the same arguments accepts it too, with the same values.
#include "argparser.h"
#include "fuzzutil.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t k_maxArgs = 64;

struct Values {
    bool verbose = false;
    int count = 7;
    float factor = 0.5f;
    std::string measurements = "m.ti3";
    std::string target = "t.txt";
    std::string clash = "c";
    std::vector<std::string> names;

    bool operator==(const Values& o) const
    {
        return verbose == o.verbose && count == o.count && std::memcmp(&factor, &o.factor, sizeof factor) == 0 &&
               measurements == o.measurements && target == o.target && clash == o.clash && names == o.names;
    }
};

bool Parse(unsigned setup, std::vector<std::string> args, Values* v)
{
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    ns_Argparser::Argparser parser(static_cast<int>(args.size()), argv.data(), (setup & 1) != 0);
    parser.AddSwitch('v', "verbose", &v->verbose, "more output");
    parser.AddInt('n', "count", &v->count, "how many", false);
    parser.AddFloat('f', "factor", &v->factor, "scale", false);
    parser.AddString('m', "measurements", &v->measurements, "LAB measurements file", true);
    parser.AddString('t', "rgbTarget", &v->target, "device RGB target file", false);
    if (setup & 2)
        parser.AddString('m', "count", &v->clash, "clashing names", false);
    if (setup & 4)
        parser.AddArgNames(&v->names, "files...");
    parser.SetHelpString("Converts things.");
    return parser.Process();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzutil::SilenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const unsigned setup = data[0];
    std::vector<std::string> args = {"/usr/bin/prog"};
    const char* p = reinterpret_cast<const char*>(data) + 1;
    const char* end = reinterpret_cast<const char*>(data) + size;
    while (p < end && args.size() <= k_maxArgs) {
        const char* nul = std::find(p, end, '\0');
        args.emplace_back(p, nul);
        p = nul + 1;
    }

    Values values;
    const bool accepted = Parse(setup, args, &values);
    Values defaults;
    if (!accepted) {
        defaults.names = values.names;
        FUZZ_CHECK(values == defaults);
        return 0;
    }
    FUZZ_CHECK(std::find(args.begin() + 1, args.end(), values.measurements) != args.end());
    Values again;
    FUZZ_CHECK(Parse(setup, args, &again));
    FUZZ_CHECK(again == values);
    return 0;
}
