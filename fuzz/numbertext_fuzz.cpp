// The tables' own number conversions against the C library they stand in for: the input, as
// text, must read to the same bits and stop at the same place as strtod; and every double
// spelled by 8 input bytes must be written exactly as printf "%lf" writes it.
#include "fuzzutil.h"
#include "numbertext.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void CheckParse(const std::string& text)
{
    char* wantEnd = nullptr;
    char* gotEnd = nullptr;
    const double want = std::strtod(text.c_str(), &wantEnd);
    const double got = ParseDouble(text.c_str(), &gotEnd);
    FUZZ_CHECK(gotEnd == wantEnd);
    FUZZ_CHECK(std::memcmp(&got, &want, sizeof got) == 0);
}

void CheckFormat(double value)
{
    char want[k_maxFixed6Chars + 1];
    const int length = std::snprintf(want, sizeof want, "%lf", value);
    FUZZ_CHECK(length > 0 && static_cast<std::size_t>(length) <= k_maxFixed6Chars);
    char got[k_maxFixed6Chars];
    const char* end = FormatFixed6(got, value);
    FUZZ_CHECK(std::string(got, static_cast<std::size_t>(end - got)) == std::string(want, static_cast<std::size_t>(length)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Up to the first NUL, as the readers see a line.
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckParse(text.c_str());
    for (std::size_t at = 0; at + sizeof(double) <= size; at += sizeof(double)) {
        double value;
        std::memcpy(&value, data + at, sizeof value);
        CheckFormat(value);
    }
    CheckFormat(ParseDouble(text.c_str(), nullptr));
    return 0;
}
