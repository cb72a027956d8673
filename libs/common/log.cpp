#include "log.h"

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

bool StartsWith(const std::string& message, const char* prefix)
{
    return message.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

void OpenMainLog()
{
    g_mainLog.open(k_logFileName, std::ios::out | std::ios::app);
    g_numErrors = 0;
    g_numWarnings = 0;
    g_numMismatches = 0;
    g_logOpen = true;
}

void CloseMainLog()
{
    Log("Done.\n");
    g_mainLog.flush();
    g_mainLog.close();
    g_logOpen = false;
}

void Log(const std::string& message)
{
    if (!g_logOpen)
        return;
    g_mainLog << message;
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
        g_mainLog.flush();
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
