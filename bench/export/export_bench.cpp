// A million grid rows through exportWorkbook, until the workbook is written
// (constant-memory mode) and handed to the desktop.

#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <filesystem>
#include <string>
#include <vector>

#include "ui/export/workbook_export.h"

namespace {

using namespace ipcountry::ui;

class SyntheticGrid final : public ExportGrid {
public:
    explicit SyntheticGrid(std::int64_t dataRows) {
        m_cells = {"IP", "Port", "Country"};
        const char* countries[] = {"Germany", "Côte d'Ivoire", "USA", "Russian Federation"};
        for (std::int64_t i = 0; i < dataRows; ++i) {
            m_cells.push_back(std::to_string(10 + i % 200) + "." + std::to_string(i / 65536 % 256) +
                              "." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256));
            m_cells.push_back(":" + std::to_string(1024 + i % 60000));
            m_cells.push_back(countries[i % 4]);
        }
    }
    std::int64_t sheetRows() const override {
        return static_cast<std::int64_t>(m_cells.size() / 3);
    }
    int columns() const override { return 3; }
    std::string text(std::int64_t row, int column) const override {
        return m_cells[static_cast<std::size_t>(row * 3 + column)];
    }

private:
    std::vector<std::string> m_cells;
};

class CountingDesktop final : public Desktop {
public:
    std::string missingSpreadsheetProgram() override { return {}; }
    bool open(const std::filesystem::path&) override { return true; }
};

void BM_ExportRows(benchmark::State& state) {
    const SyntheticGrid grid(state.range(0));
    QTemporaryDir directory;
    CountingDesktop desktop;
    for (auto _ : state) {
        const auto file = exportWorkbook(grid, desktop, {directory.path().toStdString()});
        state.PauseTiming();
        state.counters["MiB"] =
            static_cast<double>(std::filesystem::file_size(file)) / (1024.0 * 1024.0);
        std::filesystem::remove(file);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_ExportRows)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
