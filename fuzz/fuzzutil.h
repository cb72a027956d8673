// Helpers shared by the harnesses: an invariant check that makes a wrong result a finding,
// a temporary file holding the input for the readers that take a path, and a way to keep the
// code under test from flooding standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// A failed invariant aborts, which both libFuzzer and the replay report as a finding.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__,          \
                         #condition);                                                          \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

namespace fuzzutil {

// A file under the temporary directory holding the given bytes, removed on destruction.
class TempFile {
public:
    TempFile(const std::uint8_t* data, std::size_t size);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// A fresh directory under the temporary directory, removed with its files on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// Points file descriptor 1 at /dev/null: the readers' callers print, libFuzzer reports on 2.
void SilenceStdout();

}  // namespace fuzzutil
