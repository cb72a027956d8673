// The chart check's figures on edited charts: holes, repeats, values on and off the axes and
// Lab values at the limit. The first byte picks the base chart: odd, a complete 5202-patch
// chart (the 17-value grid at 0, 18, ..., 288 plus the gray levels 0 to 288); even, a
// complete n x n x n grid with n = 1 + (byte / 2) % 6. The second byte is the number of worst
// patches asked for. Each following 4-byte group edits one value: patch index (2 bytes,
// modulo the count), the component (0-2 RGB, 3-5 Lab) and a value code.
// Invariants: every summary is finite and ordered (mean and p95 at most max), no more
// patches are predicted than left out, the worst list is sorted and no longer than asked;
// the unedited charts have no interpolation error and the 5202-patch one its gray check.
#include "chartcheck.h"
#include "fuzzcharts.h"
#include "fuzzutil.h"
#include "preprocess5202.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace {

constexpr double k_codes[8] = {0.0, 1.0, -1.0, k_checkValueLimit, -k_checkValueLimit,
                               std::numeric_limits<double>::quiet_NaN(), 0.5, -999.0};

void CheckSummary(const DifferenceSummary& s, std::size_t most)
{
    FUZZ_CHECK(s.count <= most);
    if (s.count == 0)
        return;
    FUZZ_CHECK(std::isfinite(s.max) && s.max >= 0.0);
    FUZZ_CHECK(s.mean >= 0.0 && s.mean <= s.max);
    FUZZ_CHECK(s.p95 >= 0.0 && s.p95 <= s.max);
}

void CheckDifferences(const Differences& d, std::size_t most)
{
    CheckSummary(d.de76, most);
    CheckSummary(d.de2000, most);
    FUZZ_CHECK(d.de76.count == d.de2000.count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    std::vector<Color3> rgb;
    std::vector<Color3> lab;
    const bool chart5202 = data[0] & 1;
    if (chart5202) {
        fuzzutil::Add5202Chart(rgb, lab);
    } else {
        fuzzutil::AddGridChart(1 + (data[0] / 2) % 6, 10.0, rgb, lab);
    }
    const std::size_t worstCount = data[1];

    const std::size_t edits = (size - 2) / 4;
    for (std::size_t e = 0; e < edits; ++e) {
        fuzzutil::ApplyEdit(data + 2 + 4 * e, k_codes, rgb, lab);
    }
    if (FirstUncheckablePatch(rgb, lab) != 0)
        return 0;

    std::vector<Color3> gridRgb = rgb, gridLab = lab;
    std::FILE* sink = std::fopen("/dev/null", "w");
    Preprocess5202Target(gridRgb, gridLab, sink);
    std::fclose(sink);
    MeasuredGrid grid;
    if (grid.Build(gridRgb, gridLab, nullptr) != GridBuild::Ok) {
        FUZZ_CHECK(edits > 0);
        return 0;
    }
    const ChartCheck check = CheckChart(rgb, lab, grid, worstCount);

    FUZZ_CHECK(check.patches == rgb.size());
    CheckDifferences(check.repeatability, rgb.size());
    FUZZ_CHECK(check.trilinear.de76.count == check.tetrahedral.de76.count);
    CheckDifferences(check.trilinear, check.leftOut);
    CheckDifferences(check.tetrahedral, check.leftOut);
    CheckDifferences(check.grays, check.graysBeyond);
    FUZZ_CHECK(check.steepestDrops.size() <= check.nonmonotone);
    FUZZ_CHECK(check.worst.size() <= worstCount);
    for (std::size_t w = 1; w < check.worst.size(); ++w)
        FUZZ_CHECK(check.worst[w - 1].de2000 >= check.worst[w].de2000);
    if (edits == 0) {
        FUZZ_CHECK(check.trilinear.de76.count == check.leftOut);
        FUZZ_CHECK(check.trilinear.de76.count == 0 || check.trilinear.de76.max < 1e-4);
        FUZZ_CHECK(check.hasGrays == chart5202);
        FUZZ_CHECK(!chart5202 || (check.grays.de76.count == 289 && check.grays.de76.max < 1e-4));
    }
    return 0;
}
