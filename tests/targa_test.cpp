#include "targa.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testutil.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#pragma GCC diagnostic pop

using Bytes = std::vector<unsigned char>;

namespace {

constexpr int k_width = 6;
constexpr int k_height = 5;

// Every row, column and component differs, so flipped rows and swapped red and blue show.
// With `flipped` the rows come last first.
Bytes Pattern(int components, bool flipped = false)
{
    Bytes pixels;
    for (int row = 0; row < k_height; ++row) {
        const int y = flipped ? k_height - 1 - row : row;
        for (int x = 0; x < k_width; ++x)
            for (int c = 0; c < components; ++c)
                pixels.push_back(static_cast<unsigned char>(1 + 16 * y + 3 * x + 60 * c));
    }
    return pixels;
}

Bytes Pixels(const Image& image)
{
    return image.data ? Bytes(image.data, image.data + image.bufferSize()) : Bytes();
}

std::string WritePattern(const std::string& path, int components)
{
    Bytes source = Pattern(components);
    EXPECT_TRUE(Targa(k_width, k_height, components, 8, source.data()).write(path.c_str()));
    return testutil::ReadFile(path);
}

}  // namespace

// stb is the peer: it reads our files, and we read its uncompressed ones.
TEST(TargaFile, RoundTripsWithStbForEveryComponentCount)
{
    testutil::TempDir dir;
    const std::string ours = dir.file("ours.tga"), theirs = dir.file("theirs.tga");
    stbi_write_tga_with_rle = 0;
    for (int components = 1; components <= 4; ++components) {
        SCOPED_TRACE(components);
        const std::string file = WritePattern(ours, components);
        const Bytes source = Pattern(components);
        ASSERT_EQ(file.size(), 18 + source.size());
        const char type = components <= 2 ? 3 : 2;
        EXPECT_EQ(file.substr(0, 18), std::string({0, 0, type, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                   k_width, 0, k_height, 0, char(8 * components), 0}));
        std::string firstPixel(source.begin(), source.begin() + components);
        if (components >= 3)
            std::swap(firstPixel[0], firstPixel[2]);  // blue, green, red (, alpha) on disk
        EXPECT_EQ(file.substr(18, firstPixel.size()), firstPixel);

        const Targa back(ours.c_str());
        EXPECT_TRUE(back.valid && back.width == k_width && back.height == k_height &&
                    back.components == components && back.bits == 8);
        EXPECT_EQ(Pixels(back), source);

        // Rows stay in file order under a bottom-left origin (descriptor 0). stb turns such
        // files upright: it sees our row 0 as its last row, and writes its last row first.
        int width = 0, height = 0, loadedComponents = 0;
        unsigned char* loaded = stbi_load(ours.c_str(), &width, &height, &loadedComponents, 0);
        ASSERT_NE(loaded, nullptr) << stbi_failure_reason();
        EXPECT_TRUE(width == k_width && height == k_height && loadedComponents == components);
        EXPECT_EQ(Bytes(loaded, loaded + source.size()), Pattern(components, true));
        stbi_image_free(loaded);

        ASSERT_TRUE(stbi_write_tga(theirs.c_str(), k_width, k_height, components, source.data()));
        const Targa fromStb(theirs.c_str());
        EXPECT_TRUE(fromStb.valid && fromStb.components == components) << fromStb.error;
        EXPECT_EQ(Pixels(fromStb), Pattern(components, true));
    }
}

TEST(TargaFile, ReadsImageIdFooterOldGrayAlphaAndReadOnlyFiles)
{
    testutil::TempDir dir;
    const std::string path = dir.file("in.tga");
    std::string withId = WritePattern(path, 3);
    withId[0] = 3;
    testutil::WriteFile(path, withId.insert(18, "ID!") + "footer");
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    Targa image(path.c_str());
    EXPECT_TRUE(image.valid) << image.error;
    EXPECT_EQ(Pixels(image), Pattern(3));

    // Older writes stored gray + alpha as image type 2 with 16 bits per pixel.
    std::string oldGrayAlpha = WritePattern(dir.file("old.tga"), 2);
    oldGrayAlpha[2] = 2;
    testutil::WriteFile(dir.file("old.tga"), oldGrayAlpha);
    EXPECT_TRUE(image.read(dir.file("old.tga").c_str()));
    EXPECT_EQ(image.components, 2);
    EXPECT_EQ(Pixels(image), Pattern(2));
}

// Each file is a good one with one defect; a failed read leaves no pixel data behind.
TEST(TargaFile, RefusesMalformedFiles)
{
    testutil::TempDir dir;
    const std::string good = WritePattern(dir.file("good.tga"), 3);
    const auto with = [&](std::initializer_list<std::pair<size_t, int>> changes) {
        std::string bytes = good;
        for (const auto& [offset, value] : changes)
            bytes[offset] = static_cast<char>(value);
        return bytes;
    };
    const std::string depth = "unsupported Targa bit / component combination";
    const struct {
        const char* name;
        std::string bytes, error;
    } cases[] = {
        {"missing file", "", "can't open file"},
        {"empty file", "", "can't read header"},
        {"short header", good.substr(0, 17), "can't read header"},
        {"colour map", with({{1, 1}}), "unsupported Targa file type"},
        {"colour-mapped type", with({{2, 1}}), "unsupported Targa file type"},
        {"run-length encoded", with({{2, 10}}), "unsupported Targa file type"},
        {"depth 0", with({{16, 0}}), depth},
        {"depth 15", with({{16, 15}}), depth},
        {"depth 40", with({{16, 40}}), depth},
        {"zero width", with({{12, 0}}), "Illegal image size: 0 x 5"},
        {"one byte short", good.substr(0, good.size() - 1), "can't read data"},
        {"65535 x 65535", with({{12, 255}, {13, 255}, {14, 255}, {15, 255}}), "can't read data"},
        {"image ID past the end", with({{0, 200}}), "can't read data"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.error != "can't open file")
            testutil::WriteFile(dir.file(c.name), c.bytes);
        Targa image(2, 2, 3, 8, nullptr);
        EXPECT_FALSE(image.read(dir.file(c.name).c_str()));
        EXPECT_TRUE(!image.valid && image.data == nullptr);
        EXPECT_EQ(image.error, c.error);
    }
}

// Refusals come before the file is opened, so none leaves a file behind.
TEST(TargaFile, RefusesToWriteWhatItCannotStore)
{
    testutil::TempDir dir;
    const std::string path = dir.file("out.tga");
    Targa unread(dir.file("missing.tga").c_str()), badComponents(2, 2, 5, 8, nullptr),
        wide(70000, 1, 1, 8, nullptr), deep(2, 2, 3, 16, nullptr);
    EXPECT_TRUE(!badComponents.valid && badComponents.error == "Illegal image components: 5");
    const std::pair<Targa*, const char*> cases[] = {
        {&unread, "no image data"},
        {&badComponents, "no image data"},
        {&wide, "image too large for Targa"},
        {&deep, "unsupported Targa bit / component combination"}};
    for (const auto& [image, error] : cases) {
        EXPECT_FALSE(image->write(path.c_str()));
        EXPECT_EQ(image->error, error);
        EXPECT_FALSE(testutil::FileExists(path));
    }

    Targa pixel(1, 1, 1, 8, nullptr);
    EXPECT_FALSE(pixel.write(dir.file("no/such/dir.tga").c_str()));
    EXPECT_EQ(pixel.error, "can't open file");
    // Two small writes fit the stream's buffer: the full disk shows only when the file closes.
    if (testutil::FileExists("/dev/full")) {
        EXPECT_FALSE(pixel.write("/dev/full"));
        EXPECT_EQ(pixel.error, "can't write data");
    }
}
