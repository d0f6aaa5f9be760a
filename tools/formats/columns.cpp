#include "formats/columns.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>

namespace ipcountry::batch {

std::optional<std::size_t> Layout::indexOf(Column column) const {
    const auto found = std::find(columns.begin(), columns.end(), column);
    if (found == columns.end()) return std::nullopt;
    return static_cast<std::size_t>(found - columns.begin());
}

namespace {

// A layout of `columns` after the row's file and line, where they are shown.
// Appended one by one: GCC 12 at -O3 takes an insert of a list after them
// for a copy out of bounds (-Warray-bounds) that is not there.
Layout placedLayout(RowPlaces places, std::initializer_list<Column> columns, bool reasonInCountry) {
    Layout layout{{}, reasonInCountry};
    layout.columns.reserve(columns.size() + 5);
    if (places.file) layout.columns.push_back(Column::File);
    if (places.line) layout.columns.push_back(Column::Line);
    for (const Column column : columns) layout.columns.push_back(column);
    return layout;
}

}  // namespace

Layout analysisLayout(Format format, bool reasons, bool networks, RowPlaces places) {
    Layout layout =
        placedLayout(places, {Column::Ip, Column::Port, Column::Country}, format == Format::Tsv);
    if (format != Format::Tsv) {
        layout.columns.push_back(Column::Code);
        if (reasons) layout.columns.push_back(Column::Reason);
    }
    if (networks) {
        layout.columns.push_back(Column::Asn);
        layout.columns.push_back(Column::AsName);
    }
    return layout;
}

Layout findLayout(Format format, bool networks, RowPlaces places) {
    // No country: no code, and the reason where the country would stand in
    // tsv, in a column of its own in csv and json.
    Layout layout =
        placedLayout(places, {Column::Ip, Column::Code, Column::Country}, format == Format::Tsv);
    if (format != Format::Tsv) layout.columns.push_back(Column::Reason);
    if (networks) {
        layout.columns.push_back(Column::Asn);
        layout.columns.push_back(Column::AsName);
    }
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
