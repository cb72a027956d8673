#include "image.h"

#include <gtest/gtest.h>

#include <climits>
#include <numeric>
#include <vector>

namespace {

// Image is abstract; this raster has no file format.
struct Raster : Image {
    using Image::Image;
    Raster() = default;
    bool read(const char*) override { return false; }
    bool write(const char*) override { return false; }
};

}  // namespace

TEST(ImageConstruct, HoldsACopyOrZeros)
{
    const Raster zeros(2, 3, 3, 8, nullptr);
    EXPECT_TRUE(zeros.valid && zeros.error.empty());
    EXPECT_EQ(std::vector<unsigned char>(zeros.data, zeros.data + zeros.bufferSize()),
              std::vector<unsigned char>(18, 0));

    std::vector<unsigned char> source(40);
    std::iota(source.begin(), source.end(), 1);
    const Raster copy(2, 2, 4, 16, source.data());
    EXPECT_TRUE(copy.valid);
    EXPECT_EQ(std::vector<unsigned char>(copy.data, copy.data + copy.bufferSize()),
              std::vector<unsigned char>(source.begin(), source.begin() + 32));

    const Raster empty;
    EXPECT_TRUE(empty.components == -1 && empty.width == -1 && empty.height == -1 &&
                empty.bits == -1 && empty.data == nullptr && !empty.valid && empty.error.empty());
    // Callers know the plain fields in this order.
    const auto at = [](const void* field) { return static_cast<const char*>(field); };
    EXPECT_TRUE(at(&empty.components) < at(&empty.width) && at(&empty.width) < at(&empty.height) &&
                at(&empty.height) < at(&empty.bits) && at(&empty.bits) < at(&empty.data) &&
                at(&empty.data) < at(&empty.valid) && at(&empty.valid) < at(&empty.error));
}

// One message at most: bits first, then components, then the size.
TEST(ImageConstruct, RefusesIllegalParametersWithoutAllocating)
{
    const struct {
        int width, height, components, bits;
        const char* error;
    } cases[] = {
        {2, 2, 5, 24, "Illegal image bit size: 24"},
        {2, 2, 0, 8, "Illegal image components: 0"},
        {0, 3, 5, 16, "Illegal image components: 5"},
        {0, 3, 1, 8, "Illegal image size: 0 x 3"},
        {4, -2, 1, 8, "Illegal image size: 4 x -2"},
        {INT_MAX, INT_MAX, 4, 32, "Illegal image size: 2147483647 x 2147483647"},
    };
    for (const auto& c : cases) {
        const Raster image(c.width, c.height, c.components, c.bits, nullptr);
        EXPECT_TRUE(!image.valid && image.data == nullptr && image.width == c.width &&
                    image.bits == c.bits) << c.error;
        EXPECT_EQ(image.error, c.error);
    }
}
