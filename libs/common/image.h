// An in-memory raster: width x height pixels of `components` interleaved samples, each
// bits / 8 bytes, row after row with no padding:
//
//   bytes = width * height * components * (bits / 8)
//   sample c of pixel (x, y) starts at ((y * width + x) * components + c) * (bits / 8)
//
// A format class derived from Image reads and writes files. Failures are reported through
// `valid` and `error`; nothing is thrown or printed.
#pragma once

#include "rgb2lab/export.h"

#include <cstddef>
#include <string>

class RGB2LAB_EXPORT Image {
public:
    // An empty image: all four numbers -1, no pixel data, not valid.
    Image();
    // Checks bits, then components, then the size; when all pass, the buffer is a copy of
    // the first `bytes` bytes at `data` (zeros when `data` is null) and the image is valid.
    // The caller keeps ownership of `data`.
    Image(int width, int height, int components, int bits, unsigned char* data);
    // The image owns its buffer and cannot be copied.
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    virtual bool read(const char* path) = 0;
    virtual bool write(const char* path) = 0;

    // A new buffer of bufferSize() bytes, not stored; null when the fields give no legal size.
    unsigned char* allocate() const;
    // Byte count of the pixel data for the current fields; 0 when a field is out of range or
    // the product does not fit in memory.
    size_t bufferSize() const;
    // True for 8, 16 or 32; otherwise sets the error text and clears `valid`.
    bool checkBits(int bits);
    // True for 1 to 4; otherwise sets the error text and clears `valid`.
    bool checkComponents(int components);
    // True when the current fields give a buffer (bufferSize() > 0); otherwise sets the
    // error text "Illegal image size: %d x %d" and clears `valid`.
    bool checkSize();

    int components;
    int width;
    int height;
    int bits;
    unsigned char* data;  // owned; null when the image holds no pixels
    bool valid;
    std::string error;

protected:
    // Not virtual: protected, so an image is never deleted through a pointer to this base.
    ~Image();
    // Sets the error text and clears `valid`; returns false for the caller to pass on.
    bool fail(std::string text);
    // Releases the pixel data.
    void dropData();
};
