#include "image.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace {

std::string SizeText(int width, int height)
{
    return "Illegal image size: " + std::to_string(width) + " x " + std::to_string(height);
}

}  // namespace

Image::Image()
    : components(-1), width(-1), height(-1), bits(-1), data(nullptr), valid(false)
{
}

Image::Image(int width, int height, int components, int bits, unsigned char* data)
    : components(components), width(width), height(height), bits(bits), data(nullptr), valid(false)
{
    if (!checkBits(bits) || !checkComponents(components) || !checkSize())
        return;
    this->data = allocate();
    // A size the heap cannot hold is refused like one that overflows.
    if (this->data == nullptr) {
        fail(SizeText(width, height));
        return;
    }
    if (data != nullptr)
        std::memcpy(this->data, data, bufferSize());
    else
        std::memset(this->data, 0, bufferSize());
    valid = true;
}

Image::~Image()
{
    dropData();
}

size_t Image::bufferSize() const
{
    const int sampleBytes = bits / 8;
    if (width <= 0 || height <= 0 || components <= 0 || sampleBytes <= 0)
        return 0;
    // Each factor is checked by division so that the product never wraps.
    const size_t limit = static_cast<size_t>(PTRDIFF_MAX);
    size_t bytes = static_cast<size_t>(width);
    for (const int factor : {height, components, sampleBytes}) {
        if (bytes > limit / static_cast<size_t>(factor))
            return 0;
        bytes *= static_cast<size_t>(factor);
    }
    return bytes;
}

unsigned char* Image::allocate() const
{
    const size_t bytes = bufferSize();
    if (bytes == 0)
        return nullptr;
    return new (std::nothrow) unsigned char[bytes];
}

bool Image::checkBits(int bits)
{
    if (bits == 8 || bits == 16 || bits == 32)
        return true;
    return fail("Illegal image bit size: " + std::to_string(bits));
}

bool Image::checkComponents(int components)
{
    if (components >= 1 && components <= 4)
        return true;
    return fail("Illegal image components: " + std::to_string(components));
}

bool Image::checkSize()
{
    if (bufferSize() > 0)
        return true;
    return fail(SizeText(width, height));
}

bool Image::fail(std::string text)
{
    error = std::move(text);
    valid = false;
    return false;
}

void Image::dropData()
{
    delete[] data;
    data = nullptr;
}
