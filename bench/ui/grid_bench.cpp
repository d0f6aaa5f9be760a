// Run: QT_QPA_PLATFORM=offscreen build/bench/ui_grid_bench
// Targets: 1,000,000 appended rows in under 2 s at 40 bytes per row or less;
// "Kill dupes" over 1,000,000 rows well under a second. BM_RunIntoAShownGrid
// is the window's side of an analysis: rows through the GridSink into a grid
// that a shown view follows, as a gigabyte log gives them.
#include <malloc.h>

#include <QApplication>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "analysis/interfaces.h"
#include "lookup/country_table.h"
#include "ui/analysis_adapters.h"
#include "ui/grid_view.h"
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

// Eight million rows (a gigabyte log's), handed over as the analysis hands
// them: texts in a buffer, the progress told once per megabyte read. The
// argument is the share of IPv6 addresses in percent (written in full, too
// long for a packed row).
void BM_RunIntoAShownGrid(benchmark::State& state) {
    constexpr int kRunRows = 8'000'000;
    std::string countries;
    for (int slot = 0; slot < ipcountry::lookup::kSlotCount; ++slot) {
        countries += "X" + std::string(1, static_cast<char>('A' + slot % 26)) + "Country " +
                     std::to_string(slot) + "\r\n";
    }
    const auto table = ipcountry::lookup::parseCountryTable(countries, "Country.dbf");
    std::vector<std::string> ips;
    for (int k = 0; k < 65536; ++k) {
        if (k % 100 < state.range(0)) {
            ips.push_back("2a00:1450:4001:81c:" + std::to_string(k % 9000 + 1000) + ":" +
                          std::to_string(k % 7 + 1) + "::200e");
        } else {
            ips.push_back(std::to_string(1 + k % 220) + "." + std::to_string((k * 7) & 255) + "." +
                          std::to_string((k >> 3) & 255) + "." + std::to_string(k & 255));
        }
    }
    for (auto _ : state) {
        state.PauseTiming();
        auto grid = setUpGrid();
        ipcountry::ui::GridView view(*grid, ipcountry::ui::GridView::CellColour::Window);
        view.resize(385, 132);
        view.show();
        QApplication::processEvents();
        state.ResumeTiming();
        {
            ipcountry::ui::GridSink sink(*grid, table);
            for (int i = 0; i < kRunRows; ++i) {
                const std::string& ip = ips[static_cast<std::size_t>(i) & 65535];
                sink.appendRow({ip, i % 3 == 0 ? std::string_view(":443") : std::string_view(),
                                ipcountry::analysis::Resolution{i % 237, false}});
                if (i % 8192 == 0) {
                    sink.flush();
                    QApplication::processEvents();
                }
            }
        }
        QApplication::processEvents();
        benchmark::DoNotOptimize(grid->rows());
        state.PauseTiming();
        grid.reset();
        state.ResumeTiming();
    }
    state.counters["rows"] = kRunRows;
}
BENCHMARK(BM_RunIntoAShownGrid)->Arg(0)->Arg(50)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
