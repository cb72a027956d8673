// Uncompressed Targa (TGA) files with 8-bit samples and 1 to 4 components per pixel.
//
//   offset size field                  read                         written
//    0     1    ID length              skipped after the header     0
//    1     1    colour map type        must be 0                    0
//    2     1    image type             2 (colour) or 3 (gray)       3 for 1 or 2 components, else 2
//    3..11      colour map, origin     not examined                 0
//   12     2    width (little-endian)  the width                    the width
//   14     2    height                 the height                   the height
//   16     1    pixel depth            components = depth / 8       8 * components
//   17     1    image descriptor       not examined                 0
//   18          image ID (ID length bytes), then width * height pixels, no padding
//
// A pixel of 3 or 4 components is blue, green, red (, alpha) in the file and red, green,
// blue (, alpha) in memory. Rows stay in file order: the descriptor's origin bits are not
// interpreted, so the first row of the file is row 0 in memory. A bottom-left file, the common
// kind, is therefore upside down in memory compared with what viewers show, and as the writer
// writes descriptor 0 (bottom-left), a top-left file is written back as bottom-left. Stored
// files rely on this order, so it stays. Bytes after the pixel data (such as a footer) are
// ignored.
#pragma once

#include "image.h"

class Targa : public Image {
public:
    // Reads `path`; the outcome is in `valid` and `error`.
    explicit Targa(const char* path);
    // Builds the image as Image does; valid only when the pixel buffer exists.
    Targa(int width, int height, int components, int bits, unsigned char* data);

    bool read(const char* path) override;
    bool write(const char* path) override;
    // The bool has no effect. On failure `valid` is false and `error` says why; after a
    // failed read the image holds no pixel data.
    virtual bool read(const char* path, bool);
    virtual bool write(const char* path, bool);

    // With 3 or 4 components, exchanges the first and third byte of every pixel of `buffer`
    // (bufferSize() bytes); otherwise does nothing. Applying it twice restores the buffer.
    void swap_rb_bytes(unsigned char* buffer);
};
