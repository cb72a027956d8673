// Running out of memory, one failed allocation at a time: this program replaces operator new
// (all the unaligned forms, so that the sanitizers see matching pairs) so that a chosen
// allocation throws std::bad_alloc (or gives null, for the nothrow forms), and every
// allocation of an operation is made to fail in turn. No exception may leave the ICC module,
// and rgb2lab names the stage that ran out of memory in one "Error:" line and exits with
// status 2.
#include "driver.h"
#include "icc.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <new>
#include <optional>

// Allocations left before the one that fails; negative while no failure is armed.
static long g_allocationsBeforeFailure = -1;
static bool g_failed = false;

static void* Allocate(std::size_t size, bool nothrow)
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
static bool FailingAllocation(long n, const std::function<void()>& operation)
{
    g_failed = false;
    g_allocationsBeforeFailure = n;
    operation();
    g_allocationsBeforeFailure = -1;
    return g_failed;
}

void* operator new(std::size_t size) { return Allocate(size, false); }
void* operator new[](std::size_t size) { return Allocate(size, false); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, true); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, true); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

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
    testutil::WriteFile("chart.txt",
                        "0 0 0\n0 0 100\n0 100 0\n0 100 100\n100 0 0\n100 0 100\n100 100 0\n100 100 100\n");
    testutil::WriteFile("targets.txt", "50 25 100\n");
    std::vector<std::string> errors;
    for (const char* stage : {"reading the command line", "reading RGB reference values",
                              "reading Lab measurement values", "reading RGB target values",
                              "computing derived LAB values", "writing derived LAB values"})
        errors.push_back(std::string("Error: Out of memory while ") + stage + ".\n");
    errors.push_back("Error: Could not interpolate desired LAB values\n");
    const std::string success = "Reading RGB reference values...\nReading Lab measurement values...\n"
                                "Reading RGB target values...\nComputing derived LAB values...\n"
                                "Appears to be a 2 x 2 x 2 grid.\nWriting derived LAB values...\n";
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
        const long stages =
            std::count(progress.begin(), progress.end(), '\n') - (progress.find("grid") != std::string::npos);
        const long e = std::find(errors.begin(), errors.end(), line) - errors.begin();
        named[static_cast<std::size_t>(std::min(e, 6L))] = true;
        const std::string summary = "Num errors:   " + std::to_string(status / 2) + "\nNum warnings  0\nDone.\n";
        const bool stageNamed = e == 6 ? stages == 4 : e == stages || e == stages + 1;
        EXPECT_TRUE(status == 0 ? out == success + summary
                                : status == 2 && success.starts_with(progress) &&
                                      out.substr(at) == (e == 0 ? line : line + summary) && stageNamed)
            << status << "\n" << out;
        if (!failed)
            break;
    }
    std::filesystem::current_path(previous);
    EXPECT_EQ(std::vector<bool>(errors.size() - 1, true), std::vector<bool>(named.begin(), named.end() - 1));
}

// Each whole-profile operation gives false (or null) when an allocation fails and succeeds
// otherwise; none throws, and a profile that failed to change still writes out. The seven-bit
// text says when it could not be made, instead of leaving it empty. sRGB.icc holds an element of
// each class the reader decodes but "mft2", and one that it keeps as bytes. (Writing a file
// writes the profile to memory first.)
TEST(OutOfMemory, IccOperationsFailInsteadOfThrowing)
{
    using ProfilePtr = std::unique_ptr<ICC_CPP_Profile>;
    testutil::TempDir dir;
    const std::string path = dir.file("out.icc");
    const std::string text = testutil::ReadFile(TEST_DATA_DIR "/icc/sRGB.icc");
    const std::vector<unsigned char> in(text.begin(), text.end());
    const ProfilePtr profile(ICC_CPP_Profile::ReadFromMemory(in.data(), in.size()));
    ASSERT_NE(profile, nullptr);
    std::vector<unsigned char> out;
    const std::vector<std::pair<const char*, std::function<bool()>>> operations = {
        {"read", [&] { return ProfilePtr(ICC_CPP_Profile::ReadFromMemory(in.data(), in.size())) != nullptr; }},
        {"write file", [&] { return profile->WriteFile(path.c_str()); }},
        {"add tag", [&] {
             // The tag (one allocation: null when it fails) is the caller's; from AddTag on the
             // profile owns it.
             ICC_CPP_Profile built;
             return built.AddTag(new (std::nothrow) ICC_CPP_A2B_Tag(0)) && built.header.size == 132 + 12;
         }},
        {"edit", [&] { return ICCXRiteToOrlisk(profile.get()); }},
        {"seven-bit text", [&] {
             std::string ascii;
             const bool made = ICCSevenBitText("Caf\xC3\xA9", &ascii);
             EXPECT_TRUE(!made || ascii == "Caf?");
             return made;
         }},
    };
    for (const auto& [what, operation] : operations) {
        SCOPED_TRACE(what);
        long n = 0;
        for (bool failed = true; failed; ++n) {
            bool result = false;
            failed = FailingAllocation(n, [&] {
                try {
                    result = operation();
                } catch (...) {
                    ADD_FAILURE() << "an exception left the module";
                }
            });
            EXPECT_TRUE(failed || result);
        }
        EXPECT_GT(n, 1);
        EXPECT_TRUE(profile->WriteToMemory(out));
    }
}
