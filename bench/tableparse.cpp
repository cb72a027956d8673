// tableparse CHART: times what rgb2lab's first two stages do, reading the measurement table
// for its RGB columns and again for its Lab columns, and prints the seconds taken.
#include "patchtables.h"

#include <chrono>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tableparse CHART\n");
        return 1;
    }
    std::vector<Color3> rgb;
    std::vector<Color3> lab;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = ReadTripletFileString(argv[1], &rgb, "RGB_R", "RGB_G", "RGB_B") &&
                    ReadTripletFileString(argv[1], &lab, "LAB_L", "LAB_A", "LAB_B");
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    if (!ok || rgb.size() != lab.size()) {
        std::fprintf(stderr, "tableparse: cannot read %s\n", argv[1]);
        return 1;
    }
    std::printf("%.6f\n", seconds.count());
    return 0;
}
