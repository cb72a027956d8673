#include "image.h"

#include <gtest/gtest.h>

#include <vector>

using Bytes = std::vector<unsigned char>;

struct Raster : Image {  // Image is abstract; this raster has no file format
    using Image::Image;
    bool read(const char*) override { return false; }
    bool write(const char*) override { return false; }
};

// A legal image holds a copy of the caller's bytes, or zeros. Otherwise bits are checked
// first, then components, then the size, and no buffer is allocated.
TEST(ImageConstruct, CopiesZeroesOrRefuses)
{
    unsigned char source[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn";  // 41 bytes, all different
    const Raster zeros(2, 3, 3, 8, nullptr), copy(2, 2, 4, 16, source);
    EXPECT_TRUE(zeros.valid && copy.valid);
    EXPECT_EQ(Bytes(zeros.data, zeros.data + zeros.bufferSize()), Bytes(18, 0));
    EXPECT_EQ(Bytes(copy.data, copy.data + copy.bufferSize()), Bytes(source, source + 32));
    const struct { int width, height, components, bits; const char* error; } cases[] = {
        {2, 2, 5, 24, "Illegal image bit size: 24"},
        {0, 3, 0, 16, "Illegal image components: 0"},
        {0, 3, 1, 8, "Illegal image size: 0 x 3"},
        {2147483647, 2147483647, 4, 32, "Illegal image size: 2147483647 x 2147483647"},
    };
    for (const auto& c : cases) {
        const Raster image(c.width, c.height, c.components, c.bits, source);
        EXPECT_TRUE(!image.valid && !image.data && image.error == c.error) << image.error;
    }
}
