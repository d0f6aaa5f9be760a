#include "batch_analysis.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "analysis/analysis.h"
#include "analysis/flag_code.h"
#include "analysis/interfaces.h"
#include "analysis/statistics.h"
#include "lookup/country_table.h"
#include "lookup/error.h"
#include "lookup/network_set.h"
#include "lookup/range_file.h"
#include "report/address_tally.h"

namespace ipcountry::batch {
namespace {

// The grid of the driver: each row goes to standard output as it is appended.
// A row's code is the one its slot stands for, as its flag in the window is.
// For the statistics it counts the rows without a country by reason, and the
// distinct addresses.
class PrintingGrid final : public analysis::ResultSink {
public:
    PrintingGrid(RowWriter& writer, const lookup::CountryTable& table, bool tally)
        : m_writer(writer), m_table(table), m_tally(tally) {}
    void appendRow(const analysis::ResultRow& row) override {
        if (m_tally) m_addresses.appendRow(row);
        if (!row.reason.empty()) {
            if (const auto reason = analysis::noCountryReasonIndex(row.reason))
                ++m_reasons[*reason];
            m_writer.analysisRow(row.address, row.port, {}, {}, row.reason);
            return;
        }
        m_writer.analysisRow(row.address, row.port, m_table, row.country);
    }
    void addTo(Summary& summary) {
        summary.reasons = m_reasons;
        if (m_tally) summary.distinct = static_cast<std::int64_t>(m_addresses.distinct());
    }

private:
    RowWriter& m_writer;
    const lookup::CountryTable& m_table;
    bool m_tally;
    report::AddressTally m_addresses;
    decltype(Summary::reasons) m_reasons{};
};

}  // namespace

RowChoice::RowChoice(const Options& options) {
    const auto read = [](const std::vector<std::string>& networks, lookup::NetworkSet& set) {
        for (const std::string& network : networks) {
            if (network.starts_with("@")) {
                lookup::readNetworkFile(network.substr(1), set);
                continue;
            }
            std::string why;
            const auto parsed = lookup::parseNetwork(network, why);
            if (!parsed) throw BadNetwork("'" + network + "': " + why);
            set.add(*parsed);
        }
        set.seal();
    };
    try {
        read(options.only, m_only);
        read(options.exclude, m_exclude);
    } catch (const lookup::Error& error) {
        throw BadNetwork(error.problem());
    }
    rules.firstOfLine = options.firstOfLine;
    rules.withoutCountry = options.withoutCountry;
    // --only with an empty list keeps nothing, as the user asked.
    if (!options.only.empty()) rules.only = &m_only;
    if (!options.exclude.empty()) rules.exclude = &m_exclude;
}

int runAnalysis(const Options& options, bool formatted, const std::vector<std::string>& paths) {
    const RowChoice choice(options);
    auto table = lookup::loadCountryTable(options.dataDir);
    lookup::RangeFile ranges(options.rangesFolder());
    lookup::Range6File ranges6(options.rangesFolder());
    // One snapshot of the data for every input of the run.
    ranges.keepFirstLoad();
    ranges6.keepFirstLoad();
    Output out;
    RowWriter writer(out, options.format, options.withoutCountry);
    PrintingGrid grid(writer, table, options.stats);
    BatchPrompter prompter(out, options.stopOnError);
    analysis::SteadyClock clock;
    FlushWhileWaiting watch(out);
    analysis::AnalysisContext context{table, ranges, ranges6, grid, prompter, clock, &watch};
    context.dashIsStandardInput = true;
    context.rows = choice.rules;
    if (options.threads != 0) context.threads = options.threads;

    writer.analysisHeader();
    std::int64_t rows = 0;
    std::chrono::nanoseconds elapsed{0};
    std::vector<std::string> unread;
    bool ended = false;
    for (const std::string& path : paths) {
        const analysis::RunResult result = formatted ? analysis::runFormattedList(path, context)
                                                     : analysis::runFreeTextScan(path, context);
        rows += result.rowsAdded;
        elapsed += result.elapsed;
        if (result.status == analysis::RunStatus::Completed) continue;
        unread.push_back(inputName(path));
        if (prompter.toldToStop() || Output::writeError() != 0) {
            ended = true;
            break;
        }
    }
    // Statistics only of a whole: a run ended early, or a single file read in
    // part, would make them lie. Of several files, those read are counted, and
    // the statistics say which were not.
    const bool partial = !unread.empty() && (ended || paths.size() == 1);
    if (options.stats && !partial) {
        Summary summary;
        summary.countries = analysis::buildStatistics(table, rows, elapsed);
        summary.elapsed = elapsed;
        grid.addTo(summary);
        writer.statistics(summary, table, Listing{options.order, options.orderGiven, options.top});
        if (!unread.empty()) sayStatisticsIncomplete(out, unread);
    }
    return unread.empty() && !prompter.sawWrongLine() ? 0 : 1;
}

}  // namespace ipcountry::batch
