// chartpcs CHART PROFILE: takes the darkest and the lightest patch of a measured chart (a
// CGATS table of device RGB and Lab) as its black and white, prints the chart's first patch
// in the profile connection space's Lab that they define, and lists the ICC profile's tags.
#include <rgb2lab/cgats.h>
#include <rgb2lab/icc.h>
#include <rgb2lab/vmath.h>

#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: chartpcs CHART PROFILE\n", stderr);
        return 2;
    }
    CGATS chart;
    if (!ReadCGATS(argv[1], &chart, 0) || chart.rows.empty()) {
        std::fprintf(stderr, "cannot read the chart %s\n", argv[1]);
        return 1;
    }
    // Each row: R, G, B, L*, a*, b*.
    auto lab = [&](std::size_t i) {
        const std::vector<double>& row = chart.rows[i];
        return row.size() < 6 ? Vec3() : Vec3(float(row[3]), float(row[4]), float(row[5]));
    };
    std::size_t black = 0, white = 0;
    for (std::size_t i = 1; i < chart.rows.size(); ++i) {
        if (lab(i).v[0] < lab(black).v[0])
            black = i;
        if (lab(i).v[0] > lab(white).v[0])
            white = i;
    }
    const Matrix4 toPcs = ComputeTransformFromMeasuredLabToPCSLab(lab(black), lab(white));
    const Vec3 first = lab(0);
    const Vec4 pcs = mul(toPcs, Vec4(first.v[0], first.v[1], first.v[2], 1.0f));
    std::printf("black: patch %zu, white: patch %zu\n", black + 1, white + 1);
    std::printf("patch 1: Lab %.3f %.3f %.3f, in the PCS %.3f %.3f %.3f\n", first.v[0], first.v[1],
                first.v[2], pcs.v[0], pcs.v[1], pcs.v[2]);

    std::unique_ptr<ICC_CPP_Profile> profile(ICC_CPP_Profile::ReadFile(argv[2]));
    if (!profile) {
        std::fprintf(stderr, "cannot read the profile %s\n", argv[2]);
        return 1;
    }
    std::printf("profile tags:");
    for (const ICC_CPP_Tag* tag : profile->GetTags()) {
        const unsigned int s = tag->signature;
        std::printf(" %c%c%c%c", char(s >> 24), char(s >> 16), char(s >> 8), char(s));
    }
    std::printf("\n");
    return 0;
}
