#include "batch_stats.h"

#include <algorithm>
#include <chrono>
#include <iostream>

#include "analysis/flag_code.h"
#include "analysis/interfaces.h"
#include "analysis/statistics.h"
#include "batch_messages.h"
#include "formats/row_writer.h"
#include "formats/stats_merger.h"
#include "lookup/country_table.h"

namespace ipcountry::batch {

int runStats(const Options& options, const std::vector<std::string>& paths) {
    lookup::CountryTable table = lookup::loadCountryTable(options.countriesDir);
    lookup::addCountriesBeyondList(table);
    const auto started = std::chrono::steady_clock::now();
    StatsMerger merger(table, options.countriesDir.string(), options.inputFormat, std::cerr);
    if (options.byNetwork) merger.countNetworks();
    bool malformed = false;
    std::vector<std::string> unread;
    const std::vector<std::string> inputs = paths.empty() ? std::vector<std::string>{"-"} : paths;
    for (const std::string& path : inputs) {
        switch (merger.read(path)) {
            case StatsMerger::Read::Whole:
                break;
            case StatsMerger::Read::Unreadable:
                unread.push_back(path);
                break;
            case StatsMerger::Read::Malformed:
                malformed = true;
                break;
        }
    }
    // Statistics that took in a line the driver does not print, or of one
    // file read in part, would pass for those of the whole; of several files,
    // those read are counted and the statistics say which were not.
    if (malformed || (!unread.empty() && inputs.size() == 1)) return 1;

    const auto seconds = merger.blockSeconds();
    // Elapsed times read from outside may pass what a count of nanoseconds
    // holds (292 years): such a sum stops there instead of overflowing.
    const double most = std::chrono::duration<double>(std::chrono::nanoseconds::max()).count();
    const auto elapsed = seconds ? std::chrono::duration_cast<std::chrono::nanoseconds>(
                                       std::chrono::duration<double>(std::min(*seconds, most / 2)))
                                 : std::chrono::duration_cast<std::chrono::nanoseconds>(
                                       std::chrono::steady_clock::now() - started);
    lookup::CountryTable counted = table;
    for (int slot = 0; slot < counted.slotCount(); ++slot)
        counted.addHits(slot, merger.counts()[static_cast<std::size_t>(slot)]);
    Summary summary;
    summary.countries = analysis::buildStatistics(counted, merger.total(), elapsed);
    summary.elapsed = elapsed;
    summary.reasons = merger.reasons();
    summary.distinct = merger.distinct();
    if (options.byNetwork) {
        std::vector<Summary::NetworkCount> networks;
        for (const auto& [number, tally] : merger.networks()) {
            Summary::NetworkCount n{number, tally.name, {}, {}, tally.count};
            // The country that holds more than half of the network's rows, if one does.
            for (const auto& [slot, count] : tally.countries) {
                if (count * 2 <= tally.count) continue;
                // As the rows name it: the US slot's rows are shown as USA.
                const analysis::Resolution country{slot, slot == lookup::kUsSlot};
                n.countryName = lookup::windows1252ToUtf8(analysis::countryName(counted, country));
                n.countryCode = lookup::windows1252ToUtf8(analysis::flagCodeOfSlot(counted, slot));
            }
            networks.push_back(std::move(n));
        }
        summary.networks = std::move(networks);
        summary.noNetwork = merger.noNetwork();
    }
    summary.clients = merger.clients();
    Output out;
    RowWriter writer(out, options.format);
    writer.statistics(summary, counted, Listing{options.order, options.orderGiven, options.top});
    if (unread.empty()) return 0;
    sayStatisticsIncomplete(out, unread);
    return 1;
}

}  // namespace ipcountry::batch
