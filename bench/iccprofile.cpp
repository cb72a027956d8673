// iccprofile PROFILE: times reading a whole ICC profile and writing it back, and prints the
// seconds each took with the sizes read and written. With fuzz/gen_icc_seed.py it measures a
// profile of 20000 tags sharing four large elements:
//   python3 fuzz/gen_icc_seed.py > shared.icc && iccprofile shared.icc
#include "icc.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: iccprofile PROFILE\n");
        return 1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    std::unique_ptr<ICC_CPP_Profile> profile(ICC_CPP_Profile::ReadFromMemory(bytes.data(), bytes.size()));
    const auto read = Clock::now();
    std::vector<unsigned char> out;
    const bool written = profile && profile->WriteToMemory(out);
    const auto write = Clock::now();
    if (!written) {
        std::fprintf(stderr, "iccprofile: cannot read and write %s\n", argv[1]);
        return 1;
    }
    const std::chrono::duration<double> readSeconds = read - start, writeSeconds = write - read;
    std::printf("%zu tags, %zu bytes read in %.6f s, %zu bytes written in %.6f s\n", profile->GetTags().size(),
                bytes.size(), readSeconds.count(), out.size(), writeSeconds.count());
    return 0;
}
