#include "formats/columns.h"

#include <algorithm>
#include <charconv>

namespace ipcountry::batch {

std::optional<std::size_t> Layout::indexOf(Column column) const {
    const auto found = std::find(columns.begin(), columns.end(), column);
    if (found == columns.end()) return std::nullopt;
    return static_cast<std::size_t>(found - columns.begin());
}

namespace {

std::vector<Column> placeColumns(RowPlaces places) {
    std::vector<Column> columns;
    if (places.file) columns.push_back(Column::File);
    if (places.line) columns.push_back(Column::Line);
    return columns;
}

}  // namespace

Layout analysisLayout(Format format, bool reasons, bool networks, RowPlaces places) {
    Layout layout{placeColumns(places), format == Format::Tsv};
    layout.columns.insert(layout.columns.end(), {Column::Ip, Column::Port, Column::Country});
    if (format != Format::Tsv) {
        layout.columns.push_back(Column::Code);
        if (reasons) layout.columns.push_back(Column::Reason);
    }
    if (networks) layout.columns.insert(layout.columns.end(), {Column::Asn, Column::AsName});
    return layout;
}

Layout findLayout(Format format, bool networks, RowPlaces places) {
    // No country: no code, and the reason where the country would stand in
    // tsv, in a column of its own in csv and json.
    Layout layout{placeColumns(places), format == Format::Tsv};
    layout.columns.insert(layout.columns.end(), {Column::Ip, Column::Code, Column::Country});
    if (format != Format::Tsv) layout.columns.push_back(Column::Reason);
    if (networks) layout.columns.insert(layout.columns.end(), {Column::Asn, Column::AsName});
    return layout;
}

std::optional<std::uint32_t> parseAsNumber(std::string_view text) {
    if (!text.starts_with("AS") && !text.starts_with("as")) return std::nullopt;
    text.remove_prefix(2);
    std::uint32_t number = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return number;
}

std::optional<Layout> analysisLayoutOfCsvHeader(const std::vector<std::string>& fields) {
    Layout layout;
    for (const std::string& field : fields) {
        const auto found = std::find_if(kColumns.begin(), kColumns.end(),
                                        [&field](const auto& c) { return c.csvHeader == field; });
        if (found == kColumns.end() || layout.has(found->column)) return std::nullopt;
        layout.columns.push_back(found->column);
    }
    for (const Column needed : {Column::Ip, Column::Port, Column::Country, Column::Code})
        if (!layout.has(needed)) return std::nullopt;
    return layout;
}

}  // namespace ipcountry::batch
