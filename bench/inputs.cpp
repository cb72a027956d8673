#include "inputs.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>

std::string ChartText(int n)
{
    std::string text = "CTI3\n\nBEGIN_DATA_FORMAT\nSAMPLE_ID RGB_R RGB_G RGB_B LAB_L LAB_A LAB_B\n"
                       "END_DATA_FORMAT\n\nBEGIN_DATA\n";
    char line[200];
    int id = 1;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < n; ++k) {
                const double r = 100.0 * i / (n - 1), g = 100.0 * j / (n - 1), b = 100.0 * k / (n - 1);
                const double lightness = 100.0 * std::cbrt((0.2 * r + 0.7 * g + 0.1 * b) / 100.0);
                std::snprintf(line, sizeof line, "%d %g %g %g %.5g %.5g %.5g\n", id++, r, g, b, lightness,
                              0.8 * (r - g), 0.6 * (g - b));
                text += line;
            }
    return text + "END_DATA\n";
}

std::string TargetText(std::size_t count)
{
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> component(0.0, 100.0);
    std::string text;
    text.reserve(count * 25);
    char line[100];
    for (std::size_t t = 0; t < count; ++t) {
        const double r = component(random), g = component(random), b = component(random);
        std::snprintf(line, sizeof line, "%.4f %.4f %.4f\n", r, g, b);
        text += line;
    }
    return text;
}

std::string OutOfGamutLabText(std::size_t count)
{
    std::mt19937 random(777);
    std::uniform_real_distribution<double> l(-10.0, 110.0), ab(-128.0, 128.0);
    std::string text;
    char line[100];
    for (std::size_t n = 0; n < count;) {
        const double lightness = l(random), a = ab(random), b = ab(random);
        if (lightness >= 0.0 && lightness <= 100.0 && std::fabs(a) <= 80.0 && std::fabs(b) <= 60.0)
            continue;
        std::snprintf(line, sizeof line, "%.4f %.4f %.4f\n", lightness, a, b);
        text += line;
        ++n;
    }
    return text;
}

bool WriteText(const std::string& path, const std::string& text)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file || std::fwrite(text.data(), 1, text.size(), file.get()) != text.size())
        return false;
    return std::fclose(file.release()) == 0;
}
