// The CGATS reader on any file, without and with sample names. Invariants: a read gives the
// same record when repeated; a successful one ends its header with the line that opens the
// data block, has rows of one length, and one name per row exactly when names were asked for.
#include "cgats.h"
#include "fuzzutil.h"

#include <cstring>

namespace {

bool SameRecord(const CGATS& a, const CGATS& b)
{
    if (a.headerLines != b.headerLines || a.sampleNames != b.sampleNames || a.rows.size() != b.rows.size())
        return false;
    for (std::size_t i = 0; i < a.rows.size(); ++i) {
        const std::vector<double>& x = a.rows[i];
        const std::vector<double>& y = b.rows[i];
        // Bits, not values: a NaN read twice is the same NaN.
        if (x.size() != y.size() || (!x.empty() && std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) != 0))
            return false;
    }
    return true;
}

void CheckRead(const std::string& path, int readNames)
{
    CGATS first;
    first.rows.push_back({1.0});
    const int result = ReadCGATS(path.c_str(), &first, readNames);
    FUZZ_CHECK(result == 0 || result == 1);
    CGATS second;
    FUZZ_CHECK(ReadCGATS(path.c_str(), &second, readNames) == result);
    FUZZ_CHECK(SameRecord(first, second));
    if (result == 0)
        return;
    FUZZ_CHECK(!first.headerLines.empty() && first.headerLines.back().compare(0, 10, "BEGIN_DATA") == 0);
    FUZZ_CHECK(first.sampleNames.size() == (readNames ? first.rows.size() : 0));
    for (const std::vector<double>& row : first.rows)
        FUZZ_CHECK(row.size() == first.rows.front().size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzutil::TempFile file(data, size);
    CheckRead(file.path(), 0);
    CheckRead(file.path(), 1);
    return 0;
}
