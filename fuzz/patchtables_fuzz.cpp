// The patch-table reader on any file: the bytes are written to a temporary file and read for
// the RGB and for the Lab columns. Invariants: a failed read leaves an empty list; a read gives
// the same list when repeated; a non-empty list written as tab-delimited triplets reads back
// (as plain triplets) with the same length and the values to the written six decimals.
#include "fuzzutil.h"
#include "patchtables.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

bool SameBits(const std::vector<Color3>& a, const std::vector<Color3>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Color3)) == 0);
}

// "%lf" keeps six decimals: a finite value comes back within rounding of the seventh.
bool CloseToWritten(double written, double read)
{
    if (std::isnan(written))
        return std::isnan(read);
    if (std::isinf(written))
        return read == written;
    return std::fabs(read - written) <= 1e-6 + std::fabs(written) * 1e-12;
}

void CheckWriteBack(const std::vector<Color3>& patches)
{
    fuzzutil::TempDir dir;
    const std::string path = dir.path() + "/out";
    FUZZ_CHECK(WriteTabDelimitedTriplets(path.c_str(), patches) == 1);
    std::vector<Color3> back;
    FUZZ_CHECK(ReadTripletFileString(path, &back, "RGB_R", "RGB_G", "RGB_B") == 1);
    FUZZ_CHECK(back.size() == patches.size());
    for (std::size_t i = 0; i < patches.size(); ++i)
        for (int n = 0; n < 3; ++n)
            FUZZ_CHECK(CloseToWritten(patches[i].c[n], back[i].c[n]));
}

void CheckRead(const std::string& path, const char* a, const char* b, const char* c)
{
    std::vector<Color3> first{Color3{{1, 2, 3}}};
    const int result = ReadTripletFileString(path, &first, a, b, c);
    FUZZ_CHECK(result == 0 || result == 1);
    if (result == 0)
        FUZZ_CHECK(first.empty());
    std::vector<Color3> second;
    FUZZ_CHECK(ReadTripletFileString(path, &second, a, b, c) == result);
    FUZZ_CHECK(SameBits(first, second));
    if (result == 1 && !first.empty())
        CheckWriteBack(first);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzutil::TempFile file(data, size);
    CheckRead(file.path(), "RGB_R", "RGB_G", "RGB_B");
    CheckRead(file.path(), "LAB_L", "LAB_A", "LAB_B");
    return 0;
}
