// Images in memory and Targa files, with stb as the peer that reads and writes them too.
#include "image.h"
#include "targa.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <numeric>

#include "testutil.h"

#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

using Bytes = std::vector<unsigned char>;

static Bytes Pixels(const Image& image)
{
    return image.data ? Bytes(image.data, image.data + image.bufferSize()) : Bytes();
}

// A 6 x 5 image whose bytes all differ, so flipped rows and swapped red and blue show.
static Bytes Pattern(int components)
{
    Bytes pixels(30 * components);
    std::iota(pixels.begin(), pixels.end(), 1);
    return pixels;
}

// Writes the pattern with our writer; returns the file's bytes.
static std::string WritePattern(const std::string& path, int components)
{
    const bool written = Targa(6, 5, components, 8, Pattern(components).data()).write(path.c_str());
    return written ? testutil::ReadFile(path) : "";
}

// stb is the peer: it reads our files, and we read its uncompressed ones. Told to flip rows
// both ways, it keeps our row order (the first row of the file is row 0, whatever the origin),
// and it turns the blue, green, red order on disk into red, green, blue itself.
TEST(TargaFile, RoundTripsWithStbForEveryComponentCount)
{
    testutil::TempDir dir;
    const std::string ours = dir.file("ours.tga"), theirs = dir.file("theirs.tga");
    stbi_write_tga_with_rle = 0;
    stbi_set_flip_vertically_on_load(1);
    stbi_flip_vertically_on_write(1);
    for (char components = 1; components <= 4; ++components) {
        const Bytes source = Pattern(components);
        const char type = components <= 2 ? 3 : 2, bits = char(8 * components);  // gray: type 3
        EXPECT_EQ(WritePattern(ours, components).substr(0, 18),
                  std::string({0, 0, type, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6, 0, 5, 0, bits, 0}));
        int width = 0, height = 0, loadedComponents = 0;
        unsigned char* loaded = stbi_load(ours.c_str(), &width, &height, &loadedComponents, 0);
        EXPECT_EQ(Bytes(loaded, loaded + size_t(width) * height * loadedComponents), source);
        stbi_image_free(loaded);

        stbi_write_tga(theirs.c_str(), 6, 5, components, source.data());
        const Targa back(theirs.c_str());
        EXPECT_EQ(std::tuple(back.width, back.components, Pixels(back)), std::tuple(6, int(components), source));
    }
}

// Each file is our good one changed in one place, and read-only. A read replaces the image's
// 2 x 2 pixels; a failed one leaves no pixel data behind. A refused write comes before the
// file is opened, so it leaves no file behind; a full disk shows only when the file closes.
// A write leaves the image valid exactly when it succeeds.
TEST(TargaFile, RefusesMalformedFilesAndImagesItCannotStore)
{
    testutil::TempDir dir;
    const std::string good = WritePattern(dir.file("good.tga"), 3), out = dir.file("out.tga");
    const auto with = [&](size_t at, char v) { return std::string(good).replace(at, 1, 1, v); };
    const struct { const char* name; std::string bytes, error; } reads[] = {
        {"image ID and footer", with(0, 3).insert(18, "ID!") + "footer", ""},
        // Older writes stored gray + alpha as image type 2 with 16 bits per pixel.
        {"old gray + alpha", WritePattern(dir.file("2.tga"), 2).replace(2, 1, 1, 2), ""},
        {"short header", good.substr(0, 17), "can't read header"},
        {"colour map", with(1, 1), "unsupported Targa file type"},
        {"run-length encoded", with(2, 10), "unsupported Targa file type"},
        {"depth 15", with(16, 15), "unsupported Targa bit / component combination"},
        {"depth 40", with(16, 40), "unsupported Targa bit / component combination"},
        {"zero width", with(12, 0), "Illegal image size: 0 x 5"},
        {"one byte short", good.substr(0, good.size() - 1), "can't read data"},
        {"65535 x 65535", std::string(good).replace(12, 4, 4, '\xff'), "can't read data"},
    };
    for (const auto& c : reads) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        testutil::WriteFile(path, c.bytes);
        std::filesystem::permissions(path, std::filesystem::perms::owner_read);
        Targa image(2, 2, 3, 8, nullptr);
        const std::string error = image.read(path.c_str()) ? "" : image.error;
        EXPECT_EQ(std::tuple(error, image.valid, Pixels(image)),
                  std::tuple(c.error, c.error.empty(), c.error.empty() ? Pattern(image.components) : Bytes()));
    }

    // The 16-bit size fields hold up to 65535 (stored and read back), not one more.
    Targa noPixels(2, 2, 5, 8, nullptr), wide(65536, 1, 1, 8, nullptr), tall(1, 65536, 2, 8, nullptr),
        deep(2, 2, 3, 16, nullptr), pixel(1, 1, 1, 8, nullptr), unread(dir.file("none").c_str()),
        widest(65535, 1, 1, 8, nullptr), tallest(1, 65535, 2, 8, nullptr);
    EXPECT_TRUE(!noPixels.valid && unread.error == "can't open file") << unread.error;
    // The fields are public and may disagree with the buffer (of 4 bytes here).
    Targa five(1, 1, 4, 8, nullptr), none(1, 1, 4, 8, nullptr), flat(1, 1, 4, 8, nullptr);
    five.components = 5, none.components = 0, flat.width = 0;
    const std::string big = dir.file("big.tga");
    const struct { Targa* image; std::string path; const char* error; } writes[] = {
        {&noPixels, out, "no image data"}, {&wide, out, "image too large for Targa"},
        {&tall, out, "image too large for Targa"}, {&widest, big, ""}, {&tallest, big, ""},
        {&deep, out, "unsupported Targa bit / component combination"},
        {&five, out, "unsupported Targa bit / component combination"},
        {&none, out, "unsupported Targa bit / component combination"},
        {&flat, out, "Illegal image size: 0 x 1"},
        {&pixel, dir.file("no/such/dir.tga"), "can't open file"},
        {&pixel, "/dev/full", "can't write data"}};
    for (const auto& [image, path, error] : writes) {
        SCOPED_TRACE(path + " " + error);
        const std::string result = image->write(path.c_str()) ? "" : image->error;
        EXPECT_EQ(std::tuple(result, image->valid), std::tuple(error, !*error));
        EXPECT_FALSE(testutil::FileExists(out));
        if (*error)
            continue;
        const Targa back(path.c_str());
        EXPECT_EQ(std::tuple(back.width, back.height, Pixels(back)),
                  std::tuple(image->width, image->height, Bytes(image->bufferSize(), 0)));
    }
}

struct Raster : Image {  // Image is abstract; this raster has no file format
    using Image::Image;
    bool read(const char*) override { return false; }
    bool write(const char*) override { return false; }
};

// A legal image holds a copy of the caller's bytes, or zeros. Otherwise bits are checked
// first, then components, then the size, and no buffer is allocated. The byte count may reach
// PTRDIFF_MAX but not pass it; an empty image has none.
TEST(Image, CopiesZeroesOrRefusesPastTheLargestByteCount)
{
    unsigned char source[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn";  // 41 bytes, all different
    const Raster zeros(2, 3, 3, 8, nullptr), copy(2, 2, 4, 16, source), deep(1, 2, 1, 32, source);
    EXPECT_TRUE(zeros.valid && copy.valid && deep.valid);
    EXPECT_EQ(std::tuple(Pixels(zeros), Pixels(copy), Pixels(deep)),
              std::tuple(Bytes(18, 0), Bytes(source, source + 32), Bytes(source, source + 8)));
    // A width of 0 is refused by the Targa reader and writer above.
    const struct { int width, height, components, bits; const char* error; } cases[] = {
        {2, 2, 5, 24, "Illegal image bit size: 24"},
        {1, 1, 1, 7, "Illegal image bit size: 7"},
        {1, 1, 1, 9, "Illegal image bit size: 9"},
        {1, 1, 5, 8, "Illegal image components: 5"},
        {0, 3, 0, 16, "Illegal image components: 0"},
        {3, -1, 1, 8, "Illegal image size: 3 x -1"},
        {3, 0, 1, 8, "Illegal image size: 3 x 0"},
        {2147483647, 2147483647, 4, 32, "Illegal image size: 2147483647 x 2147483647"},
    };
    for (const auto& c : cases) {
        const Raster image(c.width, c.height, c.components, c.bits, source);
        EXPECT_TRUE(!image.valid && !image.data && image.error == c.error) << image.error;
    }

    Raster image;
    EXPECT_EQ(std::tuple(image.width, image.height, image.components, image.bits, image.data, image.valid,
                         image.bufferSize()),
              std::tuple(-1, -1, -1, -1, nullptr, false, 0u));
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
