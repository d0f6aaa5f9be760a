#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>

namespace ipcountry::ui::test {

// What a test needs to see of a written workbook's first sheet.
struct SheetContents {
    // (row, column) from 1 to the cell's text, shared or inline.
    std::map<std::pair<std::int64_t, std::int64_t>, std::string> cells;
    std::int64_t inlineStrings = 0;
    std::int64_t sharedStrings = 0;
    std::string autoFilter;                 // "A1:C3", empty without a filter
    std::map<std::int64_t, double> widths;  // by column from 1

    std::string text(std::int64_t row, std::int64_t column) const {
        auto it = cells.find({row, column});
        return it == cells.end() ? std::string() : it->second;
    }
    std::int64_t lastRow() const { return cells.empty() ? 0 : cells.rbegin()->first.first; }
};

// Reads xl/worksheets/sheet1.xml (and the shared string table when there is
// one) out of the zip. Throws std::runtime_error on a damaged workbook.
SheetContents readFirstSheet(const std::filesystem::path& workbook);

}  // namespace ipcountry::ui::test
