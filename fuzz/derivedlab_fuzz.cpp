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
#include "fuzzutil.h"

#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double k_codes[8] = {0.0, 1.0, -1.0, 1e300, std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN(), 0.5, -999.0};

// Lab linear in RGB, so that an unedited chart has a known answer.
Color3 LabOf(double r, double g, double b)
{
    return Color3{{0.2 * r + 0.5 * g + 0.1 * b, r - g, g - 0.5 * b}};
}

void Chart(int n, double step, std::vector<Color3>& rgb, std::vector<Color3>& lab)
{
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < n; ++k) {
                rgb.push_back(Color3{{i * step, j * step, k * step}});
                lab.push_back(LabOf(i * step, j * step, k * step));
            }
}

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
        Chart(17, 18.0, rgb, lab);
        for (int level = 0; level <= 288; ++level) {
            rgb.push_back(Color3{{double(level), double(level), double(level)}});
            lab.push_back(LabOf(level, level, level));
        }
        top = 288.0;
    } else {
        const int n = 2 + (data[0] / 2) % 4;
        Chart(n, 10.0, rgb, lab);
        top = 10.0 * (n - 1);
    }
    std::vector<Color3> targets = {Color3{{0, 0, 0}}, Color3{{top, top, top}}, Color3{{top, 0, top * 0.5}}};

    const std::size_t edits = (size - 1) / 4;
    for (std::size_t e = 0; e < edits; ++e) {
        const std::uint8_t* p = data + 1 + 4 * e;
        const std::size_t index = (std::size_t(p[0]) << 8 | p[1]) % rgb.size();
        const int component = p[2] % 6;
        const double value = (p[3] & 0x80) ? k_codes[p[3] % 8] : double(p[3]);
        (component < 3 ? rgb : lab)[index].c[component % 3] = value;
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
        FUZZ_CHECK(std::fabs(derived[1].c[0] - LabOf(top, top, top).c[0]) < 1e-9);
    }
    return 0;
}
