#include "testutil.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace testutil {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "rgb2lab-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

std::string ReadFile(const std::string& path)
{
    return (std::ostringstream() << std::ifstream(path, std::ios::binary).rdbuf()).str();
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    if (!std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size())))
        throw std::runtime_error("cannot write " + path);
}

CaptureStdout::CaptureStdout()
{
    const int fd = open(m_dir.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot capture standard output");
    std::fflush(stdout);
    m_savedFd = dup(1);
    dup2(fd, 1);
    close(fd);
}

CaptureStdout::~CaptureStdout()
{
    std::fflush(stdout);
    dup2(m_savedFd, 1);
    close(m_savedFd);
}

std::string CaptureStdout::Text()
{
    std::fflush(stdout);
    return ReadFile(m_dir.file("stdout"));
}

RunResult Run(const std::string& executable, const std::vector<std::string>& args, const std::string& cwd,
              const std::string& input)
{
    TempDir streams;
    const std::string outPath = streams.file("stdout"), errPath = streams.file("stderr");
    std::vector<char*> argv{const_cast<char*>(executable.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        // glibc's freopen keeps the stream's descriptor: 0, 1 and 2 are redirected in place.
        if (std::freopen(input.c_str(), "r", stdin) && std::freopen(outPath.c_str(), "w", stdout) &&
            std::freopen(errPath.c_str(), "w", stderr) && chdir(cwd.c_str()) == 0)
            execv(executable.c_str(), argv.data());
        _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    return RunResult{WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1, ReadFile(outPath), ReadFile(errPath)};
}

}  // namespace testutil
