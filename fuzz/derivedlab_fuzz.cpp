// The grid computation behind a run, on patch lists too long for a fuzzed text table: the
// 5202-patch chart reduction and the interpolation. The first byte picks the base chart:
// odd, a complete 5202-patch chart (the 17-value grid at 0, 18, ..., 288 plus the gray levels
// 0 to 288); even, a complete n x n x n grid with n = 2 + (byte / 2) % 4. Each following
// 4-byte group edits one value: patch index (2 bytes, modulo the count), the component
// (0-2 RGB, 3-5 Lab) and a value code. The last 8 patches' RGB, each component moved by 0.5
// towards the middle of the grid, and three points of the base chart are the targets.
// Invariants: a success derives one value per target; a failure keeps fewer; the unedited
// charts always succeed.
#include "derivedlab.h"
#include "fuzzcharts.h"
#include "fuzzutil.h"

#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double k_codes[8] = {0.0, 1.0, -1.0, 1e300, std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN(), 0.5, -999.0};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzutil::SilenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::vector<Color3> rgb;
    std::vector<Color3> lab;
    double top;
    if (data[0] & 1) {
        fuzzutil::Add5202Chart(rgb, lab);
        top = 288.0;
    } else {
        const int n = 2 + (data[0] / 2) % 4;
        fuzzutil::AddGridChart(n, 10.0, rgb, lab);
        top = 10.0 * (n - 1);
    }
    std::vector<Color3> targets = {Color3{{0, 0, 0}}, Color3{{top, top, top}}, Color3{{top, 0, top * 0.5}}};

    const std::size_t edits = (size - 1) / 4;
    for (std::size_t e = 0; e < edits; ++e) {
        fuzzutil::ApplyEdit(data + 1 + 4 * e, k_codes, rgb, lab);
    }
    for (std::size_t i = rgb.size() - 8; i < rgb.size(); ++i) {
        Color3 t = rgb[i];
        for (double& c : t.c)
            c += (c < top * 0.5) ? 0.5 : -0.5;
        targets.push_back(t);
    }

    std::vector<Color3> derived;
    const bool ok = ComputeDerivedLabValues(rgb, lab, targets, &derived);
    if (ok)
        FUZZ_CHECK(derived.size() == targets.size());
    else
        FUZZ_CHECK(derived.size() < targets.size());
    if (edits == 0) {
        FUZZ_CHECK(ok);
        FUZZ_CHECK(std::fabs(derived[1].c[0] - fuzzutil::LinearLab(top, top, top).c[0]) < 1e-9);
    }
    return 0;
}
