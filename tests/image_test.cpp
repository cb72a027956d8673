#include "image.h"

#include <gtest/gtest.h>

#include <climits>
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
    const Raster zeros(2, 3, 3, 8, nullptr), copy(2, 2, 4, 16, source), deep(1, 2, 1, 32, source);
    EXPECT_TRUE(zeros.valid && copy.valid && deep.valid);
    EXPECT_EQ(Bytes(zeros.data, zeros.data + zeros.bufferSize()), Bytes(18, 0));
    EXPECT_EQ(Bytes(copy.data, copy.data + copy.bufferSize()), Bytes(source, source + 32));
    EXPECT_EQ(Bytes(deep.data, deep.data + deep.bufferSize()), Bytes(source, source + 8));
    const struct { int width, height, components, bits; const char* error; } cases[] = {
        {2, 2, 5, 24, "Illegal image bit size: 24"},
        {1, 1, 1, 7, "Illegal image bit size: 7"},
        {1, 1, 1, 9, "Illegal image bit size: 9"},
        {1, 1, 5, 8, "Illegal image components: 5"},
        {0, 3, 0, 16, "Illegal image components: 0"},
        {0, 3, 1, 8, "Illegal image size: 0 x 3"},
        {3, -1, 1, 8, "Illegal image size: 3 x -1"},
        {3, 0, 1, 8, "Illegal image size: 3 x 0"},
        {2147483647, 2147483647, 4, 32, "Illegal image size: 2147483647 x 2147483647"},
    };
    for (const auto& c : cases) {
        const Raster image(c.width, c.height, c.components, c.bits, source);
        EXPECT_TRUE(!image.valid && !image.data && image.error == c.error) << image.error;
    }
}

// The byte count may reach PTRDIFF_MAX but not pass it; an empty image has none.
TEST(ImageSize, LargestByteCountThatFits)
{
    Raster image;
    EXPECT_TRUE(image.width == -1 && image.height == -1 && image.components == -1 &&
                image.bits == -1 && !image.data && !image.valid && image.bufferSize() == 0);
    image.width = 715827883;  // 3 * 715827883 * (2^31 - 1) = 2^62 - 1
    image.height = INT_MAX;
    image.components = 3;
    image.bits = 16;
    EXPECT_EQ(image.bufferSize(), 9223372036854775806u);  // PTRDIFF_MAX - 1
    image.width += 1;
    EXPECT_EQ(image.bufferSize(), 0u);
    // A zero in any field gives no bytes; none of them is divided by.
    for (int* field : {&image.width, &image.height, &image.components, &image.bits}) {
        image.width = image.height = image.components = 1, image.bits = 8;
        *field = 0;
        EXPECT_EQ(image.bufferSize(), 0u);
    }
}
