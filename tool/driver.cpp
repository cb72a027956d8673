#include "driver.h"

#include "argparser.h"
#include "derivedlab.h"
#include "log.h"
#include "patchtables.h"

#include <cstdio>
#include <new>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int k_exitSuccess = 0;
constexpr int k_exitUsage = 1;
constexpr int k_exitStageFailed = 2;

// Thrown to skip the remaining stages once one has logged its error.
constexpr int k_stageFailed = 1;

// What the run is doing, for the message that says where memory ran out.
const char* g_stage = "reading the command line";

void BeginStage(const char* progress, const char* stage)
{
    g_stage = stage;
    Log(progress);
    FlushLog();
}

[[noreturn]] void FailStage(const std::string& message)
{
    Log(message);
    throw k_stageFailed;
}

// A path as it appears in a logged message: control characters are written escaped (\n, \t,
// \r, or \x followed by two hex digits), so that a file name cannot start a line of its own
// in the log. Every other byte stays as it is.
std::string LoggedPath(const std::string& path)
{
    std::string logged;
    for (const char c : path) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\n') {
            logged += "\\n";
        } else if (c == '\t') {
            logged += "\\t";
        } else if (c == '\r') {
            logged += "\\r";
        } else if (u < 0x20 || u == 0x7f) {
            constexpr const char* k_hex = "0123456789abcdef";
            logged += "\\x";
            logged += k_hex[u >> 4];
            logged += k_hex[u & 0xf];
        } else {
            logged += c;
        }
    }
    return logged;
}

// True when `output` exists and is the same file (device and inode) as `input`.
bool SameFile(const std::string& output, const std::string& input)
{
    struct stat out {};
    struct stat in {};
    return stat(output.c_str(), &out) == 0 && stat(input.c_str(), &in) == 0 && out.st_dev == in.st_dev &&
           out.st_ino == in.st_ino;
}

// "out" in the measurement table's directory; only '/' separates directories.
std::string OutputPath(const std::string& measurementPath)
{
    const std::size_t slash = measurementPath.rfind('/');
    const std::string dir = (slash == std::string::npos) ? std::string() : measurementPath.substr(0, slash + 1);
    return dir + "out";
}

void RunStages(const std::string& measurementPath, const std::string& targetPath)
{
    std::vector<Color3> referenceRgb;
    std::vector<Color3> measuredLab;
    std::vector<Color3> targetRgb;
    std::vector<Color3> derivedLab;

    BeginStage("Reading RGB reference values...\n", "reading RGB reference values");
    if (!ReadTripletFileString(measurementPath, &referenceRgb, "RGB_R", "RGB_G", "RGB_B"))
        FailStage("Error: Could not read RGB reference values from '" + LoggedPath(measurementPath) + "'.\n");

    BeginStage("Reading Lab measurement values...\n", "reading Lab measurement values");
    if (!ReadTripletFileString(measurementPath, &measuredLab, "LAB_L", "LAB_A", "LAB_B"))
        FailStage("Error: Could not read measured LAB values from '" + LoggedPath(measurementPath) + "'.\n");

    if (measuredLab.size() != referenceRgb.size()) {
        char message[160];
        std::snprintf(message, sizeof message,
                      "Error: Mismatch in patch sizes (%d for RGB reference, %d for LAB measurements).\n",
                      static_cast<int>(referenceRgb.size()), static_cast<int>(measuredLab.size()));
        FailStage(message);
    }

    BeginStage("Reading RGB target values...\n", "reading RGB target values");
    if (!ReadTripletFileString(targetPath, &targetRgb, "RGB_R", "RGB_G", "RGB_B"))
        FailStage("Error: Could not read target RGB values from '" + LoggedPath(targetPath) + "'.\n");

    BeginStage("Computing derived LAB values...\n", "computing derived LAB values");
    if (!ComputeDerivedLabValues(referenceRgb, measuredLab, targetRgb, &derivedLab))
        FailStage("Error: Could not interpolate desired LAB values\n");

    BeginStage("Writing derived LAB values...\n", "writing derived LAB values");
    // Replacing an input with the results would destroy it.
    const std::string outputPath = OutputPath(measurementPath);
    if (SameFile(outputPath, measurementPath) || SameFile(outputPath, targetPath) ||
        !WriteTabDelimitedTriplets(outputPath.c_str(), derivedLab))
        FailStage("Error: Failed to write derived LAB values!\n");
}

}  // namespace

// "Error: Out of memory while <stage>.\n", through the log once it is open.
void ReportOutOfMemory(bool logOpen)
{
    char message[96];
    std::snprintf(message, sizeof message, "Error: Out of memory while %s.\n", g_stage);
    try {
        if (logOpen)
            Log(message);
        else
            std::fputs(message, stdout);
    } catch (...) {
        // Not even the message could be made: the exit status still tells.
    }
}

int RunRgb2Lab(int argc, char** argv)
{
    g_stage = "reading the command line";
    std::string measurementPath;
    std::string targetPath;
    try {
        ns_Argparser::Argparser parser(argc, argv, true);
        parser.AddString('m', "measurements", &measurementPath, "LAB measurements file", true);
        parser.AddString('t', "rgbTarget", &targetPath, "device RGB target file", true);
        if (!parser.Process())
            return k_exitUsage;
    } catch (const std::bad_alloc&) {
        ReportOutOfMemory(false);
        return k_exitStageFailed;
    }

    OpenMainLog();
    bool succeeded = false;
    try {
        RunStages(measurementPath, targetPath);
        succeeded = true;
    } catch (const std::bad_alloc&) {
        ReportOutOfMemory(true);
    } catch (...) {
        // A failed stage has logged its error.
    }
    std::printf("Num errors:   %d\n", GetNumErrors());
    std::printf("Num warnings  %d\n", GetNumWarnings());
    CloseMainLog();
    return succeeded ? k_exitSuccess : k_exitStageFailed;
}
