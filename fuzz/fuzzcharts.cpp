#include "fuzzcharts.h"

namespace fuzzutil {

Color3 LinearLab(double r, double g, double b)
{
    return Color3{{0.2 * r + 0.5 * g + 0.1 * b, r - g, g - 0.5 * b}};
}

void AddGridChart(int n, double step, std::vector<Color3>& rgb, std::vector<Color3>& lab)
{
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < n; ++k) {
                rgb.push_back(Color3{{i * step, j * step, k * step}});
                lab.push_back(LinearLab(i * step, j * step, k * step));
            }
}

void Add5202Chart(std::vector<Color3>& rgb, std::vector<Color3>& lab)
{
    AddGridChart(17, 18.0, rgb, lab);
    for (int level = 0; level <= 288; ++level) {
        rgb.push_back(Color3{{double(level), double(level), double(level)}});
        lab.push_back(LinearLab(level, level, level));
    }
}

void ApplyEdit(const std::uint8_t edit[4], const double codes[8], std::vector<Color3>& rgb,
               std::vector<Color3>& lab)
{
    const std::size_t index = (std::size_t(edit[0]) << 8 | edit[1]) % rgb.size();
    const int component = edit[2] % 6;
    const double value = (edit[3] & 0x80) ? codes[edit[3] % 8] : double(edit[3]);
    (component < 3 ? rgb : lab)[index].c[component % 3] = value;
}

}  // namespace fuzzutil
