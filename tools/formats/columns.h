#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/formats.h"

// The columns of the driver's rows, each declared once: its csv header and
// its json key. A format prints a row as a list of these columns (a Layout);
// the `stats` readers find the columns they count by the same declaration,
// so that a column added to a row is one entry here and no reader breaks.
namespace ipcountry::batch {

enum class Column {
    Ip,
    Port,
    Country,
    Code,
    Reason,
    Asn,     // the AS number of the network that holds the address
    AsName,  // the name of its operator
    File,    // the input the row was read from, as named (-H)
    Line,    // the input line the address stands on, from 1 (-n)
};

struct ColumnInfo {
    Column column;
    std::string_view csvHeader;
    std::string_view jsonKey;
    // json leaves the key out of a row that has nothing in it (the reason of
    // a row with a country); other columns write null for nothing.
    bool jsonOmitsNone = false;
};

// In the order of Column.
inline constexpr std::array kColumns{
    ColumnInfo{Column::Ip, "IP", "ip"},
    ColumnInfo{Column::Port, "Port", "port"},
    ColumnInfo{Column::Country, "Country", "country"},
    ColumnInfo{Column::Code, "Code", "code"},
    ColumnInfo{Column::Reason, "Reason", "reason", true},
    ColumnInfo{Column::Asn, "AS", "asn"},
    ColumnInfo{Column::AsName, "Operator", "as_name"},
    ColumnInfo{Column::File, "File", "file"},
    ColumnInfo{Column::Line, "Line", "line"},
};

constexpr const ColumnInfo& columnInfo(Column column) {
    return kColumns[static_cast<std::size_t>(column)];
}

// The columns of one kind of row in one format, in their order.
struct Layout {
    std::vector<Column> columns;
    // tsv has no column for the reason of a row without a country: the
    // reason stands where the country would, as that is what a person reads there.
    bool reasonInCountry = false;

    std::optional<std::size_t> indexOf(Column column) const;
    bool has(Column column) const { return indexOf(column).has_value(); }
    std::size_t size() const { return columns.size(); }
};

// Where each row comes from, leading the row as grep leads its lines
// ("file:line:"): the input's name (-H), then the line's number (-n).
struct RowPlaces {
    bool file = false;
    bool line = false;
};

// The rows of an analysis: IP, port, country and (but in tsv) code; with
// `reasons` (--all) a reason too, a column of its own in csv and json; with
// `networks` (--asn) the AS number and operator last; `places` first.
Layout analysisLayout(Format format, bool reasons, bool networks = false, RowPlaces places = {});
// The rows of find: the address as typed, the code and the country, in csv
// and json the reason of an address without a country, and with `networks`
// the AS number and operator; `places` first.
Layout findLayout(Format format, bool networks = false, RowPlaces places = {});

// "AS13335" as the rows write it: the number; nullopt for anything else.
std::optional<std::uint32_t> parseAsNumber(std::string_view text);

// The analysis columns a csv header line names, in its order: nullopt unless
// every field names a column once and IP, Country and Code are among them.
std::optional<Layout> analysisLayoutOfCsvHeader(const std::vector<std::string>& fields);

}  // namespace ipcountry::batch
