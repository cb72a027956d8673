// The patch-table reader on an open stream, as chartlab reads its targets from standard
// input. Invariants: it reads what the file reader reads from the same bytes, to the bit;
// a failed read leaves an empty table; every patch has a line number, from 1, never
// decreasing and never beyond the input's last line; sample ids are recorded for every patch
// or for none.
#include "fuzzutil.h"
#include "patchtables.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::vector<char> bytes(data, data + size);
    std::unique_ptr<FILE, int (*)(FILE*)> stream(fmemopen(bytes.data(), bytes.size(), "r"), std::fclose);
    FUZZ_CHECK(stream != nullptr);
    TripletTable table;
    const int result = ReadTripletStream(stream.get(), &table, "RGB_R", "RGB_G", "RGB_B");
    FUZZ_CHECK(result == 0 || result == 1);

    fuzzutil::TempFile file(data, size);
    std::vector<Color3> fromFile;
    FUZZ_CHECK(ReadTripletFileString(file.path(), &fromFile, "RGB_R", "RGB_G", "RGB_B") == result);
    FUZZ_CHECK(fromFile.size() == table.patches.size());
    FUZZ_CHECK(fromFile.empty() || std::memcmp(fromFile.data(), table.patches.data(), fromFile.size() * sizeof(Color3)) == 0);

    if (result == 0)
        FUZZ_CHECK(table.patches.empty() && table.lineRuns.empty() && table.sampleIds.empty());
    FUZZ_CHECK(table.patches.empty() == table.lineRuns.empty());
    FUZZ_CHECK(table.sampleIds.empty() || table.sampleIds.size() == table.patches.size());
    const std::size_t lastLine = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1;
    for (std::size_t i = 0; i < table.patches.size(); ++i) {
        FUZZ_CHECK(table.LineOf(i) >= 1 && table.LineOf(i) <= lastLine);
        FUZZ_CHECK(i == 0 || table.LineOf(i - 1) <= table.LineOf(i));
    }
    return 0;
}
