#include "fuzzutil.h"

#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace fuzzutil {

namespace {

std::string TempPattern(const char* name)
{
    return (std::filesystem::temp_directory_path() / name).string();
}

}  // namespace

TempFile::TempFile(const std::uint8_t* data, std::size_t size) : m_path(TempPattern("fuzz-XXXXXX"))
{
    const int fd = mkstemp(m_path.data());
    FUZZ_CHECK(fd >= 0);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        FUZZ_CHECK(n > 0);
        done += static_cast<std::size_t>(n);
    }
    close(fd);
}

TempFile::~TempFile()
{
    unlink(m_path.c_str());
}

TempDir::TempDir() : m_path(TempPattern("fuzzdir-XXXXXX"))
{
    FUZZ_CHECK(mkdtemp(m_path.data()) != nullptr);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void SilenceStdout()
{
    std::fflush(stdout);
    const int fd = open("/dev/null", O_WRONLY);
    if (fd >= 0) {
        dup2(fd, 1);
        close(fd);
    }
}

}  // namespace fuzzutil
