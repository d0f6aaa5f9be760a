// Any text given to `stats`: each line is taken or refused with a reason,
// never anything else. What it takes whole, written again as statistics in
// each format, reads back whole with the same counts: the writer and the
// readers agree on every word.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "analysis/statistics.h"
#include "formats/row_writer.h"
#include "formats/stats_merger.h"
#include "lookup/country_table.h"

namespace {

using namespace ipcountry;

// Two slots of one name, a slot named like a reason's neighbour, the US slot
// left empty, and a name that needs quoting in csv and escaping in json.
const lookup::CountryTable& table() {
    static const lookup::CountryTable countries = lookup::parseCountryTable(
        "DEGermany\r\nGBUnited Kingdom\r\nUKUnited Kingdom\r\nQQThe \"Quoted\", Isles\r\n"
        "CIC\xF4te d'Ivoire\r\nUSUnited States\r\n",
        "Country.dbf");
    return countries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    std::ostringstream messages;
    batch::StatsMerger merger(table(), "data", std::nullopt, messages);
    const auto read = merger.readText(content, "input");
    if (read == batch::StatsMerger::Read::Unreadable) std::abort();
    if (read == batch::StatsMerger::Read::Malformed && messages.str().empty()) std::abort();
    if (read != batch::StatsMerger::Read::Whole) return 0;

    lookup::CountryTable counted = table();
    for (int slot = 0; slot < lookup::kSlotCount; ++slot)
        counted.addHits(slot, merger.counts()[slot]);
    batch::Summary summary;
    summary.countries = analysis::buildStatistics(counted, merger.total(), std::chrono::seconds(3));
    summary.elapsed = std::chrono::seconds(3);
    summary.reasons = merger.reasons();
    summary.distinct = merger.distinct();
    for (const batch::Format format :
         {batch::Format::Tsv, batch::Format::Csv, batch::Format::Json}) {
        batch::Output out{batch::Output::Kept{}};
        batch::RowWriter writer(out, format);
        writer.statistics(summary, counted, batch::Listing{});
        std::ostringstream again;
        batch::StatsMerger back(table(), "data", std::nullopt, again);
        if (back.readText(out.buffer(), "statistics") != batch::StatsMerger::Read::Whole ||
            back.counts() != merger.counts() || back.reasons() != merger.reasons())
            std::abort();
    }
    return 0;
}
