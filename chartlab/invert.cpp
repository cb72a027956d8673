// chartlab invert: for each wanted Lab value, the device RGB inside the measured chart's grid
// whose Lab value under the chosen interpolation is the wanted one, or, outside the chart's
// gamut, is nearest to it in CIE76 (GridInverse, inverse.h). Plain output is one line per
// value, "%lf\t%lf\t%lf\t%lf\n": R, G and B in the chart's units (or 0..RANGE), then the
// CIE76 distance from the wanted Lab to the Lab of that RGB. CGATS output (cli.h) has the
// fields SAMPLE_ID LAB_L LAB_A LAB_B RGB_R RGB_G RGB_B DE76, the wanted Lab first.
//
// Every value is inverted before anything is written: one with a NaN or infinite component
// fails the run and leaves the output untouched.
#include "cli.h"
#include "commands.h"
#include "inverse.h"

#include <string>
#include <vector>

namespace {

using namespace chartlab;

const char* const k_labNames[3] = {"LAB_L", "LAB_A", "LAB_B"};

const TableCommand k_command = {
    'l',
    "lab",
    "wanted Lab values, - for standard input",
    "plain (R G B dE76 lines) or cgats",
    "RGB written from 0 to RANGE, scaled from the chart's range",
    "Writes one line per wanted Lab value, in order: the device RGB that gives it under the\n"
    "chart's interpolation, and the CIE76 distance from the wanted value to the Lab that RGB\n"
    "gives: 0 inside the chart's gamut; outside it, the RGB is that of the nearest Lab the chart\n"
    "reaches. Exit status: 0 when every value was inverted, 1 when the command line was\n"
    "refused, 2 when the inversion failed (the message on standard error says why; the output\n"
    "is then left untouched).",
};

// Inverts every wanted value into `results`; false after naming the first that cannot be.
bool InvertAll(const char* program, const TableOptions& options, const GridInverse& inverse,
               const TripletTable& labs, std::vector<InverseResult>* results)
{
    results->resize(labs.patches.size());
    for (std::size_t v = 0; v < labs.patches.size(); ++v) {
        // A built inverse refuses only a value with a component that is not finite.
        if (!inverse.Invert(labs.patches[v], &(*results)[v])) {
            ComplainAboutEntry(program, "Lab", labs, v, options.table, "has a NaN or infinite component");
            return false;
        }
    }
    return true;
}

void Write(Output& output, const TableOptions& options, double top, const TripletTable& labs,
           const std::vector<InverseResult>& results)
{
    // The chart's 0..top onto 0..range, so that the top itself lands exactly on the range.
    auto device = [&](const InverseResult& r, int c) {
        return options.range > 0.0 ? r.rgb.c[c] / top * options.range : r.rgb.c[c];
    };
    if (options.format == OutputFormat::Plain) {
        for (const InverseResult& r : results) {
            const double values[4] = {device(r, 0), device(r, 1), device(r, 2), r.deltaE};
            output.AppendFixedLine(values, 4, '\t');
        }
        return;
    }
    WriteCgatsTable(output, "invert", options.how, "LAB_L LAB_A LAB_B RGB_R RGB_G RGB_B DE76", labs, 7,
                    [&](std::size_t v, double* values) {
                        for (int c = 0; c < 3; ++c) {
                            values[c] = labs.patches[v].c[c];
                            values[3 + c] = device(results[v], c);
                        }
                        values[6] = results[v].deltaE;
                    });
}

int Invert(const char* program, const TableOptions& options)
{
    MeasuredGrid grid;
    if (!LoadChart(program, options.chart, &grid))
        return k_exitFailure;
    GridInverse inverse;
    if (!inverse.Build(grid, options.how)) {
        Complain(program, "'%s' has no grid cell whose eight corners all have a finite measured Lab value",
                 options.chart.c_str());
        return k_exitFailure;
    }
    TripletTable labs;
    if (!LoadTable(program, options.table, k_labNames, &labs))
        return k_exitFailure;
    std::vector<InverseResult> results;
    if (!InvertAll(program, options, inverse, labs, &results))
        return k_exitFailure;
    const double top = TopOfAxes(grid);
    if (!WriteOutput(program, options.output, [&](Output& output) { Write(output, options, top, labs, results); }))
        return k_exitFailure;
    return k_exitSuccess;
}

}  // namespace

int RunInvert(int argc, char** argv)
{
    TableOptions options;
    if (const int status = ParseTableOptions(argc, argv, k_command, &options); status >= 0)
        return status;
    return Invert(argv[0], options);
}
