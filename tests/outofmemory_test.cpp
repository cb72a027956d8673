// Running out of memory, one failed allocation at a time: this program replaces operator new
// (all the unaligned forms, so that the sanitizers see matching pairs) so that a chosen
// allocation throws std::bad_alloc (or gives null, for the nothrow forms), and every allocation of an operation is
// made to fail in turn. No exception may leave the ICC module, and rgb2lab names the stage
// that ran out of memory in one "Error:" line and exits with status 2.
#include "driver.h"
#include "icc.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <new>
#include <unistd.h>

namespace {

// Allocations left before the one that fails; negative while no failure is armed.
long g_allocationsBeforeFailure = -1;
bool g_failed = false;

void* Allocate(std::size_t size)
{
    if (g_allocationsBeforeFailure >= 0 && g_allocationsBeforeFailure-- == 0) {
        g_failed = true;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

// Runs `operation` once for every allocation it makes, that allocation failing; returns the
// number of runs in which an allocation failed. `check` sees each run's result and whether an
// allocation failed in it.
long SweepAllocationFailures(const std::function<bool()>& operation, const std::function<void(bool, bool)>& check)
{
    for (long n = 0;; ++n) {
        g_failed = false;
        g_allocationsBeforeFailure = n;
        const bool result = operation();
        g_allocationsBeforeFailure = -1;
        check(result, g_failed);
        if (!g_failed)
            return n;
    }
}

using Bytes = std::vector<unsigned char>;

Bytes Load(const std::string& path)
{
    const std::string s = testutil::ReadFile(path);
    return Bytes(s.begin(), s.end());
}

}  // namespace

void* operator new(std::size_t size)
{
    return Allocate(size);
}

void* operator new[](std::size_t size)
{
    return Allocate(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete[](void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace {

// Each whole-profile operation gives false (or null) when an allocation fails and succeeds
// otherwise; none throws, and a profile that failed to change still writes out.
TEST(OutOfMemory, IccOperationsFailInsteadOfThrowing)
{
    testutil::TempDir dir;
    const std::string path = dir.file("out.icc");
    for (const char* name : {"LStar-RGB.icc", "sRGB.icc"}) {
        SCOPED_TRACE(name);
        const Bytes in = Load(std::string(TEST_DATA_DIR "/icc/") + name);
        std::unique_ptr<ICC_CPP_Profile> profile(ICC_CPP_Profile::ReadFromMemory(in.data(), in.size()));
        ASSERT_NE(profile, nullptr);
        Bytes out;
        const std::vector<std::pair<const char*, std::function<bool()>>> operations = {
            {"read", [&] { return std::unique_ptr<ICC_CPP_Profile>(ICC_CPP_Profile::ReadFromMemory(in.data(), in.size())) != nullptr; }},
            {"write", [&] { return profile->WriteToMemory(out); }},
            {"write file", [&] { return profile->WriteFile(path.c_str()); }},
            {"add tags", [&] {
                 // The tags are the caller's allocations; from AddTag on the profile owns them.
                 ICC_CPP_Profile built;
                 for (int i = 0; i < 3; ++i) {
                     std::unique_ptr<ICC_CPP_Tag> tag;
                     try {
                         tag = std::make_unique<ICC_CPP_opaque_Tag>();
                     } catch (const std::bad_alloc&) {
                         return false;
                     }
                     if (!built.AddTag(tag.release()))
                         return false;
                 }
                 return built.header.size == 132 + 36;
             }},
            {"edit", [&] { return ICCXRiteToOrlisk(profile.get()); }},
        };
        for (const auto& [what, operation] : operations) {
            SCOPED_TRACE(what);
            const long runs = SweepAllocationFailures(
                [&] {
                    try {
                        return operation();
                    } catch (...) {
                        ADD_FAILURE() << "an exception left the module";
                        return false;
                    }
                },
                [](bool result, bool failed) { EXPECT_TRUE(failed || result); });
            EXPECT_GT(runs, 0);
            EXPECT_TRUE(profile->WriteToMemory(out));
        }
    }
}

class OutOfMemoryRun : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::current_path(m_dir.path()); }
    void TearDown() override { std::filesystem::current_path(m_previous); }

    std::filesystem::path m_previous = std::filesystem::current_path();
    testutil::TempDir m_dir;
};

// Whichever allocation fails, the run ends with exactly one error line: the stage whose
// progress line came last ran out of memory, or the next one, while its progress line was
// being logged; or the command line, before any stage. Status 2, and the summary follows.
// A failure the run can do without (the log file's buffer) leaves a successful run.
TEST_F(OutOfMemoryRun, Rgb2LabNamesTheStageThatRanOutOfMemory)
{
    testutil::WriteFile("chart.txt", "0 0 0\n0 0 100\n0 100 0\n0 100 100\n100 0 0\n100 0 100\n100 100 0\n100 100 100\n");
    testutil::WriteFile("targets.txt", "50 25 100\n");
    const std::vector<std::pair<std::string, std::string>> stages = {
        {"", "Error: Out of memory while reading the command line.\n"},
        {"Reading RGB reference values...\n", "Error: Out of memory while reading RGB reference values.\n"},
        {"Reading Lab measurement values...\n", "Error: Out of memory while reading Lab measurement values.\n"},
        {"Reading RGB target values...\n", "Error: Out of memory while reading RGB target values.\n"},
        {"Computing derived LAB values...\n", "Error: Out of memory while computing derived LAB values.\n"},
        {"Writing derived LAB values...\n", "Error: Out of memory while writing derived LAB values.\n"},
    };
    const std::string success = "Reading RGB reference values...\nReading Lab measurement values...\n"
                                "Reading RGB target values...\nComputing derived LAB values...\n"
                                "Appears to be a 2 x 2 x 2 grid.\nWriting derived LAB values...\n"
                                "Num errors:   0\nNum warnings  0\nDone.\n";
    std::vector<std::string> args = {"rgb2lab", "-m", "chart.txt", "-t", "targets.txt"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    // Standard output goes to a file only while the tool runs, redirected without allocating.
    const int outFd = open("stdout", O_RDWR | O_CREAT | O_TRUNC, 0600);
    const int savedFd = dup(1);
    ASSERT_TRUE(outFd >= 0 && savedFd >= 0);
    int status = -1;
    std::vector<bool> stageNamed(stages.size(), false);
    const long runs = SweepAllocationFailures(
        [&] {
            std::fflush(stdout);
            dup2(outFd, 1);
            status = RunRgb2Lab(static_cast<int>(args.size()), argv.data());
            std::fflush(stdout);
            dup2(savedFd, 1);
            return true;
        },
        [&](bool, bool failed) {
            const std::string out = testutil::ReadFile("stdout");
            ASSERT_EQ(0, ftruncate(outFd, 0));
            lseek(outFd, 0, SEEK_SET);
            if (!failed || status == 0) {
                EXPECT_EQ(0, status);
                EXPECT_EQ(success, out);
                return;
            }
            EXPECT_EQ(2, status);
            const std::size_t error = out.find("Error:");
            ASSERT_NE(std::string::npos, error) << out;
            EXPECT_EQ(error, out.rfind("Error:")) << out;
            const std::string line = out.substr(error, out.find('\n', error) + 1 - error);
            std::size_t last = 0;
            for (std::size_t s = 1; s < stages.size(); ++s)
                if (const std::size_t at = out.find(stages[s].first); at != std::string::npos && at < error)
                    last = s;
            // The grid table is allocated without throwing: without it the interpolation fails.
            if (line == "Error: Could not interpolate desired LAB values\n") {
                EXPECT_EQ(4u, last);
                return;
            }
            const bool named = line == stages[last].second || (last + 1 < stages.size() && line == stages[last + 1].second);
            EXPECT_TRUE(named) << out;
            stageNamed[line == stages[last].second ? last : last + 1] = true;
            EXPECT_EQ(last == 0 && line == stages[0].second ? line : line + "Num errors:   1\nNum warnings  0\nDone.\n",
                      out.substr(error));
        });
    close(outFd);
    close(savedFd);
    EXPECT_GT(runs, 0);
    EXPECT_EQ(std::vector<bool>(stages.size(), true), stageNamed);
}

}  // namespace
