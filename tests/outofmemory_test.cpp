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
#include <functional>
#include <new>
#include <optional>
#include <utility>

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

// Runs `operation` with allocation number `n` (from 0) failing; true when it was reached.
bool FailingAllocation(long n, const std::function<void()>& operation)
{
    g_failed = false;
    g_allocationsBeforeFailure = n;
    operation();
    g_allocationsBeforeFailure = -1;
    return g_failed;
}

// What `make` gives, allocated outside the sweep: the test's own allocations never fail.
template <typename Make>
auto Unswept(Make make)
{
    const long armed = std::exchange(g_allocationsBeforeFailure, -1);
    auto made = make();
    g_allocationsBeforeFailure = armed;
    return made;
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

// Reading, editing and writing a profile, and adding tags to a new one, give false (or null)
// when an allocation fails and succeed otherwise; none throws, and a profile that failed to
// change still writes out. From AddTag on, the profile owns the tag.
TEST(OutOfMemory, IccOperationsFailInsteadOfThrowing)
{
    testutil::TempDir dir;
    const std::string path = dir.file("out.icc");
    for (const char* name : {"LStar-RGB.icc", "sRGB.icc"}) {
        const std::string in = testutil::ReadFile(std::string(TEST_DATA_DIR "/icc/") + name);
        std::unique_ptr<ICC_CPP_Profile> profile;
        std::vector<unsigned char> out;
        bool result = false;
        const auto run = [&] {
            try {
                profile.reset(ICC_CPP_Profile::ReadFromMemory(reinterpret_cast<const unsigned char*>(in.data()), in.size()));
                result = profile && ICCXRiteToOrlisk(profile.get()) && profile->WriteToMemory(out) &&
                         profile->WriteFile(path.c_str());
                const auto built = Unswept([] { return std::make_unique<ICC_CPP_Profile>(); });
                for (int i = 0; i < 3; ++i)
                    result = built->AddTag(Unswept([] { return new ICC_CPP_opaque_Tag(); })) && result;
                result = result && built->header.size == 132 + 36;
            } catch (...) {
                ADD_FAILURE() << "an exception left the module";
            }
        };
        long n = 0;
        for (; FailingAllocation(n, run); ++n)
            EXPECT_TRUE(!profile || profile->WriteToMemory(out)) << n;
        EXPECT_TRUE(result && n > 0) << name;
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
    std::vector<bool> named(errors.size(), false);
    for (long n = 0;; ++n) {
        int status = -1;
        std::optional<testutil::CaptureStdout> capture(std::in_place);
        const bool failed = FailingAllocation(n, [&] { status = RunRgb2Lab(5, argv); });
        const std::string out = capture->Text();
        capture.reset();
        const std::size_t at = std::min(out.find("Error:"), out.size());
        const std::string progress = out.substr(0, at), line = out.substr(at, out.find('\n', at) + 1 - at);
        const long stages = std::count(progress.begin(), progress.end(), '\n') - (progress.find("grid") != std::string::npos);
        const long e = std::find(errors.begin(), errors.end(), line) - errors.begin();
        named[static_cast<std::size_t>(std::min(e, 6L))] = true;
        if (status == 0)
            EXPECT_EQ(success + "Num errors:   0\nNum warnings  0\nDone.\n", out);
        else
            EXPECT_TRUE(status == 2 && success.starts_with(progress) && out.substr(at) == (e == 0 ? line : line + summary) &&
                        (e == 6 ? stages == 4 : e == stages || e == stages + 1)) << status << "\n" << out;
        if (!failed)
            break;
    }
    std::filesystem::current_path(previous);
    EXPECT_EQ(std::vector<bool>(errors.size() - 1, true), std::vector<bool>(named.begin(), named.end() - 1));
}

}  // namespace
