// The "curv", "text", "XYZ " and "desc" element readers on any bytes, as a tag table would
// hand them over (the element is the whole input). Invariants: a curve reads exactly when its
// count of at least 2 fits, the factory agrees with the reader, and writing a read curve
// reproduces the element's bytes; a text reads exactly when the size holds header and
// terminator and lies within the bytes, stops at the first NUL, and reads back the same after
// a write; an XYZ element reads exactly when it holds a whole value, and writes back its
// bytes; a description that reads writes out and reads back the same.
#include "fuzzutil.h"
#include "icc.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

unsigned int U32(const std::uint8_t* p)
{
    return (unsigned(p[0]) << 24) | (unsigned(p[1]) << 16) | (unsigned(p[2]) << 8) | unsigned(p[3]);
}

void CheckCurve(const std::uint8_t* data, std::size_t size)
{
    ICC_CPP_curveType curve;
    const bool read = curve.Read(data, data + size);
    const bool wellFormed = size >= 12 && U32(data) == ICCSignature("curv") && U32(data + 4) == 0 &&
                            U32(data + 8) >= 2 && U32(data + 8) <= (size - 12) / 2;
    FUZZ_CHECK(read == wellFormed);
    std::unique_ptr<ICC_CPP_Curve> made(ICC_CPP_Curve::ReadCurveType(data, data + size));
    FUZZ_CHECK((made != nullptr) == read);
    if (!read)
        return;
    const std::size_t n = U32(data + 8);
    FUZZ_CHECK(curve.entries.size() == n);
    std::vector<unsigned char> out(curve.GetEncodedSizeBytes());
    FUZZ_CHECK(out.size() >= 12 + 2 * n && out.size() % 4 == 0);
    FUZZ_CHECK(curve.Write(out.data(), out.data() + out.size()));
    FUZZ_CHECK(std::memcmp(out.data(), data, 12 + 2 * n) == 0);
}

void CheckText(const std::uint8_t* data, std::size_t size, unsigned int elementSize)
{
    ICC_CPP_TextType text(elementSize);
    const bool read = text.Read(data, data + size);
    FUZZ_CHECK(read == (elementSize >= 9 && elementSize <= size));
    if (!read)
        return;
    const std::uint8_t* first = data + 8;
    const std::uint8_t* nul = static_cast<const std::uint8_t*>(std::memchr(first, 0, elementSize - 8));
    FUZZ_CHECK(text.text.size() == static_cast<std::size_t>((nul ? nul : data + elementSize) - first));
    FUZZ_CHECK(text.text.empty() || std::memcmp(text.text.data(), first, text.text.size()) == 0);

    std::vector<unsigned char> out(text.GetEncodedSizeBytes());
    FUZZ_CHECK(out.size() >= text.text.size() + 9 && out.size() % 4 == 0);
    FUZZ_CHECK(text.Write(out.data(), out.data() + out.size()));
    ICC_CPP_TextType back(static_cast<unsigned int>(out.size()));
    FUZZ_CHECK(back.Read(out.data(), out.data() + out.size()));
    FUZZ_CHECK(back.text == text.text);
}

void CheckXYZ(const std::uint8_t* data, std::size_t size)
{
    ICC_CPP_XYZType xyz;
    const bool read = xyz.Read(data, data + size);
    FUZZ_CHECK(read == (size >= 20 && U32(data) == ICCSignature("XYZ ") && U32(data + 4) == 0));
    if (!read)
        return;
    FUZZ_CHECK(xyz.values.size() == (size - 8) / 12);
    std::vector<unsigned char> out(xyz.GetEncodedSizeBytes());
    FUZZ_CHECK(xyz.Write(out.data(), out.data() + out.size()));
    FUZZ_CHECK(std::memcmp(out.data(), data, out.size()) == 0);
}

void CheckDescription(const std::uint8_t* data, std::size_t size)
{
    ICC_CPP_textDescriptionType desc;
    if (!desc.Read(data, data + size))
        return;
    std::vector<unsigned char> out(desc.GetEncodedSizeBytes());
    FUZZ_CHECK(out.size() % 4 == 0 && desc.Write(out.data(), out.data() + out.size()));
    ICC_CPP_textDescriptionType back;
    FUZZ_CHECK(back.Read(out.data(), out.data() + out.size()));
    FUZZ_CHECK(back.ascii == desc.ascii && back.unicodeLanguage == desc.unicodeLanguage &&
               back.unicode == desc.unicode && back.scriptCode == desc.scriptCode &&
               back.scriptText == desc.scriptText);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CheckCurve(data, size);
    CheckXYZ(data, size);
    CheckDescription(data, size);
    const unsigned int whole = static_cast<unsigned int>(size);
    CheckText(data, size, whole);
    CheckText(data, size, whole + 1);
    // A tag table may give a size short of the bytes that follow.
    if (size > 0)
        CheckText(data, size, whole - data[size - 1] % 16);
    return 0;
}
