// Running out of memory, one failed allocation at a time: this program replaces operator new
// (all the unaligned forms, so that the sanitizers see matching pairs) so that a chosen
// allocation throws std::bad_alloc (or gives null, for the nothrow forms), and every allocation of an operation is
// made to fail in turn. No exception may leave the ICC module, and rgb2lab names the stage
// that ran out of memory in one "Error:" line and exits with status 2.
#include "driver.h"
#include "icc.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <new>
#include <unistd.h>

namespace {

// Allocations left before the one that fails; negative while no failure is armed.
long g_allocationsBeforeFailure = -1;
bool g_failed = false;

void* Allocate(std::size_t size, bool nothrow)
{
    if (g_allocationsBeforeFailure >= 0 && g_allocationsBeforeFailure-- == 0) {
        g_failed = true;
        return nothrow ? nullptr : throw std::bad_alloc();
    }
    if (void* p = std::malloc(size ? size : 1); p || nothrow)
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

}  // namespace

void* operator new(std::size_t size) { return Allocate(size, false); }
void* operator new[](std::size_t size) { return Allocate(size, false); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, true); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, true); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

// Each whole-profile operation gives false (or null) when an allocation fails and succeeds
// otherwise; none throws, and a profile that failed to change still writes out.
TEST(OutOfMemory, IccOperationsFailInsteadOfThrowing)
{
    testutil::TempDir dir;
    const std::string path = dir.file("out.icc");
    for (const char* name : {"LStar-RGB.icc", "sRGB.icc"}) {
        SCOPED_TRACE(name);
        const std::string in = testutil::ReadFile(std::string(TEST_DATA_DIR "/icc/") + name);
        const auto* bytes = reinterpret_cast<const unsigned char*>(in.data());
        std::unique_ptr<ICC_CPP_Profile> profile(ICC_CPP_Profile::ReadFromMemory(bytes, in.size()));
        ASSERT_NE(profile, nullptr);
        std::vector<unsigned char> out;
        const std::vector<std::function<bool()>> operations = {
            [&] { return std::unique_ptr<ICC_CPP_Profile>(ICC_CPP_Profile::ReadFromMemory(bytes, in.size())) != nullptr; },
            [&] { return profile->WriteToMemory(out); },
            [&] { return profile->WriteFile(path.c_str()); },
            [&] {
                // The tags are the caller's allocations; from AddTag on the profile owns them.
                ICC_CPP_Profile built;
                for (int i = 0; i < 3; ++i) {
                    ICC_CPP_Tag* tag = nullptr;
                    try {
                        tag = new ICC_CPP_opaque_Tag();
                    } catch (const std::bad_alloc&) {
                        return false;
                    }
                    if (!built.AddTag(tag))
                        return false;
                }
                return built.header.size == 132 + 36;
            },
            [&] { return ICCXRiteToOrlisk(profile.get()); },
        };
        for (std::size_t o = 0; o < operations.size(); ++o) {
            SCOPED_TRACE(o);
            const long runs = SweepAllocationFailures(
                [&] {
                    try {
                        return operations[o]();
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

// Whichever allocation fails, the run ends with exactly one error line after the progress of
// a full run so far: the stage whose progress line came last ran out of memory, or the next
// one while its progress line was being logged; or the command line, before any stage (no
// summary then). The grid table is allocated without throwing: without it the interpolation
// fails. A failure the run can do without (the log file's buffer) leaves a successful run.
TEST(OutOfMemory, Rgb2LabNamesTheStageThatRanOutOfMemory)
{
    testutil::TempDir dir;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    testutil::WriteFile("chart.txt", "0 0 0\n0 0 100\n0 100 0\n0 100 100\n100 0 0\n100 0 100\n100 100 0\n100 100 100\n");
    testutil::WriteFile("targets.txt", "50 25 100\n");
    std::vector<std::string> errors;
    for (const char* stage : {"reading the command line", "reading RGB reference values", "reading Lab measurement values",
                              "reading RGB target values", "computing derived LAB values", "writing derived LAB values"})
        errors.push_back(std::string("Error: Out of memory while ") + stage + ".\n");
    errors.push_back("Error: Could not interpolate desired LAB values\n");
    const std::string success = "Reading RGB reference values...\nReading Lab measurement values...\n"
                                "Reading RGB target values...\nComputing derived LAB values...\n"
                                "Appears to be a 2 x 2 x 2 grid.\nWriting derived LAB values...\n";
    const std::string summary = "Num errors:   1\nNum warnings  0\nDone.\n";
    char a0[] = "rgb2lab", a1[] = "-m", a2[] = "chart.txt", a3[] = "-t", a4[] = "targets.txt";
    char* argv[] = {a0, a1, a2, a3, a4, nullptr};

    // Standard output goes to a file only while the tool runs, redirected without allocating.
    const int outFd = open("stdout", O_RDWR | O_CREAT | O_TRUNC, 0600);
    const int savedFd = dup(1);
    ASSERT_TRUE(outFd >= 0 && savedFd >= 0);
    int status = -1;
    std::vector<bool> named(errors.size(), false);
    const long runs = SweepAllocationFailures(
        [&] {
            std::fflush(stdout);
            dup2(outFd, 1);
            status = RunRgb2Lab(5, argv);
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
                EXPECT_EQ(success + "Num errors:   0\nNum warnings  0\nDone.\n", out);
                return;
            }
            EXPECT_EQ(2, status);
            const std::size_t at = out.find("Error:");
            ASSERT_NE(std::string::npos, at) << out;
            const std::string progress = out.substr(0, at);
            EXPECT_EQ(success.substr(0, progress.size()), progress);
            const long stages = std::count(progress.begin(), progress.end(), '\n') - (progress.find("grid") != std::string::npos);
            const std::string line = out.substr(at, out.find('\n', at) + 1 - at);
            const long e = std::find(errors.begin(), errors.end(), line) - errors.begin();
            EXPECT_TRUE(e == 6 ? stages == 4 : e == stages || e == stages + 1) << out;
            EXPECT_EQ(e == 0 ? line : line + summary, out.substr(at));
            named[static_cast<std::size_t>(std::min(e, 6L))] = true;
        });
    close(outFd);
    close(savedFd);
    std::filesystem::current_path(previous);
    EXPECT_GT(runs, 0);
    EXPECT_EQ(std::vector<bool>(errors.size() - 1, true), std::vector<bool>(named.begin(), named.end() - 1));
}

}  // namespace
