// The Targa reader on any file. Invariants: a failed read leaves no pixels and says why; a
// successful one holds exactly width * height * components bytes of 8-bit samples (every byte
// is touched, so a shorter buffer is caught), and writing it and reading the file back gives
// the same image.
#include "fuzzutil.h"
#include "targa.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzzutil::TempFile file(data, size);
    Targa image(file.path().c_str());
    if (!image.valid) {
        FUZZ_CHECK(image.data == nullptr && !image.error.empty());
        return 0;
    }
    FUZZ_CHECK(image.data != nullptr && image.bits == 8);
    FUZZ_CHECK(image.width >= 1 && image.height >= 1 && image.components >= 1 && image.components <= 4);
    const std::size_t bytes = std::size_t(image.width) * std::size_t(image.height) * std::size_t(image.components);
    FUZZ_CHECK(image.bufferSize() == bytes);
    // The pixels came from the file, after its 18-byte header.
    FUZZ_CHECK(18 + bytes <= size);
    volatile unsigned sum = 0;
    for (std::size_t i = 0; i < bytes; ++i)
        sum = sum + image.data[i];

    fuzzutil::TempFile copy(nullptr, 0);
    FUZZ_CHECK(image.write(copy.path().c_str()));
    Targa back(copy.path().c_str());
    FUZZ_CHECK(back.valid);
    FUZZ_CHECK(back.width == image.width && back.height == image.height && back.components == image.components);
    FUZZ_CHECK(std::memcmp(back.data, image.data, bytes) == 0);
    return 0;
}
