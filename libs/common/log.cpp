#include "log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

bool g_quiet = false;

namespace {

std::ofstream g_mainLog;
const std::string k_logFileName = "log.txt";
int g_numErrors = 0;
int g_numWarnings = 0;
int g_numMismatches = 0;
// This flag, not the stream's state, gates all output: an unopenable file still echoes.
bool g_logOpen = false;
// Whether this opening of the log has said on standard error that the file failed.
bool g_failureReported = false;

// Says once per opening, on standard error, that the file could not be opened or written;
// `error` is the errno of the failure, or 0 when none is known.
void ReportFailure(int error)
{
    if (g_failureReported)
        return;
    g_failureReported = true;
    if (error != 0)
        std::fprintf(stderr, "%s: cannot write %s: %s\n", program_invocation_short_name, k_logFileName.c_str(),
                     std::strerror(error));
    else
        std::fprintf(stderr, "%s: cannot write %s\n", program_invocation_short_name, k_logFileName.c_str());
}

// Runs a file operation and reports the stream's first failure, with the errno it left.
template <typename Operation>
void Checked(Operation&& operation)
{
    errno = 0;
    const bool wasGood = g_mainLog.good();
    try {
        operation();
    } catch (...) {
        // The stream could not get memory for its buffer: the file is then not written.
        g_mainLog.setstate(std::ios::badbit);
    }
    if (wasGood && !g_mainLog.good())
        ReportFailure(errno);
}

bool StartsWith(const std::string& message, const char* prefix)
{
    return message.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

void OpenMainLog()
{
    g_failureReported = false;
    g_mainLog.clear();
    Checked([] { g_mainLog.open(k_logFileName, std::ios::out | std::ios::app); });
    g_numErrors = 0;
    g_numWarnings = 0;
    g_numMismatches = 0;
    g_logOpen = true;
}

void CloseMainLog()
{
    Log("Done.\n");
    Checked([] {
        g_mainLog.flush();
        if (g_mainLog.is_open())
            g_mainLog.close();
    });
    g_logOpen = false;
}

void Log(const std::string& message)
{
    if (!g_logOpen)
        return;
    Checked([&] { g_mainLog << message; });
    if (!g_quiet)
        std::cout << message;

    // Only the very start of the message counts, and at most one class.
    if (StartsWith(message, "Error:"))
        ++g_numErrors;
    else if (StartsWith(message, "Warning:"))
        ++g_numWarnings;
    else if (StartsWith(message, "MISMATCH:"))
        ++g_numMismatches;
}

void Log(std::ostringstream& stream)
{
    Log(stream.str());
}

void LogLine()
{
    if (g_logOpen)
        Log(std::string(70, '-') + "\n");
}

void LogBlankLine()
{
    if (g_logOpen)
        Log("\n");
}

void FlushLog()
{
    if (g_logOpen)
        Checked([] { g_mainLog.flush(); });
}

int GetNumErrors()
{
    return g_numErrors;
}

int GetNumWarnings()
{
    return g_numWarnings;
}

int GetNumMismatches()
{
    return g_numMismatches;
}
