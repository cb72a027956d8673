// The stages of a conversion, each on its own: reading tables, detecting the grid and
// averaging duplicates, interpolating, writing. Charts of 17^3, 33^3 and 65^3 patches;
// 10^4, 10^5 and 10^6 targets. Inputs are written to a temporary directory first.
// The inversion: in-gamut Lab values (the Lab of the targets) and out-of-gamut ones, through
// the tree of cells and by scanning every cell.
#include "derivedlab.h"
#include "inputs.h"
#include "inverse.h"
#include "patchtables.h"
#include "preprocess5202.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// The grid line goes to standard output on every call; the benchmark's report must not
// drown in it, so file descriptor 1 points at /dev/null while a case runs.
class QuietStdout {
public:
    QuietStdout()
    {
        std::fflush(stdout);
        m_saved = dup(1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        dup2(m_saved, 1);
        close(m_saved);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int m_saved = -1;
};

// The inputs live in one temporary directory, made on first use and removed at exit.
class InputDirectory {
public:
    InputDirectory()
    {
        char pattern[] = "/tmp/rgb2lab-bench-XXXXXX";
        if (!mkdtemp(pattern)) {
            std::perror("stages_bench: cannot make a temporary directory");
            std::exit(1);
        }
        m_path = pattern;
    }
    ~InputDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    InputDirectory(const InputDirectory&) = delete;
    InputDirectory& operator=(const InputDirectory&) = delete;

    std::string m_path;
};

std::string InputDir()
{
    static const InputDirectory s_dir;
    return s_dir.m_path;
}

std::string ChartFile(int n)
{
    const std::string path = InputDir() + "/chart" + std::to_string(n) + ".ti3";
    if (access(path.c_str(), R_OK) != 0)
        WriteText(path, ChartText(n));
    return path;
}

std::string TargetFile(std::size_t count)
{
    const std::string path = InputDir() + "/targets" + std::to_string(count) + ".txt";
    if (access(path.c_str(), R_OK) != 0)
        WriteText(path, TargetText(count));
    return path;
}

struct Chart {
    std::vector<Color3> rgb;
    std::vector<Color3> lab;
};

Chart ReadChart(int n)
{
    Chart chart;
    ReadTripletFileString(ChartFile(n), &chart.rgb, "RGB_R", "RGB_G", "RGB_B");
    ReadTripletFileString(ChartFile(n), &chart.lab, "LAB_L", "LAB_A", "LAB_B");
    return chart;
}

std::vector<Color3> ReadTargets(std::size_t count)
{
    std::vector<Color3> targets;
    ReadTripletFileString(TargetFile(count), &targets, "RGB_R", "RGB_G", "RGB_B");
    return targets;
}

void ReadTable(benchmark::State& state, const std::string& path)
{
    std::vector<Color3> patches;
    for (auto _ : state) {
        ReadTripletFileString(path, &patches, "RGB_R", "RGB_G", "RGB_B");
        benchmark::DoNotOptimize(patches.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * patches.size()));
}

void BM_ReadTargets(benchmark::State& state)
{
    ReadTable(state, TargetFile(static_cast<std::size_t>(state.range(0))));
}

void BM_ReadChart(benchmark::State& state)
{
    ReadTable(state, ChartFile(static_cast<int>(state.range(0))));
}

// Grid detection and duplicate averaging: a conversion with no targets. Every patch is
// measured twice, so each grid point has a group of two to average.
void BM_GridAndDuplicates(benchmark::State& state)
{
    Chart chart = ReadChart(static_cast<int>(state.range(0)));
    chart.rgb.insert(chart.rgb.end(), chart.rgb.begin(), chart.rgb.end());
    chart.lab.insert(chart.lab.end(), chart.lab.begin(), chart.lab.end());
    std::vector<Color3> derived;
    QuietStdout quiet;
    for (auto _ : state)
        benchmark::DoNotOptimize(ComputeDerivedLabValues(chart.rgb, chart.lab, {}, &derived));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * chart.rgb.size()));
}

// A whole computation: grid, averaging and one interpolation per target.
void BM_Interpolate(benchmark::State& state)
{
    Chart chart = ReadChart(static_cast<int>(state.range(0)));
    const std::vector<Color3> targets = ReadTargets(static_cast<std::size_t>(state.range(1)));
    std::vector<Color3> derived;
    QuietStdout quiet;
    for (auto _ : state)
        benchmark::DoNotOptimize(ComputeDerivedLabValues(chart.rgb, chart.lab, targets, &derived));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * targets.size()));
}

void BM_Write(benchmark::State& state)
{
    const std::vector<Color3> targets = ReadTargets(static_cast<std::size_t>(state.range(0)));
    const std::string path = InputDir() + "/out";
    for (auto _ : state)
        benchmark::DoNotOptimize(WriteTabDelimitedTriplets(path.c_str(), targets));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * targets.size()));
}

// The chart's grid, built as chartlab builds it.
MeasuredGrid ChartGrid(int n)
{
    Chart chart = ReadChart(n);
    Preprocess5202Target(chart.rgb, chart.lab, nullptr);
    MeasuredGrid grid;
    grid.Build(chart.rgb, chart.lab, nullptr);
    return grid;
}

Interpolation InterpolationArg(std::int64_t arg)
{
    return arg ? Interpolation::Tetrahedral : Interpolation::Trilinear;
}

// Inverts every one of `labs` per iteration; the fourth argument picks the straightforward
// search of every cell instead of the index.
void TimeInverse(benchmark::State& state, const MeasuredGrid& grid, Interpolation how, const std::vector<Color3>& labs)
{
    GridInverse inverse;
    inverse.Build(grid, how, state.range(3) ? InverseSearch::Scan : InverseSearch::Indexed);
    InverseResult result;
    for (auto _ : state)
        for (const Color3& lab : labs)
            benchmark::DoNotOptimize(inverse.Invert(lab, &result));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * labs.size()));
}

// The Lab of `count` targets: every one in gamut.
void BM_InvertInGamut(benchmark::State& state)
{
    const MeasuredGrid grid = ChartGrid(static_cast<int>(state.range(0)));
    const Interpolation how = InterpolationArg(state.range(2));
    std::vector<Color3> labs = ReadTargets(static_cast<std::size_t>(state.range(1)));
    for (Color3& c : labs)
        grid.Interpolate(c, how, &c);
    TimeInverse(state, grid, how, labs);
}

// `count` Lab values outside the chart's gamut (OutOfGamutLabText).
void BM_InvertOutOfGamut(benchmark::State& state)
{
    const MeasuredGrid grid = ChartGrid(static_cast<int>(state.range(0)));
    const Interpolation how = InterpolationArg(state.range(2));
    const std::string path = InputDir() + "/outlab" + std::to_string(state.range(1)) + ".txt";
    WriteText(path, OutOfGamutLabText(static_cast<std::size_t>(state.range(1))));
    std::vector<Color3> labs;
    ReadTripletFileString(path, &labs, "LAB_L", "LAB_A", "LAB_B");
    TimeInverse(state, grid, how, labs);
}

BENCHMARK(BM_ReadTargets)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadChart)->Arg(17)->Arg(33)->Arg(65)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridAndDuplicates)->Arg(17)->Arg(33)->Arg(65)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Interpolate)
    ->Args({17, 10000})
    ->Args({17, 100000})
    ->Args({17, 1000000})
    ->Args({33, 10000})
    ->Args({65, 10000})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
// Arguments: chart size, count, interpolation (0 trilinear, 1 tetrahedral), search (0 tree, 1 scan).
BENCHMARK(BM_InvertInGamut)
    ->ArgNames({"chart", "count", "tetra", "scan"})
    ->Args({17, 1000000, 0, 0})
    ->Args({17, 1000000, 1, 0})
    ->Args({17, 10000, 0, 1})
    ->Args({17, 10000, 1, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InvertOutOfGamut)
    ->ArgNames({"chart", "count", "tetra", "scan"})
    ->Args({17, 10000, 0, 0})
    ->Args({17, 10000, 1, 0})
    ->Args({17, 1000, 0, 1})
    ->Args({17, 1000, 1, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
