#include "chartinfo.h"

#include <rgb2lab/cgats.h>
#include <rgb2lab/icc.h>
#include <rgb2lab/vmath.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

// The signature's four characters without trailing blanks: "RGB " gives "RGB".
std::string FourChars(unsigned int signature)
{
    std::string text{char(signature >> 24), char(signature >> 16), char(signature >> 8), char(signature)};
    return text.erase(text.find_last_not_of(' ') + 1);
}

std::string Format(const char* format, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

}  // namespace

bool DescribeChartAndProfile(const char* chartPath, const char* profilePath, std::string* text)
{
    CGATS chart;
    if (!ReadCGATS(chartPath, &chart, 0) || chart.rows.size() < 2 || chart.rows[0].size() < 6) {
        *text += std::string("cannot read the chart ") + chartPath + "\n";
        return false;
    }
    // Each row: R, G, B, L*, a*, b*.
    const std::vector<double>& first = chart.rows[0];
    const std::vector<double>& second = chart.rows[1];
    const Vec3 lab1{float(first[3]), float(first[4]), float(first[5])};
    const Vec3 lab2{float(second[3]), float(second[4]), float(second[5])};
    *text += "chart: " + std::to_string(chart.rows.size()) + " patches of " +
             std::to_string(first.size()) + " numbers\n";
    *text += "patches 1 and 2: Delta E*ab " + Format("%.4f", ComputeDeltaE(lab1, lab2)) + "\n";

    std::unique_ptr<ICC_CPP_Profile> profile(ICC_CPP_Profile::ReadFile(profilePath));
    if (!profile) {
        *text += std::string("cannot read the profile ") + profilePath + "\n";
        return false;
    }
    std::vector<unsigned char> written;
    std::unique_ptr<ICC_CPP_Profile> again;
    if (profile->WriteToMemory(written))
        again.reset(ICC_CPP_Profile::ReadFromMemory(written.data(), written.size()));
    if (!again) {
        *text += std::string("cannot write the profile ") + profilePath + " and read it back\n";
        return false;
    }
    *text += "profile: class " + FourChars(profile->header.deviceClass) + ", colour space " +
             FourChars(profile->header.colorSpace) + ", " +
             std::to_string(profile->GetTags().size()) + " tags, " +
             std::to_string(again->GetTags().size()) + " after writing and reading it back\n";
    const auto* copyright = dynamic_cast<const ICC_CPP_textInternal_Tag*>(
        profile->GetTag(ICCSignature("cprt")));
    *text += "copyright: " + (copyright ? copyright->GetText() : std::string("none")) + "\n";
    return true;
}
