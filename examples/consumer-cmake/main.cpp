// chartinfo CHART PROFILE: prints a summary of a measured chart and an ICC profile.
#include "chartinfo.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: chartinfo CHART PROFILE\n", stderr);
        return 2;
    }
    std::string text;
    const bool ok = DescribeChartAndProfile(argv[1], argv[2], &text);
    std::fputs(text.c_str(), ok ? stdout : stderr);
    return ok ? 0 : 1;
}
