// What the chartlab commands share: exit statuses and messages, the command-line parsing
// around the library's Argparser, the option values common to several commands, reading the
// chart and the tables, and writing the output.
//
// Every message goes to standard error as one line, "chartlab COMMAND: text". Standard output
// carries a command's results only, and only when it is the command's output.
#pragma once

#include "argparser.h"
#include "atomicfile.h"
#include "grid.h"
#include "patchtables.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace chartlab {

inline constexpr int k_exitSuccess = 0;
inline constexpr int k_exitUsage = 1;    // the command line was refused
inline constexpr int k_exitFailure = 2;  // the command line was fine, the work failed

// A path option naming standard input or output.
inline constexpr const char* k_standardStream = "-";

// "`program`: " and the printf-formatted text, one line on standard error.
void Complain(const char* program, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A command's command line: -h, the required -m CHART, the options the command adds through
// Parser(), and no positional arguments.
class CommandLine {
public:
    CommandLine(int argc, char** argv, std::string* chart);
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    ns_Argparser::Argparser& Parser() { return m_parser; }
    // Processes the line, `helpText` being the paragraph after the option list. Returns -1 when
    // the line was accepted; otherwise the exit status: 0 after help was asked for (the usage
    // text then goes to standard output), 1 after a refusal (the parser's messages and usage
    // text, or the message about a positional argument, then go to standard error).
    int Process(const char* helpText);

private:
    const char* m_program;
    ns_Argparser::Argparser m_parser;
    ns_Argparser::ArgparserOptionHelp* m_help;
    std::vector<std::string> m_extra;
};

// "trilinear" or "tetrahedral".
bool ParseInterpolation(const std::string& text, Interpolation* how);

enum class OutputFormat { Plain, Cgats };
// "plain" or "cgats".
bool ParseOutputFormat(const std::string& text, OutputFormat* format);

// The -r value: "none" gives 0 (no scaling), otherwise a finite number above 0.
bool ParseRange(const std::string& text, double* range);

// The options of the commands that turn one table into another (convert, invert):
//   -m CHART  [-TABLE_LETTER TABLE]  [-o OUTPUT]  [-i trilinear|tetrahedral]  [-f plain|cgats]  [-r RANGE]
struct TableOptions {
    std::string chart;
    std::string table = k_standardStream;   // the input table, "-" for standard input
    std::string output = k_standardStream;  // "-" for standard output
    Interpolation how = Interpolation::Trilinear;
    OutputFormat format = OutputFormat::Plain;
    double range = 0.0;  // 0: device values in the chart's units
};

// What differs between those commands: the input table's option and the help texts.
struct TableCommand {
    char tableLetter;
    const char* tableName;
    const char* tableHelp;
    const char* formatHelp;
    const char* rangeHelp;
    const char* helpText;  // the paragraph after the option list
};

// Parses the command line into `options`; -1 when accepted, otherwise the exit status.
int ParseTableOptions(int argc, char** argv, const TableCommand& command, TableOptions* options);

// The largest value of any axis of the grid: -r RANGE maps 0..RANGE onto 0..this.
double TopOfAxes(const MeasuredGrid& grid);

// The message about entry `index` of `table`, read from `path`:
// "WHAT R G B on line N of 'path' (sample id ID) PROBLEM", the sample id only when it has one.
void ComplainAboutEntry(const char* program, const char* what, const TripletTable& table, std::size_t index,
                        const std::string& path, const char* problem);

// Entry `index`'s sample id, or its number from 1 when the table has none.
std::string SampleId(const TripletTable& table, std::size_t index);

// Reads the chart at `path`: its RGB_R RGB_G RGB_B columns and its LAB_L LAB_A LAB_B columns,
// or, when those cannot be read, its XYZ_X XYZ_Y XYZ_Z columns (0..100) as Lab against the
// D50 white (96.42, 100, 82.49). False after a message, also for a chart without patches.
bool ReadChart(const char* program, const std::string& path, std::vector<Color3>* rgb, std::vector<Color3>* lab);

// Reduces a copy of the chart read from `path` when it is a 5202-patch chart and builds the
// grid; the reduction's lines and the grid line go to standard error. False after a message.
bool BuildChartGrid(const char* program, const std::string& path, std::vector<Color3> rgb, std::vector<Color3> lab,
                    MeasuredGrid* grid);

// ReadChart, then BuildChartGrid.
bool LoadChart(const char* program, const std::string& path, MeasuredGrid* grid);

// Reads the table at `path` ("-": standard input) for the three named columns, with each
// patch's line and sample id. False after a message.
bool LoadTable(const char* program, const std::string& path, const char* const names[3], TripletTable* table);

// "'path'", or "standard input" for "-".
std::string DescribeInput(const std::string& path);

// The shortest text that reads back as `value`; single-precision values (as the column
// layout stores them) are written as the shortest float text, so 0.1 read there shows as 0.1.
std::string FormatValue(double value);

// The command's output: standard output for "-", otherwise a file that is replaced only
// when it was written whole (AtomicFile). Text is gathered in a buffer and written in blocks.
class Output {
public:
    explicit Output(std::string path);
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // Starts the output; false when the file cannot be created.
    bool Open();
    // A position with room for `size` more bytes; the caller writes there and hands the end of
    // what it wrote to Advance.
    char* Room(std::size_t size);
    void Advance(char* end) { m_used = static_cast<std::size_t>(end - m_buffer.data()); }
    // Writes what is left and, for a file, puts it in place. False on any write error.
    bool Finish();
    // "'path'", or "standard output".
    std::string Describe() const;

    // Text at the end.
    void Append(const std::string& text);
    // "%lf" values separated by `separator`, then a line feed.
    void AppendFixedLine(const double* values, std::size_t count, char separator);

private:
    bool Flush();

    std::string m_path;
    AtomicFile m_file;
    std::vector<char> m_buffer;
    std::size_t m_used = 0;
    bool m_ok = true;
};

// Opens `path` ("-": standard output), lets `write` fill it and finishes it; false after the
// message "cannot write ...".
bool WriteOutput(const char* program, const std::string& path, const std::function<void(Output&)>& write);

// A CGATS table that Argyll's tools and Little CMS's IT8 reader read:
//
//   CTI3
//
//   DESCRIPTOR "chartlab COMMAND, INTERPOLATION"
//   ORIGINATOR "chartlab VERSION"
//   COLOR_REP "RGB_LAB"
//
//   NUMBER_OF_FIELDS n
//   BEGIN_DATA_FORMAT
//   SAMPLE_ID FIELDS...
//   END_DATA_FORMAT
//
//   NUMBER_OF_SETS rows
//   BEGIN_DATA
//   ID VALUE...            ("%lf" values)
//   END_DATA
//
// `fields` names the columns after SAMPLE_ID, separated by spaces; row r is the sample id of
// entry r of `table` and the `count` values row(r) fills in.
void WriteCgatsTable(Output& output, const char* command, Interpolation how, const char* fields,
                     const TripletTable& table, std::size_t count,
                     const std::function<void(std::size_t row, double* values)>& row);

}  // namespace chartlab
