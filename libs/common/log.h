// The main log: one process-wide message channel. Every message is appended verbatim to
// "log.txt" in the working directory and, unless g_quiet is set, echoed to standard output.
// Messages are classified by their first characters: "Error:", "Warning:" and "MISMATCH:"
// each count towards their own counter; nothing else is counted.
//
// Not thread-safe: all state is module-level and unlocked.
#pragma once

#include <sstream>
#include <string>

// When true, messages go to the log file only.
extern bool g_quiet;

// Opens "log.txt" for appending and resets the counters. A file that cannot be opened, or
// later cannot be written (a full disk), is reported once on standard error, as
// "<program>: cannot write log.txt: <reason>"; messages are still echoed and counted.
void OpenMainLog();
// Logs "Done.\n", then flushes and closes the file. The counters keep their totals.
void CloseMainLog();

// Writes one message, byte for byte; nothing happens while the log is closed.
void Log(const std::string& message);
// Logs the stream's accumulated text; the stream is left as it is.
void Log(std::ostringstream& stream);
// A separator of 70 '-' and a newline.
void LogLine();
// A single newline.
void LogBlankLine();
// Flushes the log file (not standard output) when the log is open.
void FlushLog();

int GetNumErrors();
int GetNumWarnings();
int GetNumMismatches();
