#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ipcountry::ui::automation {

// The sheet's bounds, as the workbook format allows them.
inline constexpr std::int64_t kMaxSheetRows = 1048576;
inline constexpr std::int64_t kMaxSheetColumns = 16384;

// A rectangle of cells, rows and columns counted from 1, bounds included.
struct CellArea {
    std::int64_t firstRow = 1;
    std::int64_t firstColumn = 1;
    std::int64_t lastRow = 1;
    std::int64_t lastColumn = 1;

    std::int64_t rowCount() const { return lastRow - firstRow + 1; }
    std::int64_t columnCount() const { return lastColumn - firstColumn + 1; }
    bool entireRows() const { return firstColumn == 1 && lastColumn == kMaxSheetColumns; }
    bool entireColumns() const { return firstRow == 1 && lastRow == kMaxSheetRows; }

    friend bool operator==(const CellArea&, const CellArea&) = default;
};

// Parses "A1", "A1:C3", "2:2" (whole rows), "A:C" (whole columns); "$" marks
// are allowed and ignored. Throws AutomationError on anything else.
CellArea parseCellArea(std::string_view reference);

// The smallest area holding both.
CellArea spanOf(const CellArea& a, const CellArea& b);

// "A1:C3", "A1" for a single cell.
std::string formatCellArea(const CellArea& area);
std::string columnName(std::int64_t column);

}  // namespace ipcountry::ui::automation
