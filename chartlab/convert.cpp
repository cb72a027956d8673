// chartlab convert: the Lab value of each target device RGB, interpolated in the measured
// chart's grid, as plain "%lf\t%lf\t%lf\n" lines (the bytes rgb2lab writes to out) or as a
// CGATS table:
//
//   CTI3
//
//   DESCRIPTOR "chartlab convert, trilinear"
//   ORIGINATOR "chartlab 0.1.0"
//   COLOR_REP "RGB_LAB"
//
//   NUMBER_OF_FIELDS 7
//   BEGIN_DATA_FORMAT
//   SAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B
//   END_DATA_FORMAT
//
//   NUMBER_OF_SETS 2
//   BEGIN_DATA
//   1 25.000000 50.000000 75.000000 56.123456 -12.345678 -20.000000
//   A2 ...                        (a column-layout target table's own sample ids)
//   END_DATA
//
// Every target is interpolated before anything is written: a target that cannot be fails
// the run and leaves the output untouched.
#include "cli.h"
#include "commands.h"
#include "numbertext.h"
#include "version.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

using namespace chartlab;

struct Options {
    std::string chart;
    std::string targets = k_standardStream;
    std::string output = k_standardStream;
    Interpolation how = Interpolation::Trilinear;
    OutputFormat format = OutputFormat::Plain;
    double range = 0.0;  // 0: the targets are in the chart's units
};

const char* const k_rgbNames[3] = {"RGB_R", "RGB_G", "RGB_B"};

constexpr const char* k_helpText =
    "Writes one Lab value per target, in target order. Exit status: 0 when every target was\n"
    "converted, 1 when the command line was refused, 2 when the conversion failed (the\n"
    "message on standard error says why; the output is then left untouched).";

// Parses the command line into `options`; -1 when accepted, else the exit status.
int ParseOptions(int argc, char** argv, Options* options)
{
    std::string interpolation = "trilinear", format = "plain", range = "none";
    std::vector<std::string> extra;
    ns_Argparser::Argparser parser(argc, argv, false);
    auto* help = new ns_Argparser::ArgparserOptionHelp('h', "help", "prints this help message");
    parser.AddOption(help);
    parser.AddString('m', "measurements", &options->chart,
                     "measured chart: RGB_R RGB_G RGB_B with LAB_L LAB_A LAB_B or XYZ_X XYZ_Y XYZ_Z", true);
    parser.AddString('t', "targets", &options->targets, "device RGB targets, - for standard input", false);
    parser.AddString('o', "output", &options->output, "output file, - for standard output", false);
    parser.AddString('i', "interpolation", &interpolation, "trilinear or tetrahedral", false);
    parser.AddString('f', "format", &format, "plain (L a b lines) or cgats", false);
    parser.AddString('r', "range", &range, "targets run from 0 to RANGE, scaled onto the chart's range", false);
    parser.AddArgNames(&extra, "");
    parser.SetHelpString(k_helpText);
    if (const int status = ProcessCommandLine(parser, *help); status >= 0)
        return status;

    if (!extra.empty()) {
        Complain(argv[0], "unexpected argument '%s'", extra.front().c_str());
        return k_exitUsage;
    }
    if (!ParseInterpolation(interpolation, &options->how)) {
        Complain(argv[0], "unknown interpolation '%s': use trilinear or tetrahedral", interpolation.c_str());
        return k_exitUsage;
    }
    if (!ParseOutputFormat(format, &options->format)) {
        Complain(argv[0], "unknown format '%s': use plain or cgats", format.c_str());
        return k_exitUsage;
    }
    if (!ParseRange(range, &options->range)) {
        Complain(argv[0], "invalid range '%s': use a number above 0, or none", range.c_str());
        return k_exitUsage;
    }
    return -1;
}

// 0..range onto 0..top, the largest value of any axis: value / range * top, so that the
// range itself lands exactly on the top.
Color3 Scaled(const Color3& rgb, double range, double top)
{
    Color3 out;
    for (int a = 0; a < 3; ++a)
        out.c[a] = rgb.c[a] / range * top;
    return out;
}

// Interpolates every target into `labs`; false after naming the first that cannot be.
bool Interpolate(const char* program, const Options& options, const MeasuredGrid& grid, const TripletTable& targets,
                 std::vector<Color3>* labs)
{
    double top = grid.Axis(0).back();
    for (int a = 1; a < 3; ++a)
        top = std::max(top, grid.Axis(a).back());
    labs->resize(targets.patches.size());
    for (std::size_t t = 0; t < targets.patches.size(); ++t) {
        const Color3& rgb = targets.patches[t];
        const GridLookup result = grid.Interpolate(options.range > 0.0 ? Scaled(rgb, options.range, top) : rgb,
                                                   options.how, &(*labs)[t]);
        if (result == GridLookup::Ok)
            continue;
        const std::string id = targets.sampleIds.empty() ? "" : " (sample id " + targets.sampleIds[t] + ")";
        Complain(program, "target %s %s %s on line %zu of %s%s %s", FormatValue(rgb.c[0]).c_str(),
                 FormatValue(rgb.c[1]).c_str(), FormatValue(rgb.c[2]).c_str(), targets.lines[t],
                 DescribeInput(options.targets).c_str(), id.c_str(),
                 result == GridLookup::OutsideGrid ? "is outside the chart's grid"
                                                   : "lies in a grid cell with an unmeasured corner");
        return false;
    }
    return true;
}

void WritePlain(Output& output, const std::vector<Color3>& labs)
{
    for (const Color3& lab : labs)
        output.Advance(FormatTripletLine(output.Room(k_maxTripletLineChars), lab));
}

char* Append(char* p, const char* text)
{
    const std::size_t length = std::strlen(text);
    std::memcpy(p, text, length);
    return p + length;
}

void WriteCgats(Output& output, const Options& options, const TripletTable& targets, const std::vector<Color3>& labs)
{
    const std::string header = std::string("CTI3\n\nDESCRIPTOR \"chartlab convert, ") +
                               (options.how == Interpolation::Trilinear ? "trilinear" : "tetrahedral") +
                               "\"\nORIGINATOR \"chartlab " CHARTLAB_VERSION "\"\nCOLOR_REP \"RGB_LAB\"\n\n"
                               "NUMBER_OF_FIELDS 7\nBEGIN_DATA_FORMAT\nSAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B\n"
                               "END_DATA_FORMAT\n\nNUMBER_OF_SETS " + std::to_string(labs.size()) + "\nBEGIN_DATA\n";
    output.Advance(Append(output.Room(header.size()), header.c_str()));
    for (std::size_t t = 0; t < labs.size(); ++t) {
        const std::string id = targets.sampleIds.empty() ? std::to_string(t + 1) : targets.sampleIds[t];
        char* p = Append(output.Room(id.size() + 6 * (k_maxFixed6Chars + 1)), id.c_str());
        const Color3& rgb = targets.patches[t];
        const Color3& lab = labs[t];
        for (double v : {rgb.c[0], rgb.c[1], rgb.c[2], lab.c[0], lab.c[1], lab.c[2]}) {
            *p++ = ' ';
            p = FormatFixed6(p, v);
        }
        *p++ = '\n';
        output.Advance(p);
    }
    output.Advance(Append(output.Room(9), "END_DATA\n"));
}

int Convert(const char* program, const Options& options)
{
    MeasuredGrid grid;
    if (!LoadChart(program, options.chart, &grid))
        return k_exitFailure;
    TripletTable targets;
    if (!LoadTable(program, options.targets, k_rgbNames, &targets))
        return k_exitFailure;
    std::vector<Color3> labs;
    if (!Interpolate(program, options, grid, targets, &labs))
        return k_exitFailure;

    Output output(options.output);
    if (!output.Open()) {
        Complain(program, "cannot write %s", output.Describe().c_str());
        return k_exitFailure;
    }
    if (options.format == OutputFormat::Plain)
        WritePlain(output, labs);
    else
        WriteCgats(output, options, targets, labs);
    if (!output.Finish()) {
        Complain(program, "cannot write %s", output.Describe().c_str());
        return k_exitFailure;
    }
    return k_exitSuccess;
}

}  // namespace

int RunConvert(int argc, char** argv)
{
    try {
        Options options;
        if (const int status = ParseOptions(argc, argv, &options); status >= 0)
            return status;
        return Convert(argv[0], options);
    } catch (const std::bad_alloc&) {
        Complain(argv[0], "out of memory");
        return k_exitFailure;
    }
}
