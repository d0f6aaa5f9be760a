// StatsMerger's reader of tsv: IP<TAB>Port<TAB>Country rows (the reason in
// place of the country for a row without one), after the row's file and line
// where -H and -n gave them, before its network where --asn did; then "", "Analysis took
// H:mm:ss", "Total number of IPs is N (M distinct)" and
// Country<TAB>Code<TAB>Count<TAB>Share[<TAB>Distinct] rows, a reason's with no code. Older
// outputs have no distinct count and no Code column: both are taken.
#include <cmath>
#include <optional>
#include <utility>

#include "analysis/row_rules.h"
#include "formats/columns.h"
#include "formats/stats_lines.h"
#include "formats/stats_merger.h"

namespace ipcountry::batch {

using stats_lines::Malformed;
using stats_lines::wholeNumber;

namespace {

// "N" or "N (M distinct)".
bool readTotal(std::string_view text, std::int64_t& total, std::optional<std::int64_t>& distinct) {
    const std::size_t before = text.find(words::kDistinctBefore);
    std::optional<std::int64_t> number = wholeNumber(text.substr(0, before));
    if (!number) return false;
    total = *number;
    distinct.reset();
    if (before == std::string_view::npos) return true;
    std::string_view rest = text.substr(before + words::kDistinctBefore.size());
    if (!rest.ends_with(words::kDistinctAfter)) return false;
    rest.remove_suffix(words::kDistinctAfter.size());
    distinct = wholeNumber(rest);
    return distinct.has_value();
}

// The fields of a line split at its TABs: how many there are, the first
// Size of them in `fields`.
template <std::size_t Size>
std::size_t splitTabs(std::string_view text, std::string_view (&fields)[Size]) {
    std::size_t count = 0;
    for (std::size_t start = 0;; ++count) {
        const std::size_t tab = text.find('\t', start);
        if (count < Size) fields[count] = text.substr(start, tab - start);
        if (tab == std::string_view::npos) return count + 1;
        start = tab + 1;
    }
}

bool isLineNumber(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// How many of a row's `count` fields lead it (its file and line, -H and -n:
// 0 to 2), and whether it ends with its network (--asn), else nullopt. Five
// fields are a file, line, IP, port and country, or an IP, port, country and
// network: the second is then a port (empty or ":80"), never a line's number.
std::optional<std::pair<std::size_t, bool>> rowShape(std::size_t count, std::string_view second) {
    switch (count) {
        case 3:
            return std::pair{std::size_t{0}, false};
        case 4:
            return std::pair{std::size_t{1}, false};
        case 5:
            return isLineNumber(second) ? std::pair{std::size_t{2}, false}
                                        : std::pair{std::size_t{0}, true};
        case 6:
            return std::pair{std::size_t{1}, true};
        case 7:
            return std::pair{std::size_t{2}, true};
        default:
            return std::nullopt;
    }
}

}  // namespace

void StatsMerger::tsvLine(std::string_view text) {
    std::string_view fields[5];
    switch (m_expect) {
        case Expect::Rows: {
            if (text.empty()) return;
            if (text.starts_with(analysis::kElapsedSentence)) {
                const auto seconds =
                    stats_lines::clockSeconds(text.substr(analysis::kElapsedSentence.size()));
                openBlock(seconds.value_or(NAN), 0, std::nullopt);
                m_expect = Expect::TsvTotal;
                return;
            }
            // Rows with their networks (--asn) or without, after their file
            // and line (-H, -n) or not: the same columns in the same order.
            static const Layout withNetworks = analysisLayout(Format::Tsv, true, true);
            static const std::size_t ipAt = *withNetworks.indexOf(Column::Ip);
            static const std::size_t countryAt = *withNetworks.indexOf(Column::Country);
            std::string_view all[7];
            const std::size_t count = splitTabs(text, all);
            const auto shape = rowShape(count, all[1]);
            if (!shape || all[shape->first + ipAt].empty())
                throw Malformed("not a row (IP, Port and Country separated by TABs)");
            const auto [lead, networks] = *shape;
            const std::string_view* row = all + lead;
            const std::string_view ip = row[ipAt];
            const std::string_view country = row[countryAt];
            // The reason of a row without a country stands in the country's place.
            std::optional<int> slot;
            if (analysis::noCountryReasonIndex(country)) {
                countReasonRow(ip, country);
            } else {
                slot = m_slots.byCountry(country);
                countRow(ip, slot, country, {});
            }
            if (m_byNetwork) {
                if (!networks) noNetworkColumns();
                countNetwork(row[*withNetworks.indexOf(Column::Asn)],
                             row[*withNetworks.indexOf(Column::AsName)], slot);
            }
            return;
        }
        case Expect::TsvTotal: {
            const bool read = text.starts_with(analysis::kTotalSentence) &&
                              readTotal(text.substr(analysis::kTotalSentence.size()), m_block.total,
                                        m_block.distinct);
            if (!read)
                throw Malformed("\"Total number of IPs is N\" should follow \"Analysis took\"");
            m_expect = Expect::BlockCountries;
            break;
        }
        case Expect::BlockCountries: {
            const std::size_t count = splitTabs(text, fields);
            if (count == 4 && fields[1].empty() && analysis::noCountryReasonIndex(fields[0])) {
                blockReason(fields[0], wholeNumber(fields[2]));
            } else if (count == 4 || count == 5) {
                std::optional<std::int64_t> clients;
                if (count == 5) {
                    clients = wholeNumber(fields[4]);
                    if (!clients)
                        throw Malformed("the country's distinct addresses are not a number");
                }
                blockCountry(m_slots.ofStatistics(fields[0], fields[1]), wholeNumber(fields[2]),
                             fields[0], clients);
            } else if (count == 3) {
                blockCountry(m_slots.ofStatistics(fields[0], std::nullopt), wholeNumber(fields[1]),
                             fields[0], std::nullopt);
            } else {
                throw Malformed("not a row of the statistics (Country, Code, Count and Share)");
            }
            break;
        }
        default:
            break;
    }
    closeBlockWhenFull();
}

}  // namespace ipcountry::batch
