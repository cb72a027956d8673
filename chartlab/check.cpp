// chartlab check: how far a measured chart can be trusted (chartcheck.h has the figures), as
// a report for people or, with --json, as a JSON object for scripts:
//
//   {
//     "patches": 4913,
//     "grid": 17,
//     "repeatability": {
//       "de76": {"count": 0, "mean": null, "p95": null, "max": null},
//       "de2000": {...}
//     },
//     "holdout": {
//       "trilinear": {"de76": {...}, "de2000": {...}},
//       "tetrahedral": {"de76": {...}, "de2000": {...}}
//     },
//     "grays": {"de76": {...}, "de2000": {...}},        (only for a 5202-patch chart)
//     "nonmonotone": {"count": 0},
//     "worst": [
//       {"rgb": [6.25, 0, 100], "measured": [L, a, b], "predicted": [L, a, b], "de2000": 1.234}
//     ]
//   }
//
// Both carry the same texts for the same figures: differences with three decimals, Lab with
// two, device values as the shortest text that reads back as the value.
//
// With --swatches, a Targa image shows one row per worst patch, first at the top: a square on
// a neutral gray background, its left half the measured colour, its right half the predicted
// one, both as sRGB (D50 Lab, Bradford-adapted to D65, clipped).
#include "chartcheck.h"
#include "cli.h"
#include "colorcommon.h"
#include "commands.h"
#include "targa.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

using namespace chartlab;

// Most worst patches listed: their swatches stay within the 65535 rows of a Targa image.
constexpr int k_maxWorst = 1000;
constexpr int k_defaultWorst = 10;
// The --swatches value that asks for no image.
constexpr const char* k_noImage = "none";

// Swatch geometry in pixels: a square per patch, a margin around and between them.
constexpr int k_swatchSize = 48;
constexpr int k_swatchMargin = 12;
constexpr unsigned char k_background = 128;

struct Options {
    std::string chart;
    std::string output = k_standardStream;
    std::string swatches = k_noImage;
    bool json = false;
    int worst = k_defaultWorst;
};

constexpr const char* k_helpText =
    "Reports how far the chart can be trusted: how repeatable its measurements are, how close\n"
    "interpolation between measured points comes to measured truth, and which patches look\n"
    "wrong. Exit status: 0 after the report, 1 when the command line was refused, 2 when the\n"
    "chart could not be checked or an output could not be written (the message on standard\n"
    "error says why).";

int ParseOptions(int argc, char** argv, Options* options)
{
    CommandLine line(argc, argv, &options->chart);
    ns_Argparser::Argparser& parser = line.Parser();
    parser.AddString('o', "output", &options->output, "report file, - for standard output", false);
    parser.AddSwitch(0, "json", &options->json, "writes the report as a JSON object");
    parser.AddInt(0, "worst", &options->worst, "number of worst patches listed, 0 to 1000", false);
    parser.AddString(0, "swatches", &options->swatches, "Targa image of the worst patches, or none", false);
    if (const int status = line.Process(k_helpText); status >= 0)
        return status;
    if (options->worst < 0 || options->worst > k_maxWorst) {
        Complain(argv[0], "invalid number of worst patches %d: use 0 to %d", options->worst, k_maxWorst);
        return k_exitUsage;
    }
    return -1;
}

// ---- Texts as both formats write them ---------------------------------------------------

// The parts one after the other.
std::string Cat(std::initializer_list<std::string_view> parts)
{
    std::string text;
    for (std::string_view p : parts)
        text.append(p);
    return text;
}

// "%.*f", with a negative zero written as zero.
std::string Fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    if (text[0] == '-' && std::strspn(text + 1, "0.") == std::strlen(text + 1))
        return text + 1;
    return text;
}

std::string Difference(double value)
{
    return Fixed(value, 3);
}

std::string LabValue(double value)
{
    return Fixed(value, 2);
}

std::string Count(std::size_t value)
{
    return std::to_string(value);
}

const char* AxisName(int axis)
{
    return axis == 0 ? "R" : axis == 1 ? "G" : "B";
}

// ---- The text report --------------------------------------------------------------------

// "  label" padded to the value column.
std::string Field(std::string_view label, std::string_view value)
{
    std::string line = Cat({"  ", label});
    line.resize(27, ' ');
    return Cat({line, value, "\n"});
}

// Right-aligned in `width` columns; a value as wide as its column or wider still gets one
// space before it, so that it never runs into the column on its left.
std::string Right(std::string_view text, std::size_t width)
{
    std::string line(width > text.size() ? width - text.size() : 1, ' ');
    return line.append(text);
}

// Summary tables: the row's label, then the count and the three figures right-aligned.
constexpr std::size_t k_labelWidth = 24;
constexpr std::size_t k_countWidth = 6;
constexpr std::size_t k_figureWidth = 10;

std::string SummaryHeader()
{
    return Cat({std::string(k_labelWidth, ' '), Right("count", k_countWidth), Right("mean", k_figureWidth),
                Right("p95", k_figureWidth), Right("max", k_figureWidth), "\n"});
}

// `interpolation` is empty or names the interpolation the rows are for.
std::string SummaryRow(std::string_view interpolation, std::string_view kind, const DifferenceSummary& s)
{
    std::string line = Cat({"  ", interpolation});
    if (!interpolation.empty())
        line.resize(15, ' ');
    line += kind;
    line.resize(k_labelWidth, ' ');
    line += Right(Count(s.count), k_countWidth);
    for (double v : {s.mean, s.p95, s.max})
        line += Right(s.count == 0 ? "-" : Difference(v), k_figureWidth);
    return line + "\n";
}

std::string SummaryRows(std::string_view interpolation, const Differences& d)
{
    return SummaryRow(interpolation, "dE76", d.de76) + SummaryRow(interpolation, "dE2000", d.de2000);
}

std::string AxisText(const std::vector<double>& axis, bool even)
{
    std::string text;
    for (double v : axis)
        text += Cat({text.empty() ? "" : " ", FormatValue(v)});
    return text + (even ? " (evenly spaced)" : " (not evenly spaced)");
}

std::string ChartSection(const std::string& path, const ChartCheck& c, const MeasuredGrid& grid)
{
    const std::string n = Count(static_cast<std::size_t>(c.n));
    std::string text = Cat({"Chart '", path, "'\n"});
    text += Field("patches", Count(c.patches));
    text += Field("grid", Cat({n, " x ", n, " x ", n}));
    for (int a = 0; a < 3; ++a)
        text += Field(Cat({AxisName(a), " axis"}), AxisText(grid.Axis(a), c.evenlySpaced[a]));
    text += Field("repeated patches", c.repeatedRgb == 0 ? "none"
                                                         : Cat({Count(c.repeatability.de76.count), " measurements of ",
                                                                Count(c.repeatedRgb), " device values"}));
    text += Field("unoccupied grid points", Count(c.unoccupied));
    if (c.hasGrays)
        text += Field("gray patches", Cat({Count(c.grayPatches), " at ", Count(c.grayLevels), " levels, ",
                                           Count(c.graysBeyond), " beyond the grid"}));
    return text;
}

std::string GridPosition(const int index[3])
{
    return Cat({"(", std::to_string(index[0]), ", ", std::to_string(index[1]), ", ", std::to_string(index[2]), ")"});
}

std::string SmoothnessSection(const ChartCheck& c)
{
    std::string text = Cat({"Smoothness: ", Count(c.nonmonotone), c.nonmonotone == 1 ? " step" : " steps",
                            " along an axis where L* goes down as the device value goes up\n"});
    for (const LightnessStep& s : c.steepestDrops) {
        int to[3] = {s.from[0], s.from[1], s.from[2]};
        ++to[s.axis];
        text += Cat({"  along ", AxisName(s.axis), " from ", GridPosition(s.from), " to ", GridPosition(to), ": L* ",
                     LabValue(s.lowerL), " -> ", LabValue(s.upperL), "\n"});
    }
    return text;
}

// Worst patch table: device values, then measured and predicted Lab, right-aligned.
constexpr std::size_t k_rgbWidth = 9;
constexpr std::size_t k_labWidth = 8;

std::string WorstSection(const ChartCheck& c)
{
    std::string text = Cat({"Worst ", Count(c.worst.size()),
                            " patches of the trilinear hold-out and the gray check, by dE2000\n"});
    if (c.worst.empty())
        return text;
    text += Cat({Right("R", k_rgbWidth), Right("G", k_rgbWidth), Right("B", k_rgbWidth), "  ",
                 Right("measured L*, a*, b*", 3 * k_labWidth), "  ", Right("predicted L*, a*, b*", 3 * k_labWidth),
                 Right("dE2000", k_figureWidth), "  from\n"});
    for (const CheckedPatch& w : c.worst) {
        for (double v : w.rgb.c)
            text += Right(FormatValue(v), k_rgbWidth);
        text += "  ";
        for (double v : w.measured.c)
            text += Right(LabValue(v), k_labWidth);
        text += "  ";
        for (double v : w.predicted.c)
            text += Right(LabValue(v), k_labWidth);
        text += Right(Difference(w.de2000), k_figureWidth);
        text += w.source == CheckedPatch::Source::Holdout ? "  hold-out\n" : "  gray\n";
    }
    return text;
}

std::string TextReport(const std::string& path, const ChartCheck& c, const MeasuredGrid& grid)
{
    const std::string coarse = Count(static_cast<std::size_t>(c.coarseN));
    std::string text = ChartSection(path, c, grid);
    text += "\nRepeatability: every measurement of a repeated device value against their mean\n";
    text += SummaryHeader() + SummaryRows("", c.repeatability);

    text += Cat({"\nInterpolation error by hold-out: the ", coarse, " x ", coarse, " x ", coarse,
                 " grid of levels 0, 2, 4, ... and the last\npredicts the grid points it leaves out (",
                 Count(c.leftOut), " measured, ", Count(c.trilinear.de76.count),
                 " predicted).\nThis is the error at half the chart's density, an upper bound for the full chart.\n"});
    text += SummaryHeader() + SummaryRows("trilinear", c.trilinear) + SummaryRows("tetrahedral", c.tetrahedral);

    if (c.hasGrays) {
        text += "\nGray patches beyond the grid, predicted by trilinear interpolation from the grid patches\n";
        text += SummaryHeader() + SummaryRows("", c.grays);
    }
    text += Cat({"\n", SmoothnessSection(c), "\n", WorstSection(c)});
    return text;
}

// ---- The JSON report --------------------------------------------------------------------

std::string JsonSummary(const DifferenceSummary& s)
{
    const auto figure = [&s](double v) { return s.count == 0 ? std::string("null") : Difference(v); };
    return Cat({"{\"count\": ", Count(s.count), ", \"mean\": ", figure(s.mean), ", \"p95\": ", figure(s.p95),
                ", \"max\": ", figure(s.max), "}"});
}

// The two summaries as members of an object indented by `indent` spaces.
std::string JsonDifferences(const Differences& d, std::size_t indent)
{
    const std::string outer(indent, ' '), inner(indent + 2, ' ');
    return Cat({"{\n", inner, "\"de76\": ", JsonSummary(d.de76), ",\n", inner, "\"de2000\": ", JsonSummary(d.de2000),
                "\n", outer, "}"});
}

std::string JsonTriplet(const Color3& value, std::string (*format)(double))
{
    return Cat({"[", format(value.c[0]), ", ", format(value.c[1]), ", ", format(value.c[2]), "]"});
}

std::string JsonReport(const ChartCheck& c)
{
    std::string text = Cat({"{\n  \"patches\": ", Count(c.patches), ",\n  \"grid\": ",
                            Count(static_cast<std::size_t>(c.n)), ",\n"});
    text += Cat({"  \"repeatability\": ", JsonDifferences(c.repeatability, 2), ",\n"});
    text += Cat({"  \"holdout\": {\n    \"trilinear\": ", JsonDifferences(c.trilinear, 4),
                 ",\n    \"tetrahedral\": ", JsonDifferences(c.tetrahedral, 4), "\n  },\n"});
    if (c.hasGrays)
        text += Cat({"  \"grays\": ", JsonDifferences(c.grays, 2), ",\n"});
    text += Cat({"  \"nonmonotone\": {\"count\": ", Count(c.nonmonotone), "},\n  \"worst\": ["});
    for (std::size_t w = 0; w < c.worst.size(); ++w) {
        const CheckedPatch& p = c.worst[w];
        text += Cat({w == 0 ? "\n" : ",\n", "    {\"rgb\": ", JsonTriplet(p.rgb, FormatValue),
                     ", \"measured\": ", JsonTriplet(p.measured, LabValue), ", \"predicted\": ",
                     JsonTriplet(p.predicted, LabValue), ", \"de2000\": ", Difference(p.de2000), "}"});
    }
    text += c.worst.empty() ? "]\n" : "\n  ]\n";
    return text + "}\n";
}

// ---- Swatches ---------------------------------------------------------------------------

void SrgbBytes(const Color3& lab, unsigned char* pixel)
{
    double rgb[3], clipped[3];
    lab_to_srgb_d50(lab.c, rgb);
    clip_rgb_3(rgb, clipped);
    for (int c = 0; c < 3; ++c)
        pixel[c] = static_cast<unsigned char>(std::lround(clipped[c] * 255.0));
}

// The image in memory, rows from the bottom up: the Targa writer marks its files as stored
// from the bottom row, so the first worst patch is at the top in every viewer.
std::vector<unsigned char> SwatchPixels(const std::vector<CheckedPatch>& worst, int width, int height)
{
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3,
                                      k_background);
    for (std::size_t w = 0; w < worst.size(); ++w) {
        unsigned char measured[3], predicted[3];
        SrgbBytes(worst[w].measured, measured);
        SrgbBytes(worst[w].predicted, predicted);
        const int top = k_swatchMargin + static_cast<int>(w) * (k_swatchSize + k_swatchMargin);
        for (int y = top; y < top + k_swatchSize; ++y) {
            unsigned char* row = pixels.data() + static_cast<std::size_t>(height - 1 - y) * width * 3;
            for (int x = 0; x < k_swatchSize; ++x)
                std::memcpy(row + (k_swatchMargin + x) * 3, x < k_swatchSize / 2 ? measured : predicted, 3);
        }
    }
    return pixels;
}

std::string ReadBytes(const char* path)
{
    std::string bytes;
    if (std::FILE* file = std::fopen(path, "rb")) {
        char block[1 << 16];
        for (std::size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;)
            bytes.append(block, n);
        std::fclose(file);
    }
    return bytes;
}

// The Targa writer writes to a temporary file, whose bytes then replace the image whole
// (AtomicFile): a failure leaves an earlier image untouched.
bool WriteSwatches(const char* program, const std::string& path, const std::vector<CheckedPatch>& worst)
{
    const int width = 2 * k_swatchMargin + k_swatchSize;
    const int height = k_swatchMargin + static_cast<int>(worst.size()) * (k_swatchSize + k_swatchMargin);
    std::vector<unsigned char> pixels = SwatchPixels(worst, width, height);
    Targa image(width, height, 3, 8, pixels.data());

    char temporary[] = "/tmp/chartlab-swatches-XXXXXX";
    const int fd = mkstemp(temporary);
    bool written = fd >= 0;
    if (written) {
        close(fd);
        written = image.write(temporary);
        const std::string bytes = written ? ReadBytes(temporary) : std::string();
        std::remove(temporary);
        written = written && WriteFileAtomically(path, bytes.data(), bytes.size());
    }
    if (!written)
        Complain(program, "cannot write '%s'", path.c_str());
    return written;
}

// ---- The run ----------------------------------------------------------------------------

int Check(const char* program, const Options& options)
{
    std::vector<Color3> rgb, lab;
    if (!ReadChart(program, options.chart, &rgb, &lab))
        return k_exitFailure;
    if (const std::size_t patch = FirstUncheckablePatch(rgb, lab)) {
        Complain(program, "patch %zu of '%s' has a value that is not a number from -%g to %g", patch,
                 options.chart.c_str(), k_checkValueLimit, k_checkValueLimit);
        return k_exitFailure;
    }
    MeasuredGrid grid;
    if (!BuildChartGrid(program, options.chart, rgb, lab, &grid))
        return k_exitFailure;
    const ChartCheck check = CheckChart(rgb, lab, grid, static_cast<std::size_t>(options.worst));

    if (options.swatches != k_noImage && !WriteSwatches(program, options.swatches, check.worst))
        return k_exitFailure;
    const std::string report =
        options.json ? JsonReport(check) : TextReport(options.chart, check, grid);
    if (!WriteOutput(program, options.output, [&](Output& output) { output.Append(report); }))
        return k_exitFailure;
    return k_exitSuccess;
}

}  // namespace

int RunCheck(int argc, char** argv)
{
    Options options;
    if (const int status = ParseOptions(argc, argv, &options); status >= 0)
        return status;
    return Check(argv[0], options);
}
