// The whole conversion run, in process, on a fuzzed measurement and target pair. The input is
// split at its first NUL byte: the measurement table before it, the target table after it (an
// input without NUL serves as both). The run happens in a fresh directory that is also the
// working directory, so that "out" and "log.txt" land there.
// Invariants: the status is 0 or 2; a run with status 0 logged no error and wrote one "out"
// line per target the reader finds in the target table; a run with status 2 logged exactly
// one error and left no "out"; the log ends with "Done."; nothing else is left behind.
#include "driver.h"
#include "fuzzutil.h"
#include "log.h"
#include "patchtables.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

void WriteBytes(const fs::path& path, const std::uint8_t* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    FUZZ_CHECK(out.good());
}

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Run(const std::string& measurements, const std::string& targets)
{
    std::vector<std::string> args = {"rgb2lab", "-m", measurements, "-t", targets};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return RunRgb2Lab(static_cast<int>(args.size()), argv.data());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzutil::SilenceStdout();
    g_quiet = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::uint8_t* end = data + size;
    const std::uint8_t* split = std::find(data, end, std::uint8_t{0});
    fuzzutil::TempDir dir;
    const fs::path root = dir.path();
    WriteBytes(root / "m.ti3", data, static_cast<std::size_t>(split - data));
    const bool twoTables = split != end;
    if (twoTables)
        WriteBytes(root / "t.txt", split + 1, static_cast<std::size_t>(end - split - 1));
    const std::string targets = twoTables ? "t.txt" : "m.ti3";

    const fs::path home = fs::current_path();
    fs::current_path(root);
    const int status = Run("m.ti3", targets);
    fs::current_path(home);

    FUZZ_CHECK(status == 0 || status == 2);
    FUZZ_CHECK(GetNumErrors() == (status == 0 ? 0 : 1));
    const std::string log = ReadText(root / "log.txt");
    FUZZ_CHECK(log.size() >= 6 && log.compare(log.size() - 6, 6, "Done.\n") == 0);
    if (status == 0) {
        std::vector<Color3> targetRgb;
        FUZZ_CHECK(ReadTripletFileString((root / targets).string(), &targetRgb, "RGB_R", "RGB_G", "RGB_B") == 1);
        const std::string out = ReadText(root / "out");
        FUZZ_CHECK(static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) == targetRgb.size());
    } else {
        FUZZ_CHECK(!fs::exists(root / "out"));
    }
    std::size_t files = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        FUZZ_CHECK(name == "m.ti3" || name == "t.txt" || name == "log.txt" || name == "out");
        ++files;
    }
    FUZZ_CHECK(files <= 4);
    return 0;
}
