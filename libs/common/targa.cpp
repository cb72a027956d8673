#include "targa.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <utility>

namespace {

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

constexpr size_t k_headerSize = 18;
constexpr int k_maxDimension = 0xFFFF;  // width and height are 16-bit header fields

int ReadLe16(const unsigned char* p)
{
    return p[0] | (p[1] << 8);
}

void WriteLe16(unsigned char* p, int value)
{
    p[0] = static_cast<unsigned char>(value & 0xFF);
    p[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
}

// Size of an open file in bytes, or -1 when it cannot be told (a pipe, for example).
long FileSize(FILE* file)
{
    if (std::fseek(file, 0, SEEK_END) != 0)
        return -1;
    return std::ftell(file);
}

}  // namespace

Targa::Targa(const char* path)
{
    read(path, true);
}

Targa::Targa(int width, int height, int components, int bits, unsigned char* data)
    : Image(width, height, components, bits, data)
{
}

bool Targa::read(const char* path)
{
    return read(path, true);
}

bool Targa::write(const char* path)
{
    return write(path, true);
}

bool Targa::read(const char* path, bool)
{
    // Whatever happens next, the old pixels are gone: a failed read leaves no buffer whose
    // size disagrees with the new dimensions.
    dropData();
    if (path == nullptr)
        return fail("can't open file");
    File file(std::fopen(path, "rb"), std::fclose);
    if (!file)
        return fail("can't open file");

    unsigned char header[k_headerSize];
    if (std::fread(header, 1, k_headerSize, file.get()) != k_headerSize)
        return fail("can't read header");
    if (header[1] != 0 || (header[2] != 2 && header[2] != 3))
        return fail("unsupported Targa file type");

    width = ReadLe16(header + 12);
    height = ReadLe16(header + 14);
    bits = 8;
    const int depth = header[16];
    components = depth / 8;
    // A depth that is not whole bytes (15-bit colour, say) has no 8-bit samples.
    if (depth % 8 != 0 || !checkBits(bits) || !checkComponents(components))
        return fail("unsupported Targa bit / component combination");
    if (!checkSize())
        return false;

    // The whole image must be in the file before a buffer is allocated: a header can claim
    // 65535 x 65535 pixels on a file of a few bytes.
    const size_t pixelOffset = k_headerSize + header[0];
    const size_t pixelBytes = bufferSize();
    const long fileSize = FileSize(file.get());
    if (fileSize < 0 || static_cast<size_t>(fileSize) < pixelOffset ||
        static_cast<size_t>(fileSize) - pixelOffset < pixelBytes)
        return fail("can't read data");
    if (std::fseek(file.get(), static_cast<long>(pixelOffset), SEEK_SET) != 0)
        return fail("can't read data");
    std::unique_ptr<unsigned char[]> pixels(allocate());
    if (!pixels || std::fread(pixels.get(), 1, pixelBytes, file.get()) != pixelBytes)
        return fail("can't read data");

    data = pixels.release();
    swap_rb_bytes(data);
    valid = true;
    return true;
}

bool Targa::write(const char* path, bool)
{
    // All refusals come before the file is opened, so none of them leaves a file behind.
    if (data == nullptr)
        return fail("no image data");
    if (bits != 8 || components < 1 || components > 4)
        return fail("unsupported Targa bit / component combination");
    if (width > k_maxDimension || height > k_maxDimension)
        return fail("image too large for Targa");
    if (!checkSize())
        return false;
    const size_t bytes = bufferSize();
    std::unique_ptr<unsigned char[]> copy(new (std::nothrow) unsigned char[bytes]);
    if (!copy)
        return fail("can't write data");
    std::copy(data, data + bytes, copy.get());
    swap_rb_bytes(copy.get());

    unsigned char header[k_headerSize] = {};
    header[2] = components <= 2 ? 3 : 2;  // gray and gray + alpha are type 3
    WriteLe16(header + 12, width);
    WriteLe16(header + 14, height);
    header[16] = static_cast<unsigned char>(bits * components);

    if (path == nullptr)
        return fail("can't open file");
    File file(std::fopen(path, "wb"), std::fclose);
    if (!file)
        return fail("can't open file");
    if (std::fwrite(header, 1, k_headerSize, file.get()) != k_headerSize)
        return fail("can't write header");
    if (std::fwrite(copy.get(), 1, bytes, file.get()) != bytes)
        return fail("can't write data");
    // Buffered bytes reach the file only when it is closed: a full disk shows here.
    if (std::fclose(file.release()) != 0)
        return fail("can't write data");
    valid = true;
    return true;
}

void Targa::swap_rb_bytes(unsigned char* buffer)
{
    if (buffer == nullptr || (components != 3 && components != 4))
        return;
    const size_t bytes = bufferSize();
    const size_t step = static_cast<size_t>(components);
    for (size_t i = 0; i + 2 < bytes; i += step)
        std::swap(buffer[i], buffer[i + 2]);
}
