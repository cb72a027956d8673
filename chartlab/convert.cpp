// chartlab convert: the Lab value of each target device RGB, interpolated in the measured
// chart's grid, as plain "%lf\t%lf\t%lf\n" lines (the bytes rgb2lab writes to out) or as a
// CGATS table (cli.h) with the fields SAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B, the
// target table's own sample ids when it has them, else 1, 2, ...
//
// Every target is interpolated before anything is written: a target that cannot be fails
// the run and leaves the output untouched.
#include "cli.h"
#include "commands.h"

#include <string>
#include <vector>

namespace {

using namespace chartlab;

const char* const k_rgbNames[3] = {"RGB_R", "RGB_G", "RGB_B"};

const TableCommand k_command = {
    't',
    "targets",
    "device RGB targets, - for standard input",
    "plain (L a b lines) or cgats",
    "targets run from 0 to RANGE, scaled onto the chart's range",
    "Writes one Lab value per target, in target order. Exit status: 0 when every target was\n"
    "converted, 1 when the command line was refused, 2 when the conversion failed (the\n"
    "message on standard error says why; the output is then left untouched).",
};

// 0..range onto 0..top, the largest value of any axis: value / range * top, so that the
// range itself lands exactly on the top.
Color3 Scaled(const Color3& rgb, double range, double top)
{
    Color3 out;
    for (int a = 0; a < 3; ++a)
        out.c[a] = rgb.c[a] / range * top;
    return out;
}

// Interpolates every target t into labs[t]; false after naming the first that cannot be.
// `labs` may be the targets' own patches: each is read before its Lab value replaces it.
bool Interpolate(const char* program, const TableOptions& options, const MeasuredGrid& grid,
                 const TripletTable& targets, Color3* labs)
{
    const double top = TopOfAxes(grid);
    for (std::size_t t = 0; t < targets.patches.size(); ++t) {
        const Color3& rgb = targets.patches[t];
        const GridLookup result = grid.Interpolate(options.range > 0.0 ? Scaled(rgb, options.range, top) : rgb,
                                                   options.how, &labs[t]);
        if (result == GridLookup::Ok)
            continue;
        ComplainAboutEntry(program, "target", targets, t, options.table,
                           result == GridLookup::OutsideGrid ? "is outside the chart's grid"
                                                             : "lies in a grid cell with an unmeasured corner");
        return false;
    }
    return true;
}

void Write(Output& output, const TableOptions& options, const TripletTable& targets, const Color3* labs)
{
    if (options.format == OutputFormat::Plain) {
        for (std::size_t t = 0; t < targets.patches.size(); ++t)
            output.Advance(FormatTripletLine(output.Room(k_maxTripletLineChars), labs[t]));
        return;
    }
    WriteCgatsTable(output, "convert", options.how, "RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B", targets, 6,
                    [&](std::size_t t, double* values) {
                        for (int c = 0; c < 3; ++c) {
                            values[c] = targets.patches[t].c[c];
                            values[3 + c] = labs[t].c[c];
                        }
                    });
}

int Convert(const char* program, const TableOptions& options)
{
    MeasuredGrid grid;
    if (!LoadChart(program, options.chart, &grid))
        return k_exitFailure;
    TripletTable targets;
    if (!LoadTable(program, options.table, k_rgbNames, &targets))
        return k_exitFailure;
    // Plain output needs no device values once the Lab values are known: they take the
    // targets' place, which spares a second list as long as the first.
    std::vector<Color3> cgatsLabs(options.format == OutputFormat::Cgats ? targets.patches.size() : 0);
    Color3* const labs = options.format == OutputFormat::Cgats ? cgatsLabs.data() : targets.patches.data();
    if (!Interpolate(program, options, grid, targets, labs))
        return k_exitFailure;
    if (!WriteOutput(program, options.output, [&](Output& output) { Write(output, options, targets, labs); }))
        return k_exitFailure;
    return k_exitSuccess;
}

}  // namespace

int RunConvert(int argc, char** argv)
{
    TableOptions options;
    if (const int status = ParseTableOptions(argc, argv, k_command, &options); status >= 0)
        return status;
    return Convert(argv[0], options);
}
