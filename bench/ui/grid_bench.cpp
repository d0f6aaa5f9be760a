// Run: build/bench/ui_grid_bench
// Targets: 1,000,000 appended rows in under 2 s at 40 bytes per row or less;
// "Kill dupes" over 1,000,000 rows well under a second.
#include <malloc.h>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/result_grid.h"

namespace {

using ipcountry::ui::ResultGrid;

constexpr int kRows = 1'000'000;
constexpr std::size_t kBatch = 8192;  // as the window hands rows over during a run
const char* const kCountries[] = {"Germany", "United States",      "USA",    "Russian Federation",
                                  "Brazil",  "Korea, Republic of", "France", "Netherlands"};

// Heap in use, the blocks malloc maps on their own (big vectors) included.
std::size_t heapInUse() {
    const auto info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

std::unique_ptr<ResultGrid> setUpGrid() {
    auto grid = std::make_unique<ResultGrid>();
    ipcountry::ui::addResultsHeader(*grid);
    return grid;
}

// `distinct` different address and port pairs, repeated to fill the rows.
void fill(ResultGrid& grid, int rows, int distinct) {
    std::vector<ResultGrid::CountryId> countries;
    for (int k = 0; k < 237; ++k) countries.push_back(grid.addCountry(kCountries[k % 8], k));
    for (int i = 0; i < rows; ++i) {
        const int k = i % distinct;
        const std::string ip = std::to_string(10 + k % 200) + "." + std::to_string((k >> 8) & 255) +
                               "." + std::to_string((k >> 3) & 255) + "." + std::to_string(k & 255);
        grid.appendResult(ip, ":" + std::to_string(1024 + k % 50000), countries[k % 237]);
        if (static_cast<std::size_t>(i + 1) % kBatch == 0) grid.announceRows();
    }
    grid.announceRows();
}

void BM_AppendMillionRows(benchmark::State& state) {
    double bytesPerRow = 0;
    for (auto _ : state) {
        auto grid = setUpGrid();
        const auto before = heapInUse();
        fill(*grid, kRows, kRows);
        const auto after = heapInUse();
        bytesPerRow = static_cast<double>(after - before) / kRows;
        benchmark::DoNotOptimize(grid->rows());
        state.PauseTiming();
        grid.reset();
        state.ResumeTiming();
    }
    state.counters["bytes_per_row"] = bytesPerRow;
    state.counters["rows"] = kRows;
}
BENCHMARK(BM_AppendMillionRows)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_KillDupesMillionRows(benchmark::State& state) {
    const int distinct = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto grid = setUpGrid();
        fill(*grid, kRows, distinct);
        state.ResumeTiming();
        const auto removed = grid->removeDuplicateRows(1);
        benchmark::DoNotOptimize(removed.data());
        state.PauseTiming();
        grid.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = kRows;
}
// Every row distinct, half of them repeats, almost all of them repeats.
BENCHMARK(BM_KillDupesMillionRows)
    ->Arg(kRows)
    ->Arg(kRows / 2)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
