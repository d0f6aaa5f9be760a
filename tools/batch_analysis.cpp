#include "batch_analysis.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/flag_code.h"
#include "analysis/interfaces.h"
#include "analysis/statistics.h"
#include "formats/columns.h"
#include "lookup/as_file.h"
#include "lookup/country_table.h"
#include "lookup/error.h"
#include "lookup/network_set.h"
#include "lookup/range_file.h"
#include "lookup/text_file.h"
#include "report/address_tally.h"

namespace ipcountry::batch {
namespace {

// The grid of the driver: each row goes to standard output as it is appended.
// A row's code is the one its slot stands for, as its flag in the window is.
// For the statistics it counts the rows without a country by reason, and the
// distinct addresses.
class PrintingGrid final : public analysis::ResultSink {
public:
    // `networks`: the file the rows' networks are places in (null: none asked for).
    PrintingGrid(RowWriter& writer, const lookup::CountryTable& table, bool tally, bool byNetwork,
                 const lookup::AsFile* networks)
        : m_writer(writer),
          m_table(table),
          m_tally(tally),
          m_byNetwork(byNetwork),
          m_networkFile(networks) {}
    void appendRow(const analysis::ResultRow& row) override {
        m_writer.setLine(row.lineNumber);
        if (m_tally) m_addresses.appendRow(row);
        if (m_byNetwork) countNetwork(row);
        if (!row.reason.empty()) {
            if (const auto reason = analysis::noCountryReasonIndex(row.reason))
                ++m_reasons[*reason];
            m_writer.analysisRow(row.address, row.port, {}, {}, row.reason, row.network);
            return;
        }
        m_writer.analysisRow(row.address, row.port, m_table, row.country, row.network);
    }
    void addTo(Summary& summary) {
        summary.reasons = m_reasons;
        if (m_tally) {
            summary.distinct = static_cast<std::int64_t>(m_addresses.distinct());
            summary.clients = m_addresses.distinctBySlot();
        }
        if (!m_byNetwork) return;
        std::vector<Summary::NetworkCount> networks;
        networks.reserve(m_networks.size());
        for (const auto& [number, counted] : m_networks) {
            Summary::NetworkCount n;
            n.number = number;
            n.name = std::string(counted.name);
            n.count = counted.count;
            // The country that holds more than half of the network's rows, if one does.
            for (const auto& [key, count] : counted.countries) {
                if (count * 2 <= counted.count) continue;
                const analysis::Resolution country{key / 2, key % 2 == 1};
                n.countryName = lookup::windows1252ToUtf8(analysis::countryName(m_table, country));
                n.countryCode =
                    lookup::windows1252ToUtf8(analysis::flagCodeOfSlot(m_table, country.slot));
            }
            networks.push_back(std::move(n));
        }
        summary.networks = std::move(networks);
        summary.noNetwork = m_noNetwork;
    }

private:
    struct Counted {
        std::string_view name;
        std::int64_t count = 0;
        // By slot * 2 + (shown as USA): the rows of each country in the network.
        std::vector<std::pair<int, std::int64_t>> countries;
    };

    void countNetwork(const analysis::ResultRow& row) {
        const std::optional<lookup::AsNetwork> network =
            m_networkFile != nullptr ? m_networkFile->network(row.network) : std::nullopt;
        if (!network) {
            ++m_noNetwork;
            return;
        }
        Counted& counted = m_networks[network->number];
        counted.name = network->name;
        ++counted.count;
        if (!row.reason.empty()) return;
        const int key = row.country.slot * 2 + (row.country.usa ? 1 : 0);
        for (auto& [k, count] : counted.countries) {
            if (k == key) {
                ++count;
                return;
            }
        }
        counted.countries.emplace_back(key, 1);
    }

    RowWriter& m_writer;
    const lookup::CountryTable& m_table;
    bool m_tally;
    bool m_byNetwork;
    const lookup::AsFile* m_networkFile;
    report::AddressTally m_addresses;
    decltype(Summary::reasons) m_reasons{};
    std::unordered_map<std::uint32_t, Counted> m_networks;
    std::int64_t m_noNetwork = 0;
};

}  // namespace

namespace {

// The AS numbers of a list of networks, taken out of it: blanked, so that
// what is left is read as a list of networks, its line numbers unchanged.
std::vector<std::uint32_t> takeAsNumbers(std::string& list) {
    std::vector<std::uint32_t> numbers;
    constexpr std::string_view kBetween = " \t,\r";
    std::size_t lineStart = 0;
    while (lineStart < list.size()) {
        std::size_t lineEnd = list.find('\n', lineStart);
        if (lineEnd == std::string::npos) lineEnd = list.size();
        const std::size_t comment = list.find('#', lineStart);
        const std::size_t end = std::min(lineEnd, comment);
        std::size_t at = lineStart;
        while (at < end) {
            at = list.find_first_not_of(kBetween, at);
            if (at == std::string::npos || at >= end) break;
            std::size_t after = list.find_first_of(kBetween, at);
            if (after == std::string::npos || after > end) after = end;
            const std::string_view token(list.data() + at, after - at);
            if (const auto number = parseAsNumber(token)) {
                numbers.push_back(*number);
                std::fill(list.begin() + static_cast<std::ptrdiff_t>(at),
                          list.begin() + static_cast<std::ptrdiff_t>(after), ' ');
            }
            at = after;
        }
        lineStart = lineEnd + 1;
    }
    return numbers;
}

}  // namespace

RowChoice::RowChoice(const Options& options) {
    // AS numbers stand beside networks, on the command line and in lists;
    // the addresses of each come from the networks file, read once if any.
    std::optional<lookup::AsFile> networks;
    const auto addNetworksOf = [&](const std::vector<std::uint32_t>& numbers,
                                   lookup::NetworkSet& set) {
        if (numbers.empty()) return;
        if (!networks) networks.emplace(options.networksFile());
        for (const std::uint32_t number : numbers)
            for (const lookup::Network& range : networks->rangesOf(number)) set.add(range);
    };
    const auto read = [&](const std::vector<std::string>& given, lookup::NetworkSet& set) {
        std::vector<std::uint32_t> numbers;
        for (const std::string& network : given) {
            if (network.starts_with("@")) {
                const std::string path = network.substr(1);
                lookup::OpenedFile file(path, lookup::OpenedFile::Accept::AnyButFolder);
                // A list of every network there is would still be far below this.
                std::string list = file.readAll(std::uint64_t{1} << 30);
                const std::vector<std::uint32_t> inList = takeAsNumbers(list);
                numbers.insert(numbers.end(), inList.begin(), inList.end());
                lookup::readNetworkList(list, path, set);
                continue;
            }
            if (const auto number = parseAsNumber(network)) {
                numbers.push_back(*number);
                continue;
            }
            std::string why;
            const auto parsed = lookup::parseNetwork(network, why);
            if (!parsed) throw BadNetwork("'" + network + "': " + why);
            set.add(*parsed);
        }
        addNetworksOf(numbers, set);
        set.seal();
    };
    try {
        read(options.only, m_only);
        read(options.exclude, m_exclude);
    } catch (const lookup::Error& error) {
        throw BadNetwork(problemText(error));
    }
    rules.firstOfLine = options.firstOfLine;
    rules.wholeWords = !options.windowRules;
    rules.withoutCountry = options.withoutCountry;
    // --only with an empty list keeps nothing, as the user asked.
    if (!options.only.empty()) rules.only = &m_only;
    if (!options.exclude.empty()) rules.exclude = &m_exclude;
}

int runAnalysis(const Options& options, bool formatted, const std::vector<std::string>& paths) {
    const RowChoice choice(options);
    auto table = lookup::loadCountryTable(options.countriesDir);
    // The window's rows name and count the countries of its list only.
    if (!options.windowRules) lookup::addCountriesBeyondList(table);
    lookup::RangeFile ranges(options.rangesFolder());
    lookup::Range6File ranges6(options.rangesFolder());
    ranges.saveIndexBeside(options.rangeIndexSaved);
    ranges6.saveIndexBeside(options.rangeIndexSaved);
    // One snapshot of the data for every input of the run.
    ranges.keepFirstLoad();
    ranges6.keepFirstLoad();
    // Read only when asked for: a run without networks costs what it did.
    std::optional<lookup::AsFile> networks;
    const bool byNetwork = options.stats && options.byNetwork;
    if (options.networks || byNetwork) networks.emplace(options.networksFile());
    Output out;
    RowWriter writer(out, options.format, options.withoutCountry, networks ? &*networks : nullptr,
                     options.networks, options.places);
    PrintingGrid grid(writer, table, options.stats, byNetwork, networks ? &*networks : nullptr);
    BatchPrompter prompter(out, options.stopOnError);
    analysis::SteadyClock clock;
    FlushWhileWaiting watch(out);
    analysis::AnalysisContext context{table, ranges, ranges6, grid, prompter, clock, &watch};
    context.dashIsStandardInput = true;
    context.rows = choice.rules;
    // Looked up by the workers, beside the countries.
    if (networks) context.rows.networks = &*networks;
    if (options.threads != 0) context.threads = options.threads;

    writer.analysisHeader();
    std::int64_t rows = 0;
    std::chrono::nanoseconds elapsed{0};
    std::vector<std::string> unread;
    bool ended = false;
    for (const std::string& path : paths) {
        writer.setFile(nameInRows(path));
        const analysis::RunResult result = formatted ? analysis::runFormattedList(path, context)
                                                     : analysis::runFreeTextScan(path, context);
        rows += result.rowsAdded;
        elapsed += result.elapsed;
        if (result.status == analysis::RunStatus::Completed) continue;
        unread.push_back(path);
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
    saySavedIndexDamaged(out, ranges);
    saySavedIndexDamaged(out, ranges6);
    return unread.empty() && !prompter.sawWrongLine() ? 0 : 1;
}

}  // namespace ipcountry::batch
