#include "batch_analysis.h"

#include <chrono>
#include <cstdint>
#include <iostream>
#include <string_view>

#include "analysis/analysis.h"
#include "analysis/flag_code.h"
#include "analysis/interfaces.h"
#include "analysis/statistics.h"
#include "lookup/country_table.h"
#include "lookup/range_file.h"

namespace ipcountry::batch {
namespace {

// The grid of the driver: each row goes to standard output as it is appended.
// A row's code is the one its slot stands for, as its flag in the window is.
class PrintingGrid final : public analysis::ResultSink {
public:
    PrintingGrid(RowWriter& writer, const lookup::CountryTable& table)
        : m_writer(writer), m_table(table) {}
    void appendRow(const analysis::ResultRow& row) override {
        m_writer.analysisRow(row.address, row.port, analysis::countryName(m_table, row.country),
                             analysis::flagCodeOfSlot(m_table, row.country.slot));
    }

private:
    RowWriter& m_writer;
    const lookup::CountryTable& m_table;
};

// Asked between blocks of the input: a run whose rows nobody can take any
// more (a full disk, a closed output, a reader that left) ends there.
class OutputWatch final : public analysis::Progress {
public:
    bool update(std::uint64_t, std::uint64_t) override { return Output::writeError() == 0; }
};

}  // namespace

int runAnalysis(const Options& options, bool formatted, const std::vector<std::string>& paths) {
    auto table = lookup::loadCountryTable(options.dataDir);
    lookup::RangeFile ranges(options.rangesFolder());
    lookup::Range6File ranges6(options.rangesFolder());
    Output out;
    RowWriter writer(out, options.format);
    PrintingGrid grid(writer, table);
    BatchPrompter prompter(out, options.stopOnError);
    analysis::SteadyClock clock;
    OutputWatch watch;
    analysis::AnalysisContext context{table, ranges, ranges6, grid, prompter, clock, &watch};
    context.dashIsStandardInput = true;
    if (options.threads != 0) context.threads = options.threads;

    writer.analysisHeader();
    std::int64_t rows = 0;
    std::chrono::nanoseconds elapsed{0};
    bool everyFileRead = true;
    for (const std::string& path : paths) {
        const analysis::RunResult result = formatted ? analysis::runFormattedList(path, context)
                                                     : analysis::runFreeTextScan(path, context);
        rows += result.rowsAdded;
        elapsed += result.elapsed;
        if (result.status == analysis::RunStatus::Completed) continue;
        everyFileRead = false;
        if (prompter.toldToStop() || Output::writeError() != 0) break;
    }
    // Statistics only of a whole: a file read in part would make them lie.
    if (!everyFileRead) return 1;
    if (options.stats) {
        const analysis::Statistics stats = analysis::buildStatistics(table, rows, elapsed);
        writer.statistics(stats, table, elapsed);
    }
    return 0;
}

}  // namespace ipcountry::batch
