#include "cli.h"

#include "colorcommon.h"
#include "numbertext.h"
#include "preprocess5202.h"
#include "version.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace chartlab {

namespace {

// XYZ columns are on the 0..100 scale; the white is D50 on the same scale.
constexpr double k_d50White100[3] = {96.42, 100.0, 82.49};

// Block size of the output buffer; a larger request grows it.
constexpr std::size_t k_outputBufferSize = std::size_t(1) << 20;

const char* const k_rgbNames[3] = {"RGB_R", "RGB_G", "RGB_B"};
const char* const k_labNames[3] = {"LAB_L", "LAB_A", "LAB_B"};
const char* const k_xyzNames[3] = {"XYZ_X", "XYZ_Y", "XYZ_Z"};

bool ReadColumns(const std::string& path, const char* const names[3], std::vector<Color3>* patches)
{
    return ReadTripletFileString(path, patches, names[0], names[1], names[2]) == 1;
}

// Runs the parser with its messages and usage text gathered in memory, for the caller to route.
bool ProcessHoldingOutput(ns_Argparser::Argparser& parser, std::string* text)
{
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* held = open_memstream(&buffer, &size);
    if (!held)
        throw std::bad_alloc();
    parser.SetOutput(held);
    const bool accepted = parser.Process();
    parser.SetOutput(nullptr);
    std::fclose(held);
    text->assign(buffer, size);
    std::free(buffer);
    return accepted;
}

}  // namespace

void Complain(const char* program, const char* format, ...)
{
    std::string text = program;
    text += ": ";
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length > 0) {
        const std::size_t start = text.size();
        text.resize(start + static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data() + start, static_cast<std::size_t>(length) + 1, format, args);
        text.pop_back();
    }
    va_end(args);
    text += '\n';
    std::fputs(text.c_str(), stderr);
}

CommandLine::CommandLine(int argc, char** argv, std::string* chart)
    : m_program(argv[0]),
      m_parser(argc, argv, false),
      m_help(new ns_Argparser::ArgparserOptionHelp('h', "help", "prints this help message"))
{
    m_parser.AddOption(m_help);
    m_parser.AddString('m', "measurements", chart,
                       "measured chart: RGB_R RGB_G RGB_B with LAB_L LAB_A LAB_B or XYZ_X XYZ_Y XYZ_Z", true);
}

int CommandLine::Process(const char* helpText)
{
    m_parser.AddArgNames(&m_extra, "");
    m_parser.SetHelpString(helpText);
    std::string text;
    if (!ProcessHoldingOutput(m_parser, &text)) {
        std::FILE* stream = m_help->seen ? stdout : stderr;
        std::fwrite(text.data(), 1, text.size(), stream);
        return m_help->seen ? k_exitSuccess : k_exitUsage;
    }
    if (!m_extra.empty()) {
        Complain(m_program, "unexpected argument '%s'", m_extra.front().c_str());
        return k_exitUsage;
    }
    return -1;
}

bool ParseInterpolation(const std::string& text, Interpolation* how)
{
    if (text == "trilinear")
        *how = Interpolation::Trilinear;
    else if (text == "tetrahedral")
        *how = Interpolation::Tetrahedral;
    else
        return false;
    return true;
}

bool ParseOutputFormat(const std::string& text, OutputFormat* format)
{
    if (text == "plain")
        *format = OutputFormat::Plain;
    else if (text == "cgats")
        *format = OutputFormat::Cgats;
    else
        return false;
    return true;
}

bool ParseRange(const std::string& text, double* range)
{
    if (text == "none") {
        *range = 0.0;
        return true;
    }
    char* end = nullptr;
    const double value = ParseDouble(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value) || !(value > 0.0))
        return false;
    *range = value;
    return true;
}

int ParseTableOptions(int argc, char** argv, const TableCommand& command, TableOptions* options)
{
    std::string interpolation = "trilinear", format = "plain", range = "none";
    CommandLine line(argc, argv, &options->chart);
    ns_Argparser::Argparser& parser = line.Parser();
    parser.AddString(command.tableLetter, command.tableName, &options->table, command.tableHelp, false);
    parser.AddString('o', "output", &options->output, "output file, - for standard output", false);
    parser.AddString('i', "interpolation", &interpolation, "trilinear or tetrahedral", false);
    parser.AddString('f', "format", &format, command.formatHelp, false);
    parser.AddString('r', "range", &range, command.rangeHelp, false);
    if (const int status = line.Process(command.helpText); status >= 0)
        return status;
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

double TopOfAxes(const MeasuredGrid& grid)
{
    double top = grid.Axis(0).back();
    for (int a = 1; a < 3; ++a)
        top = std::max(top, grid.Axis(a).back());
    return top;
}

void ComplainAboutEntry(const char* program, const char* what, const TripletTable& table, std::size_t index,
                        const std::string& path, const char* problem)
{
    const Color3& v = table.patches[index];
    const std::string id = table.sampleIds.empty() ? "" : " (sample id " + table.sampleIds[index] + ")";
    Complain(program, "%s %s %s %s on line %zu of %s%s %s", what, FormatValue(v.c[0]).c_str(),
             FormatValue(v.c[1]).c_str(), FormatValue(v.c[2]).c_str(), table.LineOf(index), DescribeInput(path).c_str(),
             id.c_str(), problem);
}

std::string SampleId(const TripletTable& table, std::size_t index)
{
    return table.sampleIds.empty() ? std::to_string(index + 1) : table.sampleIds[index];
}

bool ReadChart(const char* program, const std::string& path, std::vector<Color3>* rgb, std::vector<Color3>* lab)
{
    if (std::FILE* probe = std::fopen(path.c_str(), "r")) {
        std::fclose(probe);
    } else {
        Complain(program, "cannot open '%s': %s", path.c_str(), std::strerror(errno));
        return false;
    }
    if (!ReadColumns(path, k_rgbNames, rgb)) {
        Complain(program, "cannot read RGB_R RGB_G RGB_B from '%s'", path.c_str());
        return false;
    }
    if (!ReadColumns(path, k_labNames, lab)) {
        if (!ReadColumns(path, k_xyzNames, lab)) {
            Complain(program, "cannot read LAB_L LAB_A LAB_B or XYZ_X XYZ_Y XYZ_Z from '%s'", path.c_str());
            return false;
        }
        for (Color3& c : *lab) {
            const Color3 xyz = c;
            xyz_to_lab(xyz.c, k_d50White100, c.c);
        }
    }
    if (rgb->empty()) {
        Complain(program, "'%s' holds no patches", path.c_str());
        return false;
    }
    return true;
}

bool LoadChart(const char* program, const std::string& path, MeasuredGrid* grid)
{
    std::vector<Color3> rgb, lab;
    return ReadChart(program, path, &rgb, &lab) && BuildChartGrid(program, path, std::move(rgb), std::move(lab), grid);
}

bool BuildChartGrid(const char* program, const std::string& path, std::vector<Color3> rgb, std::vector<Color3> lab,
                    MeasuredGrid* grid)
{
    Preprocess5202Target(rgb, lab, stderr);
    switch (grid->Build(rgb, lab, stderr)) {
    case GridBuild::Ok:
        return true;
    case GridBuild::UnequalLists:
        Complain(program, "'%s' has unequal numbers of RGB and Lab values", path.c_str());
        return false;
    case GridBuild::UnequalAxes:
        Complain(program, "the RGB values in '%s' do not form a grid: the channels have different numbers of values",
                 path.c_str());
        return false;
    case GridBuild::TooManyValues:
        Complain(program, "'%s' has more than %lld values in a channel", path.c_str(), k_maxAxisValues);
        return false;
    case GridBuild::OutOfMemory:
        Complain(program, "out of memory");
        return false;
    case GridBuild::OffAxis:
        Complain(program, "'%s' has a patch with a NaN RGB value or one at or below -999", path.c_str());
        return false;
    }
    return false;
}

bool LoadTable(const char* program, const std::string& path, const char* const names[3], TripletTable* table)
{
    const bool standardInput = path == k_standardStream;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(standardInput ? nullptr : std::fopen(path.c_str(), "r"),
                                                         std::fclose);
    if (!standardInput && !file) {
        Complain(program, "cannot open '%s': %s", path.c_str(), std::strerror(errno));
        return false;
    }
    std::FILE* stream = standardInput ? stdin : file.get();
    if (!ReadTripletStream(stream, table, names[0], names[1], names[2])) {
        Complain(program, "cannot read %s %s %s from %s", names[0], names[1], names[2], DescribeInput(path).c_str());
        return false;
    }
    return true;
}

std::string DescribeInput(const std::string& path)
{
    return path == k_standardStream ? "standard input" : "'" + path + "'";
}

std::string FormatValue(double value)
{
    char text[64];
    const float single = static_cast<float>(value);
    const std::to_chars_result r = static_cast<double>(single) == value
                                       ? std::to_chars(text, text + sizeof text, single)
                                       : std::to_chars(text, text + sizeof text, value);
    return std::string(text, r.ptr);
}

Output::Output(std::string path) : m_path(std::move(path)), m_buffer(k_outputBufferSize) {}

bool Output::Open()
{
    return m_path == k_standardStream || m_file.Open(m_path);
}

char* Output::Room(std::size_t size)
{
    if (m_buffer.size() - m_used < size) {
        Flush();
        if (m_buffer.size() < size)
            m_buffer.resize(size);
    }
    return m_buffer.data() + m_used;
}

bool Output::Flush()
{
    if (m_path == k_standardStream)
        m_ok = m_ok && std::fwrite(m_buffer.data(), 1, m_used, stdout) == m_used;
    else
        m_ok = m_ok && m_file.Write(m_buffer.data(), m_used);
    m_used = 0;
    return m_ok;
}

bool Output::Finish()
{
    if (!Flush())
        return false;
    if (m_path == k_standardStream)
        return std::fflush(stdout) == 0;
    return m_file.Commit();
}

void Output::Append(const std::string& text)
{
    char* p = Room(text.size());
    std::memcpy(p, text.data(), text.size());
    Advance(p + text.size());
}

void Output::AppendFixedLine(const double* values, std::size_t count, char separator)
{
    char* p = Room(count * (k_maxFixed6Chars + 1));
    for (std::size_t v = 0; v < count; ++v) {
        p = FormatFixed6(p, values[v]);
        *p++ = v + 1 < count ? separator : '\n';
    }
    Advance(p);
}

std::string Output::Describe() const
{
    return m_path == k_standardStream ? "standard output" : "'" + m_path + "'";
}

bool WriteOutput(const char* program, const std::string& path, const std::function<void(Output&)>& write)
{
    Output output(path);
    if (!output.Open()) {
        Complain(program, "cannot write %s", output.Describe().c_str());
        return false;
    }
    write(output);
    if (!output.Finish()) {
        Complain(program, "cannot write %s", output.Describe().c_str());
        return false;
    }
    return true;
}

void WriteCgatsTable(Output& output, const char* command, Interpolation how, const char* fields,
                     const TripletTable& table, std::size_t count,
                     const std::function<void(std::size_t row, double* values)>& row)
{
    const std::size_t rows = table.patches.size();
    output.Append(std::string("CTI3\n\nDESCRIPTOR \"chartlab ") + command + ", " +
                  (how == Interpolation::Trilinear ? "trilinear" : "tetrahedral") +
                  "\"\nORIGINATOR \"chartlab " CHARTLAB_VERSION "\"\nCOLOR_REP \"RGB_LAB\"\n\nNUMBER_OF_FIELDS " +
                  std::to_string(count + 1) + "\nBEGIN_DATA_FORMAT\nSAMPLE_ID " + fields +
                  "\nEND_DATA_FORMAT\n\nNUMBER_OF_SETS " + std::to_string(rows) + "\nBEGIN_DATA\n");
    std::vector<double> values(count);
    for (std::size_t r = 0; r < rows; ++r) {
        output.Append(SampleId(table, r) + ' ');
        row(r, values.data());
        output.AppendFixedLine(values.data(), count, ' ');
    }
    output.Append("END_DATA\n");
}

}  // namespace chartlab
