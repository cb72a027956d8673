#include "preprocess5202.h"

#include <cassert>
#include <cstdio>
#include <map>

namespace {

// What the reduction leaves: the 17 x 17 x 17 grid.
constexpr std::size_t k_gridPatches = 17 * 17 * 17;
constexpr std::size_t k_samples = 17;
constexpr std::size_t k_sampleSpacing = 18;
constexpr double k_smoothing[5] = {0.0625, 0.25, 0.375, 0.25, 0.0625};

bool IsGray(const Color3& rgb)
{
    return rgb.c[0] == rgb.c[1] && rgb.c[0] == rgb.c[2];
}

struct GrayGroup {
    Color3 rgb;
    Color3 lab;  // the sum, then the average
    unsigned count = 0;
};

// Takes every gray patch out of both lists, keeping the others in their order; the gray
// ones go into a map by level, equal levels in file order.
std::multimap<double, Color3> ExtractGrays(std::vector<Color3>& rgb, std::vector<Color3>& lab)
{
    std::multimap<double, Color3> grays;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < rgb.size(); ++i) {
        if (IsGray(rgb[i])) {
            grays.emplace(rgb[i].c[0], lab[i]);
        } else {
            rgb[kept] = rgb[i];
            lab[kept] = lab[i];
            ++kept;
        }
    }
    rgb.resize(kept);
    lab.resize(kept);
    return grays;
}

std::vector<GrayGroup> GroupByLevel(const std::multimap<double, Color3>& grays)
{
    std::vector<GrayGroup> groups;
    groups.reserve(k_5202GrayPatches);
    double previous = 0.0;
    for (auto it = grays.begin(); it != grays.end(); ++it) {
        const double level = it->first;
        if (it != grays.begin() && level == previous) {
            GrayGroup& g = groups.back();
            for (int n = 0; n < 3; ++n)
                g.lab.c[n] += it->second.c[n];
            ++g.count;
        } else {
            groups.push_back({Color3{{level, level, level}}, it->second, 1});
        }
        previous = level;
    }
    return groups;
}

// The weighted sum is formed in exactly this order, each product rounded on its own.
Color3 Smooth(const std::vector<GrayGroup>& groups, std::size_t j)
{
    Color3 out;
    for (int n = 0; n < 3; ++n) {
        double sum = groups[j - 2].lab.c[n] * k_smoothing[0];
        sum = sum + groups[j - 1].lab.c[n] * k_smoothing[1];
        sum = sum + groups[j].lab.c[n] * k_smoothing[2];
        sum = sum + groups[j + 1].lab.c[n] * k_smoothing[3];
        sum = sum + groups[j + 2].lab.c[n] * k_smoothing[4];
        out.c[n] = sum;
    }
    return out;
}

}  // namespace

void Preprocess5202Target(std::vector<Color3>& rgb, std::vector<Color3>& lab, std::FILE* messages)
{
    if (rgb.size() != k_5202ChartPatches || lab.size() != rgb.size())
        return;

    const std::multimap<double, Color3> grays = ExtractGrays(rgb, lab);
    if (grays.size() != k_5202GrayPatches) {
        std::fprintf(messages,
                     "Warning: Preprocess5202Target () failed because an unexpected number (%u) of "
                     "gray patches were found. We were expecting 306 gray patches instead.\n",
                     static_cast<unsigned>(grays.size()));
        return;
    }

    std::vector<GrayGroup> groups = GroupByLevel(grays);
    if (groups.size() != k_5202GrayLevels) {
        std::fprintf(messages,
                     "Warning: Preprocess5202Target () failed because an unexpected number (%u) of "
                     "unique gray patches were found. We were expecting 289 unique gray patches "
                     "instead.\n",
                     static_cast<unsigned>(groups.size()));
        return;
    }

    // Multiplication by the reciprocal, not division: the last bit may differ for 3.
    for (GrayGroup& g : groups) {
        const double factor = 1.0 / static_cast<double>(g.count);
        for (double& v : g.lab.c)
            v *= factor;
    }

    for (std::size_t k = 0; k < k_samples; ++k) {
        const std::size_t j = k * k_sampleSpacing;
        const Color3 sampleLab = (k == 0 || k == k_samples - 1) ? groups[j].lab : Smooth(groups, j);
        const Color3& sampleRgb = groups[j].rgb;
        std::fprintf(messages, "(%lf, %lf, %lf) -> (%lf, %lf, %lf)\n", sampleRgb.c[0], sampleRgb.c[1],
                     sampleRgb.c[2], sampleLab.c[0], sampleLab.c[1], sampleLab.c[2]);
        rgb.push_back(sampleRgb);
        lab.push_back(sampleLab);
    }
    assert(rgb.size() == k_gridPatches && lab.size() == k_gridPatches);
}
