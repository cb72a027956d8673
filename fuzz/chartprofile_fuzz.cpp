// The chart as an ICC profile, on grids that a chart table could give: the first byte picks
// n = 2 + byte % 3 values per axis and the class (bit 2: display, with 2 + byte / 8 % 4 nodes
// per axis of its Lab-to-device tables). The base chart is an n x n x n grid on 0..100 with
// a smooth Lab; each following 4-byte group edits one value: patch index (2 bytes, modulo the
// count), the component (0-2 RGB, 3-5 Lab, 6 and 7 drop the patch) and a value code.
// Invariants: an edited chart that still builds a grid gives a profile or a refusal; a
// profile writes out, reads back with every tag of its own type and writes out to the same
// bytes; the unedited charts always give a profile.
#include "chartprofile.h"
#include "fuzzutil.h"

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace {

constexpr double k_codes[16] = {0.0, 1.0, -1.0, 100.0, 1e300, -1e300, std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(),
                                0.5, 1e-300, 999.0, 1000.0, 1000.5, -128.5, 50.0};

bool ReadsBackTheSame(const ICC_CPP_Profile& profile)
{
    std::vector<unsigned char> first, second;
    if (!profile.WriteToMemory(first))
        return false;
    std::unique_ptr<ICC_CPP_Profile> back(ICC_CPP_Profile::ReadFromMemory(first.data(), first.size()));
    if (!back || !back->WriteToMemory(second) || second != first)
        return false;
    for (const ICC_CPP_Tag* tag : back->GetTags())
        if (dynamic_cast<const ICC_CPP_opaque_Tag*>(tag))
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int n = 2 + data[0] % 3;
    std::vector<Color3> rgb, lab;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < n; ++k) {
                const double r = 100.0 * i / (n - 1), g = 100.0 * j / (n - 1), b = 100.0 * k / (n - 1);
                rgb.push_back(Color3{{r, g, b}});
                lab.push_back(Color3{{0.3 * r + 0.6 * g + 0.1 * b, r - g, g - b}});
            }
    std::vector<bool> dropped(rgb.size(), false);
    const bool edited = size >= 5;
    for (std::size_t at = 1; at + 4 <= size; at += 4) {
        const std::size_t patch = (std::size_t(data[at]) << 8 | data[at + 1]) % rgb.size();
        const int component = data[at + 2] % 8;
        const double value = k_codes[data[at + 3] % 16];
        if (component >= 6)
            dropped[patch] = true;
        else if (component < 3)
            rgb[patch].c[component] = value;
        else
            lab[patch].c[component - 3] = value;
    }
    std::vector<Color3> keptRgb, keptLab;
    for (std::size_t p = 0; p < rgb.size(); ++p)
        if (!dropped[p]) {
            keptRgb.push_back(rgb[p]);
            keptLab.push_back(lab[p]);
        }

    MeasuredGrid grid;
    if (grid.Build(keptRgb, keptLab, nullptr) != GridBuild::Ok)
        return 0;
    ChartProfileSettings settings;
    settings.profileClass = data[0] & 4 ? ProfileClass::Display : ProfileClass::Input;
    settings.clutPoints = 2 + data[0] / 8 % 4;
    settings.description = "fuzz";
    std::unique_ptr<ICC_CPP_Profile> profile;
    const ChartProfileBuild result = BuildChartProfile(grid, settings, &profile);
    FUZZ_CHECK(edited || result == ChartProfileBuild::Ok);
    FUZZ_CHECK((result == ChartProfileBuild::Ok) == (profile != nullptr));
    if (profile)
        FUZZ_CHECK(ReadsBackTheSame(*profile));
    return 0;
}
