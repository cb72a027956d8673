// chartlab profile: the measured chart as an ICC profile (chartprofile.h), written to a file
// that is replaced only when the whole profile was written.
#include "chartprofile.h"
#include "cli.h"
#include "commands.h"

#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace chartlab;

constexpr const char* k_defaultCopyright = "No copyright, use freely. Made with chartlab from measured chart data.";

constexpr const char* k_helpText =
    "Writes the chart as an ICC profile (version 2.4, RGB to Lab) whose tables hold the measured\n"
    "grid. Exit status: 0 when the profile was written, 1 when the command line was refused, 2\n"
    "when the chart cannot be made into a profile or the file cannot be written (the message on\n"
    "standard error says why; an existing file is then left untouched).";

struct Options {
    std::string chart;
    std::string output;
    ProfileClass profileClass = ProfileClass::Input;
    std::string description;
    std::string copyright = k_defaultCopyright;
    int clutPoints = 33;
};

// Parses the command line into `options`; -1 when accepted, else the exit status.
int ParseOptions(int argc, char** argv, Options* options)
{
    std::string profileClass = "input";
    CommandLine line(argc, argv, &options->chart);
    ns_Argparser::Argparser& parser = line.Parser();
    parser.AddString('o', "output", &options->output, "the profile file to write", true);
    parser.AddString(0, "class", &profileClass, "input (A2B tables) or display (A2B and B2A tables)", false);
    parser.AddString(0, "description", &options->description,
                     "the profile's description; empty: the chart's file name", false);
    parser.AddString(0, "copyright", &options->copyright, "the profile's copyright text (ASCII)", false);
    parser.AddInt(0, "clut", &options->clutPoints, "points per axis of a display profile's B2A tables, 2 to 255",
                  false);
    if (const int status = line.Process(k_helpText); status >= 0)
        return status;
    if (profileClass == "input" || profileClass == "display") {
        options->profileClass = profileClass == "input" ? ProfileClass::Input : ProfileClass::Display;
    } else {
        Complain(argv[0], "unknown class '%s': use input or display", profileClass.c_str());
        return k_exitUsage;
    }
    if (options->clutPoints < 2 || options->clutPoints > k_maxProfileGridPoints) {
        Complain(argv[0], "invalid --clut %d: use 2 to %d", options->clutPoints, k_maxProfileGridPoints);
        return k_exitUsage;
    }
    if (options->output == k_standardStream) {
        Complain(argv[0], "a profile is written to a file, not to standard output: name one with -o");
        return k_exitUsage;
    }
    if (options->description.empty())
        options->description = std::filesystem::path(options->chart).filename().string();
    return -1;
}

// The grid point's device values, "R G B".
std::string DeviceValues(const MeasuredGrid& grid, const int point[3])
{
    return FormatValue(grid.Axis(0)[point[0]]) + " " + FormatValue(grid.Axis(1)[point[1]]) + " " +
           FormatValue(grid.Axis(2)[point[2]]);
}

// Says why the chart at `path` makes no profile.
void Explain(const char* program, const std::string& path, const MeasuredGrid& grid, ChartProfileBuild result,
             const int point[3])
{
    const char* file = path.c_str();
    const int top[3] = {grid.N() - 1, grid.N() - 1, grid.N() - 1};
    switch (result) {
    case ChartProfileBuild::Ok:
    case ChartProfileBuild::BadClutPoints:  // refused with the command line
        break;
    case ChartProfileBuild::TooFewValues:
        Complain(program, "'%s' has only one value in each channel: a profile needs at least 2", file);
        break;
    case ChartProfileBuild::TooManyValues:
        Complain(program, "'%s' has %d values in each channel: a profile holds at most %d", file, grid.N(),
                 k_maxProfileGridPoints);
        break;
    case ChartProfileBuild::NoRange:
        Complain(program, "'%s' has an RGB value below 0 or infinite: a profile's device values run from 0 to the "
                          "largest", file);
        break;
    case ChartProfileBuild::UnmeasuredPoint:
        Complain(program, "'%s' has no usable Lab value at the grid point %s: a profile needs every point, with "
                          "L*, a* and b* within -%g..%g", file, DeviceValues(grid, point).c_str(), k_maxProfileLab,
                 k_maxProfileLab);
        break;
    case ChartProfileBuild::BadWhite:
        Complain(program, "'%s' has no usable white: the patch at %s (the grid's highest corner) has Lab %s %s %s",
                 file, DeviceValues(grid, top).c_str(), FormatValue(grid.Lab(top[0], top[1], top[2]).c[0]).c_str(),
                 FormatValue(grid.Lab(top[0], top[1], top[2]).c[1]).c_str(),
                 FormatValue(grid.Lab(top[0], top[1], top[2]).c[2]).c_str());
        break;
    }
}

int MakeProfile(const char* program, const Options& options)
{
    MeasuredGrid grid;
    if (!LoadChart(program, options.chart, &grid))
        return k_exitFailure;
    ChartProfileSettings settings;
    settings.profileClass = options.profileClass;
    settings.clutPoints = options.clutPoints;
    settings.description = options.description;
    settings.copyright = options.copyright;
    settings.created = std::time(nullptr);
    std::unique_ptr<ICC_CPP_Profile> profile;
    int point[3] = {0, 0, 0};
    const ChartProfileBuild result = BuildChartProfile(grid, settings, &profile, point);
    if (result != ChartProfileBuild::Ok) {
        Explain(program, options.chart, grid, result, point);
        return k_exitFailure;
    }
    if (!profile->WriteFile(options.output.c_str())) {
        Complain(program, "cannot write '%s'", options.output.c_str());
        return k_exitFailure;
    }
    return k_exitSuccess;
}

}  // namespace

int RunProfile(int argc, char** argv)
{
    Options options;
    if (const int status = ParseOptions(argc, argv, &options); status >= 0)
        return status;
    return MakeProfile(argv[0], options);
}
