// Small helpers shared by the tests: temporary directories, whole-file I/O, capturing the
// process's standard output, and running the built tool as a child process.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testutil {

// A fresh directory under the system's temporary directory, removed with all it holds.
class TempDir {
public:
    TempDir();
    ~TempDir() { std::error_code ec; std::filesystem::remove_all(m_path, ec); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// Whole file as bytes; an unreadable file gives "".
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
inline bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

// Redirects file descriptor 1 (printf and std::cout both) to a temporary file for its
// lifetime; Text() flushes and returns what was written so far. std::cout, synchronised with
// stdio, writes straight through to stdout.
class CaptureStdout {
public:
    CaptureStdout();
    ~CaptureStdout();
    std::string Text();

private:
    TempDir m_dir;
    int m_savedFd = -1;
};

// Runs `executable` with `args` in directory `cwd`, standard input from `input` (a path).
struct RunResult {
    int status = -1;   // exit status, or -1 when the child did not exit normally
    std::string out;   // everything written to standard output
    std::string err;   // everything written to standard error
};
RunResult Run(const std::string& executable, const std::vector<std::string>& args, const std::string& cwd,
              const std::string& input = "/dev/null");

// The rgb2lab binary of this build.
inline RunResult RunTool(const std::vector<std::string>& args, const std::string& cwd)
{
    return Run(RGB2LAB_EXE, args, cwd);
}

// The chartlab binary of this build.
inline RunResult RunChartlab(const std::vector<std::string>& args, const std::string& cwd,
                             const std::string& input = "/dev/null")
{
    return Run(CHARTLAB_EXE, args, cwd, input);
}

}  // namespace testutil
