// A summary of a measured chart (a CGATS table of device RGB and Lab) and an ICC profile.
#pragma once

#include <string>

// Appends the summary to *text; false, with the reason in *text, when a file cannot be read.
bool DescribeChartAndProfile(const char* chartPath, const char* profilePath, std::string* text);
