// geninputs chart N PATH | geninputs targets COUNT PATH | geninputs outlab COUNT PATH: writes a
// benchmark input table (inputs.h).
#include "inputs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: geninputs chart N PATH | geninputs targets COUNT PATH | geninputs outlab COUNT PATH\n");
        return 1;
    }
    const long size = std::strtol(argv[2], nullptr, 10);
    const bool chart = std::strcmp(argv[1], "chart") == 0, outlab = std::strcmp(argv[1], "outlab") == 0;
    // A chart needs two values per axis; the grid point table caps the axis at 256.
    const bool sizeOk = chart ? (size >= 2 && size <= 256) : size >= 0;
    if ((!chart && !outlab && std::strcmp(argv[1], "targets") != 0) || !sizeOk) {
        std::fprintf(stderr, "geninputs: bad size %s\n", argv[2]);
        return 1;
    }
    const std::size_t count = static_cast<std::size_t>(size);
    const std::string text = chart ? ChartText(static_cast<int>(size)) : outlab ? OutOfGamutLabText(count) : TargetText(count);
    if (!WriteText(argv[3], text)) {
        std::fprintf(stderr, "geninputs: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
