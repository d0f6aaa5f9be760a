// StatsMerger's reader of csv: a header, then IP,Port,Country,Code rows (with
// --all a fifth column, Reason, and no country or code where it is given);
// then after a blank line "Elapsed seconds,Total,Distinct" and its values,
// after another "Country,Code,Count,Share" and a row per country, and after
// another, when some rows had no country, "Reason,Count,Share" and a row per
// reason. Older outputs have no Distinct column: it is taken without. Rows
// are read by the columns their header names (columns.h).
#include <charconv>
#include <cmath>

#include "analysis/row_rules.h"
#include "formats/columns.h"
#include "formats/stats_lines.h"
#include "formats/stats_merger.h"
#include "lookup/csv_fields.h"

namespace ipcountry::batch {

using stats_lines::fieldsAre;
using stats_lines::Malformed;
using stats_lines::wholeNumber;

namespace {

double decimalNumber(const std::string& text) {
    double value = NAN;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() ? value : NAN;
}

}  // namespace

void StatsMerger::csvLine(std::string_view text) {
    // The driver never breaks a field across lines: a quote left open is a fault here.
    if (const std::string_view problem = lookup::splitCsvRecord(text, m_fields); !problem.empty())
        throw Malformed(std::string(problem));
    const auto& f = m_fields;
    const auto& runHead = words::kRunHeader;
    switch (m_expect) {
        case Expect::Rows: {
            if (text.empty()) return;
            if (auto header = analysisLayoutOfCsvHeader(f)) {
                m_csvRows = std::move(*header);
                return;
            }
            if (fieldsAre(f, runHead) || fieldsAre(f, std::array{runHead[0], runHead[1]})) {
                m_expect = Expect::CsvRunValues;
                return;
            }
            // The columns the file's header named; rows without one, or of
            // another width, in the driver's own order, with or without the reason.
            const Layout layout = m_csvRows && m_csvRows->size() == f.size()
                                      ? *m_csvRows
                                      : analysisLayout(Format::Csv, f.size() == 5);
            const auto at = [&f, &layout](Column column) -> const std::string* {
                const auto index = layout.indexOf(column);
                return index ? &f[*index] : nullptr;
            };
            if (layout.size() != f.size() || at(Column::Ip)->empty())
                throw Malformed("not a row (IP,Port,Country,Code)");
            const std::string& ip = *at(Column::Ip);
            const std::string& country = *at(Column::Country);
            const std::string& code = *at(Column::Code);
            std::optional<int> slot;
            if (const std::string* reason = at(Column::Reason); reason && !reason->empty()) {
                if (!country.empty() || !code.empty())
                    throw Malformed("a row with a reason has no country and no code");
                countReasonRow(ip, *reason);
            } else {
                slot = m_slots.byCode(code, country);
                countRow(ip, slot, country, code);
            }
            if (m_byNetwork) {
                const std::string* as = at(Column::Asn);
                const std::string* name = at(Column::AsName);
                if (as == nullptr || name == nullptr) noNetworkColumns();
                countNetwork(*as, *name, slot);
            }
            return;
        }
        case Expect::CsvRunValues: {
            const bool fits = f.size() == 2 || f.size() == 3;
            std::optional<std::int64_t> distinct;
            if (f.size() == 3 && !f[2].empty()) {
                distinct = wholeNumber(f[2]);
                if (!distinct) throw Malformed("the number of distinct addresses is not a number");
            }
            openBlock(fits ? decimalNumber(f[0]) : NAN, fits ? wholeNumber(f[1]) : std::nullopt,
                      distinct);
            m_expect = Expect::CsvCountryHead;
            return;
        }
        case Expect::CsvCountryHead:
            if (text.empty()) return;
            m_csvClients =
                f.size() == words::kCountryHeader.size() + 1 && f.back() == words::kDistinctColumn;
            if (m_csvClients) m_fields.pop_back();
            if (!fieldsAre(f, words::kCountryHeader))
                throw Malformed("\"Country,Code,Count,Share\" should follow the run's values");
            m_expect = Expect::BlockCountries;
            break;
        case Expect::BlockCountries:
            if (text.empty()) {
                m_expect = Expect::CsvReasonHead;
                return;
            }
            if (f.size() != (m_csvClients ? 5u : 4u))
                throw Malformed("not a row of the statistics (Country,Code,Count,Share)");
            if (m_csvClients) {
                const std::optional<std::int64_t> clients = wholeNumber(f[4]);
                if (!clients) throw Malformed("the country's distinct addresses are not a number");
                blockCountry(m_slots.ofStatistics(f[0], f[1]), wholeNumber(f[2]), f[0], clients);
            } else {
                blockCountry(m_slots.ofStatistics(f[0], f[1]), wholeNumber(f[2]), f[0],
                             std::nullopt);
            }
            break;
        case Expect::CsvReasonHead:
            if (!fieldsAre(f, words::kReasonHeader))
                throw Malformed("\"Reason,Count,Share\" should follow the countries");
            m_expect = Expect::BlockReasons;
            return;
        case Expect::BlockReasons:
            if (f.size() != 3) throw Malformed("not a row of the reasons (Reason,Count,Share)");
            blockReason(f[0], wholeNumber(f[1]));
            break;
        default:
            break;
    }
    closeBlockWhenFull();
}

}  // namespace ipcountry::batch
