#include "formats/columns.h"

#include <algorithm>

namespace ipcountry::batch {

std::optional<std::size_t> Layout::indexOf(Column column) const {
    const auto found = std::find(columns.begin(), columns.end(), column);
    if (found == columns.end()) return std::nullopt;
    return static_cast<std::size_t>(found - columns.begin());
}

Layout analysisLayout(Format format, bool reasons) {
    if (format == Format::Tsv) return Layout{{Column::Ip, Column::Port, Column::Country}, true};
    Layout layout{{Column::Ip, Column::Port, Column::Country, Column::Code}};
    if (reasons) layout.columns.push_back(Column::Reason);
    return layout;
}

Layout findLayout(Format /*format*/) { return Layout{{Column::Ip, Column::Code, Column::Country}}; }

std::optional<Layout> analysisLayoutOfCsvHeader(const std::vector<std::string>& fields) {
    Layout layout;
    for (const std::string& field : fields) {
        const auto spec = std::find_if(kColumns.begin(), kColumns.end(),
                                       [&field](const auto& c) { return c.csvHeader == field; });
        if (spec == kColumns.end() || layout.has(spec->column)) return std::nullopt;
        layout.columns.push_back(spec->column);
    }
    for (const Column needed : {Column::Ip, Column::Port, Column::Country, Column::Code})
        if (!layout.has(needed)) return std::nullopt;
    return layout;
}

}  // namespace ipcountry::batch
