// iofloor TARGETS OUT: the least any converter of a target table must do, as a yardstick for
// rgb2lab. Reads the plain triplet table in one read, parses every number with
// std::from_chars, and writes one "%lf\t%lf\t%lf\n" line per triplet (the parsed values)
// with std::to_chars into one buffer, written at once.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

bool ReadAll(const char* path, std::string* text)
{
    FilePtr file(std::fopen(path, "rb"), std::fclose);
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0)
        return false;
    const long size = std::ftell(file.get());
    if (size < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0)
        return false;
    text->resize(static_cast<std::size_t>(size));
    return std::fread(text->data(), 1, text->size(), file.get()) == text->size();
}

bool IsSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: iofloor TARGETS OUT\n");
        return 1;
    }
    std::string text;
    if (!ReadAll(argv[1], &text)) {
        std::fprintf(stderr, "iofloor: cannot read %s\n", argv[1]);
        return 1;
    }
    std::vector<double> values;
    values.reserve(text.size() / 8);
    const char* p = text.data();
    const char* const end = p + text.size();
    for (;;) {
        while (p < end && IsSpace(*p))
            ++p;
        double v = 0.0;
        const std::from_chars_result r = std::from_chars(p, end, v);
        if (r.ec != std::errc())
            break;
        values.push_back(v);
        p = r.ptr;
    }

    // The whole output in one buffer, grown by doubling; a value never needs more than
    // k_maxValueChars bytes.
    constexpr std::size_t k_maxValueChars = 330;
    const std::size_t count = values.size() / 3 * 3;
    std::size_t capacity = text.size() * 2 + k_maxValueChars;
    std::unique_ptr<char[]> out(new char[capacity]);
    std::size_t size = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (capacity - size < k_maxValueChars) {
            std::unique_ptr<char[]> larger(new char[capacity * 2]);
            std::copy(out.get(), out.get() + size, larger.get());
            out = std::move(larger);
            capacity *= 2;
        }
        char* q = std::to_chars(out.get() + size, out.get() + capacity, values[i], std::chars_format::fixed, 6).ptr;
        *q++ = (i % 3 == 2) ? '\n' : '\t';
        size = static_cast<std::size_t>(q - out.get());
    }
    FilePtr file(std::fopen(argv[2], "wb"), std::fclose);
    if (!file || std::fwrite(out.get(), 1, size, file.get()) != size) {
        std::fprintf(stderr, "iofloor: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
